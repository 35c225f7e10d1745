// Where the page's time goes on a paste of PASTE_TEXT: the browser's own
// trace of its main thread, summed by event (self time), top 25.
// usage: node trace.js PAGE PASTE_TEXT [OUT.json]
"use strict";

const fs = require("fs");
const path = require("path");
const { openBrowser } = require("../../tests/web/browser");

const [pagePath, pasteText, out] = process.argv.slice(2);

function selfTimes(events) {
  const main = events.find((e) => e.name === "thread_name" && e.args.name === "CrRendererMain");
  const slices = events.filter((e) => e.ph === "X" && e.pid === main.pid && e.tid === main.tid && e.dur)
    .sort((a, b) => a.ts - b.ts || b.dur - a.dur);
  const totals = new Map();
  const stack = [];
  for (const slice of slices) {
    while (stack.length && stack[stack.length - 1].ts + stack[stack.length - 1].dur <= slice.ts) stack.pop();
    if (stack.length) totals.set(stack[stack.length - 1].name, (totals.get(stack[stack.length - 1].name) || 0) - slice.dur);
    totals.set(slice.name, (totals.get(slice.name) || 0) + slice.dur);
    stack.push(slice);
  }
  return [...totals].sort((a, b) => b[1] - a[1]).slice(0, 25);
}

(async () => {
  const browser = await openBrowser();
  const page = await browser.newPage();
  await page.goto("file://" + path.resolve(pagePath));
  const text = fs.readFileSync(pasteText, "utf8");
  await page.evaluate((t) => navigator.clipboard.writeText(t), text);
  await page.focus("#source");
  const cdp = await browser.newCDPSession(page);
  const events = [];
  cdp.on("Tracing.dataCollected", ({ value }) => events.push(...value));
  const done = new Promise((resolve) => cdp.once("Tracing.tracingComplete", resolve));
  await cdp.send("Tracing.start", { transferMode: "ReportEvents",
    traceConfig: { includedCategories: ["devtools.timeline", "blink", "v8.execute", "disabled-by-default-devtools.timeline", "benchmark", "cc"] } });
  const start = Date.now();
  await page.keyboard.press("Control+V");
  await page.waitForFunction(() => document.activeElement.id === "result" || !document.getElementById("result"),
                             null, { polling: "raf" });
  await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => setTimeout(r))));
  console.log(`paste to shown, as seen from outside: ${Date.now() - start} ms`);
  await cdp.send("Tracing.end");
  await done;
  if (out) fs.writeFileSync(out, JSON.stringify(events));
  for (const [name, us] of selfTimes(events)) console.log(`${(us / 1000).toFixed(1).padStart(8)} ms  ${name}`);
  await browser.close();
})().catch((error) => {
  console.log(error.stack);
  process.exit(1);
});
