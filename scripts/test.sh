#!/usr/bin/env bash
# The whole test run, as CI makes it: set-up, formatting and lint, the release
# and sanitizer builds with their tests, the 32-bit Windows build with its
# interface check, and a bounded fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

step() { printf '\n== %s\n' "$*"; }

sources=$(git ls-files -co --exclude-standard '*.cpp' '*.h')

step "format"
# shellcheck disable=SC2086
clang-format --dry-run --Werror $sources

step "release build and tests"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

step "lint"
# The Linux sources of the driver, the runtime stand-in and the tools (the
# Windows-only files are not in the Linux build's compilation database).
lint_log=$(mktemp)
# shellcheck disable=SC2046
if ! clang-tidy -p build/default --quiet \
  $(echo "$sources" | grep -E '^(driver|kyrpro|wire|simulator|hosttool)/.*\.cpp$' | grep -v -E '_win32|/platform/windows/') >"$lint_log" 2>&1; then
  grep -v 'warnings generated' "$lint_log"
  rm -f "$lint_log"
  exit 1
fi
rm -f "$lint_log"

step "sanitizer build and tests"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

step "32-bit Windows build: layouts, exports and imports"
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686
ctest --preset mingw-i686

step "fuzzing, bounded"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
fuzz() {  # target, runs, longest input
  local corpus
  corpus=$(mktemp -d)
  cp "fuzz/corpus/$1"/* "$corpus"/
  "build/fuzz/bin/$1_fuzz" -runs="$2" -max_len="$3" "$corpus" 2>&1 | tail -n 1
  rm -rf "$corpus"
}
fuzz address 500000 64
fuzz reply 300000 512

step "all passed"
