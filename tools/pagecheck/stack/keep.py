"""A copy of what a queue hands on at one point of its filters, kept on the private scheduler: what
a driverless queue sends its printer, or the CUPS raster a raster driver is handed. A small filter
put there writes the document and its job's title into the scheduler's out folder and passes the
document on unchanged."""
import os
import re

from .serverbin import filter_path
from ..core.setup import SERVERBIN

# $3 is the job's title; $6, when given, the document, else it comes on standard input. The
# scheduler gives each filter its queue's name and its own folder, and the name as argv[0]
# (cups scheduler/job.c:901), which a driver may ask the scheduler for its PPD by: bash's exec -a
# hands it on so.
FILTER = """#!/bin/bash
printf '%s' "$3" >"$CUPS_SERVERROOT/out/$PRINTER.title"
cat "${6:--}" | tee "$CUPS_SERVERROOT/out/$PRINTER.copy"{then}
"""
# A PPD's filter line: source type, cost, program.
FILTER_LINE = re.compile(r'^(\*cupsFilter2?:\s*"\s*(\S+)\s.*?)(\S+)(\s*")', re.M)


def write_filter(path, program=None):
    """Writes the keeping filter to path, handing on to program when given (with the arguments a
    filter takes, the document on its standard input)."""
    then = f' | (exec -a "$PRINTER" {program} "$1" "$2" "$3" "$4" "$5")' if program else ''
    with open(path, 'w') as script:
        script.write(FILTER.replace('{then}', then))
    # The scheduler runs only filters no one but root can change.
    os.chmod(path, 0o755)


def insert(ppd, source, folder, name, serverbin=SERVERBIN):
    """The PPD text with a keeping filter in place of the program of each filter line from the
    source type (None for every line whose program is '-', the ones that hand the document on as
    it is), handing on to the program, found in serverbin; the filters are written into folder,
    named after name."""
    count = 0

    def replace(line):
        nonlocal count
        program = line.group(3)
        if (source is None and program != '-') or (source is not None and line.group(2) != source):
            return line.group(0)
        count += 1
        path = os.path.join(folder, f'keep-{name}-{count}')
        write_filter(path, None if program == '-' else filter_path(program, serverbin))
        return line.group(1) + path + line.group(4)

    return FILTER_LINE.sub(replace, ppd)


def copy_path(spooler, queue):
    return os.path.join(spooler.cups, 'out', queue + '.copy')


def title_path(spooler, queue):
    return os.path.join(spooler.cups, 'out', queue + '.title')


def title(spooler, queue):
    """The title the kept copy's job was handed on with, or None."""
    try:
        with open(title_path(spooler, queue), encoding='utf-8', errors='replace') as text:
            return text.read()
    except FileNotFoundError:
        return None


def clear(spooler, queue):
    for path in (copy_path(spooler, queue), title_path(spooler, queue)):
        if os.path.exists(path):
            os.remove(path)
