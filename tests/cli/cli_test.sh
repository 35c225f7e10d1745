#!/bin/sh
# glyphmend-cli's contract, run against the real program: the three forms,
# the exit statuses, in-place rewrites that never lose a byte, and a split
# run under GNU parallel that equals a single one.
# Usage: cli_test.sh PROGRAM SOURCE_DIR
set -u
. "$(cd "$(dirname "$0")" && pwd)/checks.sh"
program=$1
source_dir=$2
work=$(mktemp -d)
mounts=
cleanup() {
  for m in $mounts; do umount "$m" 2>/dev/null; done
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 2

status_of() { "$@" >/dev/null 2>&1; echo $?; }

# ---- the three forms and the exit statuses ---------------------------------
check "filter repairs" "АВГ ков" "$(printf 'ΑΒΓ ĸᴏʙ\n' | "$program")"
check "check lists six" 6 "$(printf 'ΑΒΓ ĸᴏʙ\n' | "$program" --check | wc -l)"
check "check status when found" 1 "$(printf 'ΑΒΓ ĸᴏʙ\n' | status_of "$program" -c)"
check "check status when clean" 0 "$(printf 'АВГ\n' | status_of "$program" --check)"
check "version" "glyphmend-cli 0.9d" "$("$program" --version)"
check "help on standard output" 1 "$("$program" --help | grep -c '^Usage: glyphmend-cli')"
check "unknown option: two lines, no usage" "glyphmend-cli: unknown option '--bogus'
Try 'glyphmend-cli --help' for more information.
2" "$("$program" --bogus 2>&1; echo $?)"
for option in --help --version; do
  check "$option to a full disk" "glyphmend-cli: standard output: No space left on device
2" "$("$program" $option 2>&1 >/dev/full; echo $?)"
done
check "in place and check exclude each other" 2 "$(status_of "$program" -ic x)"
check "manual readable in the C locale" "" \
  "$(LC_ALL=C groff -man -Tascii -ww "$(dirname "$program")/glyphmend-cli.1" 2>&1 >/dev/null)"

# Every row's line, in the form and with the names Unicode gives them.
python3 - "$source_dir/letters/letter_table.h" > rows.txt <<'PY'
import re, sys, unicodedata
rows = re.findall(r'\{u"((?:\\u[0-9A-F]{4})+)", u"\\u([0-9A-F]{4})"\}', open(sys.argv[1]).read())
text, lines = "", []
for search, replacement in rows:
    units = [int(u, 16) for u in re.findall(r'[0-9A-F]{4}', search)]
    column = len(text) + 1
    text += "".join(map(chr, units))
    name = lambda u: "U+%04X %s" % (u, unicodedata.name(chr(u)))
    lines.append("rows.txt:1:%d: %s -> %s" % (column, " + ".join(map(name, units)),
                                              name(int(replacement, 16))))
open("rows-text.txt", "w").write(text + "\n")
print("\n".join(lines))
PY
mv rows-text.txt rows.in
check "every row reported by name" "$(sed 's/rows.txt/rows.in/' rows.txt)" "$("$program" -c rows.in)"

# ---- several files: an error does not stop the others -----------------------
printf 'Κот\n' > a.txt
printf 'Κит\n' > b.txt
check "files in order, missing one reported" "Кот Кит 2" \
  "$("$program" a.txt missing.txt b.txt 2>/dev/null | tr '\n' ' ')$(status_of "$program" a.txt missing.txt b.txt)"
check "message names the file" 1 "$("$program" missing.txt 2>&1 | grep -c '^glyphmend-cli: missing.txt: ')"
check "check names standard input -" "-:2:1:" "$(printf 'x\nΑ' | "$program" -c | cut -d' ' -f1)"

# ---- in place -----------------------------------------------------------------
printf 'Κот и\314\206\r\n' > fix.txt
chmod 640 fix.txt
printf 'clean\n' > clean.txt
touch -d '2001-02-03 04:05:06' clean.txt
check "in place status" 0 "$(status_of "$program" -i fix.txt clean.txt)"
check "in place repairs" "$(printf 'Кот й\r\n')" "$(cat fix.txt)"
check "in place keeps permission bits" 640 "$(stat -c %a fix.txt)"
check "clean file untouched" "2001-02-03 04:05:06" "$(date -r clean.txt '+%Y-%m-%d %H:%M:%S')"
check "no temporary file left" "a.txt b.txt clean.txt fix.txt rows.in rows.txt" "$(ls | tr '\n' ' ' | sed 's/ $//')"
check "standard input cannot be rewritten" 2 "$(printf 'Α' | status_of "$program" -i -)"

# A rewrite that fails leaves the original whole and no temporary file.
failed_rewrite() {  # failed_rewrite NAME FOLDER [COMMAND PREFIX...]
  name=$1 folder=$2
  shift 2
  before=$(cksum < "$folder/big.txt")
  status=$("$@" "$program" -i "$folder/big.txt" 2>"$work/err.txt"; echo $?)
  check "$name: status" 2 "$status"
  check "$name: original whole" "$before" "$(cksum < "$folder/big.txt")"
  check "$name: no temporary file" big.txt "$(ls -A "$folder")"
  check "$name: message names the file" 1 "$(grep -c "^glyphmend-cli: $folder/big.txt: " "$work/err.txt")"
}
mkdir limit
"$source_dir/scripts/make-text" 400000 > limit/big.txt
failed_rewrite "file size limit" limit sh -c 'ulimit -f 100; exec "$@"' sh
if [ "$(id -u)" -eq 0 ] && mkdir full readonly && mount -t tmpfs -o size=256k tmpfs full 2>/dev/null; then
  mounts="full"
  "$source_dir/scripts/make-text" 200000 > full/big.txt
  failed_rewrite "disk full" full
  mount -t tmpfs -o size=1m tmpfs readonly && mounts="$mounts readonly"
  cp full/big.txt readonly/big.txt && mount -o remount,ro readonly
  failed_rewrite "read-only folder" readonly
elif [ "$(id -u)" -ne 0 ]; then
  mkdir -p readonly && cp limit/big.txt readonly/ && chmod a-w readonly
  failed_rewrite "read-only folder" readonly
else
  echo "skipped: disk full and read-only folder (no tmpfs mounts here)"
fi

# ---- binary files: passed through by the filter, skipped by -c and -i -----------
# Both hold the byte pairs of look-alikes, as -a proves; a NUL that only a
# whole-file reading sees makes -i skip a file that the filter repairs.
cp /usr/bin/python3 program.bin
"$source_dir/scripts/make-text" 2000000 | gzip -n > text.gz
"$source_dir/scripts/make-text" 300000 > late-nul.txt
printf '\0' >> late-nul.txt
for f in program.bin text.gz late-nul.txt; do
  cp "$f" "$f.orig"
  check "$f: -a finds look-alikes" 1 "$("$program" -a -c "$f" | head -n 1 | wc -l)"
  message=$("$program" -i "$f" 2>&1)
  check "$f: -i status and message" "0 glyphmend-cli: $f: binary file, skipped" "$? $message"
  check "$f: -i leaves it whole" "$(cksum < "$f.orig")" "$(cksum < "$f")"
done
check "filter passes a binary program byte for byte" "$(cksum < program.bin)" \
  "$("$program" < program.bin | cksum)"
check "check reports nothing in a binary program" "0 glyphmend-cli: program.bin: binary file, skipped" \
  "$("$program" -c program.bin 2>/dev/null | wc -l | tr -d ' ') $("$program" -c program.bin 2>&1 >/dev/null)"
check "filter decides on the first piece" 1 "$("$program" < late-nul.txt | cmp -s - late-nul.txt; echo $?)"
check "gzip file still sound" 0 "$(gzip -t text.gz; echo $?)"
printf '\377\376\221\003\n\000' > utf16.txt
check "utf-16 with its NUL bytes is text" "$(printf '\377\376\020\004\n\000' | od -An -tx1)" \
  "$("$program" -i utf16.txt && od -An -tx1 < utf16.txt)"
rm -f program.bin* text.gz* late-nul.txt* utf16.txt

# ---- -i keeps all metadata, and refuses what it cannot replace whole -----------
printf 'Κот\n' > kept.txt
chmod 6750 kept.txt
setfacl -m u:nobody:rw kept.txt
setfattr -n user.origin -v scanner kept.txt
mode=$(stat -c %a kept.txt) acl=$(getfacl -c kept.txt) attributes=$(getfattr -d kept.txt)
check "in place keeps mode, ACL, attributes" "0 Кот $mode $acl $attributes" \
  "$("$program" -i kept.txt; echo $?) $(cat kept.txt) $(stat -c %a kept.txt) $(getfacl -c kept.txt) $(getfattr -d kept.txt)"

# Each refused file keeps its bytes, the others are still repaired.
printf 'Κот\n' > linked.txt && ln linked.txt other-name.txt
printf 'Κот\n' > read-only.txt && chmod 444 read-only.txt
mkfifo fifo
printf 'Κот\n' > self.txt
printf 'Κот\n' > repaired.txt
refusals=$(timeout 10 "$program" -i linked.txt read-only.txt fifo /dev/null repaired.txt 2>&1; echo $?)
check "refusals: messages and status" "glyphmend-cli: linked.txt: it has 2 hard links, which a rewrite would split; not rewritten
glyphmend-cli: read-only.txt: no permission to write it; not rewritten
glyphmend-cli: fifo: not a regular file; not rewritten
glyphmend-cli: /dev/null: not a regular file; not rewritten
2" "$refusals"
check "refusals: nothing changed, the rest repaired" "Κот Κот Κот Кот" \
  "$(cat linked.txt other-name.txt read-only.txt repaired.txt | tr '\n' ' ' | sed 's/ $//')"
check "input file is output file" "2 glyphmend-cli: self.txt: input file is output file|Κот Кот" \
  "$(timeout 10 "$program" self.txt repaired.txt - < self.txt 2>err.txt >> self.txt; echo $?) $(head -n 1 err.txt)|$(cat self.txt | tr '\n' ' ' | sed 's/ $//')"
rm -f kept.txt linked.txt other-name.txt read-only.txt fifo self.txt repaired.txt err.txt

# A plain user may not take over another user's file, even in a folder it
# may write; its own file keeps its group only if it may give it that group.
plain=$(mktemp -d)
chmod 1777 "$plain"
printf 'Κот\n' > "$plain/root.txt" && chmod 666 "$plain/root.txt"
printf 'Κот\n' > "$plain/own.txt" && chmod 666 "$plain/own.txt" && chown nobody:root "$plain/own.txt"
check "plain user: refused, owner kept" "glyphmend-cli: $plain/root.txt: owned by another user, whose ownership a rewrite would lose; not rewritten
glyphmend-cli: $plain/own.txt: its owner and group could not be kept (Operation not permitted); not rewritten
2 Κот root Κот nobody:root" \
  "$(runuser -u nobody -- "$program" -i "$plain/root.txt" "$plain/own.txt" 2>&1; echo $?) $(cat "$plain/root.txt") $(stat -c %U "$plain/root.txt") $(cat "$plain/own.txt") $(stat -c %U:%G "$plain/own.txt")"
rm -rf "$plain"

# ---- signals during -i: the temporary file goes, the original stays -----------
mkdir signals
"$source_dir/scripts/make-text" 300000000 > signals/big.txt
before=$(cksum < signals/big.txt)
for case in TERM:143 INT:130 HUP:129 PIPE:141; do
  signal=${case%:*}
  env --default-signal=INT "$program" -i signals/big.txt &
  pid=$! tries=0
  until ls signals/.glyphmend-* >/dev/null 2>&1 || [ $tries -ge 1000 ]; do
    sleep 0.01
    tries=$((tries + 1))
  done
  kill -"$signal" $pid
  wait $pid
  check "$signal during -i: status, no temporary file" "${case#*:} big.txt" "$? $(ls -A signals)"
done
check "signals during -i: original whole" "$before" "$(cksum < signals/big.txt)"
rm -rf signals

# ---- check lines stay lines ------------------------------------------------------
# Names with control characters or invalid bytes are quoted as coreutils
# quotes them; a word of any length is shown in at most 40 characters.
for name in 'a\nb' '\tx' "it'\\001s" 'esc\033[1m' 'del\177\302\200' 'bad\377' 'Кот\r'; do
  name=$(printf "$name")
  printf 'Κ\n' > "$name"
  check "name quoted: $(LC_ALL=C.UTF-8 ls -d --quoting-style=shell-escape -- "$name")" \
    "$(LC_ALL=C.UTF-8 ls -d --quoting-style=shell-escape -- "$name"):1:1:" \
    "$("$program" -c -- "$name" | cut -d' ' -f1)"
  rm -f -- "$name"
done
printf 'о%060000d\n' 0 | tr 0 a > long-word.txt
check "a long word shortened in every check line" \
  "60000 oaaaaaaaaaaaaaaaaaaa…aaaaaaaaaaaaaaaaaaa" \
  "$("$program" -c --words long-word.txt | sed 's/.* in "\(.*\)"$/\1/' | sort | uniq -c | sed 's/^ *//; s/ о/ o/')"
rm -f long-word.txt

# ---- a regular file on two threads, the same as one read through a pipe ------
# The repaired text, with --words too, and with --check each finding's line
# and offsets.
# Chunks are cut at line ends near every 256 KiB: lines of every length, one
# far longer than a chunk, none at all, and in UTF-16 units whose bytes hold
# 0x0A without being a line end, on the grid of units and off it (U+040A,
# U+0A0A, U+0A05 between U+0400).
python3 - <<'PY'
import random
random.seed(7)
words = ["ᴏкнᴏ", "и\u0306ог", "ΑΒΓ", "ĸот", "ʙода", "дом", "Њива", "\u0a0a", "Ѐ\u0a05Ѐ", "e\u0308ж", "и", "в", "на"]
def text(lines):
    return "".join(" ".join(random.choice(words) for _ in range(n)) + "\n" for n in lines)
lengths = [random.choice([0, 1, 3, 20, 200, 600]) for _ in range(200)]
body = "Α" + "ᴏ" * 90000 + "\n" + text(lengths[:100]) + "ĸ" * 140000 + "\n" + text(lengths[100:])
cases = {"lines": (body, "8 16le 16be"), "no-end": (body.rstrip("\n"), "8 16le"),
         "one-line": (body.replace("\n", " "), "8 16be")}
for name, (t, encodings) in cases.items():
    for encoding in encodings.split():
        bom = "\ufeff" if encoding != "8" else ""
        open(name + "." + encoding, "wb").write((bom + t).encode({"8": "utf-8", "16le": "utf-16-le", "16be": "utf-16-be"}[encoding]))
# Lines of 64 bytes: a line end is the last byte or unit of every piece.
line = lambda x: ("ĸот ΑΒΓ " + "x" * x + "\n")
open("at-piece.8", "wb").write(line(49).encode() * 28000)
open("at-piece.16le", "wb").write(("\ufeff" + line(22) + line(23) * 12000).encode("utf-16-le"))
# With --words, twins read by the language of the lines before them
# (Iнодов stays in Russian text): Ukrainian, Russian and Kazakh lines.
context = ["їжак і ґанок", "съезд ы эх", "қазақ ұл", "дом кот", "", "ΑΒΓ x"]
twins = ["Iнодов", "мiсто", "Yлкен", "кyн", "Cлово", "ĸот", "и\u0306ог"]
t = "".join((random.choice(context) if random.random() < 0.5 else
             " ".join(random.choice(twins) for _ in range(random.choice([1, 2, 5, 30])))) + "\n"
            for _ in range(25000))
open("words.8", "wb").write(t.encode())
open("words.16le", "wb").write(("\ufeff" + t).encode("utf-16-le"))
PY
for f in lines.* no-end.* one-line.* at-piece.*; do
  check "$f: two threads equal one" "$(cat "$f" | "$program" | cksum)" "$("$program" "$f" | cksum)"
done
for f in words.* lines.8 no-end.16le; do
  check "$f: two threads equal one with --words" "$(cat "$f" | "$program" --words | cksum)" \
    "$("$program" --words "$f" | cksum)"
done
for f in lines.8 lines.16be no-end.16le at-piece.8; do
  check "$f: two threads check as one" "$(cat "$f" | "$program" -c --format=json | cksum)" \
    "$("$program" -c --format=json < "$f" | cksum)"
done
check "two threads repaired" 1 "$("$program" lines.16be | cmp -s - lines.16be; echo $?)"
check "two threads leave standard input at its end" "$("$program" < lines.8 | cksum)" \
  "$( ("$program"; cat) < lines.8 | cksum)"
check "two threads from where standard input stands" "$(tail -c +1001 lines.8 | "$program" | cksum)" \
  "$( (dd bs=1000 count=1 of=/dev/null status=none; "$program") < lines.8 | cksum)"
check "two threads to a full disk" "glyphmend-cli: standard output: No space left on device
2" "$("$program" lines.8 2>&1 >/dev/full; echo $?)"
rm -f lines.* no-end.* one-line.* at-piece.* words.*

# ---- split at line ends by GNU parallel, the same as one run -------------------
"$source_dir/scripts/make-text" 6000000 3 > split.txt
"$program" split.txt > whole.out
parallel --will-cite --pipe --block 1M -k "$program" < split.txt > parts.out
check "parallel --pipe equals one run" "$(cksum < whole.out)" "$(cksum < parts.out)"
check "parallel input was repaired" 1 "$(cmp -s split.txt whole.out; echo $?)"

finish cli_test
