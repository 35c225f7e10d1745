#!/bin/sh
# glyphmend-cli's output formats, each judged by an independent reader:
# Python's own count of columns in three units, Python's json and jq for
# JSON Lines and odd file names, a structural reading of the SARIF log that
# applies its fixes, the problem matcher's expression on real lines, and
# patch and git apply for every --diff.
# Usage: formats_test.sh PROGRAM SOURCE_DIR
set -u
. "$(cd "$(dirname "$0")" && pwd)/checks.sh"
program=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2
export LC_ALL=C.UTF-8

status_of() { "$@" >/dev/null 2>&1; echo $?; }

# ---- columns in three units, against Python's count ---------------------------
# Four-byte characters, combining marks and a shrinking repair (U+1D0F, three
# bytes, becomes two) come before look-alikes and twins on the same line; the
# twin e comes alone and with a diaeresis. In wide.txt, line 1000 has
# look-alikes at columns on either side of every number of digits up to four.
python3 - <<'PY'
columns = [9, 10, 99, 100, 999, 1000, 1001]
wide = "".join("\u0431" * (b - a - 1) + "\u1D0F" for a, b in zip([0] + columns, columns))
open("wide.txt", "wb").write(("\n" * 999 + wide).encode("utf-8"))
line = ("x\n\U0001D54F\u1D0F e\u0301\U0001F600 C\u043B\u043E\u0432\u043E \u0438\u0306\u0391 \u0433\u0301"
        " \u0441e\u043B\u043E e\u0308\u0436\n\U0001F600\u0392")
open("u8.txt", "wb").write(line.encode("utf-8"))
open("u8bom.txt", "wb").write(b"\xEF\xBB\xBF" + line.encode("utf-8"))
open("u16le.txt", "wb").write(b"\xFF\xFE" + line.encode("utf-16-le"))
open("u16be.txt", "wb").write(b"\xFE\xFF" + line.encode("utf-16-be"))
PY
# The JSON runs give the values as separate arguments.
for unit in code-points utf-16 bytes; do
  "$program" --words -c --columns=$unit u8.txt u8bom.txt u16le.txt u16be.txt wide.txt > "gnu-$unit.out"
  "$program" --words -c --format json --columns $unit u8.txt u8bom.txt u16le.txt u16be.txt wide.txt > "json-$unit.out"
done
check "columns in three units agree with Python, in every kind" "117 findings agree: composition row twin" "$(python3 - <<'PY'
import json, re
encodings = {"u8.txt": ("utf-8", 0), "u8bom.txt": ("utf-8", 3), "wide.txt": ("utf-8", 0),
             "u16le.txt": ("utf-16-le", 2), "u16be.txt": ("utf-16-be", 2)}
def expected(path, offset, text):
    encoding, bom = encodings[path]
    data = open(path, "rb").read()
    assert data[offset:offset + len(text.encode(encoding))] == text.encode(encoding), (path, offset)
    before = data[bom:offset].decode(encoding).split("\n")
    prefix = before[-1]
    line_start = offset - len(prefix.encode(encoding))
    return {"code-points": len(prefix) + 1,
            "utf-16": len(prefix.encode("utf-16-le")) // 2 + 1,
            "bytes": offset - line_start + 1}, len(before)
agree = 0
for unit in ("code-points", "utf-16", "bytes"):
    gnu = open("gnu-%s.out" % unit).read().splitlines()
    found = [json.loads(l) for l in open("json-%s.out" % unit)]
    assert len(gnu) == len(found) == 39, (unit, len(gnu), len(found))
    for g, f in zip(gnu, found):
        columns, line = expected(f["path"], f["byte_offset"], f["from"]["text"])
        want = "%s:%d:%d:" % (f["path"], line, columns[unit])
        if g.startswith(want) and f["line"] == line and f["column"] == columns[unit]:
            agree += 1
        else:
            print(unit, "expected", want, "got", g, f["column"])
print(agree, "findings agree:", " ".join(sorted({f["kind"] for f in found})))
PY
)"

# Each kind's text is built once and kept: every line must still name its own
# finding's letters, as the JSON lists them.
check "each check line describes its own finding" "39 lines, 8 kinds" "$(python3 - <<'PY'
import json
gnu = open("gnu-code-points.out").read().splitlines()
found = [json.loads(l) for l in open("json-code-points.out")]
def letters(side):
    return " + ".join("%s %s" % pair for pair in zip(side["code_points"], side["names"]))
kinds = set()
for g, f in zip(gnu, found):
    want = "%s -> %s" % (letters(f["from"]), letters(f["to"]))
    if "word" in f:
        want += ' in "%s"' % f["word"]
    if g.split(": ", 1)[1] != want:
        print("expected", want, "got", g)
    kinds.add(want.split(" in ")[0])
print(len(gnu), "lines,", len(kinds), "kinds")
PY
)"

# ---- JSON Lines and workflow commands for names with any bytes ---------------
python3 - <<'PY'
for name in [b'q"uote\\back.txt', b"tab\there.txt", b"new\nline.txt", b"bad\xff\xfe.txt",
             "\u0444\u0430\u0439\u043B.txt".encode(), b"ctl\x01,a:b%.txt"]:
    open(name, "wb").write("\u0391\u0438\u0306\n".encode())
PY
set -- 'q"uote\back.txt' "$(printf 'tab\there.txt')" "$(printf 'new\nline.txt')" \
  "$(printf 'bad\377\376.txt')" 'файл.txt' "$(printf 'ctl\001,a:b%%.txt')"
"$program" -c --format=json "$@" > names.json
"$program" -c --format=github "$@" > names.github
check "JSON Lines: jq reads every line" 12 "$(jq -c .path names.json | wc -l)"
check "JSON Lines and workflow commands carry every name" "ok" "$(python3 - "$@" <<'PY'
import json, sys, urllib.parse
names = [a.encode("utf-8", "surrogateescape") for a in sys.argv[1:]]
found = [json.loads(line) for line in open("names.json", encoding="utf-8")]
github = open("names.github", "rb").read().split(b"\n")[:-1]
def unescape_property(value):
    for code, char in ((b"%3A", b":"), (b"%2C", b","), (b"%0D", b"\r"), (b"%0A", b"\n"), (b"%25", b"%")):
        value = value.replace(code, char)
    return value
problems = []
for i, name in enumerate(names):
    for j in (2 * i, 2 * i + 1):
        if found[j]["path"] != name.decode("utf-8", "replace"):
            problems.append(("json", name, found[j]["path"]))
        command = github[j]
        head, _, message = command.partition(b"::")[2].partition(b"::")
        properties = head.split(b" ", 1)[1]
        file_value = properties[len(b"file="):properties.index(b",line=")]
        if not command.startswith(b"::warning file=") or unescape_property(file_value) != name:
            problems.append(("github", name, command))
        if b"\n" in command or b"\r" in command:
            problems.append(("github line break", name))
print("ok" if not problems else problems)
PY
)"

# ---- SARIF: the fields of 2.1.0 it uses, and fixes that repair the files -----
mkdir sarif && cp u8.txt u8bom.txt u16le.txt sarif/ && cp 'файл.txt' 'sarif/a file.txt'
cd sarif || exit 2
for unit in code-points utf-16; do
  check "SARIF with $unit: status" 2 \
    "$(status_of "$program" --words -c --format=sarif --columns=$unit u8.txt missing.txt u8bom.txt u16le.txt 'a file.txt')"
  "$program" --words -c --format=sarif --columns=$unit u8.txt missing.txt u8bom.txt u16le.txt 'a file.txt' > ../log.sarif 2>/dev/null
  check "SARIF with $unit: a sound log whose fixes equal -i" "ok" "$(python3 - "$unit" "$program" <<'PY'
import json, os, shutil, subprocess, sys, urllib.parse
unit, program = sys.argv[1], sys.argv[2]
log = json.load(open("../log.sarif", encoding="utf-8"))
problems = []
def need(condition, what):
    if not condition:
        problems.append(what)
need(log["version"] == "2.1.0" and len(log["runs"]) == 1, "version and one run")
run = log["runs"][0]
driver = run["tool"]["driver"]
need(driver["name"] == "glyphmend-cli" and driver["version"], "driver")
rules = driver["rules"]
ids = [r["id"] for r in rules]
need(len(set(ids)) == len(ids) == 3, "one rule per kind")
need(all(r["shortDescription"]["text"] and r["help"]["text"] for r in rules), "rule texts")
need(run["columnKind"] == {"code-points": "unicodeCodePoints", "utf-16": "utf16CodeUnits"}[unit], "columnKind")
edits = {}
for result in run["results"]:
    need(rules[result["ruleIndex"]]["id"] == result["ruleId"], "ruleIndex")
    need(result["level"] == "warning" and result["message"]["text"].startswith("U+"), "message")
    region = result["locations"][0]["physicalLocation"]["region"]
    uri = result["locations"][0]["physicalLocation"]["artifactLocation"]["uri"]
    for change in result["fixes"][0]["artifactChanges"]:
        need(change["artifactLocation"]["uri"] == uri, "fix names the result's file")
        for r in change["replacements"]:
            d = r["deletedRegion"]
            need(d == region and d["startLine"] >= 1 and d["endColumn"] > d["startColumn"] >= 1, "region")
            edits.setdefault(urllib.parse.unquote(uri), []).append((d, r["insertedContent"]["text"]))
need(len(run["results"]) == 26, "26 results, not %d" % len(run["results"]))
for path, changes in edits.items():
    data = open(path, "rb").read()
    encoding = "utf-16" if data[:2] in (b"\xff\xfe", b"\xfe\xff") else "utf-8-sig" if data[:3] == b"\xef\xbb\xbf" else "utf-8"
    lines = data.decode(encoding).split("\n")
    for d, text in sorted(changes, key=lambda c: (c[0]["startLine"], -c[0]["startColumn"])):
        line = lines[d["startLine"] - 1]
        if unit == "utf-16":
            units = line.encode("utf-16-le")
            lines[d["startLine"] - 1] = (units[:2 * d["startColumn"] - 2].decode("utf-16-le") + text +
                                         units[2 * d["endColumn"] - 2:].decode("utf-16-le"))
        else:
            lines[d["startLine"] - 1] = line[:d["startColumn"] - 1] + text + line[d["endColumn"] - 1:]
    shutil.copy(path, "copy")
    subprocess.run([program, "--words", "-i", "copy"], check=True)
    need("\n".join(lines) == open("copy", "rb").read().decode(encoding), "fixes of %s equal -i" % path)
print("ok" if not problems else problems)
PY
)"
done
check "SARIF cannot count bytes" 2 "$(status_of "$program" -c --format=sarif --columns=bytes u8.txt)"
check "SARIF of a clean run is a whole log" "[]" \
  "$(printf 'clean\n' | "$program" -c --format=sarif | python3 -c 'import json,sys; print(json.load(sys.stdin)["runs"][0]["results"])')"
cd .. || exit 2

# ---- the problem matcher's expression on real lines ---------------------------
"$program" --words -c u8.txt 'файл.txt' "$(printf 'ctl\001,a:b%%.txt')" > matcher.out
check "problem matcher reads every check line" "ok" "$(python3 - "$source_dir/docs/glyphmend-problem-matcher.json" <<'PY'
import json, re, sys
pattern = json.load(open(sys.argv[1]))["problemMatcher"][0]["pattern"][0]
expression = re.compile(pattern["regexp"])
lines = open("matcher.out", encoding="utf-8", errors="surrogateescape").read().splitlines()
problems = [] if len(lines) == 12 else ["12 lines, not %d" % len(lines)]
for line in lines:
    m = expression.match(line)
    if not m:
        problems.append(line)
        continue
    file, row, column, message = (m.group(pattern[k]) for k in ("file", "line", "column", "message"))
    if line != "%s:%s:%s: %s" % (file, row, column, message) or file not in ("u8.txt", "файл.txt", "'ctl'$'\\001'',a:b%.txt'"):
        problems.append((file, row, column))
print("ok" if not problems else problems)
PY
)"

# ---- --diff: patch -p0 and git apply accept it, and it equals -i --------------
mkdir diff && cd diff || exit 2
python3 - <<'PY'
def lines(count, changed, end="\n"):
    return "".join(("Κот %d" if i in changed else "кот %d") % i + end for i in range(1, count + 1))
cases = {
    "space name.txt": lines(20, {10}),
    "Кириллица файл.txt": lines(20, {1, 20})[:-1],        # two hunks, no LF at the end
    "seven apart.txt": lines(30, {5, 12}),                 # six lines between: one hunk
    "eight apart.txt": lines(30, {5, 13}),                 # seven lines between: two hunks
    "crlf.txt": lines(9, {2, 3, 9}, "\r\n"),
    'we"ird\\name.txt': "C\u043B\u043E\u0432\u043E \u0438\u0306\n",
    "tab\tname.txt": "\u0391\n",
    "ends in space ": "\u0391\n",
}
for name, text in cases.items():
    open(name, "w", encoding="utf-8", newline="").write(text)
open("clean.txt", "w").write("кот\n")
open("late-nul.bin", "wb").write(("\u0391\n" * 200000).encode() + b"\x00")
open("utf16.txt", "wb").write(b"\xff\xfe" + "\u0391\n".encode("utf-16-le"))
PY
set -- 'space name.txt' 'Кириллица файл.txt' 'seven apart.txt' 'eight apart.txt' crlf.txt \
  'we"ird\name.txt' "$(printf 'tab\tname.txt')" 'ends in space '
"$program" --words --diff "$@" clean.txt > all.diff 2> diff.err
check "diff status when something differs" 1 "$?"
check "diff hunks" 10 "$(grep -c '^@@ ' all.diff)"
check "patch -p0 accepts the diff" 0 "$(status_of patch -p0 --dry-run -i all.diff)"
check "git apply accepts the diff" 0 "$(status_of git apply --check all.diff)"
for f in "$@"; do
  cp "$f" "../$f.before"
done
mkdir ../repaired && cp "$@" ../repaired/ && (cd ../repaired && "$program" --words -i "$@")
patch -s -p0 -i all.diff
same=0
for f in "$@"; do
  cmp -s "$f" "../repaired/$f" && same=$((same + 1))
done
check "patched files equal -i" $# "$same"
for f in "$@"; do
  cp "../$f.before" "$f"
done
git init -q . && git apply all.diff
same=0
for f in "$@"; do
  cmp -s "$f" "../repaired/$f" && same=$((same + 1))
done
check "git-applied files equal -i" $# "$same"
printf '\316\221\n' > full.txt
check "diff gives a full name inside the current folder relative to it" "--- ./full.txt" \
  "$("$program" --diff "$(pwd -P)/full.txt" | head -n 1)"
check "diff of clean files: status, output" "0 0" \
  "$("$program" --diff clean.txt | wc -c) $(status_of "$program" --diff clean.txt)"
check "diff skips a binary file as -i does" "0 0 1" "$("$program" --diff late-nul.bin 2>err | wc -c) \
$(status_of "$program" --diff late-nul.bin) $(grep -c 'late-nul.bin: binary file, skipped' err)"
check "diff refuses standard input and UTF-16" "2 2" \
  "$(printf 'Α' | status_of "$program" --diff) $(status_of "$program" --diff utf16.txt)"
check "diff excludes check and in place" "2 2" \
  "$(status_of "$program" --diff -c clean.txt) $(status_of "$program" --diff -i clean.txt)"
check "format needs check" 2 "$(status_of "$program" --diff --format=json clean.txt)"

finish formats_test
