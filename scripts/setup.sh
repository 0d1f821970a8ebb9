#!/usr/bin/env bash
# Installs the Debian packages the build needs, only when one is missing (quick otherwise).
set -euo pipefail

packages=(
  cmake make g++ pkgconf binutils
  libxbyak-dev ninja-build ccache zip unzip
  libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix
  clang libclang-rt-14-dev clang-tidy jq
  lld-14 llvm-14
  wine64
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
