#!/usr/bin/env bash
# Makes the Wine prefix that WINEPREFIX names, for the Wine that WINELOADER names (32-bit or
# 64-bit), unless it is already made: a crash in it ends its program at once instead of waiting
# for someone to close Wine's crash dialog.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/arch.sh"
wine_defaults
if [ ! -f "$WINEPREFIX/.ready" ]; then
    rm -rf "$WINEPREFIX"
    "$WINELOADER" wineboot -i
    "$WINELOADER" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
    wineserver -w
    touch "$WINEPREFIX/.ready"
fi
