#!/usr/bin/env bash
# The static-analysis gate: clang-tidy with the checks of .clang-tidy on the sources of src/ that
# a change touches, against its merge base with main (FREEPLOT_TIDY_BASE names another branch),
# with uncommitted and new files (on main itself: since the commit .ci/tidy-swept names, the last
# one whose sources were all checked clean with --all); or on every source of src/ with --all (also when no base is
# found). A touched header brings in every source that includes it, directly or through other
# headers. Fails on any warning.
#
# The compile database is the lint preset's (clang, no precompiled headers: clang-tidy cannot
# read GCC's); configuring it takes seconds and builds nothing. Each source gets a clang-tidy of
# its own: clang-tidy 14 carries state from one source to the next that makes its va_list check
# report a va_start it saw.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$(date +%s)
tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [ -z "$tidy" ]; then
  echo "clang-tidy is not installed (scripts/setup.sh installs it)" >&2
  exit 2
fi
mkdir -p build
cmake --preset lint >build/lint-configure.log 2>&1 || {
  cat build/lint-configure.log >&2
  exit 2
}

# Every source of src/ in the compile database.
mapfile -t known < <(sed -n 's|^ *"file": *"\(.*/src/[^"]*\.cpp\)".*|\1|p' \
  build/lint/compile_commands.json | sed "s|^$PWD/||" | sort -u)

base=
if [ "${1:-}" != "--all" ]; then
  for ref in "${FREEPLOT_TIDY_BASE:-main}" origin/main; do
    base=$(git merge-base HEAD "$ref" 2>/dev/null) && break || base=
  done
  # On main itself (a fresh clone, CI) the merge base is HEAD: the change is then everything since
  # the last sweep of all of src/, whose commit .ci/tidy-swept names.
  swept=$(sed -n 's/^\([0-9a-f]\{7,40\}\).*/\1/p' .ci/tidy-swept 2>/dev/null | head -n 1)
  if [ -z "${FREEPLOT_TIDY_BASE:-}" ] && [ "$base" = "$(git rev-parse HEAD)" ] && [ -n "$swept" ] &&
    git merge-base --is-ancestor "$swept" HEAD 2>/dev/null; then
    base=$swept
  fi
fi

if [ -z "$base" ]; then
  files=("${known[@]}")
  what="every source of src/"
else
  mapfile -t touched < <({
    git diff --name-only "$base" -- src
    git ls-files --others --exclude-standard -- src
  } | sort -u)
  # Headers, followed up through the files that include them until no new one appears.
  declare -A seen=()
  queue=()
  for f in "${touched[@]}"; do
    [ -f "$f" ] && seen[$f]=1 && queue+=("$f")
  done
  while ((${#queue[@]})); do
    f=${queue[0]}
    queue=("${queue[@]:1}")
    case $f in *.h) ;; *) continue ;; esac
    while IFS= read -r user; do
      [ -n "${seen[$user]:-}" ] || { seen[$user]=1; queue+=("$user"); }
    done < <(grep -rlF "#include \"${f#src/}\"" src --include='*.cpp' --include='*.h' || true)
  done
  files=()
  for f in "${known[@]}"; do
    [ -n "${seen[$f]:-}" ] && files+=("$f")
  done
  what="the sources of src/ touched since $(git rev-parse --short "$base")"
fi

if ((${#files[@]} == 0)); then
  echo "static analysis: nothing to check ($what: none)"
  exit 0
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
printf '%s\n' "${files[@]}" |
  xargs -P "$(nproc)" -n 1 "$tidy" -p build/lint --quiet --warnings-as-errors='*' \
    >"$log" 2>&1 || status=$?
grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^Use -system-headers' \
  "$log" || true
if [ "$status" -ne 0 ]; then
  echo "static analysis: FAILED on $what (${#files[@]} files)"
  exit 1
fi
echo "static analysis: ${#files[@]} files clean ($what) in $(($(date +%s) - started)) s"
