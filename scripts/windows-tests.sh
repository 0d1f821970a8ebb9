#!/usr/bin/env bash
# The Windows tests: builds the Windows test program (the portable tests on the Windows layer,
# and freeplot.dll loaded by a host that is not the game; mingw-w64, GoogleTest built from
# Debian's sources) and runs it under wine64 in a fresh Wine prefix inside the build folder, with
# no display. Then the simulated game built for Windows drives the release freeplot.dll under
# Wine: the demo must print its expected transcript (tests/session/golden/demo.transcript, the
# one the Linux sim prints; the only difference by nature is the Windows console's CR LF line
# ends, which are taken off), and in an image that holds none of the game's code the plugin
# must write nothing. Fails with one clear line when Wine is missing or cannot start the
# programs; never skips.
#
#   scripts/windows-tests.sh [gtest arguments...]
#
# FREEPLOT_WINE may name the Wine loader to use (default: Debian's wine64).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build/windows-mingw"

fail() {
  echo "Windows tests: $*" >&2
  exit 1
}

# Debian's wine64 keeps its binaries off PATH.
find_wine_binary() {
  local name=$1 candidate
  candidate=$(dpkg -L wine64 2>/dev/null | grep -E "/$name\$" | head -n 1 || true)
  for candidate in "$candidate" "/usr/lib/wine/$name" "$(command -v "$name" || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}
# FREEPLOT_WINE names another Wine loader to use.
if [ -n "${FREEPLOT_WINE:-}" ]; then
  [ -x "$FREEPLOT_WINE" ] || fail "FREEPLOT_WINE=$FREEPLOT_WINE is not an executable Wine loader"
  wine=$FREEPLOT_WINE
else
  wine=$(find_wine_binary wine64) ||
    fail "wine64 is not installed (Debian package wine64; scripts/setup.sh installs it)"
fi
wineserver=$(find_wine_binary wineserver64 || find_wine_binary wineserver || true)

cmake --preset windows-mingw >/dev/null
cmake --build --preset windows-tests >/dev/null
cmake --build --preset windows-mingw --target freeplot-sim >/dev/null
program="$build/tests/windows/freeplot_windows_tests.exe"
sim="$build/sim/freeplot-sim.exe"
dll="$build/src/plugin/freeplot.dll"
# A path of this machine as Wine's programs see it.
winpath() { echo "Z:$1" | sed 's|/|\\|g'; }
export FREEPLOT_DLL=$(winpath "$dll")

# A fresh prefix and home each run: nothing from an earlier run or from the user's own Wine.
export WINEPREFIX="$build/wine-prefix"
export HOME="$build/wine-home"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
rm -rf "$WINEPREFIX" "$HOME"
mkdir -p "$HOME"

log="$build/windows-tests.log"
status=0
timeout 900 "$wine" "$program" "$@" >"$log" 2>&1 || status=$?
[ -n "$wineserver" ] && "$wineserver" -w 2>/dev/null || true
sed -i 's/\r$//' "$log"  # the Windows console ends its lines with CR LF

if ! grep -q '^\[==========\] Running' "$log"; then
  tail -n 20 "$log" >&2
  fail "wine64 could not start the test program (exit $status; log: $log)"
fi
grep -v -e '^trampoline alloc' "$log" | grep -E '^\[|Failure|Expected|Which is|Value of|Actual' || true
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$log")
failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:$/\1/p' "$log")
echo "Windows tests under Wine: ${passed:-0} passed, ${failed:-0} failed (log: $log)"
[ "${passed:-0}" -gt 0 ] || [ "${failed:-0}" -gt 0 ] || fail "no test ran (log: $log)"
if [ "$status" -ne 0 ]; then
  [ -n "$failed" ] || fail "the test program ended with exit $status before its summary (log: $log)"
  exit 1
fi

# The demo, played by the simulated game built for Windows with the release DLL.
demo="$build/demo-under-wine.transcript"
status=0
timeout 300 "$wine" "$sim" play "$(winpath "$root/sim/demo.scenario")" --plugin "$(winpath "$dll")" \
  >"$demo" 2>"$demo.stderr" || status=$?
sed -i 's/\r$//' "$demo"
if ! diff -u "$root/tests/session/golden/demo.transcript" "$demo" >"$demo.diff"; then
  head -n 40 "$demo.diff"
  fail "the demo under Wine differs from its expected transcript (exit $status; $demo.diff)"
fi
echo "Demo under Wine with freeplot.dll: the expected transcript"

# An executable that says it is the game but holds none of its code.
blank="$build/not-the-game-under-wine.transcript"
status=0
timeout 300 "$wine" "$sim" play "$(winpath "$root/tests/scenarios/not-the-game.scenario")" \
  --plugin "$(winpath "$dll")" --blank-image >"$blank" 2>&1 || status=$?
sed -i 's/\r$//' "$blank"
if ! grep -qx '== image: 0 bytes changed by Query and Load' "$blank" ||
  ! grep -qx '  query: returned true; load: returned true' "$blank"; then
  tail -n 30 "$blank"
  fail "in an image without the game's code the plugin wrote into it, or did not load (exit $status; $blank)"
fi
echo "Blank game-sized host under Wine: Query and Load true, not one byte written"
[ -n "$wineserver" ] && "$wineserver" -w 2>/dev/null || true
