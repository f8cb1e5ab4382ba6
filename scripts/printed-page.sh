#!/usr/bin/env bash
# Prints the test page once the way the end-to-end test does (printtest.exe under Wine, driven
# through its menus and dialogs by uidriver.exe, to the test fixture's 300 dpi CUPS queue, with
# half-inch margins) and renders the page that reaches the queue into docs/printed-page.png,
# 600 pixels wide, for the README.
#
#   printed-page.sh [BUILD_DIR [bitmap]]
#
# BUILD_DIR is a CMake build folder of the project (default build/win, or build/win64 on a host
# that runs 64-bit programs only, as scripts/build.sh makes them); the fixture is started in it
# and stopped again, so no test may be running there.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/arch.sh"
arch=$(arch_one) || exit 1
build=${1:-$root/build/$(arch_dir "$arch")}
mode=${2:-}

if [ ! -f "$build/CMakeCache.txt" ]; then "$root/scripts/build.sh" "$arch" "$(dirname "$build")"; fi
build=$(cd "$build" && pwd)
# The build's own Wine: the one its tests run with.
export WINELOADER
WINELOADER=$(build_loader "$build")
cmake --build "$build" -j2 --target printtest uidriver >/dev/null

display=$(sed -n 's/^PRINTTEST_DISPLAY:STRING=//p' "$build/CMakeCache.txt")
export PRINTTEST_DISPLAY=${display:-:91}
work=$(mktemp -d)
trap 'rm -rf "$work"; "$root/scripts/test-fixture.sh" stop "$build"' EXIT
"$root/scripts/test-fixture.sh" start "$build"

export DISPLAY=$PRINTTEST_DISPLAY WINEPREFIX=$build/wineprefix CUPS_SERVER=$build/cups/cups.sock
export PRINTTEST_BUILD=$build PRINTTEST_EXE=$build/printtest.exe PRINTTEST_UIDRIVER=$build/tools/uidriver.exe
PYTHONPATH=$root/tools /usr/bin/python3 -B -m pagecheck.commands.fixture print-page "$work/page.ps" $mode

# 600 pixels across the 8.5 inches of a Letter sheet, edges smoothed.
mkdir -p "$root/docs"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r70.5882 -dTextAlphaBits=4 -dGraphicsAlphaBits=4 \
   -sOutputFile="$root/docs/printed-page.png" "$work/page.ps"
echo "Wrote $root/docs/printed-page.png"
