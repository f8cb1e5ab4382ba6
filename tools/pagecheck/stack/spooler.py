"""A private CUPS scheduler seen from outside: its jobs, its queues' PPDs and the files its
file-backed queues write (scripts/cups-private.sh makes them)."""
import os
import shutil
import socket
import threading
import time
import urllib.parse

import cups

from . import ppd as ppds
from .ipp import CONNECT_TIMEOUT
from ..core.errors import NotPrinted
from ..core.units import dpi_of

JOB_TIMEOUT = 180
# How long a job may take to reach the scheduler once the program has sent it.
ARRIVAL_TIMEOUT = 20
# Asking the scheduler through libcups costs a fraction of a millisecond; a job's filters take a
# tenth of a second or so.
POLL = 0.02

# The job-state values of IPP.
JOB_STATES = {3: 'pending', 4: 'pending-held', 5: 'processing', 6: 'processing-stopped', 7: 'canceled', 8: 'aborted',
              9: 'completed'}
# States a job leaves no more by itself: a job stopped by a failing filter waits for someone.
FINISHED_STATES = ('completed', 'canceled', 'aborted', 'processing-stopped')


class Job:
    def __init__(self, number, attributes):
        self.id = number
        self.name = attributes.get('job-name', '')
        self.state = JOB_STATES.get(attributes.get('job-state'), '')
        self.sheets = attributes.get('job-media-sheets-completed') or 0

    def __repr__(self):
        return f'job {self.id} "{self.name}" {self.state}, {self.sheets} sheet(s)'


class Spooler:
    """The scheduler whose socket, PPDs and output live in the folder cups."""

    def __init__(self, cups):
        self.cups = cups
        self.socket = os.path.join(cups, 'cups.sock')
        # A connection a thread: a job may be waited for in the background while the program
        # prints on another queue.
        self.local = threading.local()

    def connection(self):
        if not getattr(self.local, 'connection', None):
            self.local.connection = cups.Connection(host=self.socket)
        return self.local.connection

    def ppd(self, queue):
        """The queue's PPD as the scheduler keeps it."""
        return ppds.open_ppd(os.path.join(self.cups, 'ppd', queue + '.ppd'))

    def ppd_value(self, queue, keyword):
        return ppds.value(self.ppd(queue), keyword)

    def paper_title(self, queue, paper):
        """The name the queue's PPD shows users for paper (its translation string), as Page Setup
        lists it: a driverless printer's queue names its sizes as the scheduler made its PPD. The
        paper's own name where the PPD has no such size, for Page Setup to refuse."""
        return ppds.page_size_titles(self.ppd(queue)).get(paper, paper)

    def resolution(self, queue):
        return dpi_of(self.ppd_value(queue, 'DefaultResolution'))

    def landscape_turn(self, queue):
        return self.ppd_value(queue, 'LandscapeOrientation') or 'Plus90'

    def output(self, queue):
        return os.path.join(self.cups, 'out', queue + '.ps')

    def sent(self, queue, job, path):
        """Moves a copy of the document the program sent for job, as it was before the queue's
        filters, to path, and returns path; None when the scheduler kept none."""
        try:
            kept = self.connection().getDocument(f'ipp://localhost/printers/{queue}', job.id, 1)
        except (cups.IPPError, cups.HTTPError):
            return None
        shutil.move(kept['file'], path)
        return path

    def jobs(self, queue):
        """The queue's jobs sent by this user, Wine's among them (the job names of other users are
        private), oldest first."""
        found = self.connection().getJobs(which_jobs='all', my_jobs=True, requested_attributes=[
            'job-id', 'job-name', 'job-state', 'job-media-sheets-completed', 'job-printer-uri'])
        return [Job(number, attributes) for number, attributes in sorted(found.items())
                if attributes.get('job-printer-uri', '').endswith(f'/printers/{queue}')]

    def last_job(self, queue):
        jobs = self.jobs(queue)
        return jobs[-1].id if jobs else 0

    def printer_answers(self, queue):
        """Whether the network printer a queue sends to takes connections; True for a queue that
        sends to anything else."""
        device = urllib.parse.urlsplit(self.connection().getPrinterAttributes(
            queue, requested_attributes=['device-uri'])['device-uri'])
        if device.scheme not in ('ipp', 'ipps') or not device.hostname:
            return True
        try:
            socket.create_connection((device.hostname, device.port or 631), timeout=1).close()
            return True
        except OSError:
            return False

    def wait_for_jobs(self, queue, after, count, arrival=JOB_TIMEOUT):
        """Waits until count jobs newer than job after have finished; returns all newer jobs.
        Fails when the first has not arrived within arrival seconds, when the jobs have not
        finished in JOB_TIMEOUT, and, cancelling them, when the printer they are sent to has
        taken no connection for as long as the queue waits for one to connect: CUPS's IPP backend
        would wait for ever for a printer that went away while it took a job."""
        start = time.monotonic()
        silent, asked = None, start
        while True:
            newer = [job for job in self.jobs(queue) if job.id > after]
            if len(newer) >= count and all(job.state in FINISHED_STATES for job in newer):
                return newer
            now = time.monotonic()
            if not any(job.state == 'processing' for job in newer):
                silent = None
            elif now - asked >= 1:
                asked = now
                silent = None if self.printer_answers(queue) else silent or now
            if silent and now - silent > CONNECT_TIMEOUT:
                for job in newer:
                    if job.state not in FINISHED_STATES:
                        self.connection().cancelJob(job.id)
                raise NotPrinted(f'the printer stopped answering while it took the job: no connection for '
                                 f'{CONNECT_TIMEOUT} s')
            waited = now - start
            if not newer and waited > arrival:
                raise NotPrinted('no job reached the queue')
            if waited > JOB_TIMEOUT:
                raise NotPrinted(f'the queue did not finish the job in {JOB_TIMEOUT} s: {newer}')
            time.sleep(POLL)
