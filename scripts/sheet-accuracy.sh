#!/usr/bin/env bash
# How far judge-page.sh's registration, skew and scale on pictures of a printed sheet lie from the
# truth, on model scans and photos of real pages (--help tells more):
#
#   scripts/sheet-accuracy.sh [--cases N] [--only WORD]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh" judge
PYTHONPATH=$root/tools exec /usr/bin/python3 -B -m pagecheck.commands.accuracy "$@"
