#!/usr/bin/env bash
# Maps the addresses a crash log gives in freeplot.dll ("freeplot.dll+0x1A2B3", or as some crash
# loggers print it, "freeplot.dll+001A2B3": an offset from the DLL's load address, in hex) to the
# function and the source line, inlined calls included, with the PDB kept beside the release.
#
#   scripts/crash-address.sh [--symbols DIR|ZIP] ADDRESS...
#   scripts/crash-address.sh [--symbols DIR|ZIP] < crash.log   # every freeplot.dll+... in the log
#
# The symbols are the folder or the archive that holds freeplot.dll and its freeplot.pdb, as
# scripts/package.sh keeps them (dist/freeplot-VERSION-symbols.zip); by default the build's own
# (build/windows-mingw/src/plugin/). The DLL must be the one that crashed: the script checks that
# the PDB is the one written with that DLL (the same signature) and refuses another.
# Needs llvm-symbolizer-14 and llvm-pdbutil-14 (Debian package llvm-14; scripts/setup.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

symbols="$root/build/windows-mingw/src/plugin"
if [ "${1:-}" = --symbols ]; then
  [ $# -ge 2 ] || { echo "usage: scripts/crash-address.sh [--symbols DIR|ZIP] [ADDRESS...]" >&2; exit 2; }
  symbols=$2
  shift 2
fi
for tool in llvm-symbolizer-14 llvm-pdbutil-14 x86_64-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null 2>&1 || {
    echo "crash-address: $tool is missing (scripts/setup.sh installs it)" >&2
    exit 2
  }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -f "$symbols" ]; then
  unzip -q -j "$symbols" '*freeplot.dll' '*freeplot.pdb' -d "$work" ||
    { echo "crash-address: $symbols holds no freeplot.dll and freeplot.pdb" >&2; exit 2; }
else
  cp "$symbols/freeplot.dll" "$symbols/freeplot.pdb" "$work/" 2>/dev/null ||
    { echo "crash-address: no freeplot.dll and freeplot.pdb in $symbols" >&2; exit 2; }
fi

# The DLL names its PDB by a signature (GUID and age) that the PDB holds too.
wanted=$(x86_64-w64-mingw32-objdump -p "$work/freeplot.dll" |
  sed -n 's/.*format RSDS signature \([0-9a-f]*\) age \([0-9]*\).*/\1 \2/p' | head -n 1)
summary=$(llvm-pdbutil-14 dump --summary "$work/freeplot.pdb")
guid=$(sed -n 's/^ *GUID: {\(.*\)}$/\1/p' <<<"$summary" | tr -d - | tr 'A-F' 'a-f')
age=$(sed -n 's/^ *Age: \([0-9]*\)$/\1/p' <<<"$summary")
if [ -z "$wanted" ] || [ "$wanted" != "$guid $age" ]; then
  echo "crash-address: freeplot.pdb (GUID $guid, age $age) was not written with this freeplot.dll" \
    "(it names $wanted): take the symbols of the release that crashed" >&2
  exit 1
fi

# Where the DLL's code lies, as offsets from its load address: an offset outside it names no
# function, whatever symbol the symbolizer finds nearest (the end of the image, a data label).
base=$(x86_64-w64-mingw32-objdump -p "$work/freeplot.dll" | awk '$1 == "ImageBase" {print $2}')
code=$(x86_64-w64-mingw32-objdump -h "$work/freeplot.dll" |
  awk '$2 ~ /^\./ {vma=$4; size=$3} /CODE/ {print vma, size}' |
  while read -r vma size; do echo $((16#$vma - 16#$base)) $((16#$size)); done)
spans=$(while read -r start size; do printf '0x%x to 0x%x\n' "$start" $((start + size)); done <<<"$code" |
  paste -sd, - | sed 's/,/, /g')
in_code() {
  local start size
  while read -r start size; do
    (($1 >= start && $1 < start + size)) && return 0
  done <<<"$code"
  return 1
}

addresses=("$@")
if [ ${#addresses[@]} -eq 0 ]; then
  mapfile -t addresses < <(grep -oiE 'freeplot\.dll\+(0x)?[0-9a-f]+' | sort -u)
fi
[ ${#addresses[@]} -gt 0 ] || { echo "crash-address: no freeplot.dll+OFFSET given or found" >&2; exit 2; }

status=0
for address in "${addresses[@]}"; do
  offset=$(sed -nE 's/^(freeplot\.dll\+)?(0x)?([0-9a-fA-F]+)$/\3/ip' <<<"$address")
  if [ -z "$offset" ]; then
    echo "$address: not an offset in freeplot.dll (freeplot.dll+0x1A2B3)"
    status=2
    continue
  fi
  echo "freeplot.dll+0x$offset:"
  digits=$(sed 's/^0*//' <<<"$offset")
  if [ ${#digits} -gt 8 ] || ! in_code $((16#${digits:-0})); then
    echo "  not in freeplot.dll's code (offsets $spans): data, an address in another module, or another build"
    continue
  fi
  # Innermost first; "(inlined by)" lines lead out to the function the code was compiled in.
  named=$(cd "$work" && llvm-symbolizer-14 --obj=freeplot.dll --relative-address --pretty-print \
    "0x$offset" | sed -E -e '/^$/d' -e 's#[^ ]*/build/[^/ ]+/\.\./\.\./##' -e 's/^/  /')
  if grep -q '^ *?? at ??:0' <<<"$named" || grep -qx ' *at ??:0:0' <<<"$named"; then
    echo "  no function of freeplot.dll's own code holds this address (start-up code, data, or another build)"
  else
    echo "$named"
  fi
done
exit "$status"
