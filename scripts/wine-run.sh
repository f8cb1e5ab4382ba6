#!/usr/bin/env bash
# Runs a Windows program under the Wine that WINELOADER names (scripts/arch.sh), in the project's
# own prefix, never the user's ~/.wine. The prefix lives in the build tree; scripts/test-fixture.sh
# creates it once.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$here/scripts/arch.sh"
wine_defaults
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix}
exec "$WINELOADER" "$@"
