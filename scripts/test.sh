#!/usr/bin/env bash
# The test command: installs what is missing, builds the Linux plugin, the simulated game and
# the tests, compiles every source for Windows with mingw-w64 (checking the exports), runs the
# settings fuzzer briefly, then runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

cmake --preset linux
cmake --build --preset linux

cmake --preset windows-mingw
cmake --build --preset windows-mingw

if [ -x scripts/fuzz.sh ]; then
  scripts/fuzz.sh "${FREEPLOT_FUZZ_SECONDS:-30}"
fi

ctest --preset linux
