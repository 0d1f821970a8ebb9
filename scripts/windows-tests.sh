#!/usr/bin/env bash
# The Windows tests: builds the Windows test program (the portable tests on the Windows layer,
# and freeplot.dll loaded by a host that is not the game; mingw-w64, GoogleTest built from
# Debian's sources) and runs it under wine64 in a fresh Wine prefix inside the build folder, with
# no display. Then the simulated game built for Windows drives the release freeplot.dll under
# Wine: the demo must print its expected transcript (tests/session/golden/demo.transcript, the
# one the Linux sim prints; the only difference by nature is the Windows console's CR LF line
# ends, which are taken off), and in an image that holds none of the game's code the plugin
# must write nothing; and chaos sequences with a fixed seed are played against the release DLL, each
# step compared with the model. Before Wine, scripts/crash-address.sh must map an address inside
# F4SEPlugin_Query to its line through the PDB; after the demo, freeplot-check.exe (the settings
# checker players get) runs on the shipped and a broken settings file, and as from Explorer. The
# DLL under test is the file scripts/package.sh puts in the archive; its hash is printed. The
# user's documents folder is named in Cyrillic and CJK letters
# for the simulated game's sessions, and the files the plugin writes must be found there. Fails
# with one clear line when Wine is missing or cannot start the programs; never skips.
#
#   scripts/windows-tests.sh [gtest arguments...]
#
# FREEPLOT_WINE may name the Wine loader to use (default: Debian's wine64).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build/windows-mingw"

wine_who="Windows tests"
fail() { wine_fail "$@"; }
# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh"

# Wine's own programs (its services, the desktop) start with the first Windows program of a
# prefix: about a second on a quiet machine, half a minute beside the test command's builds and
# test runs. --start-wine starts them now, in the prefix of the tests and in the one chaos plays
# in, and keeps them up with a program that waits, until a later run of this script ends it (or
# ten minutes pass); that run then uses the prefixes as they are.
start_wine() {
  wine_setup "$1"
  { sleep 600 & echo $! >"$1/wine-started"; wait; } 2>/dev/null | "$wine" cmd >/dev/null 2>&1 &
  "$wine" cmd /c exit >/dev/null 2>&1 || fail "wine64 could not start a program in a new prefix"
}
# The prefix in FOLDER, as --start-wine left it or else a new one.
use_wine() {
  local pid
  pid=$(cat "$1/wine-started" 2>/dev/null) || pid=
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && [ -d "$1/wine-prefix" ]; then
    wine_env "$1"
  else
    rm -f "$1/wine-started"
    wine_setup "$1"
  fi
}
end_started_wine() {
  local folder
  for folder in "$build" "$build/wine-chaos"; do
    [ -f "$folder/wine-started" ] && kill "$(cat "$folder/wine-started")" 2>/dev/null
    rm -f "$folder/wine-started"
  done
}
if [ "${1:-}" = --start-wine ]; then
  start_wine "$build/wine-chaos"
  start_wine "$build"
  exit 0
fi
chaos_pid=
trap 'end_started_wine; [ -z "$chaos_pid" ] || kill "$chaos_pid" 2>/dev/null || true' EXIT

# Configured unless the presets, the toolchain file and the cache are as a configure of this
# checkout with the preset left them: a configure costs two seconds of the toolchain's probes.
# Their text is compared, not their times: a cache changed by hand (cmake -D, ccmake) or a file
# put back with its old time is configured again, as is a build folder copied from another tree.
configured="$build/windows-tests.configured"
configuration() {
  { echo "$root"; cat "$root/CMakePresets.json" "$root/cmake/mingw-w64.cmake" "$build/CMakeCache.txt"; } |
    sha256sum
}
if [ ! -f "$build/CMakeCache.txt" ] || [ "$(configuration)" != "$(cat "$configured" 2>/dev/null)" ]; then
  cmake --preset windows-mingw >/dev/null
  configuration >"$configured"
fi
cmake --build --preset windows-tests >/dev/null
cmake --build --preset windows-mingw --target freeplot-sim freeplot-check >/dev/null
# The crash address script on a known function: an address inside F4SEPlugin_Query (its entry in
# the export table, plus a few bytes) must name that function and the line of main.cpp that
# calls the guard, through the PDB kept beside the DLL.
# The export address table gives each entry's RVA by its index, the name table each name's index.
rva=$(x86_64-w64-mingw32-objdump -p "$build/src/plugin/freeplot.dll" | awk '
  /^Export Address Table -- /{table=1; next} /^$/{table=0}
  table && $1=="[" {rva[$2+0]=$5} table && $1 ~ /^\[[0-9]/ {i=$1; gsub(/[^0-9]/,"",i); rva[i+0]=$4}
  /Ordinal\/Name Pointer\] Table/{names=1; next}
  names && $NF=="F4SEPlugin_Query" {i=$0; sub(/\].*/,"",i); gsub(/[^0-9]/,"",i); print rva[i+0]}')
[ -n "$rva" ] || fail "F4SEPlugin_Query is not in freeplot.dll's export table"
crash="freeplot.dll+0x$(printf '%x' $((0x$rva + 8)))"
line=$(grep -n 'return freeplot::guarded("F4SEPlugin_Query"' "$root/src/plugin/main.cpp" | cut -d: -f1)
mapped=$("$root/scripts/crash-address.sh" "$crash" 2>&1) || fail "scripts/crash-address.sh failed: $mapped"
grep -qx "   (inlined by) F4SEPlugin_Query at src/plugin/main.cpp:$line:0\|  F4SEPlugin_Query at src/plugin/main.cpp:$line:0" \
  <<<"$mapped" || fail "$crash is not mapped to F4SEPlugin_Query at src/plugin/main.cpp:$line: $mapped"
echo "Crash address $crash: F4SEPlugin_Query at src/plugin/main.cpp:$line, through freeplot.pdb"
# An offset beyond the DLL's code names no function, however near a symbol lies.
beyond=$("$root/scripts/crash-address.sh" freeplot.dll+0x1000000 2>&1) || fail "scripts/crash-address.sh failed: $beyond"
grep -q "not in freeplot.dll's code" <<<"$beyond" || fail "freeplot.dll+0x1000000, beyond its image, is named: $beyond"

program="$build/tests/windows/freeplot_windows_tests.exe"
sim="$build/sim/freeplot-sim.exe"
dll="$build/src/plugin/freeplot.dll"
export FREEPLOT_DLL=$(winpath "$dll")
echo "DLL under test: $dll, sha256 $(sha256sum "$dll" | cut -c1-16)... (scripts/package.sh puts this file in the archive)"

# Chaos against the release DLL with a fixed seed, every step compared with the model, in a
# prefix of its own beside the other steps (its sessions take most of this script's time); a
# failing sequence is kept in build/windows-mingw/chaos-failures as a scenario file that replays
# it. The user's documents folder is named in letters outside the code page there too.
failures="$build/chaos-failures"
rm -rf "$failures"
mkdir -p "$failures"
chaos="$build/chaos-under-wine.log"
# A session may take 180 s before it counts as hung: Wine is slower than Linux, and the test
# command runs other tests beside this one.
(
  use_wine "$build/wine-chaos"
  wine_documents "Документы 文档" || wine_fail "could not name the documents folder in the Wine prefix"
  cd "$failures"
  status=0
  timeout 900 "$wine" "$sim" chaos --seed 20261209 --sequences 4 --events 300 \
    --session-timeout 180 --plugin "$(winpath "$dll")" || status=$?
  echo "chaos ended at $SECONDS s"
  exit "$status"
) >"$chaos" 2>&1 &
chaos_pid=$!
use_wine "$build"

log="$build/windows-tests.log"
status=0
timeout 900 "$wine" "$program" "$@" >"$log" 2>&1 || status=$?
sed -i 's/\r$//' "$log"  # the Windows console ends its lines with CR LF

if ! grep -q '^\[==========\] Running' "$log"; then
  tail -n 20 "$log" >&2
  fail "wine64 could not start the test program (exit $status; log: $log)"
fi
grep -v -e '^trampoline alloc' "$log" | grep -E '^\[|Failure|Expected|Which is|Value of|Actual' || true
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$log")
failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:$/\1/p' "$log")
echo "Windows tests under Wine: ${passed:-0} passed, ${failed:-0} failed (log: $log) (at ${SECONDS} s)"
[ "${passed:-0}" -gt 0 ] || [ "${failed:-0}" -gt 0 ] || fail "no test ran (log: $log)"
if [ "$status" -ne 0 ]; then
  [ -n "$failed" ] || fail "the test program ended with exit $status before its summary (log: $log)"
  exit 1
fi

# From here on the user's documents folder is named in letters outside the code page.
documents="Документы 文档"
wine_documents "$documents" || fail "could not name the documents folder in the Wine prefix"

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
echo "Demo under Wine with freeplot.dll: the expected transcript (at ${SECONDS} s)"

# What the plugin writes beside its log, found in the documents folder named in another script.
# (Wine links a documents folder it makes to the home folder: the path is followed as it is.)
f4se=
for folder in "$WINEPREFIX/drive_c/users/"*"/$documents/My Games/Fallout4/F4SE"; do
  [ -d "$folder" ] && f4se=$folder
done
[ -n "$f4se" ] || fail "no My Games\\Fallout4\\F4SE folder under a documents folder named $documents"
# Each file with a line it must hold: the log, and the settings report beside it.
for entry in "freeplot_plugin.log:Hooks set up" "freeplot_settings.txt:Settings file:"; do
  name=${entry%%:*}
  grep -q "${entry#*:}" "$f4se/$name" 2>/dev/null ||
    fail "the demo's $name is not in the documents folder $f4se"
done
# The report is a Windows text file: every line ends in CR LF (Notepad before Windows 10 1809
# shows LF alone as one line).
if grep -q $'[^\r]$' "$f4se/freeplot_settings.txt" || ! grep -q $'\r$' "$f4se/freeplot_settings.txt"; then
  fail "the settings report's lines do not all end in CR LF ($f4se/freeplot_settings.txt)"
fi
echo "Files the plugin writes, found in the documents folder \"$documents\", the report's lines ending in CR LF"

# The settings file read from the game's folder, named in letters outside the code page as every
# session folder of the Windows host is, taken at Load and again when it changes.
settings="$build/settings-under-wine.transcript"
status=0
timeout 300 "$wine" "$sim" play \
  "$(winpath "$root/tests/scenarios/settings-file-taken-whole-or-looked-at-again.scenario")" \
  --plugin "$(winpath "$dll")" >"$settings" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 20 "$settings"
  fail "the settings file in a game folder named in another script was not taken (exit $status; $settings)"
fi
echo "Settings under Wine, in a game folder named in Cyrillic and CJK letters: taken and read again (at ${SECONDS} s)"

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
echo "Blank game-sized host under Wine: Query and Load true, not one byte written (at ${SECONDS} s)"

# The settings checker players get, freeplot-check.exe, in a folder named in Cyrillic letters (its
# argument must reach it whole): the shipped settings file takes exit 0, a broken one exit 1, as on
# Linux. Started as from Explorer (a console of its own, which FREEPLOT_CHECK_ALONE stands in for
# here) beside freeplot.ini and without an argument, it checks that file, writes its report to
# freeplot-check.txt beside it, says so and waits for a key.
checks="$build/checker-under-wine"
folder="$checks/Настройки"
rm -rf "$checks"
mkdir -p "$folder"
cp "$root/data/freeplot.ini" "$build/tools/freeplot-check.exe" "$folder/"
printf '[main]\r\ntogglable = x1\r\n[keyz]\r\nmoveUp = 1\r\n' >"$folder/broken.ini"
for expected in "freeplot.ini:0" "broken.ini:1"; do
  name=${expected%%:*}
  status=0
  timeout 300 "$wine" "$folder/freeplot-check.exe" "$(winpath "$folder/$name")" \
    >"$checks/$name.txt" 2>&1 </dev/null || status=$?
  sed -i 's/\r$//' "$checks/$name.txt"
  if [ "$status" -ne "${expected#*:}" ] ||
    ! grep -qxF "Settings file: $(winpath "$folder/$name")" "$checks/$name.txt"; then
    tail -n 20 "$checks/$name.txt"
    fail "freeplot-check.exe on $name ended with exit $status, not ${expected#*:} ($checks/$name.txt)"
  fi
done
status=0
(cd "$folder" && FREEPLOT_CHECK_ALONE=1 timeout 300 "$wine" freeplot-check.exe \
  >"$checks/from-explorer.txt" 2>&1 </dev/null) || status=$?
sed -i 's/\r$//' "$checks/from-explorer.txt" "$folder/freeplot-check.txt" 2>/dev/null || true
if [ "$status" -ne 0 ] || [ "$(tail -n 1 "$checks/from-explorer.txt")" != "Press any key to close this window." ] ||
  ! grep -qxF "This report is also written to $(winpath "$folder")\\freeplot-check.txt" "$checks/from-explorer.txt" ||
  ! diff <(head -n -3 "$checks/from-explorer.txt") "$folder/freeplot-check.txt" >/dev/null; then
  tail -n 20 "$checks/from-explorer.txt"
  fail "freeplot-check.exe started as from Explorer did not check freeplot.ini beside it, keep its report in freeplot-check.txt and wait (exit $status; $checks)"
fi
# A file it does not read (saved as UTF-16) dropped on it: exit 2, and its report kept all the same.
printf '\xFF\xFE[\0k\0e\0y\0s\0]\0' >"$folder/unicode.ini"
rm -f "$folder/freeplot-check.txt"
status=0
(cd "$folder" && FREEPLOT_CHECK_ALONE=1 timeout 300 "$wine" freeplot-check.exe "$(winpath "$folder/unicode.ini")" \
  >"$checks/dropped.txt" 2>&1 </dev/null) || status=$?
sed -i 's/\r$//' "$checks/dropped.txt"
if [ "$status" -ne 2 ] || ! grep -q "is saved as UTF-16" "$folder/freeplot-check.txt" 2>/dev/null ||
  ! grep -qxF "This report is also written to $(winpath "$folder")\\freeplot-check.txt" "$checks/dropped.txt"; then
  tail -n 5 "$checks/dropped.txt"
  fail "freeplot-check.exe with a UTF-16 file dropped on it did not say where its report is (exit $status; $checks)"
fi
echo "freeplot-check.exe under Wine: the shipped freeplot.ini exit 0, a broken one exit 1; from Explorer its report kept in freeplot-check.txt, for a file it does not read too (at ${SECONDS} s)"

status=0
wait "$chaos_pid" || status=$?
chaos_pid=
sed -i 's/\r$//' "$chaos"
figures=$(sed -n 's/^chaos: \([0-9]* sequences, .*\)$/\1/p' "$chaos")
if [ "$status" -ne 0 ] || [ -z "$figures" ]; then
  tail -n 30 "$chaos"
  fail "chaos under Wine failed (exit $status; $chaos; scenario files in $failures)"
fi
echo "Chaos under Wine with freeplot.dll, seed 20261209: $figures ($(sed -n 's/^chaos ended at \([0-9]*\) s$/at \1 s/p' "$chaos"))"
end_started_wine
wine_wait
WINEPREFIX="$build/wine-chaos/wine-prefix" wine_wait
