// Debian's Chromium, headless, driven by playwright-core from web/: a fresh
// profile each time, nothing fetched in the background, and the clipboard
// open to the page, as a user's click would make it.
"use strict";

const fs = require("fs");
const os = require("os");
const path = require("path");
const { chromium } = require(path.join(__dirname, "../../web/node_modules/playwright-core"));

const flags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
               "--disable-background-networking", "--disable-component-update", "--disable-sync"];

// A browser context whose close() also removes its profile.
async function openBrowser() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "glyphmend-chromium-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: "/usr/bin/chromium", headless: true, args: flags,
  });
  await context.grantPermissions(["clipboard-read", "clipboard-write"]);
  const close = context.close.bind(context);
  context.close = async () => {
    await close();
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return context;
}

module.exports = { openBrowser };
