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

finish cli_wine_test
