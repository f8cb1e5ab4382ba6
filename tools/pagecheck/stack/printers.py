"""The printers a check is asked for: a PPD file, a PPD of an installed CUPS driver named as
`lpinfo -m` lists it (openprinting-ppds:0/ppd/openprinting/MAKER/FILE.ppd,
drv:///hpcups.drv/hp-deskjet_5550.ppd), a driverless printer's IPP URI, or a queue of the
machine's own CUPS scheduler whose PPD its server hands out, read through libcups. An argument
that names no printer is a UsageError, found before anything is started; a printer whose PPD
cannot be used says why in its problem."""
import os
import re
import subprocess
import tempfile

import cups

from . import ipp, ppd as ppds
from .libcups import NEAR, PPDSizes, pwg_media, pwg_units
from .serverbin import driverd, filter_path
from ..core.errors import UsageError
from ..core.setup import SERVERBIN
from ..readers.base import Media
from ..readers.registry import PPD_KEYWORDS

# What a raster driver is handed.
CUPS_RASTER = 'application/vnd.cups-raster'


class Printer:
    """name is what the report calls it; ppd the PPD's text; papers the page sizes it offers, in
    the PPD's order, with their (width, height) in points, and areas their imageable areas (left,
    bottom, right, top from the sheet's lower left, in points). A printer that cannot be used has a
    problem, which says why, and no papers. device is a driverless printer's IPP URI; driver the
    raster driver its filters end in, if any; resolution and turn the PPD's default resolution
    and LandscapeOrientation, if it gives them; attributes the values of the PPD keywords readers
    take from the model; options each option's choices; source the PPD, driver or queue as it was
    given. The PPD's filters are looked up in serverbin."""

    def __init__(self, name, path, serverbin=SERVERBIN):
        self.name = name
        self.model = name
        self.default_paper = None
        self.papers = {}
        self.areas = {}
        self.problem = None
        self.device = None
        self.driver = None
        self.source = path
        self.resolution = None
        self.turn = None
        self.attributes = {}
        self.options = {}
        with open(path, encoding='latin-1') as ppd:
            self.ppd = ppd.read()
        try:
            self.read(path, serverbin)
        except UsageError as problem:
            self.problem = str(problem)
            self.papers = {}

    def read(self, path, serverbin):
        # libcups reads it as the scheduler will: *Include followed, the last of a keyword's
        # defaults taken, cupsFilter2 lines in place of cupsFilter ones.
        with PPDSizes(path) as sizes:
            if sizes.error:
                raise UsageError(f'{self.name}: not a PPD file libcups can read: {sizes.error}')
            ppd = ppds.open_ppd(path)
            self.model = ppds.value(ppd, 'ModelName') or self.name
            self.resolution = ppds.value(ppd, 'DefaultResolution')
            self.turn = ppds.value(ppd, 'LandscapeOrientation')
            self.attributes = {keyword: ppds.value(ppd, keyword) for keyword in PPD_KEYWORDS}
            self.options = ppds.option_choices(ppd)
            page_size = ppd.findOption('PageSize')
            for choice in page_size.choices if page_size else []:
                size = sizes.size(choice['choice'])
                if size:
                    self.papers[choice['choice']] = size[:2]
                    self.areas[choice['choice']] = size[2:]
        if not self.papers:
            raise UsageError(f'{self.name}: its PPD offers no page size')
        self.default_paper = page_size.defchoice if page_size.defchoice in self.papers else next(iter(self.papers))
        for filter_line in ppds.filters(ppd):
            program = filter_line.split()[-1]
            where = 'installed' if serverbin == SERVERBIN else f'in {serverbin}/filter'
            if program != '-' and not os.access(filter_path(program, serverbin), os.X_OK):
                raise UsageError(f'{self.name}: its PPD needs the filter {program}, which is not {where}')
            if filter_line.split()[0] == CUPS_RASTER:
                self.driver = program

    def sheet(self, paper):
        if paper not in self.papers:
            raise UsageError(f'{self.name}: no paper {paper}; it offers {", ".join(sorted(self.papers))}')
        return self.papers[paper]

    def media(self, paper, dpi):
        """What the model tells a reader of its own language about paper, printed at dpi: the
        sheet, the printable area's top left corner on it (from the top), and the PPD's values the
        readers take."""
        width, height = self.sheet(paper)
        left, _, _, top = self.areas[paper]
        found = re.search(rf'^\*PageSize\s+{re.escape(paper)}(?:/[^:\n]*)?:\s*"([^"]*)"', self.ppd, re.M)
        return Media((width, height), (left, height - top), dpi, self.attributes, found and found.group(1))

    def find_paper(self, name):
        """The page size offered under name, or the one a PWG media name (iso_a5_148x210mm) stands
        for: of the sizes within 5 points of it, as libcups matches them, the usual PPD name, else
        the nearest."""
        if name in self.papers:
            return name
        media = pwg_media(name)
        if not media:
            raise UsageError(f'--paper for {self.name}: {name} is not one of {", ".join(self.papers)}, '
                             f'nor a PWG media name')
        width, length, usual = media
        near = {paper: abs(pwg_units(across) - width) + abs(pwg_units(down) - length)
                for paper, (across, down) in self.papers.items()
                if abs(pwg_units(across) - width) < NEAR and abs(pwg_units(down) - length) < NEAR}
        if not near:
            raise UsageError(f'--paper for {self.name}: {name}, {width / 100:g} x {length / 100:g} mm, '
                             f'is none of its page sizes')
        return usual if usual in near else min(near, key=near.get)


def queue_printer(queue, serverbin=SERVERBIN):
    """The printer of a queue of the scheduler the CUPS client tools talk to, with the PPD it
    hands out."""
    try:
        connection = cups.Connection()
    except RuntimeError as problem:
        raise UsageError(f'{queue}: no such PPD file, and no CUPS scheduler to ask for a queue: {problem}') from None
    if queue not in connection.getPrinters():
        raise UsageError(f'{queue}: no such PPD file, nor a queue of this machine\'s CUPS scheduler')
    try:
        path = connection.getPPD(queue)
    except cups.HTTPError:
        raise UsageError(f'{queue}: the scheduler has no PPD for this queue (a driverless or raw queue)') from None
    try:
        return Printer(queue, path, serverbin)
    finally:
        os.remove(path)


def driver_printer(uri, name, serverbin=SERVERBIN):
    """The printer of a PPD of a CUPS driver of serverbin, as the scheduler writes it out."""
    written = subprocess.run([driverd(serverbin), 'cat', uri], capture_output=True, stdin=subprocess.DEVNULL,
                             env=dict(os.environ, CUPS_SERVERBIN=serverbin))
    if written.returncode != 0 or not written.stdout.startswith(b'*PPD-Adobe'):
        drivers = 'an installed CUPS driver' if serverbin == SERVERBIN else f'a CUPS driver in {serverbin}/driver'
        raise UsageError(f'{uri}: no such PPD file, nor a PPD of {drivers}')
    with tempfile.NamedTemporaryFile(suffix='.ppd') as ppd:
        ppd.write(written.stdout)
        ppd.flush()
        return Printer(name, ppd.name, serverbin)


def driverless_printer(uri, serverbin=SERVERBIN):
    """The driverless printer at uri, with the PPD serverbin's driverless program makes from its
    answers."""
    with tempfile.NamedTemporaryFile(suffix='.ppd') as ppd:
        ppd.write(ipp.driverless_ppd(uri, serverbin))
        ppd.flush()
        printer = Printer(uri, ppd.name, serverbin)
    printer.device = uri
    return printer


def find_printer(argument, serverbin=SERVERBIN):
    """The printer argument names, with the filters and drivers of serverbin; its source is the
    argument."""
    printer = named_printer(argument, serverbin)
    printer.source = argument
    return printer


def named_printer(argument, serverbin):
    name = os.path.splitext(os.path.basename(argument))[0]
    if os.path.isfile(argument):
        return Printer(name, argument, serverbin)
    if ipp.is_uri(argument):
        return driverless_printer(argument, serverbin)
    if re.match(r'[\w.-]+:', argument) or '/' in argument or argument.lower().endswith('.ppd'):
        # A driver program's URI names its model before the kind of PPD (gutenprint.5.3://hp-lj_4000/expert).
        if not re.search(r'\.ppd(\.gz)?$', argument):
            name = re.sub(r'^[\w.-]+:/*', '', argument).replace('/', '-')
        return driver_printer(argument, name, serverbin)
    return queue_printer(argument, serverbin)
