#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix, never the user's ~/.wine.
# The prefix lives in the build tree; scripts/test-fixture.sh creates it once.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
