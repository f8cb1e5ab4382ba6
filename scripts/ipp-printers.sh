#!/usr/bin/env bash
# Starts and stops the driverless printers the check's tests print to: CUPS's own IPP Everywhere
# printer, ippeveprinter, on loopback ports of its own, keeping each document it receives. One
# takes PWG raster only (300 and 600 dpi), one takes PDF, one has attributes of its own
# (tests/e2e/ipp/a4-margins.conf: unequal margins, A4 by default). ippeveprinter needs a system
# message bus and the Avahi daemon even when it announces nothing: those found running are used,
# those started here are stopped again, and only those.
#
#   ipp-printers.sh start DIR     ipp-printers.sh stop DIR
#
# DIR/printers lists the printers, one a line: name, URI, folder of the documents it received.
# services-start DIR and services-stop DIR start the bus and the daemon alone, for several
# folders' printers started and stopped at once, which then find them running and leave them.
set -euo pipefail
trap 'echo "$0: failed at line $LINENO: $BASH_COMMAND" >&2' ERR

action=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

start_bus() {
    if dbus-send --system --dest=org.freedesktop.DBus --print-reply / org.freedesktop.DBus.GetId >/dev/null 2>&1; then
        return
    fi
    mkdir -p /run/dbus
    # Left by a bus that is gone; the daemon will not start over it.
    rm -f /run/dbus/pid
    dbus-daemon --system --fork --print-pid >"$dir/dbus.pid"
}

start_avahi() {
    if avahi-daemon --check 2>/dev/null; then return; fi
    avahi-daemon --no-drop-root --no-chroot -D
    for _ in $(seq 50); do [ -s /run/avahi-daemon/pid ] && break; sleep 0.1; done
    cp /run/avahi-daemon/pid "$dir/avahi.pid"
}

# Whether a printer answers at all; ipptool's own get-printer-attributes.test also expects
# attributes a printer of our own need not have.
answers() {
    cat >"$dir/answers.test" <<'TEST'
{
    OPERATION Get-Printer-Attributes
    GROUP operation-attributes-tag
    ATTR charset attributes-charset utf-8
    ATTR naturalLanguage attributes-natural-language en
    ATTR uri printer-uri $uri
    STATUS successful-ok
}
TEST
    ipptool -q "$1" "$dir/answers.test" 2>/dev/null
}

free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("localhost", 0)); print(s.getsockname()[1])'
}

# start_printer NAME OPTIONS...: with -c /bin/true a job is done once received, instead of after
# a pretended print of several seconds.
start_printer() {
    local name=$1 port uri
    shift
    port=$(free_port)
    uri=ipp://localhost:$port/ipp/print
    mkdir -p "$dir/received/$name"
    setsid ippeveprinter -p "$port" -n localhost -r off -k -d "$dir/received/$name" -c /bin/true "$@" "$name" \
        >"$dir/$name.log" 2>&1 </dev/null &
    echo $! >"$dir/$name.pid"
    for _ in $(seq 100); do answers "$uri" && break; sleep 0.1; done
    answers "$uri" || { echo "$0: $name does not answer at $uri" >&2; return 1; }
    echo "$name $uri $dir/received/$name" >>"$dir/printers"
}

# A process is gone once it has ended, even when no one has reaped it yet.
gone() {
    ! kill -0 "$1" 2>/dev/null || ps -o stat= -p "$1" | grep -q '^Z'
}

# stop_pids FILE...: ends the processes the files name, at once, and waits for them.
stop_pids() {
    local file pids=()
    for file in "$@"; do
        [ -f "$file" ] || continue
        pids+=("$(cat "$file")")
        kill "${pids[-1]}" 2>/dev/null || true
        rm -f "$file"
    done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do gone "$pid" && break; sleep 0.1; done
    done
}

stop_services() {
    # Avahi leaves the bus it is on.
    stop_pids "$dir/avahi.pid"
    stop_pids "$dir/dbus.pid"
}

case $action in
services-start)
    start_bus
    start_avahi
    ;;
services-stop)
    stop_services
    ;;
start)
    "$0" stop "$dir"
    start_bus
    start_avahi
    start_printer raster -f image/pwg-raster
    start_printer pdf -f application/pdf
    start_printer a4-margins -a "$root/tests/e2e/ipp/a4-margins.conf"
    ;;
stop)
    stop_pids "$dir/raster.pid" "$dir/pdf.pid" "$dir/a4-margins.pid"
    stop_services
    rm -rf "$dir/printers" "$dir/received" "$dir/answers.test"
    ;;
*)
    echo "usage: $0 start|stop|services-start|services-stop DIR" >&2; exit 2
    ;;
esac
