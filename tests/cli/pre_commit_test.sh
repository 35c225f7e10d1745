#!/bin/sh
# The hooks of .pre-commit-hooks.yaml under the real pre-commit, offline:
# the hooks' repository is a local commit of the file, the program comes
# from the build, and pre-commit's home and cache live in a temporary folder.
# Usage: pre_commit_test.sh PROGRAM SOURCE_DIR
set -u
. "$(cd "$(dirname "$0")" && pwd)/checks.sh"
program=$1
source_dir=$2
if ! command -v pre-commit >/dev/null; then
  echo "pre-commit is missing: scripts/install-deps installs it"
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" PRE_COMMIT_HOME="$work/cache" GIT_CONFIG_NOSYSTEM=1 LC_ALL=C.UTF-8
PATH="$(cd "$(dirname "$program")" && pwd):$PATH"
mkdir "$HOME"
git config --global user.email test@example.invalid
git config --global user.name test
git config --global init.defaultBranch main

mkdir "$work/hooks"
cp "$source_dir/.pre-commit-hooks.yaml" "$work/hooks/"
git -C "$work/hooks" init -q
git -C "$work/hooks" add .pre-commit-hooks.yaml
git -C "$work/hooks" commit -qm hooks
mkdir "$work/project"
cd "$work/project" || exit 2
git init -q
cat > .pre-commit-config.yaml <<EOF
repos:
  - repo: $work/hooks
    rev: $(git -C "$work/hooks" rev-parse HEAD)
    hooks:
      - id: glyphmend-check
      - id: glyphmend-fix
EOF
printf '\316\232\320\276\321\202\n' > damaged.txt
cp damaged.txt ./-dash.txt
printf '\320\272\320\276\321\202\n' > clean.txt
git add .

run_hook() { pre-commit run "$1" --all-files > "$1.out" 2>&1; echo $?; }
check "check hook fails on a look-alike" 1 "$(run_hook glyphmend-check)"
check "check hook names them, a name with a leading dash too" 2 \
  "$(grep -c -e '^damaged.txt:1:1: U+039A' -e '^-dash.txt:1:1: U+039A' glyphmend-check.out)"
check "fix hook fails when it changed a file" 1 "$(run_hook glyphmend-fix)"
check "fix hook repaired both files" "Кот" "$(cat damaged.txt ./-dash.txt | sort -u)"
check "fix hook passes on the second run" 0 "$(run_hook glyphmend-fix)"
check "check hook passes after the fix" 0 "$(run_hook glyphmend-check)"

finish pre_commit_test
