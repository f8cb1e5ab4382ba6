"""One run of the program printing many jobs in a row, driven as a user would (tools/pagecheck):
COUNT jobs alternately in Direct and Bitmap mode on QUEUE, then BITMAP_COUNT Bitmap jobs on
BITMAP_QUEUE, a queue of a higher resolution. Prints the program's private memory after chosen
jobs, as "soak memory JOB BYTES", and then how many jobs reached the queues and how many of them
as one sheet, as "soak jobs COUNT ONE_SHEET".

    soak.py EXE UIDRIVER CUPS_DIR QUEUE COUNT BITMAP_QUEUE BITMAP_COUNT
"""
import sys

from pagecheck.core.modes import BITMAP_CAPTION, DIRECT_CAPTION
from pagecheck.stack.program import Program
from pagecheck.stack.spooler import Spooler

exe, uidriver, cups, queue, count, bitmap_queue, bitmap_count = sys.argv[1:8]
count, bitmap_count = int(count), int(bitmap_count)
last = count + bitmap_count
noted = {1, 5, 50, count, last}
spooler = Spooler(cups)
before = {name: spooler.last_job(name) for name in (queue, bitmap_queue)}
with Program(exe, uidriver) as program:
    for number in range(1, last + 1):
        alternating = number <= count
        program.set_mode(DIRECT_CAPTION if alternating and number % 2 else BITMAP_CAPTION)
        program.drive('print', queue if alternating else bitmap_queue)
        if number in noted:
            print(f'soak memory {number} {program.memory()}', flush=True)
    jobs = (spooler.wait_for_jobs(queue, before[queue], count) +
            spooler.wait_for_jobs(bitmap_queue, before[bitmap_queue], bitmap_count))
    program.exit()
print(f'soak jobs {len(jobs)} {sum(1 for job in jobs if job.state == "completed" and job.sheets == 1)}')
