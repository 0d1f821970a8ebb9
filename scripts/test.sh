#!/usr/bin/env bash
# The test command: installs what is missing, builds the Linux plugin, the simulated game and
# the tests, compiles every source for Windows with mingw-w64 (checking the exports), runs the
# settings fuzzer briefly, then runs every test: plainly, the unit tests under AddressSanitizer
# with UndefinedBehaviorSanitizer, and every test (sessions included) under ThreadSanitizer and
# under UndefinedBehaviorSanitizer; last, the Windows test program under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n==== %s\n' "$*"; }

scripts/setup.sh

step "Linux build"
cmake --preset linux
cmake --build --preset linux

step "Windows compile (mingw-w64) and export check"
cmake --preset windows-mingw
cmake --build --preset windows-mingw

if [ -x scripts/fuzz.sh ]; then
  step "Settings fuzzer"
  scripts/fuzz.sh "${FREEPLOT_FUZZ_SECONDS:-30}"
fi

step "Tests"
ctest --preset linux

step "Unit tests and the raw-input fuzz under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

step "Every test under ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan

step "Every test under UndefinedBehaviorSanitizer"
cmake --preset ubsan >/dev/null
cmake --build --preset ubsan
ctest --preset ubsan

step "Windows tests under Wine (the portable tests on the Windows layer)"
scripts/windows-tests.sh
