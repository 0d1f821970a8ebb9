#!/usr/bin/env bash
# The demo: installs what is missing, builds the plugin and the simulated game, then runs one
# game session with the plugin loaded and prints its transcript (the plugin's log first).
# Extra arguments go to freeplot-sim (e.g. --settings path/to/freeplot.ini).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh >&2

cmake --preset linux >/dev/null
cmake --build --preset linux --target freeplot freeplot-sim >/dev/null

exec build/linux/sim/freeplot-sim demo "$@"
