"""One print of the test page, from the press of OK in the Print dialog to its measured sheet."""
import os
import shutil

from .measure import Measurement, Placement
from .sheet import Sheet, View, document_title, render


class PrintedPage:
    """One job as it reached the queue: the CUPS job, its document's title and page count, and
    the figures of its first page when the margins it was laid out with are given. dpi is the
    printer's (x, y) resolution across the sheet; turn the PPD's LandscapeOrientation for a
    landscape page."""

    def __init__(self, job, postscript, dpi, turn, workdir, margins=None, metric=False):
        self.job = job
        self.document = postscript
        self.title = document_title(postscript)
        files = render(postscript, dpi, workdir)
        self.pages = len(files)
        self.sheet_size = None
        # Along a landscape page, x runs down the sheet.
        self.dpi = dpi[::-1] if turn else dpi
        self.measurement = None
        if files:
            sheet = Sheet(files[0])
            self.sheet_size = (sheet.width, sheet.height)
            view = View(sheet, turn)
            if margins:
                self.measurement = Measurement(view, Placement(self.dpi, margins, metric, view.width, view.height))


def print_page(program, spooler, queue, workdir, printer=None, margins=None, metric=False, landscape=False):
    """Prints the page the program shows and waits for its job on queue; returns it rendered.
    printer is the name to pick in the Print dialog; without one the dialog's choice stands."""
    before = spooler.last_job(queue)
    # The queue writes each job over the last; no file afterwards means no output at all.
    if os.path.exists(spooler.output(queue)):
        os.remove(spooler.output(queue))
    program.drive('print', *([printer] if printer else []))
    jobs = spooler.wait_for_jobs(queue, before, 1)
    if len(jobs) != 1:
        raise AssertionError(f'one print gave the jobs {jobs}')
    if not os.path.exists(spooler.output(queue)):
        raise AssertionError(f'{jobs[0]} wrote nothing to {spooler.output(queue)}')
    kept = os.path.join(workdir, f'{queue}-{jobs[0].id}.ps')
    shutil.copyfile(spooler.output(queue), kept)
    turn = spooler.landscape_turn(queue) if landscape else None
    return PrintedPage(jobs[0], kept, spooler.resolution(queue), turn, workdir, margins, metric)
