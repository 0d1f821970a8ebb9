#!/usr/bin/env bash
# Checks that every `#include "..."` under src/ points at the file's own folder or at a folder
# below it. The order of the folders is the README's layer table (the rows that name a `src/...`
# folder, from the top layer down); it is written there and nowhere else.
#
#   scripts/check-layers.sh              checks this checkout
#   scripts/check-layers.sh --root DIR   checks the tree at DIR (its README.md and src/)
#   scripts/check-layers.sh --self-test  shows on a small tree of its own that an upward include
#                                        fails with its file and line, and that a sound tree passes
#
# Exit 0: every include points down or sideways; 1: an include points up or at no folder of the
# table, or a folder of src/ is missing from the table (one line each, FILE:LINE first); 2: the
# table cannot be read.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

check() {
    local root=$1
    local readme="$root/README.md"
    [ -f "$readme" ] || { echo "check-layers: $readme is missing" >&2; return 2; }

    # The layer table's rows: | `src/NAME` | ... |, top layer first.
    local -A rank=()
    local -a order=()
    local name
    while read -r name; do
        if [ -n "${rank[$name]+set}" ]; then
            echo "check-layers: README.md names src/$name twice in its layer table" >&2
            return 2
        fi
        rank[$name]=${#order[@]}
        order+=("$name")
    done < <(sed -n 's/^| *`src\/\([A-Za-z0-9_]*\)\/\{0,1\}` *|.*/\1/p' "$readme")
    if [ "${#order[@]}" -eq 0 ]; then
        echo "check-layers: README.md holds no layer table (rows starting | \`src/NAME\` |)" >&2
        return 2
    fi

    local faults=0 dir file line path target
    for dir in "$root"/src/*/; do
        name=${dir%/}; name=${name##*/}
        if [ -z "${rank[$name]+set}" ]; then
            echo "src/$name: a folder the README's layer table does not place"
            faults=$((faults + 1))
        fi
    done

    # Every quoted include: FILE:LINE:TARGET.
    while IFS=: read -r file line target; do
        path=${file#"$root"/}
        local from=${path#src/}
        from=${from%%/*}
        # A file beside the including one is its own folder's.
        if [ -e "${file%/*}/$target" ]; then continue; fi
        local to=${target%%/*}
        if [ "$to" = "$target" ] || [ -z "${rank[$to]+set}" ]; then
            echo "$path:$line: includes \"$target\", which is in no folder of the layer table"
            faults=$((faults + 1))
        elif [ -n "${rank[$from]+set}" ] && [ "${rank[$to]}" -lt "${rank[$from]}" ]; then
            echo "$path:$line: $from includes \"$target\" of $to, a layer above it"
            faults=$((faults + 1))
        fi
    done < <(grep -rnE --include='*.h' --include='*.cpp' --include='*.inl' \
        '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$root/src" |
        sed -E 's/^([^:]*):([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1:\2:\3/')

    if [ "$faults" -ne 0 ]; then
        echo "check-layers: $faults include(s) against the layer order (${order[*]})"
        return 1
    fi
    echo "check-layers: every include points down (${order[*]})"
}

self_test() {
    local tree
    tree=$(mktemp -d)
    trap 'rm -rf "$tree"' RETURN
    mkdir -p "$tree/src/high" "$tree/src/low"
    printf '%s\n' '| Folder | What |' '|---|---|' '| `src/high` | top |' '| `src/low` | bottom |' \
        >"$tree/README.md"
    printf '%s\n' '#pragma once' >"$tree/src/high/high.h"
    printf '%s\n' '#include "high/high.h"' '#include "low/low.h"' >"$tree/src/high/high.cpp"
    printf '%s\n' '#pragma once' >"$tree/src/low/low.h"
    printf '%s\n' '#include "low/low.h"' '#include <cstdint>' >"$tree/src/low/low.cpp"

    local out status=0
    out=$(check "$tree" 2>&1) || status=$?
    if [ "$status" -ne 0 ]; then
        printf '%s\n' "$out"
        echo "check-layers self-test: FAILED: a sound tree does not pass"
        return 1
    fi

    # The deliberate fault: the lower layer includes the upper one, on its third line.
    printf '%s\n' '  #  include "high/high.h"  // up' >>"$tree/src/low/low.cpp"
    status=0
    out=$(check "$tree" 2>&1) || status=$?
    if [ "$status" -ne 1 ] || ! grep -q '^src/low/low.cpp:3: low includes "high/high.h" of high' <<<"$out"; then
        printf '%s\n' "$out"
        echo "check-layers self-test: FAILED: an upward include at src/low/low.cpp:3 is not named"
        return 1
    fi

    # A folder the table does not place fails too.
    sed -i '$d' "$tree/src/low/low.cpp"
    mkdir -p "$tree/src/stray"
    status=0
    out=$(check "$tree" 2>&1) || status=$?
    if [ "$status" -ne 1 ] || ! grep -q '^src/stray: ' <<<"$out"; then
        printf '%s\n' "$out"
        echo "check-layers self-test: FAILED: a folder outside the table is not named"
        return 1
    fi
    echo "check-layers self-test: passed (an upward include fails with its file and line)"
}

case "${1:-}" in
    --self-test) self_test ;;
    --root) check "$(cd "${2:?--root needs a folder}" && pwd)" ;;
    "") check "$root" ;;
    *)
        echo "usage: $0 [--root DIR | --self-test]" >&2
        exit 2
        ;;
esac
