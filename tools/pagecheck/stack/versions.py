"""What made a run, for results.json: its command line, when and where it ran, and the versions of
the program, Wine, Ghostscript, GhostPCL and the Debian packages of the printing stack it printed
with."""
import datetime
import os
import platform
import re
import socket
import subprocess

from ..core.project import ROOT, project_version
from ..readers import ghostpcl, ghostscript

PACKAGES = ('cups', 'cups-filters')
DRIVER_PACKAGES = ('printer-driver-gutenprint', 'printer-driver-hpcups', 'openprinting-ppds')


def output(*command):
    """What a command prints, stripped, or None where it cannot be run or fails."""
    try:
        done = subprocess.run(command, capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return None
    return done.stdout.strip() if done.returncode == 0 else None


def driver_sources(rows, arguments, serverbin):
    """The files the printers' PPDs and raster drivers come from, for dpkg to name their packages."""
    paths = {os.path.join(serverbin, 'filter', row.printer.driver) for row in rows
             if getattr(row.printer, 'driver', None)}
    for argument in arguments:
        if argument.startswith('drv:///'):
            paths.add(os.path.join('/usr/share/cups/drv', argument[len('drv:///'):].split('/')[0]))
        elif re.match(r'[\w-]+:\d', argument):
            paths.add(os.path.join(serverbin, 'driver', argument.split(':')[0]))
        elif os.path.isfile(argument):
            paths.add(os.path.abspath(argument))
    return sorted(paths)


def package_versions(rows, arguments, serverbin):
    """The Debian package versions of CUPS, cups-filters and the driver packages the printers use."""
    owners = output('dpkg-query', '-S', *driver_sources(rows, arguments, serverbin)) or ''
    used = {name for line in owners.splitlines() for name in line.split(':')[0].split(', ')}
    names = PACKAGES + tuple(name for name in DRIVER_PACKAGES if name in used)
    listed = output('dpkg-query', '-W', '-f', '${Package} ${Version}\n', *names) or ''
    versions = dict(line.split(' ', 1) for line in listed.splitlines() if ' ' in line)
    return {name: versions.get(name) for name in names}


def run_record(rows, run):
    """What made the run of rows: its command line, when, where, with which versions, and its
    options."""
    loader = os.environ.get('WINELOADER')
    return {
        'argv': list(run.argv),
        'date': datetime.datetime.now(datetime.timezone.utc).isoformat(timespec='seconds'),
        'machine': {'host': socket.gethostname(), 'kernel': platform.release(), 'processors': os.cpu_count()},
        'versions': {
            'printtest': project_version(),
            'git': output('git', '-C', ROOT, 'describe', '--always', '--dirty'),
            'wine': loader and output(loader, '--version'),
            'ghostscript': ghostscript.version(),
            'ghostpcl': ghostpcl.built_version(),
            'packages': package_versions(rows, list(run.argv)[1:], run.serverbin),
        },
        'cups_serverbin': run.serverbin,
        'shard': re.sub(r'\s', '', run.shard),
        'margins': list(run.margins.texts),
        'unit': run.margins.unit,
        'tolerance_mm': run.tolerance,
    }
