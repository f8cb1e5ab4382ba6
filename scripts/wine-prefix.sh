#!/usr/bin/env bash
# Makes the Wine prefix that WINEPREFIX names, for the Wine that WINELOADER names (32-bit or
# 64-bit), unless it is already made: a crash in it ends its program at once instead of waiting
# for someone to close Wine's crash dialog.
#
# Booting a prefix takes some ten seconds, copying one under one: the first prefix made in a folder
# is booted once as that folder's wine-template, and every prefix beside it is a copy of it. Runs
# at once take turns to make the template.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/arch.sh"
wine_defaults
if [ ! -f "$WINEPREFIX/.ready" ]; then
    template=$(dirname "$WINEPREFIX")/wine-template
    (
        flock 9
        if [ ! -f "$template/.ready" ]; then
            rm -rf "$template"
            export WINEPREFIX=$template
            "$WINELOADER" wineboot -i
            "$WINELOADER" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
            # Its registry written out before it is copied.
            wineserver -w
            touch "$template/.ready"
        fi
    ) 9>"$template.lock"
    rm -rf "$WINEPREFIX" "$WINEPREFIX.copying"
    # Ready only once whole.
    cp -a "$template" "$WINEPREFIX.copying"
    mv "$WINEPREFIX.copying" "$WINEPREFIX"
fi
