#!/usr/bin/env bash
# Long chaos runs: builds the plugin and the simulated game, then plays random sequences for
# SECONDS seconds (default 600), each ending with the settled checks. Prints the seed first and
# the figures last (sequences, events, unloads, steps compared with the model, input records
# compared, readings compared with the settings report, stays replayed, failures); a failing
# sequence is kept as a scenario file in the current folder, named with its seed, which
# `freeplot-sim play` replays (and a stay that did not replay beside it, as SEED.stay.scenario).
#
# With --windows, the simulated game built for Windows plays them under Wine against the release
# freeplot.dll (the one scripts/package.sh puts in the archive), in a Wine prefix of its own
# (build/windows-mingw/chaos/, its documents folder named in Cyrillic and CJK letters). A session
# there may run for 300 s before it counts as hung (60 s on Linux): under Wine a sequence takes two
# to four times as long as on Linux, more on a busy machine. The model's own time bounds are the
# same on both.
# `wine64 freeplot-sim.exe play chaos-SEED.scenario` replays one.
#
#   scripts/chaos.sh [--windows] [SECONDS] [--seed N] [--events E]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
windows=0
if [ "${1:-}" = --windows ]; then
  windows=1
  shift
fi
seconds=${1:-600}
[ $# -gt 0 ] && shift
if ! [ "$seconds" -gt 0 ] 2>/dev/null; then
  echo "usage: scripts/chaos.sh [--windows] [SECONDS] [--seed N] [--events E]" >&2
  exit 2
fi
"$root/scripts/setup.sh" >&2
preset=linux
[ "$windows" -eq 1 ] && preset=windows-mingw
log=$(mktemp)
if ! (cd "$root" && cmake --preset "$preset" && cmake --build --preset "$preset" --target freeplot freeplot-sim) \
  >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  echo "chaos: the build failed" >&2
  exit 1
fi
rm -f "$log"
[ "$windows" -eq 1 ] || exec "$root/build/linux/sim/freeplot-sim" chaos --seconds "$seconds" "$@"

build="$root/build/windows-mingw"
wine_who=chaos
# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh"
wine_setup "$build/chaos"
# The user's documents folder named in letters outside the code page, as in the test command.
wine_documents "Документы 文档" || wine_fail "could not name the documents folder in the Wine prefix"
# The Windows console ends its lines with CR LF.
set +e
"$wine" "$build/sim/freeplot-sim.exe" chaos --seconds "$seconds" --session-timeout 300 \
  --plugin "$(winpath "$build/src/plugin/freeplot.dll")" "$@" | sed -u 's/\r$//'
status=${PIPESTATUS[0]}
set -e
wine_wait
exit "$status"
