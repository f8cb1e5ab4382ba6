#!/usr/bin/env bash
# Installs everything the build, the program and the tests need, from Debian's packages.
# Safe to run again: apt-get skips what is already there. Works as root or through sudo.
set -euo pipefail

if [ "$(id -u)" -eq 0 ]; then SUDO=; else SUDO=sudo; fi

packages=(
  wine wine32:i386 libcups2:i386
  g++-mingw-w64-i686 mingw-w64-tools cmake make
  xvfb xdotool x11-utils imagemagick
  cups cups-client cups-bsd
  ghostscript fonts-liberation
  googletest
  clang libclang-rt-14-dev lld llvm
  zip
  gnuplot-nox
  openprinting-ppds python3-pil
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
