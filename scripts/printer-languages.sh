#!/usr/bin/env bash
# Which language each printer model of the installed CUPS drivers sends, and whether the check
# reads it; or a random sample of the models it reads, to give scripts/check-printer.sh:
#
#   scripts/printer-languages.sh [--list | --sample N [--seed S]]     (--help tells more)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh" drivers
PYTHONPATH=$root/tools exec /usr/bin/python3 -B -m pagecheck.commands.languages "$@"
