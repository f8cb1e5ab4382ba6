"""scripts/check-printer.sh: prints the test page on printers given by their PPDs, in each mode,
paper and orientation asked for, and judges every page; see --help."""
import argparse
import concurrent.futures
import itertools
import multiprocessing
import os
import queue
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass, field, replace

from ..core.arguments import Parser, add_page_arguments, page_arguments
from ..core.errors import NotPrinted, UsageError
from ..core.modes import BITMAP_CAPTION, CAPTIONS, DIRECT_CAPTION, mode_name
from ..core.project import ROOT
from ..core.setup import ORIENTATIONS, SERVERBIN, PageSetup, Run
from ..core.stopwatch import Stopwatch
from ..measure.checks import Check, judge_agreement, judge_driver, judge_page, moved_edges
from ..report import results
from ..report.closeups import closeups
from ..report.pictures import difference_picture, page_picture
from ..report.rows import HANDED_PICTURE, Row
from ..report.summary import report_run
from ..stack import keep
from ..stack.jobs import PrintQueue, Received, SentJob, collect, measure_received, send
from ..stack.printers import CUPS_RASTER, find_printer
from ..stack.program import Drivers, Program
from ..stack.serverbin import serverbin_folder
from ..stack.session import Session
from ..stack.versions import run_record

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
as the queue sent it. A PPD whose filters end in a raster driver (Gutenprint, hpcups, rastertohp,
epson-escpr, splix, brlaser, c2esp) is judged on what the driver wrote, in the printer's own
language (PCL 5 and PCL XL through GhostPCL, PCL 3 GUI, ESC/P 2, Canon raster, ESC/P-R, LIDIL,
QPDL, Brother laser raster, Kodak ESP raster), and the CUPS raster it was handed is measured
beside it: where the driver moved or cut the border, the report shows both and names the edges.
The driver's output is kept beside the report. The report says which document each page was
measured on, and what was taken from the PPD to place a page whose language places it from the
printer's own printable origin. The report goes to DIR: report.html (each page with the expected border drawn
over it, where the two modes differ, the figures and a verdict per check), report.md and
junit.xml.

With --paper all every page size is printed on; where the margins leave no room on a sheet the
report says what the program did. --option sets a PPD option on the queue, as a user picks it
(Resolution=1200dpi), or prints with each of its values in turn (Resolution=all): each value is a
row of its own, named with it; a printer whose PPD lacks the option or the value is not set up. A
printer whose PPD cannot be used, or that fails to be set up, is a failed row of the report: the
others are checked all the same. --jobs checks several printers at once, --shard one share of
them; the run ends with a summary of its printers, pages and failures, and where each page's time
went. results.json holds the same for programs, with the figures as numbers; --baseline compares
the pages with an earlier run's, and --merge writes the reports of several shards as one.

Exit status: 0 when every check of every page passes, 1 when any fails, a page never reached the
queue or a printer could not be checked, 2 for bad arguments."""

ORIENTATION_CHOICES = {'portrait': ('portrait',), 'landscape': ('landscape',), 'both': ORIENTATIONS}
PAPER_FROM = ('queue', 'setup')
NO_ROOM = 'margins leave no room'
NO_BITMAP = 'Unable to create page bitmap!'
# How long a session may take to stop its display, scheduler and Wine.
STOP_TIMEOUT = 120


@dataclass
class Checking:
    """A check, as its command line asks for it: the run's Run; the printers and each one's papers
    (by its PPD's names); the modes and orientations; where the paper comes from ('queue': the
    queue's default; 'setup': picked in Page Setup); lpadmin's -o settings for every queue; where
    driverless printers keep what they receive; how many sessions run at once; the build whose
    program prints; and each printer's settings of PPD options, each {option: choice} a row of
    its own."""
    run: Run
    printers: list
    papers: list
    modes: list
    orientations: tuple
    paper_from: str = 'queue'
    queue_options: list = field(default_factory=list)
    received: str = None
    jobs: int = 1
    build: str = None
    settings: list = None

    def settings_of(self, number):
        return self.settings[number] if self.settings else [{}]

    @property
    def exe(self):
        return os.path.join(self.build, 'printtest.exe')

    @property
    def uidriver(self):
        return os.path.join(self.build, 'tools', 'uidriver.exe')


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


def choose_papers(printer, options, margins):
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
        for orientation in ORIENTATION_CHOICES[options.orientation]:
            if not PageSetup(paper, printer.sheet(paper), margins, orientation).has_room():
                raise UsageError(f'--margins: they leave no room on {paper} {orientation}')
    return papers


def option_settings(printer, asked):
    """The settings of PPD options a printer is printed with, as --option asks (NAME=VALUE or
    NAME=all, every value of the PPD's in turn): one {option: choice} for each combination. Where
    the PPD lacks an option or value, the printer's problem says so and it has none."""
    if printer.problem:
        return [{}]
    choices = []
    for name, value in asked:
        offered = printer.options.get(name)
        if offered is None:
            printer.problem = f'--option {name}: its PPD has no option {name}'
        elif value != 'all' and value not in offered:
            printer.problem = f'--option {name}={value}: its PPD offers {", ".join(offered)}'
        else:
            choices.append([(name, choice) for choice in (offered if value == 'all' else [value])])
    return [] if printer.problem else [dict(combination) for combination in itertools.product(*choices)]


def parser():
    made = Parser(prog='check-printer.sh', description=DESCRIPTION, formatter_class=argparse.RawDescriptionHelpFormatter)
    made.add_argument('printers', nargs='*', metavar='PRINTER', help='a PPD file, a CUPS driver PPD or a CUPS queue name')
    made.add_argument('--paper', metavar='NAME[,NAME...]|all',
                      help="page sizes the PPD offers, by its names or PWG media names (iso_a5_148x210mm), or all "
                           "of them (default: the PPD's default)")
    made.add_argument('--orientation', choices=ORIENTATION_CHOICES, default='portrait', help='default: portrait')
    made.add_argument('--modes', metavar='direct,bitmap', default='direct,bitmap', help='default: both')
    add_page_arguments(made)
    made.add_argument('--jobs', metavar='N', type=int, default=1,
                      help='printers checked at once, each session with its own display, scheduler and Wine prefix '
                           '(default 1)')
    made.add_argument('--shard', metavar='I/N', default='1/1',
                      help='check only the I-th of N shares of the printers, for a CI matrix (default 1/1)')
    made.add_argument('--paper-from', choices=PAPER_FROM, default='queue',
                      help="queue: the paper is the queue's default, which the program takes when it starts; "
                           "setup: it is picked in the program's Page Setup, as a user picks it, the queue keeping "
                           "the PPD's default (default: queue)")
    made.add_argument('--option', metavar='NAME=VALUE|NAME=all', action='append', default=[],
                      help="print with the PPD's option NAME set to VALUE, or with each of its values in turn (all), "
                           "each a row of its own (Resolution=all); given again, every combination")
    made.add_argument('--queue-option', metavar='NAME=VALUE', action='append', default=[],
                      help="set on every queue the check makes, as lpadmin's -o sets it (print-scaling-default=fit)")
    made.add_argument('--received', metavar='DIR',
                      help='where driverless printers keep the documents they receive (ippeveprinter -k -d DIR)')
    made.add_argument('--cups-serverbin', metavar='DIR', default=SERVERBIN,
                      help='the filters, backends and drivers to print with: a folder laid out as /usr/lib/cups '
                           '(filter/, backend/, driver/, daemon/...), for instance a build of filters or of a '
                           'driver; PPDs of drivers are written out by its driver programs. The scheduler runs '
                           'no program that is not root\'s or is writable by others, and its filters run as lp: '
                           'copy with cp -a as root, under folders others can enter (default /usr/lib/cups)')
    made.add_argument('--baseline', metavar='DIR',
                      help="compare the pages with those of the run whose report is in DIR (its results.json): "
                           "exit 1 when a verdict changed, a figure moved or a page is new or gone")
    made.add_argument('--baseline-tolerance', metavar='PX', type=float, default=1.0,
                      help='how far a figure may move before its page has changed, in printer pixels (default 1)')
    made.add_argument('--merge', metavar='DIR', nargs='+',
                      help='no printing: write one report into --out of the runs (shards) whose reports are in the '
                           'DIRs')
    made.add_argument('--out', metavar='DIR', default=os.path.join(ROOT, 'build', 'check'),
                      help='where the report goes (default build/check)')
    return made


def parse(arguments):
    """The Checking the arguments ask for, its printers read; or, with --merge, the options of
    the merge."""
    options = parser().parse_args(arguments)
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
    modes = listed(options.modes, CAPTIONS, '--modes')
    margins, tolerance = page_arguments(options)
    for option in options.queue_option:
        if not re.fullmatch(r'[\w-]+=\S.*', option):
            raise UsageError(f'--queue-option: {option} is not NAME=VALUE')
    asked = [re.fullmatch(r'([^\s=]+)=(\S+)', option) for option in options.option]
    for option, match in zip(options.option, asked):
        if not match:
            raise UsageError(f'--option: {option} is not NAME=VALUE or NAME=all')
    asked = [match.groups() for match in asked]
    if len({name for name, _ in asked}) < len(asked):
        raise UsageError('--option: an option is given twice')
    if options.received and not os.path.isdir(options.received):
        raise UsageError(f'--received: {options.received} is no folder')
    if options.jobs < 1:
        raise UsageError(f'--jobs: {options.jobs} is not 1 or more')
    serverbin = serverbin_folder(options.cups_serverbin)
    shard, shards = share(options.shard)
    # Shares dealt in turn, so that each holds printers from all over the list; only this share's
    # PPDs are read, as many at once as there are sessions: a driver's PPD takes half a second to
    # write out.
    with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
        printers = list(pool.map(lambda argument: find_printer(argument, serverbin), options.printers[shard - 1::shards]))
    run = Run(margins, tolerance, options.out, ('check-printer.sh', *arguments), options.shard, serverbin,
              options.baseline, options.baseline_tolerance)
    settings = [option_settings(printer, asked) for printer in printers]
    return Checking(run, printers, [choose_papers(printer, options, margins) for printer in printers], modes,
                    ORIENTATION_CHOICES[options.orientation], options.paper_from, options.queue_option,
                    options.received, options.jobs, settings=settings)


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


@dataclass
class PageJob:
    """One page's job as the check follows it: the page's set-up, where its time goes, and what has
    come of it so far: the SentJob, what the queue Received, or the NotPrinted in its place."""
    setup: PageSetup
    stopwatch: Stopwatch
    outcome: object

    def take(self, workdir):
        """Takes a sent job from the scheduler, before the program prints on its queue again."""
        if isinstance(self.outcome, SentJob):
            try:
                self.outcome = collect(self.outcome, workdir)
            except NotPrinted as failure:
                self.outcome = failure


@dataclass
class RowWork:
    """A row of the report being printed and judged in a session: the row, its queue, what the
    printer's model tells a reader, how its paper was picked (a note, where in Page Setup), where
    the paper's time goes, the small grey pictures of its pages and the work judging them."""
    row: Row
    queue: PrintQueue
    printer: object
    picked: str = None
    stopwatch: Stopwatch = field(default_factory=Stopwatch)
    greys: dict = field(default_factory=dict)
    judged: list = field(default_factory=list)


class SessionCheck:
    """The printers a session checks, one after another, each page judged in the background while
    the program prints the next. drivers (a Drivers) gives the session's uidriver, else each
    program starts its own."""

    def __init__(self, checking, session, background, counter, drivers=None):
        self.checking = checking
        self.session = session
        self.background = background
        self.counter = counter
        self.drivers = drivers

    def judge(self, work, page_job):
        """Takes a page's job from the scheduler where it was not taken yet, renders, measures and
        judges it, and makes its picture; for a raster driver's page, the picture of the raster it
        was handed too where the driver did not keep its page."""
        run, setup = self.checking.run, page_job.setup
        row, caption, room = work.row, setup.caption, setup.has_room()
        page_job.stopwatch.resume()
        page_job.take(self.session.temp)
        page = page_job.outcome
        if isinstance(page, Received):
            page = measure_received(page, setup, work.printer.media(setup.paper, None), self.session.temp,
                                    page_job.stopwatch)
        measured = '; '.join(filter(None, (getattr(page, 'described', ''), work.picked)))
        checks = judge_page(page, caption, run.tolerance) if room else judge_no_room(page, caption)
        if getattr(page, 'driver_output', None):
            kept = row.stem(setup.mode) + '.prn'
            shutil.move(page.driver_output, os.path.join(run.out, kept))
            measured += f'; kept as {kept} ({os.path.getsize(os.path.join(run.out, kept)) / 1024:.1f} kB)'
            if room and page.pages is not None and not page.unreadable:
                checks.append(judge_driver(page, run.tolerance))
                if checks[-1].passed is False:
                    row.pictures[caption + HANDED_PICTURE] = page_picture(page.handed, run.out,
                                                                          row.stem(setup.mode + '-handed'))[0]
        row.add(caption, page, checks, measured)
        row.pictures[caption], work.greys[caption] = page_picture(page, run.out, row.stem(setup.mode)) or (None, None)
        moved = [edge for check in checks for edge in moved_edges(check)]
        if moved and getattr(page, 'measurement', None):
            row.closeups[caption] = closeups(page, moved, run.out, row.stem(setup.mode))
        page_job.stopwatch.lap('pictures')
        row.time(page_job.stopwatch.steps)
        row.page_steps[caption] = page_job.stopwatch.steps
        progress(f'[{self.counter.next()}/{self.counter.total}] {row.printer.name} {row.paper_setting} {row.orientation} '
                 f'{mode_name(caption)}: {row.summary(caption)} ({sum(page_job.stopwatch.steps.values()):.1f} s: '
                 f'{step_times(page_job.stopwatch.steps)})')

    def complete(self, work, room):
        """Compares the two modes' pages once both are judged, and lets their pixels go."""
        row, run = work.row, self.checking.run
        try:
            for page in work.judged:
                page.result()
            if len(self.checking.modes) == 2 and room:
                started = time.monotonic()
                direct, bitmap = row.pages[DIRECT_CAPTION], row.pages[BITMAP_CAPTION]
                differing = difference_picture(direct, bitmap, (work.greys[DIRECT_CAPTION], work.greys[BITMAP_CAPTION]),
                                               run.out, row.stem('difference'))
                row.pictures['difference'] = differing and differing[0]
                row.agreement = judge_agreement(direct, bitmap, run.tolerance, differing and differing[1])
                row.time({'pictures': time.monotonic() - started})
        except Exception as problem:
            row.fail(f'{type(problem).__name__}: {problem}')
        row.release()

    def set_up(self, program, work, setup):
        """Page Setup as the row asks: its margins and orientation, and its paper where picked there."""
        margins = self.checking.run.margins.texts
        if self.checking.paper_from == 'setup':
            spooler, queue = work.queue.spooler, work.queue.name
            title = spooler.paper_title(queue, setup.paper)
            program.drive('page-setup', *margins, setup.orientation, title)
            work.picked = f'paper picked in Page Setup as "{title}", the queue\'s default ' \
                          f'{spooler.ppd_value(queue, "DefaultPageSize")}'
        else:
            program.drive('page-setup', *margins, setup.orientation)

    def print_row(self, program, work, setup, last):
        """Prints the page in each mode with the set-up's margins and orientation. Each page is
        judged in the background while the program prints the next, and the last, when the program
        prints no more (last), is taken from the scheduler there too; returns the work that
        completes the row."""
        self.set_up(program, work, setup)
        waiting = None
        for mode in self.checking.modes:
            program.set_mode(CAPTIONS[mode])
            work.stopwatch.lap('driving')
            if waiting:
                # The last job went through the scheduler's filters while the mode was switched.
                waiting.take(self.session.temp)
                work.judged.append(self.background.submit(self.judge, work, waiting))
            stopwatch = Stopwatch()
            waiting = PageJob(replace(setup, mode=mode), stopwatch, send(program, work.queue, stopwatch=stopwatch))
            work.stopwatch.lap('pages')
        if not last:
            # The queue's next program prints on it before this job would be taken in the background.
            waiting.take(self.session.temp)
        work.judged.append(self.background.submit(self.judge, work, waiting))
        return self.background.submit(self.complete, work, setup.has_room())

    def check_printer(self, number):
        """The rows of one printer: one per paper and orientation, or a failed one for each that
        could not be set up; the time of each step goes to its rows. Returns them with the work that
        completes them, the last of its pages being judged in the background."""
        checking, session = self.checking, self.session
        printer, papers = checking.printers[number], checking.papers[number]
        ppd = os.path.join(session.temp, f'{number}.ppd')
        with open(ppd, 'w', encoding='latin-1') as copy:
            # What a raster driver is handed is kept on its way to it.
            copy.write(keep.insert(printer.ppd, CUPS_RASTER, session.temp, str(number), session.serverbin)
                       if printer.driver else printer.ppd)
        rows, completing = [], None
        for place, (paper, setting) in enumerate(itertools.product(papers, checking.settings_of(number))):
            done = []
            stopwatch = Stopwatch()
            try:
                # The paper is the queue's default, which the program takes when it starts, unless
                # it is picked in Page Setup; the options are the queue's defaults, as a user sets
                # them for the printer.
                name = re.sub(r'\W', '_', f'CHECK{number}_{place}_{paper}')[:30]
                session.add_queue(name, ppd, paper if checking.paper_from == 'queue' else None, printer.device,
                                  checking.queue_options + [f'{option}={choice}' for option, choice in setting.items()])
                queue = PrintQueue(session.spooler, name, printer.device and checking.received)
                with Program(checking.exe, checking.uidriver, self.drivers and self.drivers()) as program:
                    stopwatch.lap('start')
                    for orientation in checking.orientations:
                        work = RowWork(Row(printer, paper, orientation, setting), queue, printer, stopwatch=stopwatch)
                        setup = PageSetup(paper, printer.sheet(paper), checking.run.margins, orientation)
                        completing = self.print_row(program, work, setup, orientation == checking.orientations[-1])
                        done.append(work.row)
                    program.exit()
                    stopwatch.lap('start')
            except Exception as problem:
                done += [set_up_failed(checking, printer, (paper, orientation), f'{type(problem).__name__}: {problem}',
                                       self.counter, setting) for orientation in checking.orientations[len(done):]]
            # Pages have their own times; the paper's steps around them go to its first row.
            done[0].time({step: seconds for step, seconds in stopwatch.steps.items() if step != 'pages'})
            rows += done
        return rows, completing


def set_up_failed(checking, printer, where, problem, counter, setting=None):
    """The failed row of a printer, or its paper and orientation (where) with the setting of its
    options, that could not be set up."""
    paper, orientation = where
    row = Row(printer, paper, orientation, setting)
    row.fail(problem)
    for _ in checking.modes if paper else ():
        counter.next()
    place = ' '.join(filter(None, (printer.name, row.paper_setting, orientation)))
    progress(f'[{counter.done.value}/{counter.total}] {place}: FAIL ({problem})')
    return row


def run_session(slot, checking, tasks, results_queue, counter):
    """One session checking the printers it takes from tasks until it takes None; tells
    results_queue when it is ready, which printer it starts and the rows it made, or why it could
    not go on. A printer's rows are told once its last page is judged, while the next printer
    prints."""
    def tell(number, rows, completing):
        if completing:
            completing.result()
        results_queue.put(('rows', number, (rows, time.monotonic())))

    drivers = Drivers(checking.uidriver)
    try:
        with Session(checking.build, checking.run.margins.metric, slot, checking.run.serverbin) as session, \
                concurrent.futures.ThreadPoolExecutor(1) as background:
            results_queue.put(('ready', slot, time.monotonic()))
            work = SessionCheck(checking, session, background, counter, drivers)
            waiting = None
            try:
                for number in iter(tasks.get, None):
                    results_queue.put(('started', slot, number))
                    checked = (number, *work.check_printer(number))
                    if waiting:
                        tell(*waiting)
                    waiting = checked
            finally:
                drivers.close()
            if waiting:
                tell(*waiting)
    except Exception as problem:
        results_queue.put(('broken', slot, f'{type(problem).__name__}: {problem}'))


def start_sessions(checking, counter, tasks, results_queue):
    """The sessions checking the printers whose numbers tasks holds, as processes where more than
    one, else in this process; returns the processes."""
    sessions = min(checking.jobs, len(tasks))
    work = multiprocessing.get_context('fork').Queue() if checking.jobs > 1 else queue.Queue()
    for number in tasks + [None] * sessions:
        work.put(number)
    if checking.jobs == 1:
        if sessions:
            run_session(1, checking, work, results_queue, counter)
        return []
    workers = [multiprocessing.get_context('fork').Process(target=run_session,
                                                           args=(slot, checking, work, results_queue, counter))
               for slot in range(1, sessions + 1)]
    for worker in workers:
        worker.start()
    return workers


def run_sessions(checking, counter):
    """The rows of every printer, checked by checking.jobs sessions at once (in this process when
    one); when, from the start, the first session was ready and the last rows made."""
    results_queue = multiprocessing.get_context('fork').Queue() if checking.jobs > 1 else queue.Queue()
    # A printer that cannot be used needs no session.
    rows = {number: [set_up_failed(checking, printer, (None, None), f'cannot be used: {printer.problem}', counter)]
            for number, printer in enumerate(checking.printers) if printer.problem}
    started = time.monotonic()
    workers = start_sessions(checking, counter, [number for number in range(len(checking.printers))
                                                 if number not in rows], results_queue)
    started_rows, broken, ready, done = set(), 'it stopped', None, 0.0
    stopping = 0
    try:
        while len(rows) < len(checking.printers):
            try:
                kind, key, value = results_queue.get(timeout=1)
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
    for number, printer in enumerate(checking.printers):
        if number not in rows:
            lost = f'its session ended: {broken}' if number in started_rows else f'no session to check it: {broken}'
            rows[number] = [set_up_failed(checking, printer, (None, None), lost, counter)]
    return [row for number in sorted(rows) for row in rows[number]], ready or 0.0, done


def check(checking):
    os.makedirs(checking.run.out, exist_ok=True)
    pages = sum(len(papers) * len(checking.settings_of(number)) for number, papers in enumerate(checking.papers)) * \
        len(checking.orientations) * len(checking.modes)
    rows, set_up, done = run_sessions(checking, Counter(pages))
    pages = sum(len(row.pages) for row in rows)
    progress(f'{pages} pages measured in {done - set_up:.0f} s once set up ({set_up:.0f} s): '
             f'{pages / max(done - set_up, 1e-9) * 60:.1f} pages per minute')
    record = run_record(rows, checking.run)
    status = report_run(rows, checking.run, progress, record)
    return results.save_run(results.document(rows, record), checking.run, progress, status)


def main(arguments):
    # Stopped from outside, it still stops what it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    try:
        checking = parse(arguments)
    except UsageError as problem:
        print(f'check-printer.sh: {problem}\nTry check-printer.sh --help.', file=sys.stderr)
        return 2
    if not isinstance(checking, Checking):
        return results.merge(checking.merge, checking.out, progress)
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
    checking.build = build
    return check(checking)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
