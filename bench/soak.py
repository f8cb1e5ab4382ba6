"""One run of the program printing many jobs in a row, driven as a user would (tools/pagecheck):
alternately in Direct and Bitmap mode, on one queue. Prints the program's private memory after
chosen jobs, as "soak memory JOB BYTES", and then how many jobs reached the queue and how many of
them as one sheet, as "soak jobs COUNT ONE_SHEET".

    soak.py EXE UIDRIVER CUPS_DIR QUEUE COUNT
"""
import sys
import tempfile

from pagecheck.spooler import Spooler
from pagecheck.wine import BITMAP_CAPTION, DIRECT_CAPTION, Program

exe, uidriver, cups, queue, count = sys.argv[1:6]
count = int(count)
noted = {1, 5, 50, count}
with tempfile.TemporaryDirectory() as workdir:
    spooler = Spooler(cups, workdir)
    before = spooler.last_job(queue)
    with Program(exe, uidriver) as program:
        for number in range(1, count + 1):
            program.set_mode(DIRECT_CAPTION if number % 2 else BITMAP_CAPTION)
            program.drive('print', queue)
            if number in noted:
                print(f'soak memory {number} {program.memory()}', flush=True)
        jobs = spooler.wait_for_jobs(queue, before, count)
        program.exit()
print(f'soak jobs {len(jobs)} {sum(1 for job in jobs if job.state == "completed" and job.sheets == 1)}')
