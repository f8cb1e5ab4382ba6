"""A print job of the program's, as CUPS's ipptool keeps a test: each step a function of a record,
its waits declared. Sending presses Print and waits for the program to be idle again; taking the
job (collect) waits for the queue to finish it and copies what it received, or says why nothing
came; measuring reads and measures that. A queue writes each job's output over the last, so a
job must be taken before the program prints on its queue again: the queue holds the job waiting
to be taken, and refuses to send another."""
import os
import shutil
import time
from dataclasses import dataclass, replace

from . import keep
from .ipp import received as received_document
from .spooler import ARRIVAL_TIMEOUT, Job
from ..core.errors import NotPrinted
from ..core.stopwatch import Stopwatch
from ..measure.page import Printed, measure_document
from ..readers.document import Document
from ..readers.postscript import LaidOut

QUEUE_WROTE = 'the document the queue wrote'
DRIVER_WROTE = 'what the raster driver wrote'
HANDED = 'the CUPS raster handed to the raster driver'


class PrintQueue:
    """A queue of the scheduler the program prints on; received the folder a driverless printer
    keeps what it receives in, if any; waiting the job sent to it and not yet taken."""

    def __init__(self, spooler, name, received=None):
        self.spooler = spooler
        self.name = name
        self.received = received
        self.waiting = None


@dataclass
class SentJob:
    """A job the program was asked to print: its queue, the queue's last job before it, when it was
    sent, the message the program showed instead of printing, if any, and where the job's time
    goes."""
    queue: PrintQueue
    before: int
    since: float
    message: str
    stopwatch: Stopwatch


@dataclass
class Received:
    """What the queue made of a job: the CUPS job; the document to measure, copied to the work
    folder, and what it is; the CUPS raster a raster driver was handed, copied too, or None; the
    title the job was handed on with; how Wine's driver laid the page out, from what the program
    sent (a LaidOut, or None); and the queue, whose PPD says the rest."""
    job: Job
    document: str
    source: str
    handed: str
    title: str
    laid_out: LaidOut
    queue: PrintQueue


def send(program, queue, printer=None, stopwatch=None):
    """Prints the page the program shows on queue, printer being the name to pick in the Print
    dialog (without one the dialog's choice stands), and waits until the program is idle again;
    returns the SentJob. The dialog's and the job's time go to stopwatch."""
    if queue.waiting:
        raise RuntimeError(f'{queue.name}: a job is sent before its last one was taken')
    stopwatch = stopwatch or Stopwatch()
    spooler = queue.spooler
    before = spooler.last_job(queue.name)
    # The queue writes each job over the last; no file afterwards means no output at all.
    if os.path.exists(spooler.output(queue.name)):
        os.remove(spooler.output(queue.name))
    keep.clear(spooler, queue.name)
    since = time.time()
    program.drive('print', *([printer] if printer else []))
    stopwatch.lap('dialog')
    message = program.answer_message()
    stopwatch.lap('job')
    queue.waiting = SentJob(queue, before, since, message, stopwatch)
    return queue.waiting


def measured_document(sent):
    """The document to measure, what it is, and for a raster driver the CUPS raster it was handed.
    A queue with a keeping filter kept what it handed its raster driver or sent its printer; the
    driver's page is measured on what it wrote, and a printer that keeps what it receives in the
    queue's received folder has that measured instead."""
    spooler, queue = sent.queue.spooler, sent.queue.name
    copy = keep.copy_path(spooler, queue)
    output = spooler.output(queue) if os.path.exists(spooler.output(queue)) else None
    if not os.path.exists(copy):
        return output, QUEUE_WROTE, None
    if output:
        return output, DRIVER_WROTE, copy
    folder = sent.queue.received
    got = folder and received_document(folder, sent.since, copy)
    if got:
        return got, f'the document the printer received ({os.path.relpath(got, folder)})', None
    return copy, 'the document the queue sent to the printer, which kept none the check can read', None


def collect(sent, workdir):
    """Waits for the job sent, and copies into workdir what the queue made of it; returns it
    Received, or raises NotPrinted. The queue may then take the next job."""
    sent.queue.waiting = None
    spooler, queue = sent.queue.spooler, sent.queue.name
    sent.stopwatch.resume()
    try:
        # The program sends its job before it is idle again: one that has not arrived soon after
        # never will.
        jobs = spooler.wait_for_jobs(queue, sent.before, 1, arrival=0 if sent.message else ARRIVAL_TIMEOUT)
    except NotPrinted as failure:
        raise NotPrinted(failure.reason, sent.message) from None
    finally:
        sent.stopwatch.lap('filters')
    if len(jobs) != 1:
        raise AssertionError(f'one print gave the jobs {jobs}')
    job = jobs[0]
    if job.state != 'completed':
        raise NotPrinted(f'the queue did not complete the job: {job.state}', sent.message)
    document, source, handed = measured_document(sent)
    if not document:
        raise NotPrinted(f'{job} wrote nothing to {spooler.output(queue)}', sent.message)
    kept = shutil.copyfile(document, os.path.join(workdir, f'{queue}-{job.id}.out'))
    # What the program sent tells how Wine's driver laid the page out: the resolution it gave the
    # program, and which way it turned a landscape page.
    program_sent = spooler.sent(queue, job, os.path.join(workdir, f'{queue}-{job.id}.sent'))
    laid_out = program_sent and Document(program_sent).laid_out
    if program_sent:
        os.remove(program_sent)
    if handed:
        handed = shutil.copyfile(handed, os.path.join(workdir, f'{queue}-{job.id}.handed'))
    return Received(job, kept, source, handed, keep.title(spooler, queue), laid_out, sent.queue)


def laid_out_setup(received, setup):
    """The page's set-up as the job laid it out: the queue's resolution where the set-up gives none,
    the resolution Wine's driver drew at, and the way it turned a landscape page."""
    laid_out, spooler, queue = received.laid_out, received.queue.spooler, received.queue.name
    turn = ((laid_out and laid_out.turn) or spooler.landscape_turn(queue)) if setup.landscape else None
    return replace(setup, dpi=setup.dpi or spooler.resolution(queue), turn=turn, layout=laid_out and laid_out.dpi)


def measure_received(received, setup, media, workdir, stopwatch=None):
    """The page the queue received read and measured against the set-up, media being what the
    printer's model tells a reader of its own language (its resolution the queue's where it gives
    none); a raster driver's page with the raster it was handed."""
    setup = laid_out_setup(received, setup)
    media = media and replace(media, dpi=media.dpi or setup.dpi)
    printed = Printed(received.document, received.job, received.title, media, received.source,
                      ', in ' if received.handed else None, black_on_white=True)
    page = measure_document(printed, setup, workdir, stopwatch)
    if received.handed:
        page.driver_output = received.document
        page.handed = measure_document(Printed(received.handed, received.job, received.title, source=HANDED),
                                       setup, workdir, stopwatch)
        os.remove(received.handed)
    return page


def print_page(program, queue, setup, workdir, printer=None):
    """Prints the page the program shows, as set up, takes its job and measures it: the one step
    of a test, where nothing is done while the job goes through the queue."""
    return measure_received(collect(send(program, queue, printer), workdir), setup, None, workdir)
