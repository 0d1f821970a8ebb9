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
#
# A source found clean is remembered under ~/.cache/freeplot-tidy (FREEPLOT_TIDY_CACHE names
# another folder) by a hash of what clang-tidy reads for it: its version, .clang-tidy, the
# source's compile command and the text of every file the source includes, with the checkout's
# folder taken out of paths. A source whose hash is found there is not checked again; any change
# to one of those inputs checks it anew. Only clean results are kept, so a warning shows every time.
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

cache=${FREEPLOT_TIDY_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/freeplot-tidy}
mkdir -p "$cache"
# The hash of everything clang-tidy reads for one source (see above); empty when it cannot be told.
inputs_hash() {
  local file=$1 command
  command=$(jq -r --arg f "$PWD/$file" 'map(select(.file == $f))[0].command // empty' \
    build/lint/compile_commands.json) || return 0
  [ -n "$command" ] || return 0
  local -a words
  eval "words=($command)"
  # The compile command without its output, asked for the files the source includes.
  local -a deps_command=()
  local i=0
  while ((i < ${#words[@]})); do
    case ${words[i]} in
      -o) i=$((i + 2)) && continue ;;
      -c) ;;
      *) deps_command+=("${words[i]}") ;;
    esac
    i=$((i + 1))
  done
  local deps
  deps=$(cd build/lint && "${deps_command[@]}" -M -MF /dev/stdout 2>/dev/null) || return 0
  {
    "$tidy" --version
    cat .clang-tidy
    echo "$command"
    # Each included file by name and content (make's list: one or more names a line, then `\`).
    tr ' \\' '\n\n' <<<"${deps#*:}" | sed '/^$/d' | sort -u |
      (cd build/lint && xargs -d '\n' sha256sum 2>&1)
  } | sed "s|$PWD|.|g" | sha256sum | cut -d' ' -f1
}
check_one() {
  local file=$1 key
  key=$(inputs_hash "$file")
  if [ -n "$key" ] && [ -e "$cache/$key" ]; then
    echo "remembered clean: $file"
    return 0
  fi
  "$tidy" -p build/lint --quiet --warnings-as-errors='*' "$file" || return 1
  [ -z "$key" ] || touch "$cache/$key"
}
export -f inputs_hash check_one
export tidy cache

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
printf '%s\n' "${files[@]}" |
  xargs -P "$(nproc)" -I{} bash -c 'check_one "$1"' _ {} >"$log" 2>&1 || status=$?
grep -v -E '^remembered clean: |^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^Use -system-headers' \
  "$log" || true
if [ "$status" -ne 0 ]; then
  echo "static analysis: FAILED on $what (${#files[@]} files)"
  exit 1
fi
remembered=$(grep -c '^remembered clean: ' "$log" || true)
echo "static analysis: ${#files[@]} files clean ($what; $remembered of them remembered clean" \
  "from an earlier check) in $(($(date +%s) - started)) s"
