// bench/web/run's browser side: the page from disk in headless Chromium.
// usage: node bench.js PAGE BIG_TEXT BIG_TEXT_UTF16LE PASTE_TEXT NATIVE CLI
"use strict";

const { execFileSync } = require("child_process");
const fs = require("fs");
const path = require("path");
const { openBrowser } = require("../../tests/web/browser");

const [pagePath, bigText, bigText16, pasteText, native, cli] = process.argv.slice(2);
const runs = 7;

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

// Best of `runs` repairs by the page's own engine, the text already in its
// memory, each mode warmed first: the browser compiles hot code again,
// optimised, only after it ran a while. The engine keeps its records, as
// the page has it do.
async function wasmMs(page, bytes) {
  return page.evaluate(([base64, runs]) => {
    const text = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    const area = engine.input_area(text.length);
    new Uint8Array(engine.memory.buffer, area, text.length).set(text);
    for (let run = 0; run < 4 * runs; run++) for (const words of [0, 1]) engine.repair(text.length, words, 1);
    return [0, 1].map((words) => {
      let best = Infinity;
      for (let run = 0; run < runs; run++) {
        const start = performance.now();
        engine.repair(text.length, words, 1);
        best = Math.min(best, performance.now() - start);
      }
      return best;
    });
  }, [bytes.toString("base64"), runs]);
}

// From the first of `eventNames` (captured before the page sees it) to the first frame
// after the source's input event was handled, and to the first frame that
// showed `shown()` true; it is checked just before each frame is painted.
async function untilShown(page, eventNames, act, shown) {
  await page.evaluate(([eventNames, shown]) => {
    const isShown = new Function(`return ${shown};`);
    window.benchShown = new Promise((resolve) => {
      let start, handled;
      const afterFrame = (then) => requestAnimationFrame(() => setTimeout(then));
      const waitForShown = () => requestAnimationFrame(() => {
        if (!isShown()) return waitForShown();
        setTimeout(() => resolve([handled, performance.now() - start]));
      });
      for (const name of eventNames) {
        document.addEventListener(name, () => { start ??= window.benchStart = performance.now(); },
                                  { capture: true, once: true });
      }
      document.getElementById("source").addEventListener("input", () => {
        afterFrame(() => { handled = performance.now() - start; });
        waitForShown();
      }, { once: true });
    });
  }, [eventNames, shown]);
  await act();
  return page.evaluate(() => window.benchShown);
}

// From the last event untilShown saw to the first frame with no block of
// the marked view still waiting to be drawn.
async function marksDrawnMs(page) {
  return page.evaluate(() => new Promise((resolve) => {
    const waitForDrawn = () => requestAnimationFrame(() => {
      if (document.querySelector("#marked > [hidden]")) return waitForDrawn();
      setTimeout(() => resolve(performance.now() - window.benchStart));
    });
    waitForDrawn();
  }));
}

// The page shows the repair once the result holds it, focused and selected
// whole; the baseline (`repaired` null) once its source holds the text.
// Each page is measured in front: the browser slows the frames and timers
// of a tab behind another. Returns the median and, for the page, the
// median time until the marked view is drawn whole.
async function pasteMs(page, text, repaired) {
  await page.bringToFront();
  await page.evaluate(([text, repaired]) => { window.pasted = text; window.repaired = repaired; }, [text, repaired]);
  const shown = repaired === null ? 'document.getElementById("source").value === pasted'
    : 'document.activeElement.id === "result" && document.activeElement.value === repaired && ' +
      "document.activeElement.selectionStart === 0 && document.activeElement.selectionEnd === repaired.length";
  const times = [], drawn = [];
  for (let run = 0; run < runs; run++) {
    // Emptied as a user would, so the page repairs the whole paste each time.
    await page.evaluate(() => {
      const source = document.getElementById("source");
      source.focus();
      source.select();
      document.execCommand("delete");
    });
    await page.evaluate((t) => navigator.clipboard.writeText(t), text);
    const [, took] = await untilShown(page, ["paste"], () => page.keyboard.press("Control+V"), shown);
    times.push(took);
    if (repaired !== null) drawn.push(await marksDrawnMs(page));
  }
  return [median(times), repaired === null ? 0 : median(drawn)];
}

// Keys typed in the middle of the pasted text, one every 50 ms: to the
// frame after each was handled, and to the result following the last.
// Without `cli`: the baseline's keys alone.
async function typingMs(page, cli) {
  await page.bringToFront();
  await page.evaluate(() => {
    const source = document.getElementById("source");
    source.focus();
    source.setSelectionRange(source.value.length >> 1, source.value.length >> 1);
  });
  const handled = [];
  for (let key = 0; key < 3 * runs; key++) {
    const [took] = await untilShown(page, ["keydown", "beforeinput"],
                                 () => page.keyboard.type(key % 2 ? "Κ" : "о"), "true");
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

// The page's markup and styles without its script: the same text area,
// with nothing behind it.
function barePage(pagePath, folder) {
  const page = fs.readFileSync(pagePath, "utf8").replace(/<script>[^]*<\/script>/, "");
  const bare = path.join(folder, "bare.html");
  fs.writeFileSync(bare, page);
  return bare;
}

(async () => {
  const browser = await openBrowser();
  const page = await browser.newPage();
  await page.goto("file://" + path.resolve(pagePath));
  for (const [name, file] of [["UTF-8", bigText], ["UTF-16LE", bigText16]]) {
    const big = fs.readFileSync(file);
    const mib = big.length / 1048576;
    const wasm = await wasmMs(page, big);
    for (const words of [0, 1]) {
      const native = nativeMs(file, words);
      console.log(`engine${words ? " --words" : ""}, ${mib.toFixed(0)} MiB ${name}: ` +
                  `WebAssembly ${(mib / wasm[words] * 1000).toFixed(0)} MiB/s, native ${(mib / native * 1000).toFixed(0)} MiB/s, ` +
                  `${(native / wasm[words]).toFixed(2)}x native speed`);
    }
  }
  const paste = fs.readFileSync(pasteText, "utf8");
  const repaired = execFileSync(cli, { input: paste, maxBuffer: 1 << 28 }).toString();
  const kib = Buffer.byteLength(paste) / 1024;
  const bare = await browser.newPage();
  await bare.goto("file://" + barePage(pagePath, path.dirname(path.resolve(bigText))));
  const [[pasted, marksDrawn], [barePasted]] = [await pasteMs(page, paste, repaired), await pasteMs(bare, paste, null)];
  console.log(`paste of ${kib.toFixed(0)} KiB to the frame showing the repair, focused and selected: ` +
              `${pasted.toFixed(1)} ms; the same text area without the page's script: ${barePasted.toFixed(1)} ms ` +
              `(medians of ${runs}); the marked view drawn whole after ${marksDrawn.toFixed(0)} ms`);
  const [key, follows] = await typingMs(page, cli);
  const [bareKey] = await typingMs(bare, null);
  console.log(`a key typed in that text, from its first event to the next frame: ${key.toFixed(1)} ms; without the ` +
              `script: ${bareKey.toFixed(1)} ms (medians of ${3 * runs}); the result follows ${follows} ms after the last key`);
  await browser.close();
})().catch((error) => {
  console.log(error.stack);
  process.exit(1);
});
