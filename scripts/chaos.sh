#!/usr/bin/env bash
# Long chaos runs: builds the plugin and the simulated game, then plays random sequences for
# SECONDS seconds (default 600), each ending with the settled checks. Prints the seed first and
# the figures last (sequences, events, unloads, failures); a failing sequence is kept as a
# scenario file in the current folder, named with its seed, which `freeplot-sim play` replays.
#
#   scripts/chaos.sh [SECONDS] [--seed N] [--events E]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
[ $# -gt 0 ] && shift
if ! [ "$seconds" -gt 0 ] 2>/dev/null; then
  echo "usage: scripts/chaos.sh [SECONDS] [--seed N] [--events E]" >&2
  exit 2
fi
"$root/scripts/setup.sh" >&2
log=$(mktemp)
if ! (cd "$root" && cmake --preset linux && cmake --build --preset linux --target freeplot freeplot-sim) \
  >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  echo "chaos: the build failed" >&2
  exit 1
fi
rm -f "$log"
exec "$root/build/linux/sim/freeplot-sim" chaos --seconds "$seconds" "$@"
