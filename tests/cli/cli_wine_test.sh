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

finish cli_wine_test
