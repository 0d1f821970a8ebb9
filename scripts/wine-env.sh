# Sourced by the scripts that run Windows programs under Wine (windows-tests.sh, chaos.sh
# --windows): finds the Wine loader and prepares a fresh prefix and home of their own.
#
#   wine_setup PREFIX_FOLDER    sets $wine, $wineserver, WINEPREFIX, HOME and the quiet Wine
#                               environment; PREFIX_FOLDER is emptied first, and the prefix in it
#                               starts as a copy of a new prefix kept in the user's cache folder
#   wine_env PREFIX_FOLDER      the same without emptying anything: the prefix already there
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
  wine_env "$1"
  local cache=${FREEPLOT_WINE_CACHE:-${XDG_CACHE_HOME:-$REAL_HOME/.cache}/freeplot-wine}
  rm -rf "$WINEPREFIX" "$HOME"
  mkdir -p "$HOME"
  wine_copy_new_prefix "$cache" || rm -rf "$WINEPREFIX"
}

# The loader, the server and the environment of the prefix in FOLDER, as it is.
wine_env() {
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
  REAL_HOME=${REAL_HOME:-$HOME}
  export WINEPREFIX="$folder/wine-prefix"
  export HOME="$folder/wine-home"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
}

# Making a prefix (wineboot) takes seconds of processor time and many of its programs, which on a
# busy machine stretch to a minute: it is done once for each Wine version, in the cache folder, and
# each run starts from a copy. The libraries and programs under drive_c/windows are hard links
# (Wine only maps them); every other file is copied, and the links to the user's folders point to
# this run's home, as in a prefix made for it. Without a writable cache folder the first program
# makes the prefix as before.
wine_copy_new_prefix() {
  local cache=$1 version made
  version=$("$wine" --version 2>/dev/null | tr -c 'A-Za-z0-9.\n-' _) || return 1
  [ -n "$version" ] || return 1
  made="$cache/$version"
  if [ ! -f "$made/system.reg" ]; then
    local new
    mkdir -p "$cache" 2>/dev/null && new=$(mktemp -d "$cache/new.XXXXXX" 2>/dev/null) || return 1
    mkdir -p "$new/home"
    if WINEPREFIX="$new/prefix" HOME="$new/home" "$wine" wineboot --init >/dev/null 2>&1 &&
      WINEPREFIX="$new/prefix" "$wineserver" -w 2>/dev/null && [ -f "$new/prefix/system.reg" ]; then
      # Another run may have put one there first: its prefix is as good.
      mv -T "$new/prefix" "$made" 2>/dev/null || true
    fi
    rm -rf "$new"
    [ -f "$made/system.reg" ] || return 1
  fi
  cp -al "$made" "$WINEPREFIX" || return 1
  find "$WINEPREFIX" -type f ! \( -path "$WINEPREFIX/drive_c/windows/*" \
    -regex '.*\.\(dll\|exe\|nls\|sys\|drv\|ocx\|cpl\|acm\)' \) \
    -exec sh -c 'for f; do cp -p "$f" "$f.own" && mv -f "$f.own" "$f"; done' copy {} + || return 1
  find "$WINEPREFIX/drive_c/users" -type l | while IFS= read -r link; do
    ln -sfn "$HOME" "$link"
  done
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
