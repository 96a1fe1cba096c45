#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing,
# without prompts. A fresh Debian machine needs nothing else.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkgconf
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  qt6-base-dev libgl-dev fonts-liberation
  libicu-dev
  g++-mingw-w64-x86-64 wine wine64 wine32:i386
  xvfb xauth xdotool imagemagick x11-utils
  fonts-wine xdg-utils
  desktop-file-utils appstream dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
# wine32 (for 32-bit prefixes) comes from the i386 architecture.
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
