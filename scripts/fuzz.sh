#!/bin/sh
# Fuzzes the settings for SECONDS seconds: builds the fuzz preset (clang, libFuzzer,
# AddressSanitizer, UndefinedBehaviorSanitizer, optimised with debug information) and feeds
# arbitrary settings files through the reading (reading_fuzz, half the time) and through the
# reading and the report (report_fuzz, the other half), each at its own speed. Exits non-zero on a
# finding, whose input is kept in build/fuzz/findings/.
#
#   scripts/fuzz.sh SECONDS
set -eu

if [ $# -ne 1 ] || ! [ "$1" -gt 1 ] 2>/dev/null; then
    echo "usage: scripts/fuzz.sh SECONDS (2 or more)" >&2
    exit 2
fi
half=$(($1 / 2))
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target reading_fuzz report_fuzz >/dev/null

# New inputs go into a working corpus in the build tree, which both share; the corpus in the
# repository and the shipped settings file are starting points only. Inputs stay within 4 KiB,
# libFuzzer's own default: room for hundreds of short lines or twenty cut ones, which reaches
# every branch 16 KiB reached (the same coverage, side by side), at half the time per input.
mkdir -p "$build/corpus" "$build/findings"
failed=0
for fuzzer in reading_fuzz report_fuzz; do
    # One log per run, named by its start, so runs side by side keep their own.
    log="$build/$fuzzer-$(date -u +%Y%m%dT%H%M%SZ)-$$.log"
    status=0
    "$build/fuzz/$fuzzer" \
        -max_total_time="$half" -max_len=4096 -timeout=10 -print_final_stats=1 \
        -dict="$root/fuzz/settings.dict" -artifact_prefix="$build/findings/" \
        "$build/corpus" "$root/fuzz/corpus" "$root/data" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    cov=$(grep -o 'cov: [0-9]* ft: [0-9]* corp: [0-9]*/[^ ]*' "$log" | tail -n 1)
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log" >&2
        echo "settings fuzzer $fuzzer: FINDING after ${runs:-?} executions (log: $log)" >&2
        failed=1
        continue
    fi
    echo "settings fuzzer $fuzzer: ${runs:-?} executions in $half s (${rate:-?}/s; ${cov:-no coverage line}) ran clean (log: $log)"
done
# Each run keeps what it found in the working corpus, and the next run plays all of it again before
# it fuzzes, within its seconds: a corpus of thousands took a whole run beside the test command's
# other runs. Once it holds more than 2,000 inputs it is merged down to those that add coverage to
# report_fuzz (which reaches what reading_fuzz does and the report besides), then to reading_fuzz
# (whose counters differ), into a folder of this run's own. Only the inputs there when the merge
# began and not kept by it are then removed, after the kept ones are in: a run stopped at any point
# leaves every input the coverage needs, and what a run beside this one adds meanwhile stays. One
# run merges at a time (another passes); an input that crashes in the merge is a finding.
if [ "$failed" -eq 0 ] && [ "$(find "$build/corpus" -type f | wc -l)" -gt 2000 ]; then
    exec 9>"$build/corpus.lock"
    if flock -n 9; then
        # Left by a merge that was stopped (only the run holding the lock makes them).
        rm -rf "$build/corpus.merged" "$build"/corpus.merged.*
        merged=$(mktemp -d "$build/corpus.merged.XXXXXX")
        mergelog="$build/merge-$(date -u +%Y%m%dT%H%M%SZ)-$$.log"
        ls "$build/corpus" | sort >"$merged.before"
        status=0
        for fuzzer in report_fuzz reading_fuzz; do
            "$build/fuzz/$fuzzer" -merge=1 -max_len=4096 -timeout=10 \
                -artifact_prefix="$build/findings/merge-$$-" "$merged" "$build/corpus" \
                >>"$mergelog" 2>&1 || status=$?
        done
        # The merges say how many files each wrote; fewer there (a full disk) is a failed merge.
        said=$(sed -n 's/^MERGE-OUTER: \([0-9]*\) new files.*/\1/p' "$mergelog" | awk '{n += $1} END {print n + 0}')
        if ls "$build/findings" | grep -q "^merge-$$-"; then
            grep -A 20 'ERROR:' "$mergelog" | tail -n 40 >&2
            echo "settings fuzzer: FINDING while merging the working corpus (log: $mergelog)" >&2
            failed=1
        elif [ "$status" -ne 0 ] || [ "$said" -eq 0 ] || [ "$(ls "$merged" | wc -l)" -ne "$said" ]; then
            echo "settings fuzzer: merging the working corpus failed, kept as it was (log: $mergelog)"
        else
            find "$merged" -type f -exec cp -n -t "$build/corpus/" {} +
            ls "$merged" | sort | comm -23 "$merged.before" - |
                (cd "$build/corpus" && xargs -r -d '\n' rm -f --)
            echo "settings fuzzer: working corpus merged down to $(find "$build/corpus" -type f | wc -l) inputs"
        fi
        rm -rf "$merged" "$merged.before"
    fi
fi
exit "$failed"
