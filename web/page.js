// The page: glyphmend-cli's engine, compiled to WebAssembly and inlined by
// scripts/build-web as `engineCode` (base64), repairs the source pane into
// the result pane, and dropped or chosen files into downloads.
"use strict";

const version = "@VERSION@";
const source = document.getElementById("source");
const result = document.getElementById("result");
const words = document.getElementById("words");
const summary = document.getElementById("summary");
const marked = document.getElementById("marked");
const download = document.getElementById("download");

// Small enough to compile at once, so the engine is ready before any input.
const engine = new WebAssembly.Instance(
  new WebAssembly.Module(Uint8Array.from(atob(engineCode), (c) => c.charCodeAt(0)))).exports;
engine._initialize();

const utf8 = new TextEncoder();
const fromUtf8 = new TextDecoder();

// What the engine's records say, six numbers each (web/engine.cpp).
const recordSize = 6;
const kinds = [
  ["decomposed letter", "decomposed letters"],
  ["Greek capital", "Greek capitals"],
  ["Latin letter", "Latin letters"],
  ["Latin letter in a word", "Latin letters in words"],
  ["Greek letter in a word", "Greek letters in words"],
];
const summaryOrder = [1, 0, 2, 3, 4];

// Repairs `bytes` (or, for a string, its UTF-8) in the engine. Returns the
// repaired bytes, a copy, the records and whether anything changed. Binary
// input, as glyphmend-cli -i judges a whole file, is left as it is.
function repairBytes(bytes, withWords) {
  const size = bytes.length;
  const area = engine.input_area(size);  // may grow the memory: take its buffer after
  new Uint8Array(engine.memory.buffer, area, size).set(bytes);
  if (engine.binary(size)) return { binary: true, changed: false, records: [] };
  return takeRepair(size, withWords);
}

// Repairs a text's UTF-8 in the engine. Returns only the records and
// whether anything changed: the page puts the repairs into the text itself
// (withRepairs), which costs less than decoding the engine's bytes.
function repairText(text, withWords) {
  // At most three bytes per unit; the engine's buffer is sized before encoding.
  const room = text.length * 3;
  const area = engine.input_area(room);
  const { written } = utf8.encodeInto(text, new Uint8Array(engine.memory.buffer, area, room));
  engine.repair(written, withWords ? 1 : 0, 1);
  return { records: takeRecords(), changed: engine.changed() !== 0 };
}

function takeRepair(size, withWords) {
  const repaired = engine.repair(size, withWords ? 1 : 0, 1);
  const bytes = new Uint8Array(engine.memory.buffer, engine.output(), repaired).slice();
  return { bytes, records: takeRecords(), changed: engine.changed() !== 0 };
}

function takeRecords() {
  const numbers = new Uint32Array(engine.memory.buffer, engine.records(), engine.record_count() * recordSize);
  const records = [];
  for (let at = 0; at < numbers.length; at += recordSize) {
    records.push({ line: numbers[at], column: numbers[at + 1], from: numbers[at + 2],
                   mark: numbers[at + 3], to: numbers[at + 4], kind: numbers[at + 5] });
  }
  return records;
}

const names = new Map();
function letterName(code) {
  if (!names.has(code)) {
    const at = engine.name(code);
    const bytes = new Uint8Array(engine.memory.buffer, at);
    names.set(code, at ? fromUtf8.decode(bytes.subarray(0, bytes.indexOf(0))) : "");
  }
  const hex = code.toString(16).toUpperCase().padStart(4, "0");
  return `U+${hex} ${names.get(code)}`;
}

// "U+0438 CYRILLIC SMALL LETTER I + U+0306 COMBINING BREVE → U+0439 ...".
function describe({ from, mark, to }) {
  const read = letterName(from) + (mark ? " + " + letterName(mark) : "");
  return `${read} → ${letterName(to)}`;
}

function summarise(records) {
  const counts = [0, 0, 0, 0, 0];
  for (const { kind } of records) counts[kind]++;
  const parts = summaryOrder.filter((kind) => counts[kind])
    .map((kind) => `${counts[kind]} ${kinds[kind][counts[kind] === 1 ? 0 : 1]}`);
  return parts.length ? parts.join(", ") : "Nothing to repair";
}

// Where the text is after `count` more line ends from `from`, or its end.
function afterLines(text, from, count) {
  for (; count > 0; count--) {
    const end = text.indexOf("\n", from);
    if (end < 0) return text.length;
    from = end + 1;
  }
  return from;
}

function lineEnds(text, from, to) {
  let count = 0;
  for (let at = text.indexOf("\n", from); at >= 0 && at < to; at = text.indexOf("\n", at + 1)) count++;
  return count;
}

// Where a repair's letters start in `text`, and how many units they take
// (a letter and its combining mark, or a letter); `at` carries the start
// of the repair's line between calls, for repairs in order.
function repairPlace(text, at, repair) {
  at.lineStart = afterLines(text, at.lineStart, repair.line - at.line);
  at.line = repair.line;
  return { start: at.lineStart + repair.column - 1, length: repair.mark ? 2 : 1 };
}

// `text` with `repairs` (in order, lines from 1 in `text`) put in: what the
// engine wrote, without decoding it. Anything else stays as the user has
// it, a lone surrogate too.
function withRepairs(text, repairs) {
  const pieces = [];
  const at = { lineStart: 0, line: 1 };
  let kept = 0;
  for (const repair of repairs) {
    const { start, length } = repairPlace(text, at, repair);
    pieces.push(text.slice(kept, start), String.fromCodePoint(repair.to));
    kept = start + length;
  }
  pieces.push(text.slice(kept));
  return pieces.join("");
}

// The panes as last repaired: the source, its repair, and the repairs with
// their lines counted from 1 in the whole source.
let shownSource = "";
let shownResult = "";
let shownRepairs = [];

// The lines that differ between the shown source and `text`: where they
// start, where they end in `text`, where they ended in the shown source,
// and how many characters differ. No look-alike spans a line end, and no word does, so repairing
// these lines alone gives what repairing the whole text gives.
function changedLines(text) {
  const old = shownSource;
  const limit = Math.min(old.length, text.length);
  let same = 0;
  while (same < limit && old.charCodeAt(same) === text.charCodeAt(same)) same++;
  let sameEnd = 0;
  while (sameEnd < limit - same &&
         old.charCodeAt(old.length - 1 - sameEnd) === text.charCodeAt(text.length - 1 - sameEnd)) sameEnd++;
  const start = same ? text.lastIndexOf("\n", same - 1) + 1 : 0;
  const lineEnd = text.indexOf("\n", text.length - sameEnd);
  const end = lineEnd < 0 ? text.length : lineEnd;
  const differing = Math.max(old.length, text.length) - same - sameEnd;
  return { start, end, shownEnd: end - text.length + old.length, differing };
}

// A text this long takes the browser long enough to lay out that the page
// spreads the work (show, drawInTurn); a change of more characters than
// `typed` is no key.
const largeText = 100000;
const typed = 16;

// Repairs the lines of the source that changed since the last repair, or
// all of them, and marks them in the marked view. Returns how many
// characters changed.
function repairSource({ whole = false } = {}) {
  const text = source.value;
  if (whole) {
    shownSource = shownResult = "";
    shownRepairs = [];
  }
  const { start, end, shownEnd, differing } = changedLines(text);
  const linesBefore = lineEnds(shownSource, 0, start);
  const linesWere = lineEnds(shownSource, start, shownEnd);
  const part = text.slice(start, end);
  const repair = repairText(part, words.checked);
  // The engine counts no column for a U+FEFF that starts its text, as for a BOM.
  const bom = part.charCodeAt(0) === 0xfeff ? 1 : 0;
  const found = repair.records.map((r) => ({ ...r, column: r.column + (r.line === 1 ? bom : 0) }));

  const resultStart = afterLines(shownResult, 0, linesBefore);
  const lastLineEnd = shownResult.indexOf("\n", afterLines(shownResult, resultStart, linesWere));
  const resultEnd = lastLineEnd < 0 ? shownResult.length : lastLineEnd;
  shownResult = shownResult.slice(0, resultStart) + withRepairs(part, found) + shownResult.slice(resultEnd);

  const added = found.map((r) => ({ ...r, line: r.line + linesBefore }));
  const moved = lineEnds(text, start, end) - linesWere;
  shownRepairs = shownRepairs.filter((r) => r.line <= linesBefore).concat(added,
    shownRepairs.filter((r) => r.line > linesBefore + linesWere + 1).map((r) => ({ ...r, line: r.line + moved })));
  shownSource = text;

  summary.textContent = summarise(shownRepairs);
  markTitle(repair.changed);
  const made = whole || !blocks.length ? remarkAll() : remark(linesBefore + 1, linesBefore + linesWere + 1, moved);
  if (text.length > largeText && differing > typed) drawInTurn(made);
  return differing;
}

// Shows the result: at once when `now` or when the text is small. The
// browser lays the pane out whole each time its text is set (also through
// setRangeText), which for a large text takes long enough to hold up a key
// pressed meanwhile. So then the result waits until the keys rest longer
// than the typist's usual gap between keys, and at least `shortestRest`.
const shortestRest = 300, typingGap = 1000;
let restTimer = 0, lastKey = 0, usualGap = 0;
function show(now) {
  clearTimeout(restTimer);
  const time = performance.now();
  const gap = time - lastKey;
  lastKey = time;
  if (gap < typingGap) usualGap = usualGap ? (usualGap + gap) / 2 : gap;
  if (now || shownSource.length <= largeText) showResult();
  else restTimer = setTimeout(showResult, Math.max(shortestRest, 1.5 * usualGap));
}

// The result pane's text as last set, null before the first (the browser
// may have restored an old one): reading a large pane back costs as much as
// building its text again. Setting the same text would drop the user's
// selection.
let resultText = null;
function showResult() {
  if (resultText === shownResult) return;
  resultText = shownResult;
  result.value = shownResult;
}

// The marked view: the result with each repair in a <mark>, in blocks of
// at most `blockLines` lines. `blocks` holds each block's element and how
// many lines of the shown source it holds, in order, so that a change
// rebuilds only the blocks that held it. The blocks are laid out whether
// seen or not: with the browser's lazy layout of unseen blocks, every frame
// cost hundreds of milliseconds while a large result was selected.
const blockLines = 200;
let blocks = [];

// The index of the first shown repair on `line` or after it.
function firstRepairFrom(line) {
  let low = 0, high = shownRepairs.length;
  while (low < high) {
    const middle = (low + high) >> 1;
    if (shownRepairs[middle].line < line) low = middle + 1;
    else high = middle;
  }
  return low;
}

// New blocks for the lines `first` to `last` of the shown source, from 1.
function markBlocks(first, last) {
  const text = shownSource, repairs = shownRepairs;
  const made = [];
  let next = firstRepairFrom(first);
  let start = afterLines(text, 0, first - 1);
  for (let firstLine = first; firstLine <= last; firstLine += blockLines) {
    const lines = Math.min(blockLines, last - firstLine + 1);
    const end = afterLines(text, start, lines);
    const element = document.createElement("div");
    const at = { lineStart: start, line: firstLine };
    let shown = start;
    for (; next < repairs.length && repairs[next].line < firstLine + lines; next++) {
      const repair = repairs[next];
      const place = repairPlace(text, at, repair);
      const mark = document.createElement("mark");
      mark.textContent = String.fromCodePoint(repair.to);
      mark.title = describe(repair);
      element.append(text.slice(shown, place.start), mark);
      shown = place.start + place.length;
    }
    element.append(text.slice(shown, end));
    made.push({ element, lines, size: end - start });
    start = end;
  }
  return made;
}

// Both return the new blocks.
function remarkAll() {
  blocks = markBlocks(1, lineEnds(shownSource, 0, shownSource.length) + 1);
  marked.replaceChildren(...blocks.map((block) => block.element));
  return blocks;
}

// Rebuilds the blocks that held the lines `from` to `to` before a change
// that added `moved` lines among them.
function remark(from, to, moved) {
  let first = 0, firstLine = 1;
  while (first < blocks.length - 1 && firstLine + blocks[first].lines <= from) {
    firstLine += blocks[first++].lines;
  }
  let last = first, lastLine = firstLine + blocks[first].lines - 1;
  while (lastLine < to && last < blocks.length - 1) lastLine += blocks[++last].lines;
  const made = markBlocks(firstLine, lastLine + moved);
  blocks[first].element.replaceWith(...made.map((block) => block.element));
  for (const { element } of blocks.slice(first + 1, last + 1)) element.remove();
  blocks.splice(first, last - first + 1, ...made);
  return made;
}

// New blocks of a large change are drawn from the frame after the result's,
// about `drawnPerFrame` characters a frame: laid out with the result they
// would about double the wait for it, and all in one frame they would hold
// up the keys as long. Their marks and titles are in place at once.
const drawnPerFrame = 65536;
let undrawn = [];
function drawInTurn(made) {
  for (const { element } of made) element.hidden = true;
  if (!undrawn.length) requestAnimationFrame(() => requestAnimationFrame(drawNext));
  undrawn.push(...made);
}

function drawNext() {
  for (let drawn = 0; undrawn.length && drawn < drawnPerFrame;) {
    const block = undrawn.shift();
    block.element.hidden = false;
    drawn += block.size;
  }
  if (undrawn.length) requestAnimationFrame(drawNext);
}

// Once a repair changed anything the title says so, and stays so.
function markTitle(changed) {
  if (changed) document.title = `***Glyphmend ${version}***`;
}

// A paste or a drop hands the whole repair over for copying; typing keeps
// the focus where the keys go.
function handsOver(event) {
  return event.inputType === "insertFromPaste" || event.inputType === "insertFromDrop";
}

// A key changes a character or two; a larger change is no typing, and its
// result shows at once.
source.addEventListener("input", (event) => {
  const changed = repairSource();
  const handOver = handsOver(event);
  show(handOver || changed > typed);
  if (handOver) selectResult();
});
words.addEventListener("change", () => {
  repairSource({ whole: true });
  show(true);
});

// The result focused and selected whole. Selected first, so the browser
// moves the selection once: each move hands the whole text to the
// platform's input methods.
function selectResult() {
  result.select();
  if (document.activeElement !== result) result.focus();
}

document.getElementById("copy").addEventListener("click", async () => {
  selectResult();
  try {
    await navigator.clipboard.writeText(result.value);
  } catch {
    document.execCommand("copy");
  }
});

// A file is repaired whole, as glyphmend-cli -i would, and handed back as a
// download under its own name; nothing leaves the page.
async function repairFile(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  const repair = repairBytes(bytes, words.checked);
  if (download.href) URL.revokeObjectURL(download.href);
  download.hidden = !repair.changed;
  if (!repair.changed) {
    download.removeAttribute("href");
    summary.textContent = `${file.name}: ${repair.binary ? "binary file, left as it is" : "nothing to repair"}`;
    return;
  }
  markTitle(true);
  summary.textContent = `${file.name}: ${summarise(repair.records)}`;
  download.href = URL.createObjectURL(new Blob([repair.bytes], { type: "application/octet-stream" }));
  download.download = file.name;
  download.textContent = `Download the repaired ${file.name}`;
  download.click();
}

const fileInput = document.getElementById("file");
fileInput.addEventListener("change", () => {
  if (fileInput.files.length) repairFile(fileInput.files[0]);
});

function carriesFiles(event) {
  return event.dataTransfer && Array.from(event.dataTransfer.types).includes("Files");
}
document.addEventListener("dragover", (event) => {
  if (carriesFiles(event)) event.preventDefault();
});
document.addEventListener("drop", (event) => {
  if (!carriesFiles(event)) return;
  event.preventDefault();
  if (event.dataTransfer.files.length) repairFile(event.dataTransfer.files[0]);
});

repairSource();
show(true);
// Focused by the script rather than autofocus, so it holds the moment the page has loaded.
source.focus();
