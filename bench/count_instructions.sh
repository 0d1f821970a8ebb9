#!/usr/bin/env bash
# Counts the instructions the plugin adds to one raw-input event, with valgrind's callgrind:
# an unbound key event and a mouse move (no buttons, no wheel) in workshop mode, each run N times
# through the game's routine with the plugin's stub and handler linked in, and N times through
# the same routine as the game has it. The difference per event is what the plugin adds, from
# the site's jump to the game's callee. Instruction counts do not depend on the machine's load,
# so the figures can be compared between commits (build type and compiler must match).
#
#   bench/count_instructions.sh [BUILD_DIR]        default build/linux (RelWithDebInfo)
#   bench/count_instructions.sh --strict [BUILD_DIR]   exit 1 when an aim is missed
#
# FREEPLOT_COUNT_EVENTS sets N (default 10000). Exit 0 when both events were counted (and, with
# --strict, both aims met); 1 otherwise; 2 on bad arguments or a missing tool.
set -euo pipefail

strict=0
if [[ "${1:-}" == "--strict" ]]; then
    strict=1
    shift
fi
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/linux}"
events="${FREEPLOT_COUNT_EVENTS:-10000}"
if ! [[ "$events" =~ ^[1-9][0-9]*$ ]]; then
    echo "FREEPLOT_COUNT_EVENTS must be a positive number" >&2
    exit 2
fi
for tool in valgrind callgrind_annotate cmake; do
    if ! command -v "$tool" >/dev/null; then
        echo "count_instructions: $tool is missing (Debian: apt-get install valgrind cmake)" >&2
        exit 2
    fi
done

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    echo "Configuring $build (RelWithDebInfo) ..."
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFREEPLOT_TESTS=ON >/dev/null
fi
echo "Building hook_count in $build ..."
cmake --build "$build" --target hook_count -j2 >/dev/null
program="$build/bench/hook_count"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Runs one kind of event through one routine under callgrind, collecting only inside
# counted_events; prints the total instruction count.
count() {
    local kind="$1" variant="$2"
    local out="$work/$kind-$variant"
    valgrind --tool=callgrind --callgrind-out-file="$out.cg" --collect-atstart=no \
        --toggle-collect=counted_events "$program" "$kind" "$variant" "$events" \
        >"$out.stdout" 2>"$out.stderr" || {
        echo "count_instructions: $kind $variant failed under valgrind:" >&2
        cat "$out.stderr" >&2
        return 1
    }
    if ! grep -qx "callee runs: $events of $events" "$out.stdout"; then
        echo "count_instructions: the game's callee did not run for every $kind event" \
            "($(head -1 "$out.stdout")); this is not the path meant" >&2
        return 1
    fi
    awk '/^totals:/ { print $2; found = 1 } END { if (!found) exit 1 }' "$out.cg"
}

# "97" for a whole number, "97.25" otherwise (a fraction means the events were not all alike).
per_event() {
    awk -v total="$1" -v n="$events" 'BEGIN {
        v = total / n
        if (v == int(v)) printf "%d", v; else printf "%.2f", v
    }'
}

# Each function's own instructions in a callgrind run (code inlined into a function counts as
# its own), one "count<TAB>name" line each; generated code is named by its address.
function_costs() {
    callgrind_annotate --inclusive=no --threshold=100 "$1" 2>/dev/null |
        awk '
        /^-+$/ { if (table) done = 1 }
        /file:function/ { table = 1; getline; next }
        table && !done && NF >= 2 {
            ir = $1; gsub(",", "", ir)
            name = $0
            sub(/^ *[0-9,]+ +\([^)]*\) +/, "", name)
            sub(/ \[[^]]*\]$/, "", name)
            if (name ~ /^\?\?\?:0x/) name = substr(name, 5); else sub(/^[^:]*:/, "", name)
            cost[name] += ir
        }
        END { for (name in cost) printf "%d\t%s\n", cost[name], name }'
}

# Callgrind's name for generated code at the address that hook_count printed.
code_name() {
    awk -v key="$1:" '$1 == key { h = tolower($2); sub(/^0x0*/, "", h); printf "0x%016s", h }' \
        "$2" | tr ' ' 0
}

# Where the instructions that the plugin adds to one event go, per event: the stub with the
# site's jump (less the game's call they replace), then the plugin's functions. The lines add
# up to the figure above.
breakdown() {
    local kind="$1"
    local hooked="$work/$kind-hooked" unhooked="$work/$kind-unhooked"
    local hooked_routine unhooked_routine plain
    hooked_routine="$(code_name routine "$hooked.stdout")"
    unhooked_routine="$(code_name routine "$unhooked.stdout")"
    plain="$(function_costs "$unhooked.cg" | awk -F '\t' -v r="$unhooked_routine" '$2 == r { print $1 }')"
    function_costs "$hooked.cg" |
        awk -F '\t' -v n="$events" -v routine="$hooked_routine" -v plain="${plain:-0}" '
        $2 == routine { printf "%8.1f  the site'\''s jump and the stub\n", ($1 - plain) / n; next }
        $2 ~ /^freeplot::/ && $1 / n >= 0.05 { printf "%8.1f  %s\n", $1 / n, $2 }' |
        sort -rn
}

status=0
report() {
    local kind="$1" label="$2" aim="$3"
    local hooked unhooked added
    hooked="$(count "$kind" hooked)" || return 1
    unhooked="$(count "$kind" unhooked)" || return 1
    added="$(per_event $((hooked - unhooked)))"
    local verdict="met"
    if awk -v a="$added" -v m="$aim" 'BEGIN { exit !(a > m) }'; then
        verdict="missed by $(awk -v a="$added" -v m="$aim" 'BEGIN { print a - m }')"
        [[ $strict == 1 ]] && status=1
    fi
    echo "$label: $added instructions (aim <= $aim): $verdict"
    echo "    per event with the loop, the game's routine and its callee:" \
        "hooked $(awk -v t="$hooked" -v n="$events" 'BEGIN { printf "%.1f", t / n }')," \
        "unhooked $(awk -v t="$unhooked" -v n="$events" 'BEGIN { printf "%.1f", t / n }')"
    echo "    where they go (per event):"
    breakdown "$kind" | sed 's/^/    /'
}

echo "Counting $events events of each kind under callgrind ..."
echo
report key "unbound key event in workshop mode" 120 || exit 1
echo
report mouse "mouse move in workshop mode" 100 || exit 1
exit "$status"
