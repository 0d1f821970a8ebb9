# Sourced by the scripts that run Windows programs under Wine (windows-tests.sh, chaos.sh
# --windows): finds the Wine loader and prepares a fresh prefix and home of their own.
#
#   wine_setup PREFIX_FOLDER    sets $wine, $wineserver, WINEPREFIX, HOME and the quiet Wine
#                               environment; PREFIX_FOLDER is emptied first
#   winpath /a/b                prints Z:\a\b, the path as Wine's programs see it
#   wine_documents NAME         names the user's documents folder NAME (inside the profile)
#   wine_wait                   waits for the prefix's Wine server to end
#
# FREEPLOT_WINE may name the Wine loader to use (default: Debian's wine64).

wine_fail() {
  echo "${wine_who:-Wine}: $*" >&2
  exit 1
}

# Debian's wine64 keeps its binaries off PATH.
wine_find_binary() {
  local name=$1 candidate
  candidate=$(dpkg -L wine64 2>/dev/null | grep -E "/$name\$" | head -n 1 || true)
  for candidate in "$candidate" "/usr/lib/wine/$name" "$(command -v "$name" || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

wine_setup() {
  local folder=$1
  if [ -n "${FREEPLOT_WINE:-}" ]; then
    [ -x "$FREEPLOT_WINE" ] || wine_fail "FREEPLOT_WINE=$FREEPLOT_WINE is not an executable Wine loader"
    wine=$FREEPLOT_WINE
  else
    wine=$(wine_find_binary wine64) ||
      wine_fail "wine64 is not installed (Debian package wine64; scripts/setup.sh installs it)"
  fi
  wineserver=$(wine_find_binary wineserver64 || wine_find_binary wineserver || true)
  # A fresh prefix and home each run: nothing from an earlier run or from the user's own Wine.
  export WINEPREFIX="$folder/wine-prefix"
  export HOME="$folder/wine-home"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
  rm -rf "$WINEPREFIX" "$HOME"
  mkdir -p "$HOME"
}

winpath() { echo "Z:$1" | sed 's|/|\\|g'; }

# Points the user's documents folder at %USERPROFILE%\NAME, as a user whose folder is named in
# another script has it. The name reaches Wine as UTF-8 whatever the caller's locale; Wine's
# code page for the programs stays the Western one (1252), which holds none of such letters.
wine_documents() {
  LC_ALL=C.UTF-8 "$wine" reg add \
    'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders' \
    /v Personal /t REG_EXPAND_SZ /d "%USERPROFILE%\\$1" /f >/dev/null 2>&1
}

wine_wait() {
  [ -n "$wineserver" ] && "$wineserver" -w 2>/dev/null || true
}
