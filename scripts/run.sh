#!/usr/bin/env bash
# Builds printtest.exe and starts it under Wine, in the project's own Wine prefix: the 32-bit build
# where this host runs 32-bit programs, else the 64-bit one (PRINTTEST_ARCH=x86 or x64 chooses).
#  - With a display ($DISPLAY set), the program opens there and this command returns when it ends.
#  - Without one, it starts Xvfb, opens the program, writes a screenshot of the window in each
#    mode to build/screenshot-direct.png and build/screenshot-bitmap.png, and closes it again.
# Printing uses the printers Wine sees. When there are none, a private CUPS scheduler is started
# with a virtual queue, PDF_OUTPUT, whose jobs land as PDF in build/printed/printtest.pdf (each
# job replaces the last).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build

"$root/scripts/install-deps.sh" program
. "$root/scripts/arch.sh"
arch=$(arch_one) || exit 1
wine_use "$arch"
"$root/scripts/build.sh" "$arch" "$build" printtest
exe=$build/$(arch_dir "$arch")/printtest.exe
echo "Running the $(arch_bits "$arch")-bit build: $exe"

export WINEPREFIX=$build/$(arch_dir "$arch")/run-prefix

if ! lpstat -e 2>/dev/null | grep -q .; then
    . "$root/scripts/cups-private.sh"
    mkdir -p "$build/printed"
    cups_start "$build/run-cups"
    export CUPS_SERVER=$build/run-cups/cups.sock
    lpadmin -p PDF_OUTPUT -E -v "file://$build/printed/printtest.pdf" \
        -P /usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd 2>/dev/null
    lpadmin -d PDF_OUTPUT
    trap 'cups_stop "$build/run-cups"' EXIT
    echo "No printer found: printing goes to $build/printed/printtest.pdf"
fi

if [ -n "${DISPLAY:-}" ]; then
    "$WINELOADER" "$exe"
    exit 0
fi

export DISPLAY=:95
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; [ -n "${CUPS_SERVER:-}" ] && cups_stop "$build/run-cups" || true' EXIT
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
"$root/scripts/wine-prefix.sh" >/dev/null 2>&1

"$WINELOADER" "$exe" &
program=$!
window=
for _ in $(seq 600); do
    window=$(xdotool search --name '^Print Test Program$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "the window did not appear" >&2; exit 1; }
sleep 2
import -window "$window" "$build/screenshot-direct.png"
# File > Mode: Print Bitmap, as the keyboard reaches it.
xdotool key --window "$window" alt+f && sleep 0.5
xdotool key Down Down Down Return && sleep 2
import -window "$window" "$build/screenshot-bitmap.png"
xdotool key --window "$window" alt+F4
wait $program
echo "Screenshots: $build/screenshot-direct.png $build/screenshot-bitmap.png"
