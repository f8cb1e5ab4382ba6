"""scripts/check-printer.sh: prints the test page on printers given by their PPDs, in each mode,
paper and orientation asked for, and judges every page; see --help."""
import argparse
import os
import re
import signal
import subprocess
import sys
import time

from .pictures import difference_picture, page_picture
from .printers import UsageError, find_printer
from .printing import print_page
from .report import Row, write_reports
from .session import Session
from .spooler import NotPrinted
from .verdict import judge_agreement, judge_page
from .wine import BITMAP_CAPTION, DIRECT_CAPTION, ROOT, Program, mode_name

MODES = {'direct': DIRECT_CAPTION, 'bitmap': BITMAP_CAPTION}
ORIENTATIONS = {'portrait': ('portrait',), 'landscape': ('landscape',), 'both': ('portrait', 'landscape')}
DESCRIPTION = """Prints the program's test page on each PRINTER with the real printtest.exe under Wine,
driven as a user would (the mode chosen from the File menu, the margins and orientation typed into
Page Setup, the printer confirmed in the Print dialog), through a private CUPS scheduler whose
file-backed queue uses the printer's PPD: nothing is printed on paper and the system's CUPS is
never changed. What the queue receives is rendered with Ghostscript at the printer's resolution
and measured: one page, titled with the mode; the border's outer edges at the margins on the
physical sheet; border lines 1/16 inch wide; diagonals joining the border's corners; the ellipse
across the middle half; the 48-point text line centred; Direct and Bitmap pages alike.

PRINTER is a PPD file, a PPD of an installed CUPS driver as `lpinfo -m` names it (for instance
openprinting-ppds:0/ppd/openprinting/Brother/BR2600CN_GPL.ppd), or the name of a queue of this
machine's CUPS scheduler (its PPD is read from the scheduler). The report goes to DIR: report.html (each page with the expected border drawn
over it, where the two modes differ, the figures and a verdict per check), report.md and
junit.xml.

Exit status: 0 when every check of every page passes, 1 when any fails or a page never reached the
queue, 2 for bad arguments or a printer that cannot be used."""


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError(message)


def listed(text, allowed, what):
    names = [name.strip() for name in text.split(',') if name.strip()]
    for name in names:
        if name not in allowed:
            raise UsageError(f'{what}: {name} is not one of {", ".join(allowed)}')
    if not names:
        raise UsageError(f'{what}: none given')
    return list(dict.fromkeys(names))


def parse(arguments):
    parser = Parser(prog='check-printer.sh', description=DESCRIPTION, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('printers', nargs='+', metavar='PRINTER', help='a PPD file, a CUPS driver PPD or a CUPS queue name')
    parser.add_argument('--paper', metavar='NAME[,NAME...]', help="page sizes the PPD offers (default: the PPD's default)")
    parser.add_argument('--orientation', choices=ORIENTATIONS, default='portrait', help='default: portrait')
    parser.add_argument('--margins', metavar='L,T,R,B', default='1,1,1,1',
                        help='left, top, right and bottom margins, in inches (default 1,1,1,1)')
    parser.add_argument('--mm', action='store_true', help='the margins are in millimetres')
    parser.add_argument('--modes', metavar='direct,bitmap', default='direct,bitmap', help='default: both')
    parser.add_argument('--tolerance', metavar='MM', type=float, default=0.1,
                        help='how far a line may lie from where it belongs, in mm (default 0.1; never less than '
                             '2 printer pixels)')
    parser.add_argument('--out', metavar='DIR', default=os.path.join(ROOT, 'build', 'check'),
                        help='where the report goes (default build/check)')
    options = parser.parse_args(arguments)
    options.modes = listed(options.modes, MODES, '--modes')
    options.orientations = ORIENTATIONS[options.orientation]
    if not re.fullmatch(r'\s*\d+(\.\d+)?\s*(,\s*\d+(\.\d+)?\s*){3}', options.margins):
        raise UsageError(f'--margins: {options.margins} is not four numbers L,T,R,B')
    options.margins = [text.strip() for text in options.margins.split(',')]
    if not options.tolerance > 0:
        raise UsageError('--tolerance: must be more than 0')
    options.printers = [find_printer(argument) for argument in options.printers]
    per_inch = 25.4 if options.mm else 1
    left, top, right, bottom = (float(text) / per_inch * 72 for text in options.margins)
    options.papers = {}
    for printer in options.printers:
        papers = listed(options.paper, printer.papers, f'--paper for {printer.name}') if options.paper else \
            [printer.default_paper]
        for paper in papers:
            width, height = printer.sheet(paper)
            for orientation in options.orientations:
                across, down = (height, width) if orientation == 'landscape' else (width, height)
                if left + right >= across or top + bottom >= down:
                    raise UsageError(f'--margins: they leave no room on {paper} {orientation}')
        options.papers[printer.name] = papers
    return options


def progress(text):
    print(text, flush=True)


class Counter:
    def __init__(self, total):
        self.done = 0
        self.total = total


def print_row(program, session, queue, printer, paper, orientation, options, counter):
    """Prints the page in each mode with the margins and orientation set, and judges it."""
    program.drive('page-setup', *options.margins, orientation)
    row = Row(printer, paper, orientation)
    for mode in options.modes:
        caption = MODES[mode]
        program.set_mode(caption)
        started = time.monotonic()
        try:
            page = print_page(program, session.spooler, queue, session.temp, None, options.margins, options.mm,
                              orientation == 'landscape', printer.sheet(paper))
        except NotPrinted as failure:
            page = failure
        row.add(caption, page, judge_page(page, caption, options.tolerance))
        row.pictures[caption] = page_picture(page, options.out, row.stem(mode))
        counter.done += 1
        progress(f'[{counter.done}/{counter.total}] {printer.name} {paper} {orientation} {mode_name(caption)}: '
                 f'{row.summary(caption)} ({time.monotonic() - started:.1f} s)')
    if len(options.modes) == 2:
        direct, bitmap = row.pages[DIRECT_CAPTION], row.pages[BITMAP_CAPTION]
        differing = difference_picture(direct, bitmap, options.out, row.stem('difference'))
        row.pictures['difference'] = differing and differing[0]
        row.agreement = judge_agreement(direct, bitmap, options.tolerance, differing and differing[1])
    row.release()
    return row


def check(options, build):
    exe = os.path.join(build, 'printtest.exe')
    uidriver = os.path.join(build, 'tools', 'uidriver.exe')
    os.makedirs(options.out, exist_ok=True)
    rows = []
    counter = Counter(sum(len(options.papers[printer.name]) for printer in options.printers) *
                      len(options.orientations) * len(options.modes))
    started = time.monotonic()
    with Session(build, options.mm) as session:
        set_up = time.monotonic() - started
        for number, printer in enumerate(options.printers, 1):
            ppd = os.path.join(session.temp, f'{number}.ppd')
            with open(ppd, 'w', encoding='latin-1') as copy:
                copy.write(printer.ppd)
            for paper in options.papers[printer.name]:
                # The paper is the queue's default, which the program takes when it starts.
                queue = re.sub(r'\W', '_', f'CHECK{number}_{paper}')[:30]
                session.add_queue(queue, ppd, paper)
                with Program(exe, uidriver) as program:
                    rows += [print_row(program, session, queue, printer, paper, orientation, options, counter)
                             for orientation in options.orientations]
                    program.exit()
    elapsed = time.monotonic() - started
    progress(f'{counter.done} pages measured in {elapsed:.0f} s ({set_up:.0f} s of it setting up): '
             f'{counter.done / (elapsed - set_up) * 60:.1f} pages per minute')
    passed = write_reports(rows, options, options.out)
    progress(f'{"PASS" if passed else "FAIL"}: {os.path.join(options.out, "report.html")}')
    return 0 if passed else 1


def main(arguments):
    # Stopped from outside, it still stops what it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    try:
        options = parse(arguments)
    except UsageError as problem:
        print(f'check-printer.sh: {problem}\nTry check-printer.sh --help.', file=sys.stderr)
        return 2
    build = os.environ.get('PRINTTEST_BUILD')
    if not build:
        # Built only once the arguments are known to be good, and only what a check runs.
        built = subprocess.run([os.path.join(ROOT, 'scripts', 'build.sh'), os.path.join(ROOT, 'build'), 'printtest',
                                'uidriver'], capture_output=True, text=True)
        if built.returncode != 0:
            print(built.stdout + built.stderr, file=sys.stderr)
            return 2
        build = os.path.join(ROOT, 'build', 'win')
    return check(options, build)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
