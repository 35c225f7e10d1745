// The web page in real Chromium, loaded from disk, judged against
// glyphmend-cli on the same texts and files.
// usage: node page_test.js PAGE CLI [SCREENSHOT]
"use strict";

const { execFileSync } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");
const { openBrowser } = require("./browser");

const [pagePath, cli, screenshot] = process.argv.slice(2);

function repairedByCli(input, args = []) {
  return execFileSync(cli, args, { input, maxBuffer: 1 << 28 });
}

// The CLI's --check lines: where each repair was read and what it was.
function checkedByCli(text, withWords) {
  const args = ["--check", ...(withWords ? ["--words"] : [])];
  let out;
  try {
    out = execFileSync(cli, args, { input: text }).toString();
  } catch (error) {
    out = error.stdout.toString();  // exit status 1: something found
  }
  return out.split("\n").filter(Boolean).map((line) => {
    const [, row, column, read, to, word] = line.match(/^-:(\d+):(\d+): (.*) -> (.*?)( in ".*")?$/);
    return { line: +row, column: +column, read, to, inWord: !!word };
  });
}

const kindNames = [
  [(c) => !c.inWord && /GREEK/.test(c.read), "Greek capital", "Greek capitals"],
  [(c) => !c.inWord && c.read.includes(" + "), "decomposed letter", "decomposed letters"],
  [(c) => !c.inWord, "Latin letter", "Latin letters"],
  [(c) => /LATIN/.test(c.read), "Latin letter in a word", "Latin letters in words"],
  [() => true, "Greek letter in a word", "Greek letters in words"],
];

// The summary the page should show for these --check lines.
function expectedSummary(checks) {
  const counts = kindNames.map(() => 0);
  for (const check of checks) counts[kindNames.findIndex(([is]) => is(check))]++;
  const parts = counts.flatMap((n, k) => (n ? [`${n} ${kindNames[k][n === 1 ? 1 : 2]}`] : []));
  return parts.length ? parts.join(", ") : "Nothing to repair";
}

// The marks as the page shows them, each with the line and column where
// its look-alike was read: a decomposed letter read before it on its line
// was one code point longer than what the view shows, and a U+FEFF that
// starts the text is a byte order mark to the CLI, not a column.
async function shownMarks(page) {
  const nodes = await page.$eval("#marked", (view) => {
    const walker = document.createTreeWalker(view, NodeFilter.SHOW_TEXT);
    const texts = [];
    while (walker.nextNode()) {
      const { data, parentNode } = walker.currentNode;
      texts.push({ text: data, mark: parentNode.nodeName === "MARK", title: parentNode.title });
    }
    return texts;
  });
  const marks = [];
  let line = 1, column = 1, first = true;
  for (const node of nodes) {
    if (node.mark) {
      const [read, to] = node.title.split(" → ");
      marks.push({ line, column, read, to });
      if (read.includes(" + ")) column++;
    }
    for (const char of node.text) {
      if (char === "\n") line++, column = 1;
      else if (!(first && char === "\ufeff")) column++;
      first = false;
    }
  }
  return marks;
}

const failures = [];
function expectSame(what, expected, actual) {
  const e = JSON.stringify(expected), a = JSON.stringify(actual);
  if (e !== a) failures.push(`${what}\n    expected ${e}\n    actual   ${a}`);
}

async function paste(page, text) {
  await page.evaluate(() => {
    const source = document.getElementById("source");
    source.value = "";
    source.focus();
  });
  await page.evaluate((t) => navigator.clipboard.writeText(t), text);
  await page.keyboard.press("Control+V");
}

const texts = [
  ["Greek capitals and Latin letters", "ΑΒΓ: Νοвый Κаталог. ĸᴏʙ\n"],
  ["decomposed letters", "и\u0306од, е\u0308лка, И\u0306ошкар-Ола"],
  ["CR LF and CR line ends", "Первая строка\r\nΒторая строка\rΤретья"],
  ["words with twins and words without", "Cлово XOPOШO iPhoneы Coca-Колa пpивeт"],
  ["a twin with its mark", "e\u0308лка и Ёлкa"],
  ["letters beyond the first plane before look-alikes", "😀 Κот и\u0306 😀 ĸот\n𝔸 Cлон Μир"],
  ["nothing to repair", "Обычный текст без подделок."],
  ["a U+FEFF first, read as a byte order mark", "\ufeffΚот ĸот\nΜир"],
];

// Each text pasted, with and without the word rule: the result is the
// CLI's, handed over focused and selected, and the summary and the marks
// tell the CLI's --check lines.
async function pastedTexts(page) {
  for (const withWords of [false, true]) {
    await page.setChecked("#words", withWords);
    for (const [name, text] of texts) {
      const what = `${name}${withWords ? " (words)" : ""}`;
      await paste(page, text);
      const asRead = text.replace(/\r\n?/g, "\n");
      const expected = repairedByCli(asRead, withWords ? ["--words"] : []).toString();
      const state = await page.evaluate(() => {
        const focused = document.activeElement;
        return { id: focused.id, start: focused.selectionStart, end: focused.selectionEnd,
                 result: document.getElementById("result").value,
                 summary: document.getElementById("summary").textContent,
                 marked: document.getElementById("marked").textContent };
      });
      expectSame(`${what}: result`, expected, state.result);
      expectSame(`${what}: result focused and selected whole`,
                 ["result", 0, expected.length], [state.id, state.start, state.end]);
      const checks = checkedByCli(asRead, withWords);
      expectSame(`${what}: summary`, expectedSummary(checks), state.summary);
      expectSame(`${what}: marked view shows the result`, expected, state.marked);
      expectSame(`${what}: marks`, checks.map(({ line, column, read, to }) => ({ line, column, read, to })),
                 await shownMarks(page));
    }
  }
  await page.setChecked("#words", false);
}

// A text and a file larger than the engine's memory at load: the memory
// grows under the page's views of it.
async function longText(page) {
  const text = ("Κот и\u0306од ĸᴏʙ\n" + "И ещё строка без подделок, одна из многих.\n".repeat(999)).repeat(20);
  const chosen = page.waitForEvent("download");
  await page.setInputFiles("#file", { name: "long.txt", mimeType: "text/plain", buffer: Buffer.from(text) });
  const bytes = fs.readFileSync(await (await chosen).path());
  expectSame("a long file: download is the CLI's", true, repairedByCli(text).equals(bytes));
  await paste(page, text);
  const shown = await page.inputValue("#result");
  expectSame("a long text pasted: result is the CLI's", true, repairedByCli(text).toString() === shown);
  // Only a script can leave a lone surrogate in the source; it stays as it is.
  const lone = await page.evaluate(() => {
    const source = document.getElementById("source");
    source.value = "Κ\ud800т ĸот";
    source.dispatchEvent(new InputEvent("input", { inputType: "insertText", bubbles: true }));
    return Array.from(document.getElementById("result").value, (unit) => unit.codePointAt(0));
  });
  expectSame("a lone surrogate kept", Array.from("К\ud800т кот", (unit) => unit.codePointAt(0)), lone);
  // A script's change, as a form filler makes it: no key, no paste.
  const filled = text.replace(/Κ/g, "Μ");
  const shown2 = await page.evaluate((filled) => {
    const source = document.getElementById("source");
    source.value = filled;
    source.dispatchEvent(new InputEvent("input", { inputType: "insertText", bubbles: true }));
    return document.getElementById("result").value;
  }, filled);
  expectSame("a long text filled in: its result shows at once", true, repairedByCli(filled).toString() === shown2);
  await typingInLongText(page);
}

// Keys that join, split and add lines where the marked view's blocks of
// lines meet, and far from the first: once the keys rest, the result, the
// summary and every mark are the CLI's.
async function typingInLongText(page) {
  const keys = [[200, ["Backspace", "Κ", "Enter"]], [400, ["Enter", "Enter", "ĸ"]], [1001, ["Backspace"]],
                [19999, ["End", "Enter", "Μ"]]];
  for (const [line, typed] of keys) {
    await page.evaluate((line) => {
      const source = document.getElementById("source");
      let at = 0;
      for (let l = 0; l < line; l++) at = source.value.indexOf("\n", at) + 1;
      source.focus();
      source.setSelectionRange(at, at);
    }, line);
    for (const key of typed) {
      if (key.length === 1) await page.keyboard.type(key);
      else await page.keyboard.press(key);
    }
  }
  const text = await page.inputValue("#source");
  const expected = repairedByCli(text).toString();
  await page.waitForFunction((expected) => document.getElementById("result").value === expected, expected);
  const checks = checkedByCli(text, false);
  expectSame("typing in a long text: summary", expectedSummary(checks),
             await page.textContent("#summary"));
  expectSame("typing in a long text: marks", checks.map(({ line, column, read, to }) => ({ line, column, read, to })),
             await shownMarks(page));
}

// Typing keeps the focus in the source, and the result follows each key,
// also where a key joins two lines or splits one.
async function typing(page) {
  const keys = ["Κ", "ο", "т", "Enter", "и", "\u0306", "ArrowLeft", "ArrowLeft", "Enter",
                "Backspace", "Home", "Backspace", "End", "ĸ", " ", "C", "л", "o", "Enter", "Backspace"];
  for (const withWords of [false, true]) {
    await page.setChecked("#words", withWords);
    await paste(page, "Первая строка\nΒторая\n");
    await page.focus("#source");
    await page.keyboard.press("ArrowUp");
    for (const key of keys) {
      if (key.length === 1) await page.keyboard.type(key);
      else await page.keyboard.press(key);
      const [text, shown, summary, focused] = await page.evaluate(() => [
        document.getElementById("source").value, document.getElementById("result").value,
        document.getElementById("summary").textContent, document.activeElement.id]);
      const what = `after typing ${key}${withWords ? " (words)" : ""}`;
      const args = withWords ? ["--words"] : [];
      expectSame(`${what}: result`, repairedByCli(text, args).toString(), shown);
      expectSame(`${what}: summary`, expectedSummary(checkedByCli(text, withWords)), summary);
      expectSame(`${what}: focus`, "source", focused);
    }
    expectSame(`marks after typing${withWords ? " (words)" : ""}`,
               checkedByCli(await page.inputValue("#source"), withWords)
                 .map(({ line, column, read, to }) => ({ line, column, read, to })),
               await shownMarks(page));
  }
  await page.setChecked("#words", false);
}

async function title(page) {
  await page.reload();
  expectSame("title at load", "Glyphmend 0.9d", await page.title());
  expectSame("focus at load", "source", await page.evaluate(() => document.activeElement.id));
  await page.keyboard.type("Кот");
  expectSame("title after a change that repaired nothing", "Glyphmend 0.9d", await page.title());
  await page.keyboard.type("Μ");
  await page.keyboard.press("Backspace");
  expectSame("title stays once a repair changed anything", "***Glyphmend 0.9d***", await page.title());
}

async function copy(page) {
  await paste(page, "Κот ĸᴏʙ");
  await page.evaluate(() => navigator.clipboard.writeText(""));
  await page.click("#copy");
  expectSame("copy puts the repair on the clipboard", "Кот ков",
             await page.evaluate(() => navigator.clipboard.readText()));
}

const utf16 = Buffer.concat([
  Buffer.from([0xff, 0xfe]),
  Buffer.from("Κот и\u0306од\r\nĸᴏʙ", "utf16le"),
  Buffer.from([0x00, 0xd8]),  // a lone high surrogate: passes through
  Buffer.from("Μир", "utf16le"),
]);
// Long enough that the scans' vectors meet look-alikes, in the other byte
// order, with the word rule.
const utf16be = Buffer.concat([
  Buffer.from([0xfe, 0xff]),
  Buffer.from("Первая строка: Cлово XOPOШO, Κот и\u0306од\nвторая: пpивeт ĸᴏʙ 😀 Coca-Колa", "utf16le").swap16(),
]);
const badUtf8 = Buffer.concat([Buffer.from("Ζ"), Buffer.from([0xff, 0xc0, 0x80]), Buffer.from("Κот")]);

// A file dropped or chosen comes back as a download under its own name,
// with the bytes glyphmend-cli writes for it; a binary file does not.
async function files(page) {
  for (const [name, bytes, withWords] of [["subtitles.srt", utf16, false], ["words.txt", utf16be, true]]) {
    await page.setChecked("#words", withWords);
    const dropped = page.waitForEvent("download");
    await page.evaluate(([name, bytes]) => {
      const transfer = new DataTransfer();
      transfer.items.add(new File([new Uint8Array(bytes)], name));
      document.getElementById("source").dispatchEvent(
        new DragEvent("drop", { dataTransfer: transfer, bubbles: true, cancelable: true }));
    }, [name, [...bytes]]);
    await expectDownload(await dropped, name, repairedByCli(bytes, withWords ? ["--words"] : []));
  }
  await page.setChecked("#words", false);

  const chosen = page.waitForEvent("download");
  await page.setInputFiles("#file", { name: "notes.txt", mimeType: "text/plain", buffer: badUtf8 });
  await expectDownload(await chosen, "notes.txt", repairedByCli(badUtf8));

  await page.setInputFiles("#file", { name: "program.bin", mimeType: "application/octet-stream",
                                      buffer: Buffer.from("Κот\0") });
  await page.waitForFunction(() => document.getElementById("summary").textContent.startsWith("program.bin"));
  expectSame("a binary file is left as it is", [true, "program.bin: binary file, left as it is"],
             await page.evaluate(() => [document.getElementById("download").hidden,
                                        document.getElementById("summary").textContent]));
}

async function expectDownload(download, name, bytes) {
  expectSame(`${name}: download name`, name, download.suggestedFilename());
  expectSame(`${name}: downloaded bytes`, bytes.toString("hex"),
             fs.readFileSync(await download.path()).toString("hex"));
}

// Labels for every control, the tab order of the layout, readable marks,
// and panes that stack on a narrow screen.
async function layout(page) {
  const unlabelled = await page.evaluate(() =>
    Array.from(document.querySelectorAll("textarea, input"))
      .filter((control) => !control.labels.length).map((control) => control.id));
  expectSame("controls without a label", [], unlabelled);
  await page.focus("#source");
  const order = [];
  for (let i = 0; i < 4; i++) {
    await page.keyboard.press("Tab");
    order.push(await page.evaluate(() => document.activeElement.id));
  }
  expectSame("tab order", ["result", "copy", "words", "file"], order);
  await paste(page, "Κот");
  const contrast = await page.$eval("#marked mark", (mark) => {
    const style = getComputedStyle(mark);
    const luminance = (color) => {
      const [r, g, b] = color.match(/\d+/g).slice(0, 3).map((v) => {
        const c = v / 255;
        return c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
      });
      return 0.2126 * r + 0.7152 * g + 0.0722 * b;
    };
    const [light, dark] = [luminance(style.backgroundColor), luminance(style.color)].sort((a, b) => b - a);
    return (light + 0.05) / (dark + 0.05);
  });
  if (!(contrast >= 4.5)) failures.push(`marks' contrast ${contrast} is below 4.5`);
  for (const [width, stacked] of [[1100, false], [400, true]]) {
    await page.setViewportSize({ width, height: 800 });
    const below = await page.evaluate(() =>
      document.getElementById("result").getBoundingClientRect().top >=
      document.getElementById("source").getBoundingClientRect().bottom);
    expectSame(`panes stacked at ${width} px`, stacked, below);
  }
}

// The README's picture: a pasted text, repaired and marked.
async function takeScreenshot(page) {
  await page.setViewportSize({ width: 1000, height: 640 });
  await page.reload();
  await paste(page, "ΑΒΓ: Новый Каталог Магазина\nСпасибо за покупку! Зайди\u0306те снова.\n" +
                    "Κак у вас кофе? очень вĸусный.");
  await page.screenshot({ path: screenshot });
}

(async () => {
  const browser = await openBrowser();
  const page = await browser.newPage();
  // This machine is shared: a large paste may take seconds while others build.
  page.setDefaultTimeout(120000);
  page.on("pageerror", (error) => failures.push(`page error: ${error.message}`));
  await page.goto("file://" + path.resolve(pagePath));
  for (const check of [title, pastedTexts, longText, typing, copy, files, layout]) await check(page);
  if (screenshot) await takeScreenshot(page);
  await browser.close();
  for (const failure of failures) console.log(`FAIL ${failure}`);
  console.log(failures.length ? `${failures.length} checks failed` : "all checks passed");
  process.exit(failures.length ? 1 : 0);
})().catch((error) => {
  for (const failure of failures) console.log(`FAIL ${failure}`);
  console.log(error.stack.slice(0, 2000));  // a failed fill would quote its whole text
  process.exit(1);
});
