#!/usr/bin/env bash
# Measures the program on this machine in one run and prints a table of every figure beside its
# floor, measured in the same run, with their ratio; writes the growth plot with gnuplot.
#
#   scripts/bench.sh           the full run: starts its own Xvfb (2048x1536), private CUPS
#                              scheduler with 300, 600, 1200 and 2400 dpi queues and Wine prefix
#                              under build/bench-ARCH, writes docs/benchmark.png; ARCH is the
#                              build this host runs (x86, else x64; PRINTTEST_ARCH chooses)
#   scripts/bench.sh --smoke   one repetition of one small case, against the test fixture named
#                              by DISPLAY, WINEPREFIX, CUPS_SERVER and PRINTTEST_BUILD (CTest)
set -Eeuo pipefail
trap 'echo "$0: failed at line $LINENO: $BASH_COMMAND" >&2' ERR
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/cups-private.sh"

. "$root/scripts/arch.sh"

if [ "${1:-}" = --smoke ]; then
    wine_defaults
    build=$PRINTTEST_BUILD
    work=$build/bench-smoke
    cups=$(dirname "$CUPS_SERVER")
    runs=1 paints=1 sizes="640x480" queues="300:PTQUEUE" limit_queue="" soak=0 plot=$work/benchmark.png
    rm -rf "$work"; mkdir -p "$work"
else
    arch=$(arch_one) || exit 1
    wine_use "$arch"
    parent=${PRINTTEST_BUILD_DIR:-$root/build}
    build=$parent/$(arch_dir "$arch") work=$parent/bench-$arch
    "$root/scripts/build.sh" "$arch" "$parent"
    mkdir -p "$work"
    cups=$work/cups
    runs=${PRINTTEST_BENCH_RUNS:-10} paints=${PRINTTEST_BENCH_PAINTS:-100} sizes="640x480 1280x1024 1920x1080"
    queues="300:BENCH300 600:BENCH600 1200:BENCH1200" limit_queue="2400:BENCH2400"
    soak=${PRINTTEST_BENCH_SOAK:-200}
    plot=$root/docs/benchmark.png
    export DISPLAY=${PRINTTEST_BENCH_DISPLAY:-:95} WINEPREFIX=$work/wineprefix CUPS_SERVER=$cups/cups.sock
    rm -f "$work/raw.txt"

    stop_all() {
        wineserver -k 2>/dev/null || true
        cups_stop "$cups"
        if [ -f "$work/xvfb.pid" ]; then kill "$(cat "$work/xvfb.pid")" 2>/dev/null || true; rm -f "$work/xvfb.pid"; fi
    }
    trap stop_all EXIT
    if xdpyinfo >/dev/null 2>&1; then
        echo "display $DISPLAY is in use; set PRINTTEST_BENCH_DISPLAY to a free one" >&2; exit 1
    fi
    setsid Xvfb "$DISPLAY" -screen 0 2048x1536x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    echo $! >"$work/xvfb.pid"
    for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    cups_start "$cups"
    for entry in $queues $limit_queue; do cups_add_queue "$cups" "${entry#*:}" "${entry%%:*}"; done
    "$root/scripts/wine-prefix.sh" >"$work/wine.log" 2>&1 </dev/null
    # Without a window manager on the display, Wine waits 2 s for one each time a dialog is
    # hidden; an unmanaged window is hidden at once, as a window manager would have it.
    "$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    wineserver -p 2>/dev/null || true
fi
bin=$build/bench
raw=$work/raw.txt
: >"$raw"
windows_path() { echo "Z:${1//\//\\}"; }
# Wine's own messages go to a log: the helper processes it starts live on and would hold the
# caller's error output open.
run() { "$WINELOADER" "$@" </dev/null 2>>"$work/wine.log" | tr -d '\r'; }

# Start-up: the programs started by the launcher, in turns, RUNS times each.
startups="startup_printtest minimal_window minimal_window_page_setup"
for program in $startups; do
    run "$bin/launcher.exe" startup "$(windows_path "$bin/$program.exe")" 1 >/dev/null
done
for _ in $(seq "$runs"); do
    for program in $startups; do
        run "$bin/launcher.exe" startup "$(windows_path "$bin/$program.exe")" 1 | sed "s/^/startup $program /" >>"$raw"
    done
done

# Painting, in-process.
# shellcheck disable=SC2086
run "$bin/paint_bench.exe" "$paints" $sizes | sed 's/^/paint /' >>"$raw"

# Printing: each job timed from its start to its completion in the spooler, polled meanwhile.
completed() { lpstat -W completed -o "$1" 2>/dev/null | wc -l; }
wait_completed() {
    local queue=$1 before=$2 deadline=$((SECONDS + 600))
    while [ "$(completed "$queue")" -le "$before" ]; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.01
    done
    date +%s%6N
}
# Kinds: floor (one rectangle), floor_bitmap (one page bitmap), direct and bitmap (the program).
print_job() {
    local dpi=$1 queue=$2 kind=$3 before poller line started app peak free message job spooled image
    before=$(completed "$queue")
    wait_completed "$queue" "$before" >"$work/completed.txt" &
    poller=$!
    if [ "$kind" = floor ] || [ "$kind" = floor_bitmap ]; then
        line=$(run "$bin/minimal_job.exe" "$queue" ${kind#floor_}) || line=""
        read -r started peak _ <<<"$line" || true
        app=- free=- message=-
    else
        line=$(run "$bin/launcher.exe" print "$(windows_path "$build/printtest.exe")" "$queue" "$kind") || line=""
        read -r started app peak free message <<<"$line" || true
    fi
    if [ -z "$line" ] || [ "$message" != - ]; then
        kill "$poller" 2>/dev/null || true; wait "$poller" 2>/dev/null || true
        if [ -z "$line" ]; then echo "print $kind $dpi failed"; else echo "print $kind $dpi message $free $message"; fi >>"$raw"
        return
    fi
    if ! wait "$poller"; then echo "print $kind $dpi failed" >>"$raw"; return; fi
    job=$(lpstat -W completed -o "$queue" | awk '{print $1}' | sed 's/.*-//' | sort -n | tail -n 1)
    spooled=$(stat -c %s "$cups/spool/d$(printf %05d "$job")-001")
    image=$(grep -a -m 1 -A 1 '/Width' "$cups/spool/d$(printf %05d "$job")-001" | tr -dc '0-9 \n' | tr -s ' \n' ' ' |
            awk '{print ($2 ? $1 "x" $2 : "-")}' || true)
    echo "print $kind $dpi $(( $(cat "$work/completed.txt") - started )) $app $peak $spooled ${image:--} $free" >>"$raw"
}
for entry in $queues; do
    for kind in floor direct floor_bitmap bitmap; do print_job "${entry%%:*}" "${entry#*:}" "$kind"; done
done
if [ -n "$limit_queue" ]; then
    print_job "${limit_queue%%:*}" "${limit_queue#*:}" bitmap
fi

# A long session: one run of the program printing SOAK jobs, alternately Direct and Bitmap, on
# the first queue, then 20 Bitmap jobs on the second.
if [ "$soak" -gt 0 ]; then
    first=${queues%% *} rest=${queues#* }
    second=${rest%% *}
    PYTHONPATH=$root/tools /usr/bin/python3 -B "$root/bench/soak.py" "$build/printtest.exe" "$build/tools/uidriver.exe" \
        "$cups" "${first#*:}" "$soak" "${second#*:}" 20 >>"$raw" 2>>"$work/wine.log" ||
        echo "soak failed" >>"$raw"
fi

python3 "$root/bench/report.py" "$raw" "$work"
mkdir -p "$(dirname "$plot")"
gnuplot -e "data='$work/growth.dat'; output='$plot'" "$root/bench/growth.gp"
echo "plot: $plot"
# A job that failed fails the run (and the smoke test); a message box is expected only of the
# Bitmap job at the resolution beyond the limit.
failures=$(grep -E '^(print [a-z_]+ [0-9]+ (failed|message .*)|soak failed)$' "$raw" |
           grep -v "^print bitmap ${limit_queue%%:*} message" || true)
if [ -n "$failures" ]; then
    echo "bench: measured jobs failed:" >&2; echo "$failures" >&2; exit 1
fi
