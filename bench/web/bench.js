// bench/web/run's browser side: the page from disk in headless Chromium.
// usage: node bench.js PAGE BIG_TEXT PASTE_TEXT NATIVE CLI
"use strict";

const { execFileSync } = require("child_process");
const fs = require("fs");
const path = require("path");
const { openBrowser } = require("../../tests/web/browser");

const [pagePath, bigText, pasteText, native, cli] = process.argv.slice(2);
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
    // The browser compiles hot code again, optimised, only after it ran a while.
    for (let run = 0; run < 4 * runs; run++) engine.repair(text.length, words, 0);
    let best = Infinity;
    for (let run = 0; run < runs; run++) {
      const start = performance.now();
      engine.repair(text.length, words, 0);
      best = Math.min(best, performance.now() - start);
    }
    return best;
  }, [bytes.toString("base64"), words, runs]);
}

// From the paste or the typed key's event to the first frame after the
// page handled it, and to the first frame after the result shows `expected`.
async function untilShown(page, eventName, act, expected) {
  await page.evaluate(([eventName, expected]) => {
    window.benchShown = new Promise((resolve) => {
      let start, handled;
      const result = document.getElementById("result");
      const frame = (then) => requestAnimationFrame(() => setTimeout(then));
      const waitForResult = () => {
        if (expected !== null && result.value !== expected) return frame(waitForResult);
        resolve([handled, performance.now() - start]);
      };
      document.addEventListener(eventName, () => { start = performance.now(); }, { capture: true, once: true });
      document.getElementById("source").addEventListener("input", () => frame(() => {
        handled = performance.now() - start;
        waitForResult();
      }), { once: true });
    });
  }, [eventName, expected]);
  await act();
  return page.evaluate(() => window.benchShown);
}

// `repaired` null: the baseline, a bare text area with nothing behind it.
async function pasteMs(page, text, repaired) {
  const times = [];
  for (let run = 0; run < runs; run++) {
    await page.evaluate(() => {
      const source = document.getElementById("source");
      source.value = "";
      source.focus();
    });
    await page.evaluate((t) => navigator.clipboard.writeText(t), text);
    const [, shown] = await untilShown(page, "paste", () => page.keyboard.press("Control+V"), repaired);
    times.push(shown);
  }
  return median(times);
}

// Keys typed in the middle of the pasted text, one every 50 ms: to the
// frame after each was handled, and to the result following the last.
// Without `cli`: the baseline's keys alone.
async function typingMs(page, cli) {
  await page.evaluate(() => {
    const source = document.getElementById("source");
    source.focus();
    source.setSelectionRange(source.value.length >> 1, source.value.length >> 1);
  });
  const handled = [];
  for (let key = 0; key < 3 * runs; key++) {
    const [took] = await untilShown(page, "beforeinput", () => page.keyboard.type(key % 2 ? "Κ" : "о"), null);
    handled.push(took);
    await page.waitForTimeout(50);
  }
  if (!cli) return [median(handled), 0];
  const expected = execFileSync(cli, { input: await page.inputValue("#source"), maxBuffer: 1 << 28 }).toString();
  const start = Date.now();
  await page.waitForFunction((expected) => document.getElementById("result").value === expected, expected,
                             { polling: "raf" });
  return [median(handled), Date.now() - start];
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
  const repaired = execFileSync(cli, { input: paste, maxBuffer: 1 << 28 }).toString();
  const kib = Buffer.byteLength(paste) / 1024;
  const bare = await browser.newPage();
  const barePath = path.join(path.dirname(path.resolve(bigText)), "bare.html");
  fs.writeFileSync(barePath, '<!DOCTYPE html><textarea id="source" style="width:45%;height:18rem"></textarea>');
  await bare.goto("file://" + barePath);
  const [pasted, barePasted] = [await pasteMs(page, paste, repaired), await pasteMs(bare, paste, null)];
  console.log(`paste of ${kib.toFixed(0)} KiB to the repair shown, focused and selected: ` +
              `${pasted.toFixed(1)} ms; a bare text area: ${barePasted.toFixed(1)} ms (medians of ${runs})`);
  const [key, follows] = await typingMs(page, cli);
  const [bareKey] = await typingMs(bare, null);
  console.log(`a key typed in that text to the next frame: ${key.toFixed(1)} ms; a bare text area: ` +
              `${bareKey.toFixed(1)} ms (medians of ${3 * runs}); the result follows ${follows} ms after the last key`);
  await browser.close();
})().catch((error) => {
  console.log(error.stack);
  process.exit(1);
});
