#!/usr/bin/env bash
# The archive players and mod managers install, and the symbols kept for crash reports. Builds
# the release freeplot.dll (clang and lld for mingw-w64: its runtimes inside, stripped, its
# exports and every imported function checked) and freeplot-check.exe, and writes to dist/:
#
#   freeplot-VERSION.zip, laid out as mod managers expect:
#     Data/F4SE/Plugins/freeplot.dll          the plugin (stripped)
#     Data/F4SE/Plugins/freeplot-check.exe    the settings checker (drop freeplot.ini on it)
#     Data/F4SE/Plugins/freeplot.ini          the shipped settings file
#     Data/F4SE/Plugins/freeplot-readme.txt   requirements, keys, the log, what went wrong
#   freeplot-VERSION-symbols.zip, for developers (docs/windows-release.md):
#     freeplot.dll, freeplot.pdb, freeplot.map   the same DLL, its PDB and its linker map
#
# VERSION is the project's (CMakeLists.txt); the DLL's version resource must say the same. The
# DLL in the archive is byte for byte the one scripts/windows-tests.sh and scripts/chaos.sh
# --windows run (build/windows-mingw/src/plugin/freeplot.dll), and the script checks it.
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
need clang++-14 clang-14
need ld.lld-14 lld-14
need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
need x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64
need zip zip
need unzip unzip

version=$(sed -n 's/^project(freeplot VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
log=$(mktemp)
if ! { cmake --preset windows-mingw &&
  cmake --build --preset windows-mingw --target freeplot freeplot-check; } >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  echo "package: the Windows build failed" >&2
  exit 1
fi
grep -h -e "Imports checked" -e "Imported functions checked" "$log" | sed 's/^-- /package: /' || true
rm -f "$log"

built=build/windows-mingw
dll=$built/src/plugin/freeplot.dll
# The version resource read back from the DLL.
resource=$(x86_64-w64-mingw32-windres -i "$dll" -O rc)
for field in FileVersion ProductVersion; do
  said=$(sed -n "s/^ *VALUE \"$field\", \"\(.*\)\"$/\1/p" <<<"$resource")
  if [ "$said" != "$version" ]; then
    echo "package: freeplot.dll says $field \"$said\", the project's version is $version" >&2
    exit 1
  fi
done

stage="$root/build/package/freeplot-$version"
plugins="$stage/Data/F4SE/Plugins"
rm -rf "$stage"
mkdir -p "$plugins" "$root/dist"
cp "$dll" "$built/tools/freeplot-check.exe" data/freeplot.ini data/freeplot-readme.txt "$plugins/"
archive="$root/dist/freeplot-$version.zip"
rm -f "$archive"
(cd "$stage" && zip -q -X -r "$archive" Data)

symbols="$root/dist/freeplot-$version-symbols.zip"
rm -f "$symbols"
zip -q -X -j "$symbols" "$dll" "$built/src/plugin/freeplot.pdb" "$built/src/plugin/freeplot.map"

# What players install is what the tests ran.
if ! unzip -p "$archive" Data/F4SE/Plugins/freeplot.dll | cmp -s - "$dll" ||
  ! unzip -p "$symbols" freeplot.dll | cmp -s - "$dll"; then
  echo "package: the DLL in the archives is not $dll" >&2
  exit 1
fi
echo "package: $archive"
unzip -l "$archive" | sed -n '4,$p' | grep -v -- '^---' || true
echo "package: $symbols"
unzip -l "$symbols" | sed -n '4,$p' | grep -v -- '^---' || true
echo "package: freeplot.dll $version, $(stat -c %s "$dll") bytes, sha256 $(sha256sum "$dll" | cut -c1-16)...," \
  "the DLL scripts/windows-tests.sh runs"
