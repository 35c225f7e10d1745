# Sourced by the command-line tests. check NAME EXPECTED ACTUAL reports a
# mismatch with both values; finish NAME prints the tally and gives the
# test's status.
failures=0 checks=0
check() {
  checks=$((checks + 1))
  if [ "$2" != "$3" ]; then
    failures=$((failures + 1))
    printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
  fi
}
finish() {
  echo "$1: $((checks - failures)) passed, $failures failed"
  [ "$failures" -eq 0 ]
}
