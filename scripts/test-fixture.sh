#!/usr/bin/env bash
# Starts and stops what the Windows tests run against: an X display (Xvfb), the project's Wine
# prefix, for the Wine that WINELOADER names, with a persistent wineserver, and two private CUPS
# schedulers, one with file-backed PostScript queues and one with no queue at all. Nothing of the
# system's CUPS or the user's ~/.wine is touched: everything lives under the build folder given.
# Tests that may run at once each have a desktop of their own: DESKTOP 2 and on name a second
# and further set, on the display PRINTTEST_DISPLAY names, in folders whose names end in -2 and on.
#
#   test-fixture.sh start BUILD_DIR [DESKTOP]     test-fixture.sh stop BUILD_DIR [DESKTOP]
set -euo pipefail
trap 'echo "$0: failed at line $LINENO: $BASH_COMMAND" >&2' ERR

action=$1
build=$(mkdir -p "$2" && cd "$2" && pwd)
desktop=${3:-1}
suffix=
[ "$desktop" = 1 ] || suffix=-$desktop
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/test-names.sh
. "$here/test-names.sh"
. "$here/cups-private.sh"

. "$here/arch.sh"
export WINEPREFIX=$build/wineprefix$suffix
export DISPLAY=$PRINTTEST_DISPLAY

start_display() {
    if xdpyinfo >/dev/null 2>&1; then return; fi
    setsid Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >"$build/xvfb$suffix.log" 2>&1 &
    echo $! >"$build/xvfb$suffix.pid"
    for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && return; sleep 0.1; done
    echo "Xvfb did not start on $DISPLAY" >&2; exit 1
}

# The wineserver lives on after this script: it must not hold the caller's output open.
start_wine() {
    wine_defaults
    "$here/wine-prefix.sh"
    # Kept running between the tests, so each Wine process starts quickly; fails harmlessly
    # when one already runs.
    wineserver -p || true
    # The first Wine program starts Wine's background services, which keep its output open: let
    # that be this one, writing to the log, not the first test. It also puts the screen back at
    # 96 dpi, should a run stopped in the middle of the high-DPI test have left it at 144.
    "$WINELOADER" reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
}

case $action in
start)
    start_display
    cups=$build/cups$suffix
    cups_start "$cups"
    cups_add_queue "$cups" "$QUEUE_SHORT" 300 default
    cups_add_queue "$cups" "$QUEUE_LONG" 300
    cups_add_queue "$cups" "$QUEUE_600" 600
    cups_add_queue "$cups" "$QUEUE_2400" 2400
    cups_add_queue "$cups" "$QUEUE_30" 300
    cups_add_queue "$cups" "$QUEUE_31" 300
    cups_add_queue "$cups" "$QUEUE_REJECTING" 300
    CUPS_SERVER=$cups/cups.sock cupsreject "$QUEUE_REJECTING"
    cups_start "$build/cups-empty$suffix"
    CUPS_SERVER=$cups/cups.sock start_wine >>"$build/wine$suffix.log" 2>&1 </dev/null
    ;;
stop)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    cups_stop "$build/cups$suffix"
    cups_stop "$build/cups-empty$suffix"
    if [ -f "$build/xvfb$suffix.pid" ]; then
        xvfb=$(cat "$build/xvfb$suffix.pid")
        kill "$xvfb" 2>/dev/null || true
        # The next start must not find this display still up while it goes down.
        for _ in $(seq 100); do kill -0 "$xvfb" 2>/dev/null || break; sleep 0.1; done
        rm -f "$build/xvfb$suffix.pid"
    fi
    ;;
*)
    echo "usage: $0 start|stop BUILD_DIR [DESKTOP]" >&2; exit 2
    ;;
esac
