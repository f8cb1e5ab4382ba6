#!/usr/bin/env bash
# The whole collection of printer models the check reads, in resumable shards:
#
#   scripts/check-collection.sh plan|run|status|merge [OPTIONS]     (--help tells more)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh" check
PYTHONPATH=$root/tools exec /usr/bin/python3 -B -m pagecheck.commands.collection "$@"
