#!/usr/bin/env bash
# The demo: installs what is missing, builds the plugin and the simulated game, then runs one
# game session with the plugin loaded and prints its transcript: the plugin's log first, and at
# the end one note per key or wheel event saying what it did to the selected object.
# Extra arguments go to freeplot-sim (e.g. --settings path/to/freeplot.ini).
# What the script is doing goes to standard error; the transcript alone to standard output.
set -euo pipefail
cd "$(dirname "$0")/.."

say() { echo "demo: $*" >&2; }

say "Checking the Debian packages the build needs..."
scripts/setup.sh >&2

if [ -f build/linux/sim/freeplot-sim ]; then
  say "Building the plugin and the simulated game (only what changed)..."
else
  say "Building the plugin and the simulated game (first time: about a minute)..."
fi
# The build's own output is kept aside and shown only when the build fails.
build_log=$(mktemp)
if ! { cmake --preset linux && cmake --build --preset linux --target freeplot freeplot-sim; } \
  >"$build_log" 2>&1; then
  cat "$build_log" >&2
  rm -f "$build_log"
  say "The build failed; its output is above."
  exit 1
fi
rm -f "$build_log"

say "Running one game session with the plugin loaded..."
exec build/linux/sim/freeplot-sim demo "$@"
