# A private CUPS scheduler in a folder of its own, reached through a socket in that folder.
# Sourced by the scripts that need one; every function takes the folder first.

# cups_start DIR [SERVERBIN]: SERVERBIN holds the filters, backends and drivers (default /usr/lib/cups).
cups_start() {
    local dir=$1 serverbin=${2:-/usr/lib/cups}
    cups_stop "$dir"
    rm -rf "$dir"
    mkdir -p "$dir"/{spool,cache,state,tmp,log,ppd,out}
    chmod 1777 "$dir/tmp" "$dir/out"
    cat >"$dir/cupsd.conf" <<CONF
Listen $dir/cups.sock
WebInterface No
Browsing No
LogLevel warn
MaxJobs 0
PreserveJobHistory Yes
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
CONF
    cat >"$dir/cups-files.conf" <<CONF
FileDevice Yes
ServerRoot $dir
RequestRoot $dir/spool
CacheDir $dir/cache
StateDir $dir/state
TempDir $dir/tmp
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
ServerBin $serverbin
DataDir /usr/share/cups
CONF
    setsid cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" >"$dir/log/cupsd.out" 2>&1 &
    echo $! >"$dir/cupsd.pid"
    for _ in $(seq 100); do
        CUPS_SERVER=$dir/cups.sock lpstat -r 2>/dev/null | grep -q 'is running' && return 0
        sleep 0.1
    done
    echo "cupsd did not start in $dir" >&2
    return 1
}

# cups_add_queue DIR NAME DPI [default]: a queue writing PostScript to DIR/out/NAME.ps.
cups_add_queue() {
    local dir=$1 name=$2 dpi=$3 ppd
    ppd=$dir/ppd/generic-$dpi.ppd
    if [ ! -f "$ppd" ]; then
        ppdc_out=$(mktemp -d)
        ppdc -d "$ppdc_out" /usr/share/cups/drv/sample.drv >/dev/null 2>&1
        # The generic PPD names no resolution; the driver then assumes 300 dpi.
        sed "1a *DefaultResolution: ${dpi}dpi" "$ppdc_out/generic.ppd" >"$ppd"
        rm -rf "$ppdc_out"
    fi
    CUPS_SERVER=$dir/cups.sock lpadmin -p "$name" -E -v "file://$dir/out/$name.ps" -P "$ppd" 2>/dev/null
    if [ "${4:-}" = default ]; then CUPS_SERVER=$dir/cups.sock lpadmin -d "$name"; fi
}

cups_stop() {
    local dir=$1
    if [ -f "$dir/cupsd.pid" ]; then
        kill "$(cat "$dir/cupsd.pid")" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$(cat "$dir/cupsd.pid")" 2>/dev/null || break; sleep 0.1; done
        rm -f "$dir/cupsd.pid"
    fi
}
