#!/usr/bin/env bash
# Prints the test page on printers given by their PPDs, in both modes, and judges every page:
#
#   scripts/check-printer.sh [OPTIONS] PRINTER...     (--help tells the options)
#
# Installs what is missing and builds the program first: the 32-bit build where this host runs
# 32-bit programs, else the 64-bit one (PRINTTEST_ARCH=x86 or x64 chooses). Everything it starts
# (an X display, a CUPS scheduler, Wine) is its own and stopped at the end; its Wine prefix stays
# in the build's folder (build/win/check-prefix or build/win64/check-prefix) for the next run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh" check
. "$root/scripts/arch.sh"
# The tests hand it a build of theirs (PRINTTEST_BUILD), which names its Wine.
if [ -n "${PRINTTEST_BUILD:-}" ]; then
    export WINELOADER=${WINELOADER:-$(build_loader "$PRINTTEST_BUILD")}
else
    arch=$(arch_one) || exit 2
    wine_use "$arch"
    # What main() builds, once the arguments are known to be good.
    export PRINTTEST_CHECK_ARCH=$arch PRINTTEST_CHECK_DIR=$(arch_dir "$arch")
fi
PYTHONPATH=$root/tools exec /usr/bin/python3 -B -m pagecheck.commands.check "$@"
