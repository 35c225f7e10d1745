// bench/web/run's browser side: the page from disk in headless Chromium.
// usage: node bench.js PAGE BIG_TEXT PASTE_TEXT NATIVE
"use strict";

const { execFileSync } = require("child_process");
const fs = require("fs");
const path = require("path");
const { openBrowser } = require("../../tests/web/browser");

const [pagePath, bigText, pasteText, native] = process.argv.slice(2);
const runs = 7;

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

// Best of `runs` repairs by the page's own engine, the text already in its memory.
async function wasmMs(page, bytes, words) {
  return page.evaluate(([base64, words, runs]) => {
    const text = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    const area = engine.input_area(text.length);
    new Uint8Array(engine.memory.buffer, area, text.length).set(text);
    let best = Infinity;
    for (let run = 0; run < runs; run++) {
      const start = performance.now();
      engine.repair(text.length, words, 0);
      best = Math.min(best, performance.now() - start);
    }
    return best;
  }, [bytes.toString("base64"), words, runs]);
}

// From the paste or key event to the first frame after the result was set.
async function untilShown(page, eventName, act) {
  await page.evaluate((eventName) => {
    window.benchShown = new Promise((resolve) => {
      let start;
      document.addEventListener(eventName, () => { start = performance.now(); }, { capture: true, once: true });
      document.getElementById("source").addEventListener("input", () => {
        requestAnimationFrame(() => setTimeout(() => resolve(performance.now() - start)));
      }, { once: true });
    });
  }, eventName);
  await act();
  return page.evaluate(() => window.benchShown);
}

async function pasteMs(page, text) {
  const times = [];
  for (let run = 0; run < runs; run++) {
    await page.evaluate(() => {
      const source = document.getElementById("source");
      source.value = "";
      source.focus();
    });
    await page.evaluate((t) => navigator.clipboard.writeText(t), text);
    times.push(await untilShown(page, "paste", () => page.keyboard.press("Control+V")));
  }
  return median(times);
}

// Keys typed in the middle of the pasted text.
async function typingMs(page) {
  await page.evaluate(() => {
    const source = document.getElementById("source");
    source.focus();
    source.setSelectionRange(source.value.length >> 1, source.value.length >> 1);
  });
  const times = [];
  for (let key = 0; key < 3 * runs; key++)
    times.push(await untilShown(page, "keydown", () => page.keyboard.type(key % 2 ? "Κ" : "о")));
  return median(times);
}

function nativeMs(file, words) {
  return Number(execFileSync(native, [file, String(words), String(runs)]).toString());
}

(async () => {
  const browser = await openBrowser();
  const page = await browser.newPage();
  await page.goto("file://" + path.resolve(pagePath));
  const big = fs.readFileSync(bigText);
  const mib = big.length / 1048576;
  for (const words of [0, 1]) {
    const wasm = await wasmMs(page, big, words);
    const native = nativeMs(bigText, words);
    console.log(`engine${words ? " --words" : ""} over ${mib.toFixed(0)} MiB: ` +
                `WebAssembly ${(mib / wasm * 1000).toFixed(0)} MiB/s, native ${(mib / native * 1000).toFixed(0)} MiB/s, ` +
                `${(native / wasm).toFixed(2)}x native speed`);
  }
  const paste = fs.readFileSync(pasteText, "utf8");
  const kib = Buffer.byteLength(paste) / 1024;
  console.log(`paste of ${kib.toFixed(0)} KiB to the repair shown: ${(await pasteMs(page, paste)).toFixed(1)} ms (median of ${runs})`);
  console.log(`a key typed in that text to the repair shown: ${(await typingMs(page)).toFixed(1)} ms (median of ${3 * runs})`);
  await browser.close();
})().catch((error) => {
  console.log(error.stack);
  process.exit(1);
});
