#!/bin/sh
# glyphmend-cli --words run as users run it: the three forms, the check
# lines with their words in text order, and a word cut between two reads.
# Usage: words_cli_test.sh PROGRAM
set -u
. "$(cd "$(dirname "$0")" && pwd)/checks.sh"
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2


check "filter repairs words" "Слово ХОРОШО iPhoneы Coca-Кола" \
  "$(printf 'Cлово XOPOШO iPhoneы Coca-Колa\n' | "$program" --words)"
check "off by default" "Cлово XOPOШO iPhoneы Coca-Колa" \
  "$(printf 'Cлово XOPOШO iPhoneы Coca-Колa\n' | "$program")"

# Rows and twins interleave by position; a two-unit row earlier in the line
# keeps the twin's column where it was read; the word is shown as read.
printf 'Αpт и\314\206 Cлово\nok \316\277кн\316\277\n' > mixed.txt
cat > expected.txt <<'LINES'
mixed.txt:1:1: U+0391 GREEK CAPITAL LETTER ALPHA -> U+0410 CYRILLIC CAPITAL LETTER A
mixed.txt:1:2: U+0070 LATIN SMALL LETTER P -> U+0440 CYRILLIC SMALL LETTER ER in "Αpт"
mixed.txt:1:5: U+0438 CYRILLIC SMALL LETTER I + U+0306 COMBINING BREVE -> U+0439 CYRILLIC SMALL LETTER SHORT I
mixed.txt:1:8: U+0043 LATIN CAPITAL LETTER C -> U+0421 CYRILLIC CAPITAL LETTER ES in "Cлово"
mixed.txt:2:4: U+03BF GREEK SMALL LETTER OMICRON -> U+043E CYRILLIC SMALL LETTER O in "οкнο"
mixed.txt:2:7: U+03BF GREEK SMALL LETTER OMICRON -> U+043E CYRILLIC SMALL LETTER O in "οкнο"
LINES
check "check lines" "$(cat expected.txt)" "$("$program" --check --words mixed.txt)"
"$program" -c --words mixed.txt >/dev/null
check "check status" 1 $?

cp mixed.txt fixed.txt
"$program" --in-place --words fixed.txt
check "in place" "$(printf 'Арт й Слово\nok окно')" "$(cat fixed.txt)"
printf 'Coca-Cola Wi-Fi\n' > clean.txt
touch -d 2001-01-01 clean.txt
"$program" -i --words clean.txt
check "a file with nothing to repair is not touched" 2001 "$(date -r clean.txt +%Y)"

# The piece boundary falls between the C and the л.
head -c 262143 /dev/zero | tr '\0' ' ' > cut.txt
printf 'Cлово\n' >> cut.txt
check "a word cut between reads" "Слово" "$("$program" --words < cut.txt | tr -d ' ')"

finish words_cli_test
