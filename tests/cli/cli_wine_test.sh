#!/bin/sh
# glyphmend-cli.exe under Wine: bytes go through its standard streams
# without line-end or code-page translation, and a file whose name is
# Cyrillic is repaired in place through the wide file API.
# Usage: cli_wine_test.sh PROGRAM WINE_RUN ARCH PREFIX
set -u
. "$(cd "$(dirname "$0")" && pwd)/checks.sh"
# Wine turns the arguments' bytes into UTF-16 by the locale's character set.
export LC_ALL=C.UTF-8
run() { "$wine_run" "$arch" "$prefix" "$program" "$@"; }
program=$1 wine_run=$2 arch=$3 prefix=$4
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2


printf 'ΑΒΓ ĸᴏʙ\na\r\nb\n' > piped.txt
run < piped.txt > piped.out
check "pipe repairs, line ends untouched" "$(printf 'АВГ ков\na\r\nb\n' | od -An -tx1)" \
  "$(od -An -tx1 < piped.out)"
run --check < piped.txt > checked.out
check "check status" 1 "$?"
check "check lines" "-:1:1: U+0391 GREEK CAPITAL LETTER ALPHA -> U+0410 CYRILLIC CAPITAL LETTER A" \
  "$(head -n 1 checked.out)"

printf 'Κот и\314\206\n' > 'тест.txt'
run -i 'тест.txt'
check "in-place status" 0 "$?"
check "in place, Cyrillic name" "$(printf 'Кот й\n')" "$(cat 'тест.txt')"
check "no temporary file left" "checked.out piped.out piped.txt тест.txt" "$(ls | tr '\n' ' ' | sed 's/ $//')"

# A diff names the file with "/" whatever separator the argument used.
mkdir 'папка'
printf 'Κот\n' > 'папка/файл.txt'
run --diff 'папка\файл.txt' > wine.diff
check "diff status" 1 "$?"
check "patch -p0 accepts the diff" 0 "$(patch -p0 --dry-run -s -i wine.diff >/dev/null 2>&1; echo $?)"
# Wine's drive Z: is the root; the drive letter's case does not matter.
check "diff of a full name inside the current folder names it relative to it" "$(cat wine.diff)" \
  "$(run --diff "z:$(pwd -P | tr / '\\')\\папка\\файл.txt")"
check "json column in UTF-16 units" 3 \
  "$(printf '\360\237\230\200\316\221\n' | run -c --format=json --columns=utf-16 | sed 's/.*"column":\([0-9]*\).*/\1/')"

# -i keeps the hidden attribute, and refuses what it cannot replace whole;
# the file that standard output appends to is not read.
printf 'Κот\n' > hidden.txt
"$wine_run" "$arch" "$prefix" cmd /c attrib +h hidden.txt
printf 'Κот\n' > read-only.txt && chmod a-w read-only.txt
printf 'Κот\n' > linked.txt && ln linked.txt other-name.txt
printf 'Κ\000' > binary.bin
check "in place: refusals and status" "glyphmend-cli: read-only.txt: no permission to write it; not rewritten
glyphmend-cli: linked.txt: it has 2 hard links, which a rewrite would split; not rewritten
glyphmend-cli: binary.bin: binary file, skipped
2" "$({ run -i hidden.txt read-only.txt linked.txt binary.bin 2>&1; echo $?; } | tr -d '\r')"
check "in place: refused files unchanged, hidden one repaired" "Кот Κот Κот" \
  "$(cat hidden.txt read-only.txt other-name.txt | tr '\n' ' ' | sed 's/ $//')"
check "in place keeps the hidden attribute" 1 \
  "$("$wine_run" "$arch" "$prefix" cmd /c attrib hidden.txt | grep -c '^A *H ')"
printf 'Κот\n' > self.txt
check "input file is output file" "glyphmend-cli: self.txt: input file is output file
2 Κот" "$({ timeout 60 "$wine_run" "$arch" "$prefix" "$program" self.txt 2>&1 >> self.txt; echo $? "$(cat self.txt)"; } | tr -d '\r')"

# A file is read at its offsets on two threads: the same text as piped.
"$scripts/make-text" 1500000 --density 5 --utf16le > threads.txt
check "a file on two threads equals it piped" "$(cat threads.txt | run | cksum)" "$(run threads.txt | cksum)"
check "two threads leave standard input at its end" "$(run < threads.txt | cksum)" \
  "$( (run; cat) < threads.txt | cksum)"

# Ctrl+C (Wine raises it on SIGINT) during a rewrite removes the temporary
# file and leaves the original whole.
mkdir interrupted
"$scripts/make-text" 100000000 > interrupted/big.txt
before=$(cksum < interrupted/big.txt)
(cd interrupted && exec env --default-signal=INT "$wine_run" "$arch" "$prefix" "$program" -i big.txt 2>/dev/null) &
pid=$! tries=0
until ls interrupted/.glyphmend-* >/dev/null 2>&1 || [ $tries -ge 3000 ]; do
  sleep 0.01
  tries=$((tries + 1))
done
kill -INT $pid
wait $pid
check "Ctrl+C during -i: status, no temporary file, original whole" "130 big.txt $before" \
  "$? $(ls -A interrupted) $(cksum < interrupted/big.txt)"

finish cli_wine_test
