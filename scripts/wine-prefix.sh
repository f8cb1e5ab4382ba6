#!/usr/bin/env bash
# Makes the 32-bit Wine prefix that WINEPREFIX names, unless it is already made: a crash in it
# ends its program at once instead of waiting for someone to close Wine's crash dialog.
set -euo pipefail
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.ready" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
    wineserver -w
    touch "$WINEPREFIX/.ready"
fi
