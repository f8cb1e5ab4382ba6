#!/usr/bin/env bash
# Installs from Debian's packages what is missing for one command's use (--help lists the sets);
# the judging sets also build GhostPCL into a cache (scripts/install-ghostpcl.sh). Safe to run
# again: nothing is asked of apt while everything is installed. Works as root or through sudo.
#
#   install-deps.sh [program|drivers|judge|check|release|all]
set -euo pipefail

usage() {
  cat <<'EOF'
usage: install-deps.sh [SET]

Installs what is missing for SET:
  program   building one build of the program and running it under Wine on Xvfb, printing
            to a private CUPS queue that writes PDF (scripts/run.sh): the 32-bit build's
            toolchain and Wine where this host runs 32-bit programs, else the 64-bit one's
            (PRINTTEST_ARCH=x86, x64 or both chooses)
  drivers   CUPS and the printer drivers whose models are checked: every driver package
            Debian's printer-driver-all recommends (scripts/printer-languages.sh)
  judge     drivers, and what judges pages: Ghostscript, GhostPCL, Python's libraries
            (scripts/judge-page.sh, scripts/sheet-accuracy.sh)
  check     program and judge, and the driverless printers of scripts/ipp-printers.sh
            (scripts/check-printer.sh)
  release   both builds' toolchains and zip (scripts/release.sh)
  all       everything the tests use: both builds with GCC and Clang, Chromium and the CI
            workflow's linter (from the npm registry), and the rest (the default; scripts/test.sh)
EOF
}

case $#:${1:-all} in
  [01]:program|[01]:drivers|[01]:judge|[01]:check|[01]:release|[01]:all) set=${1:-all} ;;
  1:-h|1:--help) usage; exit 0 ;;
  *) echo "install-deps.sh: not a set: $*" >&2; usage >&2; exit 2 ;;
esac
# apt's output too: a command's own output stays its own (printer-languages.sh's is read by others).
exec >&2

if [ "$(id -u)" -eq 0 ]; then SUDO=; else SUDO=sudo; fi

# Whether the kernel runs a 32-bit x86 program, before any is installed: the smallest one, exit(0).
runs_32bit() {
  local probe code=0
  probe=$(mktemp)
  printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08\x34\0\0\0\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08\x5d\0\0\0\x5d\0\0\0\x05\0\0\0\0\x10\0\0\xb8\x01\0\0\0\x31\xdb\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || code=$?
  rm -f "$probe"
  return $code
}

# One build's Wine and toolchain; the 32-bit Wine reaches CUPS through the 32-bit libcups.
x86=(wine wine32:i386 libcups2:i386 g++-mingw-w64-i686)
x64=(wine wine64 g++-mingw-w64-x86-64)
# build.sh configures the Windows tests too, which take GoogleTest's sources; the scheduler wants
# all its filters (cups), the PDF queue cups-filters' PPD; Wine draws Arial with Liberation Sans.
program=(
  cmake make ccache googletest
  xvfb xdotool x11-utils imagemagick
  cups cups-client cups-filters fonts-liberation
)
# printer-languages.sh lists the drivers' models with cups-driverd and asks the check's readers,
# which load PIL, which of them it reads; cups-ppdc writes out a .drv file's PPDs. The driver
# packages are those printer-driver-all recommends, named here as apt installs no recommends;
# jbigkit-bin's jbgtopbm85 undoes the JBIG of printer-driver-c2esp's pages for their reader.
drivers=(
  cups cups-ppdc python3 python3-pil openprinting-ppds jbigkit-bin
  printer-driver-brlaser printer-driver-c2050 printer-driver-c2esp printer-driver-cjet printer-driver-dymo
  printer-driver-escpr printer-driver-foo2zjs printer-driver-fujixerox printer-driver-gutenprint
  printer-driver-hpcups printer-driver-indexbraille printer-driver-m2300w printer-driver-min12xxw
  printer-driver-oki printer-driver-pnm2ppa printer-driver-postscript-hp printer-driver-ptouch
  printer-driver-pxljr printer-driver-sag-gdi printer-driver-splix
)
judge=(ghostscript python3-cups python3-opencv libheif-examples)
ipp_printers=(cups-ipp-utils dbus avahi-daemon)
release=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 cmake make zip)
# The report's browser test drives Chromium through its driver.
tests=(
  mingw-w64-tools cups-bsd
  clang libclang-rt-14-dev lld llvm
  gnuplot-nox python3-pefile python3-fonttools
  chromium chromium-driver python3-selenium
)

packages=()
# The build run.sh and check-printer.sh make, as scripts/arch.sh will choose it once Wine is in.
add_program() {
  local arches arch
  case ${PRINTTEST_ARCH:-} in
    x86|x64) arches=$PRINTTEST_ARCH ;;
    both) arches="x86 x64" ;;
    *) if runs_32bit; then arches=x86; else arches=x64; fi ;;
  esac
  for arch in $arches; do
    if [ "$arch" = x86 ]; then packages+=("${x86[@]}"); else packages+=("${x64[@]}"); fi
  done
  packages+=("${program[@]}")
}

case $set in
  program) add_program ;;
  drivers) packages=("${drivers[@]}") ;;
  judge) packages=("${drivers[@]}" "${judge[@]}") ;;
  check) add_program; packages+=("${drivers[@]}" "${judge[@]}" "${ipp_printers[@]}") ;;
  release) packages=("${release[@]}") ;;
  # Both builds' packages, even on a host that runs only the 64-bit one: the tests build both.
  all) packages=("${x86[@]}" "${x64[@]}" "${program[@]}" "${drivers[@]}" "${judge[@]}" "${ipp_printers[@]}"
                 "${release[@]}" "${tests[@]}") ;;
esac

# dpkg-query reads the status file without taking the package database's lock, so a command run
# while apt works elsewhere is not stopped by it. One query for all: the check runs this each time.
# A package of the machine's own architecture may be listed with it ("libc6:amd64").
wanted=($(printf '%s\n' "${packages[@]}" | sort -u))
declare -A installed=()
while read -r name status; do
  [ "$status" = 'install ok installed' ] && installed[$name]=1
done < <(dpkg-query -W -f='${binary:Package} ${Status}\n' "${wanted[@]}" 2>/dev/null)
native=$(dpkg --print-architecture)
missing=()
for p in "${wanted[@]}"; do
  [ -n "${installed[$p]:-}" ] || [ -n "${installed[$p:$native]:-}" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps.sh: installing ${missing[*]}" >&2
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
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
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || exit 1
    echo "install-deps.sh: trying again with the packages of $codename itself" >&2
    $SUDO "${install[@]}" -t "$codename" "${missing[@]}"
  fi
fi

# GhostPCL, which reads the PCL printers' streams, is built once into a cache outside the system.
case $set in
  judge|check|all) "$(dirname "$0")/install-ghostpcl.sh" ;;
esac

# The CI workflow's linter from the npm registry, at the versions tests/workflow's lock file pins,
# into the cache, with the machine's Node.js.
if [ "$set" = all ]; then
  command -v npm >/dev/null || { echo "install-deps.sh: the workflow's linter needs Node.js and npm" >&2; exit 1; }
  lint=${PRINTTEST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/printtest}/workflow-lint
  pinned=$(cd "$(dirname "$0")/../tests/workflow" && pwd)
  if ! cmp -s "$pinned/package-lock.json" "$lint/package-lock.json" || [ ! -x "$lint/node_modules/.bin/action-validator" ]; then
    echo "install-deps.sh: installing the workflow linter into $lint" >&2
    mkdir -p "$lint"
    cp "$pinned/package.json" "$pinned/package-lock.json" "$lint/"
    (cd "$lint" && npm ci --no-audit --no-fund --loglevel=error)
  fi
fi
