"""One print of the test page, from the press of OK in the Print dialog to its measured sheet."""
import functools
import os
import shutil
import time

from . import keep, raster, readers
from .decoded import Media, StreamError
from .ipp import received as received_document
from .measure import Measurement, Placement
from .document import Document
from .sheet import View, read_sheet, render
from .spooler import ARRIVAL_TIMEOUT, NotPrinted


DRIVER_WROTE = 'what the raster driver wrote'
HANDED = 'the CUPS raster handed to the raster driver'


class Stopwatch:
    """Seconds spent in each step of a check, added up by step, in the order first met."""

    def __init__(self):
        self.steps = {}
        self.mark = time.monotonic()

    def lap(self, step):
        """Adds the time since the last lap to step."""
        now = time.monotonic()
        self.steps[step] = self.steps.get(step, 0.0) + now - self.mark
        self.mark = now

    def resume(self):
        """Starts the next lap now: the time since the last one went to no step."""
        self.mark = time.monotonic()


class PrintedPage:
    """One job as it reached the queue: the CUPS job, its document's kind, title and page count,
    and the figures of its first page when the margins it was laid out with are given. dpi is
    the printer's (x, y) resolution across the sheet, sheet_points the sheet's size when the
    page may not say it; turn is the way the page was turned on the sheet, for a landscape page;
    layout the (x, y) resolution the printer's driver gave the program along the page; media what
    the printer's model tells a reader of its own language. A raster page has its own resolution,
    and no title but the one its job was handed on with, title. measured says what the document
    is (what the queue wrote, unless print_page says otherwise), assumed what a reader took from
    the model to place the page, unreadable why a document in a language the check reads could
    not be read; handed, for a raster driver's page, the page it was handed. The
    time of rendering and measuring goes to stopwatch. bits renders a PostScript or PDF page as
    ink and paper, a bit a pixel, for a page known to be black on white, as the program's is:
    grey would be dithered."""

    def __init__(self, job, path, dpi, turn, workdir, margins=None, metric=False, sheet_points=None,
                 stopwatch=None, layout=None, title=None, media=None, bits=False):
        stopwatch = stopwatch or Stopwatch()
        self.job = job
        self.document = path
        self.measured = 'the document the queue wrote'
        self.driver_output = None
        self.handed = None
        self.assumed = None
        self.unreadable = None
        self.kind = raster.kind(path)
        # A printer's own language may carry no title: the job's name is all there is.
        self.untitled = False
        self.language = None
        self.title = title
        self.pages = None
        self.sheet_size = None
        self.view = None
        self.measurement = None
        # Along a landscape page, x runs down the sheet.
        self.dpi = dpi[::-1] if turn else dpi
        if self.kind:
            try:
                files, first = raster.render(path, workdir, sheet_points)
                dpi = first.dpi
            except raster.RasterError as problem:
                files, self.unreadable = [], f'{self.kind} that cannot be read: {problem}'
        else:
            document = Document(path)
            self.kind = document.kind
            self.language = document.language
            if document.title is not None:
                self.title = document.title
            if document.reader:
                self.untitled = self.title is None
                try:
                    files, first = readers.render(document.reader, document.data, media or Media(sheet_points, dpi=dpi),
                                                  workdir)
                    dpi, self.assumed = first.dpi, first.assumed
                except StreamError as problem:
                    files, self.unreadable = [], str(problem)
            elif not document.kind:
                return
            else:
                readable = os.path.join(workdir, 'readable')
                document.save(readable)
                files = render(readable, dpi, workdir, sheet_points, bits)
        self.dpi = dpi[::-1] if turn else dpi
        self.pages = len(files)
        if files:
            sheet = read_sheet(files[0])
            stopwatch.lap('render')
            self.sheet_size = (sheet.width, sheet.height)
            self.view = View(sheet, turn)
            width, height = self.view.width, self.view.height
            if sheet_points:
                # The sheet's own size: A4 is no whole number of pixels.
                width, height = (points * dots / 72 for points, dots in zip(sheet_points, dpi))
                if turn:
                    width, height = height, width
            if margins:
                self.measurement = Measurement(self.view, Placement(self.dpi, margins, metric, width, height, layout))
            for file in files:
                os.remove(file)
        stopwatch.lap('measure')

    def written_in(self):
        """The language the document is in, as the report names it."""
        return self.language or self.kind or 'a language the check does not read'


def measured_document(spooler, queue, received, since):
    """The document to measure, what it is, and for a raster driver the CUPS raster it was handed.
    A queue with a keeping filter kept what it handed its raster driver or sent its printer; the
    driver's page is measured on what it wrote, and a printer that keeps what it receives in the
    folder received has that measured instead."""
    copy = keep.copy_path(spooler, queue)
    output = spooler.output(queue) if os.path.exists(spooler.output(queue)) else None
    if not os.path.exists(copy):
        return output, 'the document the queue wrote', None
    if output:
        return output, DRIVER_WROTE, copy
    got = received and received_document(received, since, copy)
    if got:
        return got, f'the document the printer received ({os.path.relpath(got, received)})', None
    return copy, 'the document the queue sent to the printer, which kept none the check can read', None


def print_page(program, spooler, queue, workdir, printer=None, margins=None, metric=False, landscape=False,
               sheet_points=None, dpi=None, stopwatch=None, received=None, later=False, media=None):
    """Prints the page the program shows and waits for its job on queue; returns it rendered, or
    raises NotPrinted. printer is the name to pick in the Print dialog; without one the dialog's
    choice stands. The page is rendered and measured at the queue's resolution, or at dpi. Each
    step's time goes to stopwatch: the Print dialog, the job (the program and Wine's driver), the
    scheduler's filters, rendering and measuring. received is the folder where a driverless
    printer keeps what it receives; media what the printer's model tells a reader of its own
    language, the queue's resolution where it gives none. later asks for the job to be sent
    only: returned is a function that waits for it and returns one that renders and measures it,
    both of which may run while the program goes on (the queue's next job writes over this
    one's output, so the first must have returned before the program prints there again)."""
    stopwatch = stopwatch or Stopwatch()
    before = spooler.last_job(queue)
    # The queue writes each job over the last; no file afterwards means no output at all.
    if os.path.exists(spooler.output(queue)):
        os.remove(spooler.output(queue))
    keep.clear(spooler, queue)
    since = time.time()
    program.drive('print', *([printer] if printer else []))
    stopwatch.lap('dialog')
    message = program.answer_message()
    stopwatch.lap('job')
    collecting = functools.partial(collect, spooler, queue, workdir, before, message, since, margins, metric, landscape,
                                   sheet_points, dpi, stopwatch, received, media)
    return collecting if later else collecting()()


def collect(spooler, queue, workdir, before, message, since, margins, metric, landscape, sheet_points, dpi, stopwatch,
            received, media):
    """Waits for the job print_page sent after job before and copies what the queue made of it;
    returns the function that renders and measures it, or raises NotPrinted."""
    stopwatch.resume()
    try:
        # The program sends its job before it is idle again: one that has not arrived soon after
        # never will.
        jobs = spooler.wait_for_jobs(queue, before, 1, arrival=0 if message else ARRIVAL_TIMEOUT)
    except NotPrinted as failure:
        raise NotPrinted(failure.reason, message) from None
    finally:
        stopwatch.lap('filters')
    if len(jobs) != 1:
        raise AssertionError(f'one print gave the jobs {jobs}')
    if jobs[0].state != 'completed':
        raise NotPrinted(f'the queue did not complete the job: {jobs[0].state}', message)
    document, measured, handed = measured_document(spooler, queue, received, since)
    if not document:
        raise NotPrinted(f'{jobs[0]} wrote nothing to {spooler.output(queue)}', message)
    kept = os.path.join(workdir, f'{queue}-{jobs[0].id}.out')
    shutil.copyfile(document, kept)
    # What the program sent tells how Wine's driver laid the page out: the resolution it gave the
    # program, and which way it turned a landscape page.
    sent = spooler.sent(queue, jobs[0], os.path.join(workdir, f'{queue}-{jobs[0].id}.sent'))
    setup = sent and Document(sent).setup
    if sent:
        os.remove(sent)
    turn = ((setup and setup.turn) or spooler.landscape_turn(queue)) if landscape else None
    resolution, title = dpi or spooler.resolution(queue), keep.title(spooler, queue)
    if media and not media.dpi:
        media.dpi = resolution
    if handed:
        handed = shutil.copyfile(handed, os.path.join(workdir, f'{queue}-{jobs[0].id}.handed'))

    def finish():
        page = PrintedPage(jobs[0], kept, resolution, turn, workdir, margins, metric, sheet_points, stopwatch,
                           setup and setup.dpi, title, media, bits=True)
        page.measured = measured
        if handed:
            page.measured = f'{measured}, in {page.written_in()}'
            page.driver_output = kept
            page.handed = PrintedPage(jobs[0], handed, resolution, turn, workdir, margins, metric, sheet_points,
                                      stopwatch, setup and setup.dpi, title)
            page.handed.measured = HANDED
            os.remove(handed)
        if page.assumed:
            page.measured += f' ({page.assumed})'
        return page
    return finish
