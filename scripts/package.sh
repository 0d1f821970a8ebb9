#!/usr/bin/env bash
# The archive players and mod managers install: builds the release freeplot.dll with mingw-w64
# (its compiler runtimes inside, its exports and imports checked) and writes
# dist/freeplot-VERSION.zip, laid out as mod managers expect:
#   Data/F4SE/Plugins/freeplot.dll
#   Data/F4SE/Plugins/freeplot.ini          the shipped settings file
#   Data/F4SE/Plugins/freeplot-readme.txt   requirements, keys, where the log is
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

need() {
  if ! command -v "$1" >/dev/null 2>&1; then
    echo "package: $1 is missing (Debian package $2; scripts/setup.sh installs it)" >&2
    exit 1
  fi
}
need cmake cmake
need ninja ninja-build
need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
need zip zip

version=$(sed -n 's/^project(freeplot VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
log=$(mktemp)
if ! { cmake --preset windows-mingw && cmake --build --preset windows-mingw --target freeplot; } \
  >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  echo "package: the Windows build failed" >&2
  exit 1
fi
grep -h "Imports checked" "$log" || true
rm -f "$log"

stage="$root/build/package/freeplot-$version"
plugins="$stage/Data/F4SE/Plugins"
rm -rf "$stage"
mkdir -p "$plugins" "$root/dist"
cp build/windows-mingw/src/plugin/freeplot.dll data/freeplot.ini data/freeplot-readme.txt "$plugins/"
archive="$root/dist/freeplot-$version.zip"
rm -f "$archive"
(cd "$stage" && zip -q -X -r "$archive" Data)
echo "package: $archive"
unzip -l "$archive" | sed -n '4,$p' | grep -v -- '^---' || true
