#!/usr/bin/env bash
# Installs everything the build, the program and the tests need, from Debian's packages, for both
# builds: the 32-bit one (wine32, the i686 toolchain) and the 64-bit one (wine64, the x86-64
# toolchain); then GhostPCL, built into a cache by scripts/install-ghostpcl.sh. A host that cannot
# run 32-bit programs still takes the 32-bit packages; it just never runs them. Safe to run again:
# nothing is asked of apt while everything is installed. Works as root or through sudo.
set -euo pipefail

if [ "$(id -u)" -eq 0 ]; then SUDO=; else SUDO=sudo; fi

packages=(
  wine wine32:i386 libcups2:i386 wine64
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools cmake make
  xvfb xdotool x11-utils imagemagick
  cups cups-client cups-bsd cups-filters cups-ipp-utils
  dbus avahi-daemon
  ghostscript fonts-liberation
  googletest
  clang libclang-rt-14-dev lld llvm
  zip
  gnuplot-nox
  openprinting-ppds printer-driver-gutenprint printer-driver-hpcups
  python3-pil python3-cups python3-pefile python3-fonttools python3-opencv
)

# dpkg-query reads the status file without taking the package database's lock, so a command run
# while apt works elsewhere is not stopped by it.
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps.sh: installing ${missing[*]}" >&2
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # Another apt or dpkg may hold the database: wait for it rather than fail.
  wait_lock=(-o DPkg::Lock::Timeout=600)
  $SUDO apt-get "${wait_lock[@]}" update -qq || true
  install=(apt-get "${wait_lock[@]}" install -y -qq --no-install-recommends)
  if ! $SUDO "${install[@]}" "${missing[@]}"; then
    # A mirror caught mid-sync can leave one suite's index out for one architecture (seen with the
    # security suite's i386 list): its packages then cannot match their other-architecture twins.
    # The release's own suite has both lists; take the packages from it.
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$release" ] || exit 1
    echo "install-deps.sh: trying again with the packages of $release itself" >&2
    $SUDO "${install[@]}" -t "$release" "${missing[@]}"
  fi
fi

# GhostPCL, which reads the PCL printers' streams, is built once into a cache outside the system.
"$(dirname "$0")/install-ghostpcl.sh"
