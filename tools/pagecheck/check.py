"""scripts/check-printer.sh: prints the test page on printers given by their PPDs, in each mode,
paper and orientation asked for, and judges every page; see --help."""
import argparse
import concurrent.futures
import multiprocessing
import os
import queue
import re
import shutil
import signal
import subprocess
import sys
import time

from . import keep, results
from .pictures import difference_picture, page_picture
from .printers import CUPS_RASTER, SERVERBIN, UsageError, find_printer, serverbin_folder
from .printing import Stopwatch, print_page
from .report import HANDED_PICTURE, Row, conclude
from .session import Session
from .spooler import NotPrinted
from .verdict import Check, judge_agreement, judge_driver, judge_page
from .wine import BITMAP_CAPTION, DIRECT_CAPTION, ROOT, Driver, Program, mode_name

MODES = {'direct': DIRECT_CAPTION, 'bitmap': BITMAP_CAPTION}
ORIENTATIONS = {'portrait': ('portrait',), 'landscape': ('landscape',), 'both': ('portrait', 'landscape')}
PAPER_FROM = ('queue', 'setup')
NO_ROOM = 'margins leave no room'
NO_BITMAP = 'Unable to create page bitmap!'
# How long a session may take to stop its display, scheduler and Wine.
STOP_TIMEOUT = 120
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
machine's CUPS scheduler (its PPD is read from the scheduler).

PRINTER may also be a driverless printer's IPP URI (ipp://HOST:PORT/PATH, ipps://...): the check
makes the IPP Everywhere queue CUPS would make for it and measures the PWG raster or PDF it is
sent, as the printer received it when it keeps what it receives in the --received folder, else
as the queue sent it. A PPD whose filters end in a raster driver (Gutenprint, hpcups, rastertohp)
is judged on what the driver wrote, in the printer's own language (PCL 5 and PCL XL through
GhostPCL, PCL 3 GUI, ESC/P 2, Canon raster), and the CUPS raster it was handed is measured
beside it: where the driver moved or cut the border, the report shows both and names the edges.
The driver's output is kept beside the report. The report says which document each page was
measured on, and what was taken from the PPD to place a page whose language places it from the
printer's own printable origin. The report goes to DIR: report.html (each page with the expected border drawn
over it, where the two modes differ, the figures and a verdict per check), report.md and
junit.xml.

With --paper all every page size is printed on; where the margins leave no room on a sheet the
report says what the program did. A printer whose PPD cannot be used, or that fails to be set
up, is a failed row of the report: the others are checked all the same. --jobs checks several
printers at once, --shard one share of them; the run ends with a summary of its printers, pages
and failures, and where each page's time went. results.json holds the same for programs, with
the figures as numbers; --baseline compares the pages with an earlier run's, and --merge writes
the reports of several shards as one.

Exit status: 0 when every check of every page passes, 1 when any fails, a page never reached the
queue or a printer could not be checked, 2 for bad arguments."""


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


def share(text):
    """I and N of --shard I/N."""
    match = re.fullmatch(r'\s*(\d+)\s*/\s*(\d+)\s*', text)
    if not match or not 1 <= int(match.group(1)) <= int(match.group(2)):
        raise UsageError(f'--shard: {text} is not I/N with I from 1 to N')
    return int(match.group(1)), int(match.group(2))


def has_room(sheet, orientation, margins):
    """Whether margins (left, top, right, bottom, in points) leave room for the page on the sheet."""
    left, top, right, bottom = margins
    across, down = sheet[::-1] if orientation == 'landscape' else sheet
    return left + right < across and top + bottom < down


def choose_papers(printer, options):
    """The printer's page sizes to print on, by its PPD's names. The sizes named must leave room
    for the margins; of all sizes, those that do not are printed on to see what the program does."""
    if printer.problem:
        return []
    if options.paper == 'all':
        return list(printer.papers)
    names = [name.strip() for name in options.paper.split(',') if name.strip()] if options.paper else \
        [printer.default_paper]
    if not names:
        raise UsageError('--paper: none given')
    papers = list(dict.fromkeys(printer.find_paper(name) for name in names))
    for paper in papers:
        for orientation in options.orientations:
            if not has_room(printer.sheet(paper), orientation, options.margin_points):
                raise UsageError(f'--margins: they leave no room on {paper} {orientation}')
    return papers


def add_page_arguments(parser):
    """The margins a page is printed with and the tolerance it is judged to."""
    parser.add_argument('--margins', metavar='L,T,R,B', default='1,1,1,1',
                        help='left, top, right and bottom margins, in inches (default 1,1,1,1)')
    parser.add_argument('--mm', action='store_true', help='the margins are in millimetres')
    parser.add_argument('--tolerance', metavar='MM', type=float, default=0.1,
                        help='how far a line may lie from where it belongs, in mm (default 0.1; never less than '
                             '2 printer pixels)')


def page_arguments(options):
    """Checks the margins and tolerance; the margins become their four texts, and margin_points
    the same in points."""
    if not re.fullmatch(r'\s*\d+(\.\d+)?\s*(,\s*\d+(\.\d+)?\s*){3}', options.margins):
        raise UsageError(f'--margins: {options.margins} is not four numbers L,T,R,B')
    options.margins = [text.strip() for text in options.margins.split(',')]
    if not options.tolerance > 0:
        raise UsageError('--tolerance: must be more than 0')
    options.margin_points = [float(text) / (25.4 if options.mm else 1) * 72 for text in options.margins]


def parse(arguments):
    parser = Parser(prog='check-printer.sh', description=DESCRIPTION, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('printers', nargs='*', metavar='PRINTER', help='a PPD file, a CUPS driver PPD or a CUPS queue name')
    parser.add_argument('--paper', metavar='NAME[,NAME...]|all',
                        help="page sizes the PPD offers, by its names or PWG media names (iso_a5_148x210mm), or all "
                             "of them (default: the PPD's default)")
    parser.add_argument('--orientation', choices=ORIENTATIONS, default='portrait', help='default: portrait')
    parser.add_argument('--modes', metavar='direct,bitmap', default='direct,bitmap', help='default: both')
    add_page_arguments(parser)
    parser.add_argument('--jobs', metavar='N', type=int, default=1,
                        help='printers checked at once, each session with its own display, scheduler and Wine prefix '
                             '(default 1)')
    parser.add_argument('--shard', metavar='I/N', default='1/1',
                        help='check only the I-th of N shares of the printers, for a CI matrix (default 1/1)')
    parser.add_argument('--paper-from', choices=PAPER_FROM, default='queue',
                        help="queue: the paper is the queue's default, which the program takes when it starts; "
                             "setup: it is picked in the program's Page Setup, as a user picks it, the queue keeping "
                             "the PPD's default (default: queue)")
    parser.add_argument('--queue-option', metavar='NAME=VALUE', action='append', default=[],
                        help="set on every queue the check makes, as lpadmin's -o sets it (print-scaling-default=fit)")
    parser.add_argument('--received', metavar='DIR',
                        help='where driverless printers keep the documents they receive (ippeveprinter -k -d DIR)')
    parser.add_argument('--cups-serverbin', metavar='DIR', default=SERVERBIN,
                        help='the filters, backends and drivers to print with: a folder laid out as /usr/lib/cups '
                             '(filter/, backend/, driver/, daemon/...), for instance a build of filters or of a '
                             'driver; PPDs of drivers are written out by its driver programs. The scheduler runs '
                             'no program that is not root\'s or is writable by others, and its filters run as lp: '
                             'copy with cp -a as root, under folders others can enter (default /usr/lib/cups)')
    parser.add_argument('--baseline', metavar='DIR',
                        help="compare the pages with those of the run whose report is in DIR (its results.json): "
                             "exit 1 when a verdict changed, a figure moved or a page is new or gone")
    parser.add_argument('--baseline-tolerance', metavar='PX', type=float, default=1.0,
                        help='how far a figure may move before its page has changed, in printer pixels (default 1)')
    parser.add_argument('--merge', metavar='DIR', nargs='+',
                        help='no printing: write one report into --out of the runs (shards) whose reports are in the '
                             'DIRs')
    parser.add_argument('--out', metavar='DIR', default=os.path.join(ROOT, 'build', 'check'),
                        help='where the report goes (default build/check)')
    options = parser.parse_args(arguments)
    options.argv = ['check-printer.sh', *arguments]
    if options.merge:
        if options.printers:
            raise UsageError('--merge: merges the reports of runs, and takes no PRINTER')
        return options
    if not options.printers:
        raise UsageError('the following arguments are required: PRINTER')
    if options.baseline:
        try:
            results.read(options.baseline)
        except results.ResultsError as problem:
            raise UsageError(f'--baseline: {problem}') from None
    if not options.baseline_tolerance >= 0:
        raise UsageError('--baseline-tolerance: must be 0 or more')
    options.modes = listed(options.modes, MODES, '--modes')
    options.orientations = ORIENTATIONS[options.orientation]
    page_arguments(options)
    for option in options.queue_option:
        if not re.fullmatch(r'[\w-]+=\S.*', option):
            raise UsageError(f'--queue-option: {option} is not NAME=VALUE')
    if options.received and not os.path.isdir(options.received):
        raise UsageError(f'--received: {options.received} is no folder')
    if options.jobs < 1:
        raise UsageError(f'--jobs: {options.jobs} is not 1 or more')
    options.cups_serverbin = serverbin_folder(options.cups_serverbin)
    shard, shards = share(options.shard)
    # Shares dealt in turn, so that each holds printers from all over the list; only this share's
    # PPDs are read, as many at once as there are sessions: a driver's PPD takes half a second to
    # write out.
    with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
        options.printers = list(pool.map(lambda argument: find_printer(argument, options.cups_serverbin),
                                         options.printers[shard - 1::shards]))
    options.papers = [choose_papers(printer, options) for printer in options.printers]
    return options


def progress(text):
    print(text, flush=True)


class Counter:
    """The pages of a check, done and to do, counted across its sessions."""

    def __init__(self, total):
        self.done = multiprocessing.Value('i', 0)
        self.total = total

    def next(self):
        with self.done.get_lock():
            self.done.value += 1
            return self.done.value


def step_times(steps):
    return ', '.join(f'{step} {seconds:.2f}' for step, seconds in steps.items())


def judge_no_room(page, caption):
    """What the program did with margins that leave no room on the sheet: it makes no Bitmap page
    and says so; a Direct page is drawn between the lines where the margins fall, mirrored, and
    not measured."""
    if isinstance(page, NotPrinted):
        said = f'nothing printed: {page}'
        return [Check(NO_ROOM, caption == BITMAP_CAPTION and page.message == NO_BITMAP, said)]
    printed = f'printed {page.pages} page(s) of {page.kind}, not measured'
    return [Check(NO_ROOM, caption == DIRECT_CAPTION, printed)]


def collected(printed):
    """What the function print_page returned for a page returns, the function that renders and
    measures it, or the NotPrinted it raises; a NotPrinted stays one."""
    if isinstance(printed, NotPrinted):
        return printed
    try:
        return printed()
    except NotPrinted as failure:
        return failure


def judge_mode(row, mode, printed, room, page_watch, options, counter, greys, picked=None):
    """Takes a printed page's job from the scheduler (printed is the function print_page returned,
    or the NotPrinted in its place), renders, measures and judges it, and makes its picture; for
    a raster driver's page, the picture of the raster it was handed too where the driver did not
    keep its page. picked says how its paper was picked in Page Setup."""
    page_watch.resume()
    printed = collected(printed)
    page = printed if isinstance(printed, NotPrinted) else printed()
    if picked:
        page.measured = '; '.join(filter(None, (getattr(page, 'measured', ''), picked)))
    caption = MODES[mode]
    checks = judge_page(page, caption, options.tolerance) if room else judge_no_room(page, caption)
    if getattr(page, 'driver_output', None):
        kept = row.stem(mode) + '.prn'
        shutil.move(page.driver_output, os.path.join(options.out, kept))
        page.measured += f'; kept as {kept} ({os.path.getsize(os.path.join(options.out, kept)) / 1024:.1f} kB)'
        if room and page.pages is not None and not page.unreadable:
            checks.append(judge_driver(page, options.tolerance))
            if checks[-1].passed is False:
                row.pictures[caption + HANDED_PICTURE] = page_picture(page.handed, options.out,
                                                                      row.stem(mode + '-handed'))[0]
    row.add(caption, page, checks)
    row.pictures[caption], greys[caption] = page_picture(page, options.out, row.stem(mode)) or (None, None)
    page_watch.lap('pictures')
    row.time(page_watch.steps)
    page.steps = page_watch.steps
    progress(f'[{counter.next()}/{counter.total}] {row.printer.name} {row.paper} {row.orientation} '
             f'{mode_name(caption)}: {row.summary(caption)} ({sum(page_watch.steps.values()):.1f} s: '
             f'{step_times(page_watch.steps)})')


def complete_row(row, judged, greys, room, options):
    """Compares the two modes' pages once both are judged, and lets their pixels go."""
    try:
        for page in judged:
            page.result()
        if len(options.modes) == 2 and room:
            started = time.monotonic()
            direct, bitmap = row.pages[DIRECT_CAPTION], row.pages[BITMAP_CAPTION]
            differing = difference_picture(direct, bitmap, (greys[DIRECT_CAPTION], greys[BITMAP_CAPTION]),
                                           options.out, row.stem('difference'))
            row.pictures['difference'] = differing and differing[0]
            row.agreement = judge_agreement(direct, bitmap, options.tolerance, differing and differing[1])
            row.time({'pictures': time.monotonic() - started})
    except Exception as problem:
        row.fail(f'{type(problem).__name__}: {problem}')
    row.release()


def print_row(program, session, background, queue, printer, paper, orientation, options, counter, stopwatch, last):
    """Prints the page in each mode with the margins and orientation set. Each page is judged in
    background while the program prints the next, and the last, when the program prints no more
    (last), is taken from the scheduler there too; returns the row they go to, and the work that
    completes it."""
    picked = None
    if options.paper_from == 'setup':
        title = session.spooler.paper_title(queue, paper)
        program.drive('page-setup', *options.margins, orientation, title)
        picked = f'paper picked in Page Setup as "{title}", the queue\'s default ' \
                 f'{session.spooler.ppd_value(queue, "DefaultPageSize")}'
    else:
        program.drive('page-setup', *options.margins, orientation)
    row = Row(printer, paper, orientation)
    room = has_room(printer.sheet(paper), orientation, options.margin_points)
    greys, judged = {}, []

    def judge(mode, page_watch, printed):
        judged.append(background.submit(judge_mode, row, mode, printed, room, page_watch, options, counter, greys,
                                        picked))

    def take(mode, page_watch, printed):
        # Its job is taken before the program prints again: the queue writes each job over the last.
        taken = collected(printed)
        judge(mode, page_watch, lambda: taken)

    waiting = None
    for mode in options.modes:
        caption = MODES[mode]
        program.set_mode(caption)
        stopwatch.lap('driving')
        if waiting:
            # The last job went through the scheduler's filters while the mode was switched.
            take(*waiting)
        page_watch = Stopwatch()
        try:
            printed = print_page(program, session.spooler, queue, session.temp, None,
                                 options.margins if room else None, options.mm, orientation == 'landscape',
                                 printer.sheet(paper), stopwatch=page_watch,
                                 received=printer.device and options.received, later=True,
                                 media=printer.media(paper, None))
        except NotPrinted as failure:
            printed = failure
        stopwatch.lap('pages')
        waiting = (mode, page_watch, printed)
    (judge if last else take)(*waiting)
    return row, background.submit(complete_row, row, judged, greys, room, options)


def set_up_failed(printer, paper, orientation, problem, options, counter):
    row = Row(printer, paper, orientation)
    row.fail(problem)
    for _ in options.modes if paper else ():
        counter.next()
    where = ' '.join(filter(None, (printer.name, paper, orientation)))
    progress(f'[{counter.done.value}/{counter.total}] {where}: FAIL ({problem})')
    return row


def check_printer(session, background, number, options, counter, driver=None):
    """The rows of one printer: one per paper and orientation, or a failed one for each that could
    not be set up; the time of each step goes to its rows. Returns them with the work that
    completes them, the last of its pages being judged in background. driver gives the session's
    running uidriver, else each program starts its own."""
    printer, papers = options.printers[number], options.papers[number]
    ppd = os.path.join(session.temp, f'{number}.ppd')
    with open(ppd, 'w', encoding='latin-1') as copy:
        # What a raster driver is handed is kept on its way to it.
        copy.write(keep.insert(printer.ppd, CUPS_RASTER, session.temp, str(number), session.serverbin)
                   if printer.driver else printer.ppd)
    rows, completing = [], None
    for paper in papers:
        done = []
        stopwatch = Stopwatch()
        try:
            # The paper is the queue's default, which the program takes when it starts, unless it
            # is picked in Page Setup.
            queue = re.sub(r'\W', '_', f'CHECK{number}_{paper}')[:30]
            session.add_queue(queue, ppd, paper if options.paper_from == 'queue' else None, printer.device,
                              options.queue_option)
            with Program(options.exe, options.uidriver, driver and driver()) as program:
                stopwatch.lap('start')
                for orientation in options.orientations:
                    row, completing = print_row(program, session, background, queue, printer, paper, orientation,
                                                options, counter, stopwatch, orientation == options.orientations[-1])
                    done.append(row)
                program.exit()
                stopwatch.lap('start')
        except Exception as problem:
            done += [set_up_failed(printer, paper, orientation, f'{type(problem).__name__}: {problem}', options,
                                   counter) for orientation in options.orientations[len(done):]]
        # Pages have their own times; the paper's steps around them go to its first row.
        done[0].time({step: seconds for step, seconds in stopwatch.steps.items() if step != 'pages'})
        rows += done
    return rows, completing


def run_session(slot, options, tasks, results, counter):
    """One session checking the printers it takes from tasks until it takes None; tells results
    when it is ready, which printer it starts and the rows it made, or why it could not go on.
    A printer's rows are told once its last page is judged, while the next printer prints."""
    def tell(number, rows, completing):
        if completing:
            completing.result()
        results.put(('rows', number, (rows, time.monotonic())))

    drivers = []

    def driver():
        """The session's uidriver, one for all its programs; a new one once the last was closed."""
        if not drivers or not drivers[-1].running():
            drivers.append(Driver(options.uidriver))
        return drivers[-1]

    try:
        with Session(options.build, options.mm, slot, options.cups_serverbin) as session, \
                concurrent.futures.ThreadPoolExecutor(1) as background:
            results.put(('ready', slot, time.monotonic()))
            waiting = None
            try:
                for number in iter(tasks.get, None):
                    results.put(('started', slot, number))
                    checked = (number, *check_printer(session, background, number, options, counter, driver))
                    if waiting:
                        tell(*waiting)
                    waiting = checked
            finally:
                for started in drivers:
                    started.close()
            if waiting:
                tell(*waiting)
    except Exception as problem:
        results.put(('broken', slot, f'{type(problem).__name__}: {problem}'))


def run_sessions(options, counter):
    """The rows of every printer, checked by options.jobs sessions at once (in this process when
    one); when, from the start, the first session was ready and the last rows made."""
    context = multiprocessing.get_context('fork')
    tasks, results = (context.Queue(), context.Queue()) if options.jobs > 1 else (queue.Queue(), queue.Queue())
    # A printer that cannot be used needs no session.
    rows = {number: [set_up_failed(printer, None, None, f'cannot be used: {printer.problem}', options, counter)]
            for number, printer in enumerate(options.printers) if printer.problem}
    usable = [number for number in range(len(options.printers)) if number not in rows]
    for number in usable:
        tasks.put(number)
    sessions = min(options.jobs, len(usable))
    for _ in range(sessions):
        tasks.put(None)
    started = time.monotonic()
    workers = []
    if options.jobs > 1:
        workers = [context.Process(target=run_session, args=(slot, options, tasks, results, counter))
                   for slot in range(1, sessions + 1)]
        for worker in workers:
            worker.start()
    elif usable:
        run_session(1, options, tasks, results, counter)
    started_rows, broken, ready, done = set(), 'it stopped', None, 0.0
    stopping = 0
    try:
        while len(rows) < len(options.printers):
            try:
                kind, key, value = results.get(timeout=1)
            except queue.Empty:
                if any(worker.is_alive() for worker in workers):
                    continue
                break
            if kind == 'ready':
                # From the first session ready: a session still making its Wine prefix while the
                # others print would otherwise have their pages counted in less time than they took.
                ready = min(ready, value - started) if ready is not None else value - started
            elif kind == 'started':
                started_rows.add(value)
            elif kind == 'rows':
                rows[key], made = value
                done = max(done, made - started)
            else:
                broken = value
        # Each session stops what it started once it has no printer left.
        stopping = STOP_TIMEOUT
    finally:
        for worker in workers:
            worker.join(stopping)
            if worker.is_alive():
                worker.terminate()
                worker.join()
    for number, printer in enumerate(options.printers):
        if number not in rows:
            lost = f'its session ended: {broken}' if number in started_rows else f'no session to check it: {broken}'
            rows[number] = [set_up_failed(printer, None, None, lost, options, counter)]
    return [row for number in sorted(rows) for row in rows[number]], ready or 0.0, done


def check(options, build):
    options.build = build
    options.exe = os.path.join(build, 'printtest.exe')
    options.uidriver = os.path.join(build, 'tools', 'uidriver.exe')
    os.makedirs(options.out, exist_ok=True)
    counter = Counter(sum(len(papers) for papers in options.papers) * len(options.orientations) * len(options.modes))
    rows, set_up, done = run_sessions(options, counter)
    pages = sum(len(row.pages) for row in rows)
    progress(f'{pages} pages measured in {done - set_up:.0f} s once set up ({set_up:.0f} s): '
             f'{pages / max(done - set_up, 1e-9) * 60:.1f} pages per minute')
    return results.conclude(rows, options, progress, conclude(rows, options, progress))


def main(arguments):
    # Stopped from outside, it still stops what it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    try:
        options = parse(arguments)
    except UsageError as problem:
        print(f'check-printer.sh: {problem}\nTry check-printer.sh --help.', file=sys.stderr)
        return 2
    if options.merge:
        return results.merge(options.merge, options.out, progress)
    build = os.environ.get('PRINTTEST_BUILD')
    if not build:
        # Built only once the arguments are known to be good, and only what a check runs.
        built = subprocess.run([os.path.join(ROOT, 'scripts', 'build.sh'), os.environ['PRINTTEST_CHECK_ARCH'],
                                os.path.join(ROOT, 'build'), 'printtest', 'uidriver'], capture_output=True, text=True)
        if built.returncode != 0:
            print(built.stdout + built.stderr, file=sys.stderr)
            return 2
        build = os.path.join(ROOT, 'build', os.environ['PRINTTEST_CHECK_DIR'])
        progress(f'The {"32" if os.environ["PRINTTEST_CHECK_ARCH"] == "x86" else "64"}-bit program prints: '
                 f'{os.path.join(build, "printtest.exe")}')
    return check(options, build)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
