#!/usr/bin/env bash
# The test command. Checks that every include under src/ points down the README's layer order
# (scripts/check-layers.sh, after its self-test), installs what is missing, then:
#   - builds the Linux plugin, the simulated game, the tests and the benchmarks, and runs every
#     test;
#   - builds every source for Windows with clang for mingw-w64 (checking the exports and every
#     imported function) and runs the Windows test program, the demo, the settings checker, the
#     crash address script and chaos under Wine against the release DLL;
#   - runs the settings fuzzer briefly (FREEPLOT_FUZZ_SECONDS, default 10);
#   - runs clang-tidy on the sources of src/ a change touches against main (scripts/tidy.sh;
#     FREEPLOT_TIDY_ALL=1: on all of src/), failing on any warning;
#   - runs the unit tests and the raw-input fuzz under AddressSanitizer with
#     UndefinedBehaviorSanitizer, and every test under ThreadSanitizer with
#     UndefinedBehaviorSanitizer (both sanitizer builds with clang, unoptimised: they compile in
#     half the time g++ takes, and the second compiler's warnings come with them).
# The builds run one after another, each on every core; the test runs and the fuzzer go on
# beside the next build (the tests spend most of their time waiting on timers), each into a log
# of its own that is shown when it ends. The test programs run four at a time where most of
# their time is waiting (Linux, ThreadSanitizer), the longest tests first (tests/longest_first.cmake),
# and the long ones come in parts: one test per scenario file, the raw-input fuzz in ten parts.
# The stress counts are smaller under the sanitizers than in the Linux run, and the Linux run's
# smaller than the tests' own defaults, which a soak run keeps (the test presets'
# FREEPLOT_INPUT_FUZZ_EVENTS and FREEPLOT_CONSOLE_SWITCHES). Wine's services start in the Windows
# tests' prefixes beside the first build. The runs start in the order of their length:
# ThreadSanitizer's first, beside the Windows build, the Windows tests under Wine beside the Linux
# build, the Linux tests beside the AddressSanitizer build and AddressSanitizer's last; with the
# compiler cache warm, the builds take seconds and the runs overlap; each run's line in the
# output says when it ended. Every compile goes through ccache when it is there, so a second clone of the same
# commit compiles almost nothing, and the static analysis remembers the sources it found clean
# (scripts/tidy.sh), so it checks nothing twice.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$(date +%s)
logs=build/test-logs
mkdir -p "$logs"
rm -f "$logs"/*.log "$logs"/*.ended

elapsed() { echo $(($(date +%s) - started)); }
step() { printf '\n==== %s (at %d s)\n' "$*" "$(elapsed)"; }

# Runs a command in the foreground with its output in a log; shows the log only on failure.
quiet() {
  local name=$1 log="$logs/$1.log"
  shift
  if ! "$@" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "FAILED: $name (log: $log)"
    exit 1
  fi
}

# Runs a command beside the next steps; `collect NAME` waits for it and shows its outcome.
declare -A jobs=()
beside() {
  local name=$1
  shift
  (
    status=0
    "$@" || status=$?
    elapsed >"$logs/$name.ended"
    exit "$status"
  ) >"$logs/$name.log" 2>&1 &
  jobs[$name]=$!
}
# Adds up the "chaos: N sequences, N events, ..." lines of a test log into one line of the same
# words.
chaos_figures() {
  grep -h '^chaos: [0-9]' "$1" 2>/dev/null | awk '
    { n = 0
      for (i = 2; i <= NF; i++) if ($i ~ /^[0-9]+$/) { sum[++n] += $i; $i = "@" }
      words = $0 }
    END { if (!NR) exit
          out = ""; n = 0; k = split(words, w, " ")
          for (i = 2; i <= k; i++) out = out (i > 2 ? " " : "") (w[i] == "@" ? sum[++n] : w[i])
          print "chaos: " out }' || true
}
failures=0
collect() {
  local name=$1 log="$logs/$1.log" status=0
  wait "${jobs[$name]}" || status=$?
  unset "jobs[$name]"
  step "$name: $([ "$status" -eq 0 ] && echo passed || echo FAILED), ended at $(cat "$logs/$name.ended" 2>/dev/null || echo '?') s"
  if [ "$status" -eq 0 ]; then
    grep -E '^(Total Test time|100% tests passed|[0-9]+% tests passed)|tests passed|Windows tests under Wine|under Wine with freeplot.dll|freeplot-check.exe under Wine|^Crash address|^DLL under test|settings fuzzer|static analysis' "$log" || true
    # The chaos sequences' figures, added up (ctest keeps a passing test's output in its log).
    if [ -n "${2:-}" ]; then chaos_figures "$2/Testing/Temporary/LastTest.log"; fi
  else
    tail -n 80 "$log"
    echo "FAILED: $name (log: $log)"
    failures=$((failures + 1))
  fi
}

# Builds and the static analysis ask glibc's malloc for transparent huge pages (the kernel gives
# them on request on these machines): the compilers spend a good part of their time faulting in
# fresh memory, and a build takes a sixth less time so. The tests run with the kernel's and
# glibc's defaults.
build() { GLIBC_TUNABLES="${GLIBC_TUNABLES:+$GLIBC_TUNABLES:}glibc.malloc.hugetlb=1" "$@"; }

# However the script ends, no test run is left behind.
trap 'for pid in "${jobs[@]}"; do kill "$pid" 2>/dev/null || true; done' EXIT

step "Layer order of src/ (the README's layer table)"
quiet check-layers-self-test scripts/check-layers.sh --self-test
scripts/check-layers.sh

step "Debian packages"
scripts/setup.sh

# Wine's services start in the Windows tests' prefixes beside the first build: the Windows tests
# need them only after two builds, and the run under ThreadSanitizer, the longest, starts sooner.
step "Wine: a new prefix for the Windows tests, its services starting beside the first build"
beside "Wine started" scripts/windows-tests.sh --start-wine

step "ThreadSanitizer + UndefinedBehaviorSanitizer build (every test)"
quiet configure-tsan cmake --preset tsan
grep -h "Compiler cache" "$logs/configure-tsan.log" || true
quiet build-tsan build cmake --build --preset tsan
beside "Tests under ThreadSanitizer" ctest --preset tsan

step "Windows build (mingw-w64): every source, the export check, the Windows test program"
quiet configure-windows cmake --preset windows-mingw
quiet build-windows build cmake --build --preset windows-mingw
grep -h -e "Exports checked" -e "Imported functions checked" "$logs/build-windows.log" || true
collect "Wine started"
beside "Windows tests under Wine" scripts/windows-tests.sh
beside "Settings fuzzer" build scripts/fuzz.sh "${FREEPLOT_FUZZ_SECONDS:-10}"

step "Linux build"
quiet configure-linux cmake --preset linux
quiet build-linux build cmake --build --preset linux
beside "Linux tests" ctest --preset linux
beside "Static analysis" build scripts/tidy.sh ${FREEPLOT_TIDY_ALL:+--all}

step "AddressSanitizer + UndefinedBehaviorSanitizer build (unit tests, raw-input fuzz)"
quiet configure-asan cmake --preset asan
quiet build-asan build cmake --build --preset asan
beside "Tests under AddressSanitizer" ctest --preset asan
collect "Tests under ThreadSanitizer" build/tsan
collect "Windows tests under Wine"
collect "Linux tests" build/linux
collect "Settings fuzzer"
collect "Static analysis"
collect "Tests under AddressSanitizer"

step "Done in $(elapsed) s"
if [ "$failures" -ne 0 ]; then
  echo "$failures test run(s) failed"
  exit 1
fi
