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
  new Uint8Array(engine.memory.buffer, engine.input_area(size), size).set(bytes);
  if (engine.binary(size)) return { binary: true, changed: false, records: [] };
  return takeRepair(size, withWords);
}

function repairText(text, withWords) {
  // At most three bytes per unit; the engine's buffer is sized before encoding.
  const room = text.length * 3;
  const area = engine.input_area(room);
  const { written } = utf8.encodeInto(text, new Uint8Array(engine.memory.buffer, area, room));
  const { bytes, records, changed } = takeRepair(written, withWords);
  return { text: fromUtf8.decode(bytes), records, changed };
}

function takeRepair(size, withWords) {
  const repaired = engine.repair(size, withWords ? 1 : 0, 1);
  const memory = engine.memory.buffer;
  const bytes = new Uint8Array(memory, engine.output(), repaired).slice();
  const count = engine.record_count();
  const records = new Uint32Array(memory, engine.records(), count * recordSize).slice();
  return { bytes, records, changed: engine.changed() !== 0 };
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
function describe(records, at) {
  const [, , from, mark, to] = records.subarray(at, at + recordSize);
  const read = letterName(from) + (mark ? " + " + letterName(mark) : "");
  return `${read} → ${letterName(to)}`;
}

function summarise(records) {
  const counts = [0, 0, 0, 0, 0];
  for (let at = 5; at < records.length; at += recordSize) counts[records[at]]++;
  const parts = summaryOrder.filter((kind) => counts[kind])
    .map((kind) => `${counts[kind]} ${kinds[kind][counts[kind] === 1 ? 0 : 1]}`);
  return parts.length ? parts.join(", ") : "Nothing to repair";
}

// The result with each repair in a <mark>. Records give lines and UTF-16
// columns in the text as read, which is `text`.
function showMarks(text, records) {
  const view = document.createDocumentFragment();
  let lineStart = 0, line = 1, shown = 0;
  for (let r = 0; r < records.length; r += recordSize) {
    for (; line < records[r]; line++) lineStart = text.indexOf("\n", lineStart) + 1;
    const at = lineStart + records[r + 1] - 1;
    view.append(text.slice(shown, at));
    const mark = document.createElement("mark");
    mark.textContent = String.fromCodePoint(records[r + 4]);
    mark.title = describe(records, r);
    view.append(mark);
    shown = at + (records[r + 3] ? 2 : 1);
  }
  view.append(text.slice(shown));
  marked.replaceChildren(view);
}

// Once a repair changed anything the title says so, and stays so.
function markTitle(changed) {
  if (changed) document.title = `***Glyphmend ${version}***`;
}

function repairSource() {
  const text = source.value;
  const repair = repairText(text, words.checked);
  result.value = repair.text;
  summary.textContent = summarise(repair.records);
  showMarks(text, repair.records);
  markTitle(repair.changed);
}

// A paste or a drop hands the whole repair over for copying; typing keeps
// the focus where the keys go.
function handsOver(event) {
  return event.inputType === "insertFromPaste" || event.inputType === "insertFromDrop";
}

source.addEventListener("input", (event) => {
  repairSource();
  if (handsOver(event)) {
    result.focus();
    result.select();
  }
});
words.addEventListener("change", repairSource);

document.getElementById("copy").addEventListener("click", async () => {
  result.focus();
  result.select();
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
// Focused by the script rather than autofocus, so it holds the moment the page has loaded.
source.focus();
