#!/usr/bin/env bash
# Judges the test page in files printed elsewhere (a Windows driver's output to a FILE: port, a
# printer's stream captured anywhere) with the same checks and report as check-printer.sh:
#
#   scripts/judge-page.sh [OPTIONS] FILE...     (--help tells the options)
#
# Installs what is missing first; runs no Wine and no scheduler.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh" judge
PYTHONPATH=$root/tools exec /usr/bin/python3 -B -m pagecheck.commands.judge "$@"
