#!/usr/bin/env bash
# Prints the test page on printers given by their PPDs, in both modes, and judges every page:
#
#   scripts/check-printer.sh [OPTIONS] PRINTER...     (--help tells the options)
#
# Installs what is missing and builds the program first. Everything it starts (an X display, a
# CUPS scheduler, Wine) is its own and stopped at the end; its Wine prefix stays in
# build/win/check-prefix for the next run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
PYTHONPATH=$root/tools exec /usr/bin/python3 -B -m pagecheck.check "$@"
