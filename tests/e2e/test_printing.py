"""End to end: the real printtest.exe under Wine prints through the fixture's CUPS queues, and
what reaches them is rendered with Ghostscript at the queue's resolution and measured.

Positions are in printer pixels on the sheet, as the page was laid out (a landscape page is
turned back upright); a right or bottom edge is the first pixel past the border.
"""
import shutil
import sys
import unittest

from pagecheck.commands.fixture import fixture_drivers, fixture_names, fixture_program, fixture_spooler, work_directory
from pagecheck.core.errors import NotPrinted
from pagecheck.core.modes import BITMAP_CAPTION, DIRECT_CAPTION
from pagecheck.core.setup import Margins, PageSetup
from pagecheck.measure.checks import DIAGONALS, EDGES, ELLIPSE, STROKES, TEXT, judge_agreement, judge_page
from pagecheck.stack.jobs import PrintQueue, print_page
from pagecheck.stack.wine import prepare_prefix, program_is_64_bit, restore_prefix, use_metric_units

NAMES = fixture_names()
QUEUE = NAMES['QUEUE_SHORT']
QUEUE_600 = NAMES['QUEUE_600']
QUEUE_2400 = NAMES['QUEUE_2400']
MODES = (DIRECT_CAPTION, BITMAP_CAPTION)

# The check's least tolerance: 2 printer pixels.
TOLERANCE_MM = 0
# What a run of jobs may add to the program's memory: far less than one page bitmap.
MEMORY_GROWTH = 16 * 2**20
# A print whose page is not measured, only counted.
COUNTED = PageSetup(None, None, None)


class Layout:
    """One way to lay the page out: the queue, the units the margins are typed in, the margins
    as typed into the Page Setup dialog (left, top, right, bottom) and the orientation."""

    def __init__(self, name, queue, metric, margins, landscape=False):
        self.name = name
        self.queue = queue
        self.metric = metric
        self.margins = margins
        self.landscape = landscape


# Each leaves the text line (7.2 inches in Bitmap mode) room to be centred whole.
LAYOUTS = (
    Layout('300 dpi, inches, portrait', QUEUE, False, ('0.75', '1', '0.25', '0.6')),
    Layout('600 dpi, inches, portrait', QUEUE_600, False, ('0.3', '0.625', '0.7', '1.25')),
    Layout('300 dpi, millimetres, landscape', QUEUE, True, ('25', '15', '10', '7.5'), landscape=True),
)


# One uidriver drives every program of the module, one after another.
DRIVERS = fixture_drivers()


def setUpModule():
    prepare_prefix()


def tearDownModule():
    DRIVERS.close()
    restore_prefix()


class PrintingTestCase(unittest.TestCase):
    def setUp(self):
        self.workdir = work_directory()
        self.addCleanup(shutil.rmtree, self.workdir, True)
        self.spooler = fixture_spooler()

    def assertExitsCleanly(self, program):
        self.assertEqual(program.exit(), 0, 'File > Exit must end the program with exit code 0')


class PrintedPageTest(unittest.TestCase):
    """Each layout printed once in each mode, by two runs of the program: one in a locale
    measuring in inches, one in a locale measuring in millimetres."""

    @classmethod
    def setUpClass(cls):
        cls.workdir = work_directory()
        cls.spooler = fixture_spooler()
        cls.printed = {}
        try:
            for metric in (False, True):
                cls.print_layouts([layout for layout in LAYOUTS if layout.metric == metric], metric)
        finally:
            use_metric_units(False)
            shutil.rmtree(cls.workdir, True)
        cls.report()

    @classmethod
    def print_layouts(cls, layouts, metric):
        use_metric_units(metric)
        with fixture_program(DRIVERS) as program:
            mode = DIRECT_CAPTION
            for layout in layouts:
                program.drive('page-setup', *layout.margins, *(['landscape'] if layout.landscape else []))
                # A landscape page keeps the printer the dialog offers: picking one anew would
                # start from that printer's own settings.
                printer = None if layout.landscape else layout.queue
                for caption in (mode, DIRECT_CAPTION if mode == BITMAP_CAPTION else BITMAP_CAPTION):
                    program.set_mode(caption)
                    setup = PageSetup(None, None, Margins(layout.margins, layout.metric),
                                      'landscape' if layout.landscape else 'portrait')
                    cls.printed[layout.name, caption] = print_page(
                        program, PrintQueue(cls.spooler, layout.queue), setup, cls.workdir, printer)
                    mode = caption
            cls.exit_code = program.exit()

    @classmethod
    def report(cls):
        cls.verdicts = {}
        for (name, caption), page in sorted(cls.printed.items()):
            cls.verdicts[name, caption] = {check.name: check for check in judge_page(page, caption, TOLERANCE_MM)}
            figures = '; '.join(f'{check.name}: {check.figure}' for check in cls.verdicts[name, caption].values())
            print(f'\n{name}, {caption}: {figures}', file=sys.stderr)

    def each_page(self):
        return [(layout, caption, self.printed[layout.name, caption]) for layout in LAYOUTS for caption in MODES]

    def test_one_page_per_job_titled_with_the_mode(self):
        for layout, caption, page in self.each_page():
            with self.subTest(layout=layout.name, mode=caption):
                self.assertEqual(page.job.state, 'completed')
                self.assertEqual(page.job.name, caption, 'the CUPS job is named after the mode')
                self.assertEqual(page.title, caption, 'the document is titled after the mode')
                self.assertEqual(page.pages, 1, 'the document holds exactly one page')
                self.assertEqual(page.sheet_size, (round(8.5 * page.dpi[0]), round(11 * page.dpi[1])),
                                 'a Letter sheet at the resolution of the queue')
        self.assertEqual(self.exit_code, 0)

    def assertPasses(self, name):
        for layout, caption, _ in self.each_page():
            with self.subTest(layout=layout.name, mode=caption):
                check = self.verdicts[layout.name, caption][name]
                self.assertTrue(check.passed, check.figure)

    def test_border_lies_at_the_margins(self):
        self.assertPasses(EDGES)
        self.assertPasses(STROKES)

    def test_diagonals_join_the_corners_of_the_border(self):
        self.assertPasses(DIAGONALS)

    def test_ellipse_spans_the_middle_half(self):
        self.assertPasses(ELLIPSE)

    def test_text_line_is_centred(self):
        self.assertPasses(TEXT)
        for layout, caption, _ in self.each_page():
            self.assertNotIn('wider than the page', self.verdicts[layout.name, caption][TEXT].figure,
                             'each layout leaves the line room, so its centring across is measured')

    def test_direct_and_bitmap_pages_agree(self):
        for layout in LAYOUTS:
            with self.subTest(layout=layout.name):
                check = judge_agreement(self.printed[layout.name, DIRECT_CAPTION],
                                        self.printed[layout.name, BITMAP_CAPTION], TOLERANCE_MM)
                self.assertTrue(check.passed, check.figure)


class JobTest(PrintingTestCase):
    def test_cancelling_the_print_dialog_prints_nothing(self):
        with fixture_program(DRIVERS) as program:
            before = self.spooler.last_job(QUEUE)
            program.drive('cancel-print')
            # The next job shows the spooler has taken everything the program sent before it.
            page = print_page(program, PrintQueue(self.spooler, QUEUE), COUNTED, self.workdir)
            self.assertExitsCleanly(program)
        jobs = [job for job in self.spooler.jobs(QUEUE) if job.id > before]
        self.assertEqual([job.id for job in jobs], [page.job.id], f'only the printed job arrives: {jobs}')
        self.assertEqual(page.pages, 1)

    def test_cancelling_a_job_prints_nothing_and_the_next_job_prints(self):
        with fixture_program(DRIVERS) as program:
            program.set_mode(BITMAP_CAPTION)
            before = self.spooler.last_job(QUEUE_600)
            # Cancel is pressed as the cancel dialog opens: under Wine the program takes a press
            # only then, when the document starts, and not while the page is drawn and sent.
            program.drive('print-cancelled', QUEUE_600)
            # Waits until the main window is enabled again with no dialog left open.
            program.drive('wait-window')
            page = print_page(program, PrintQueue(self.spooler, QUEUE_600), COUNTED, self.workdir, QUEUE_600)
            self.assertExitsCleanly(program)
        jobs = [job for job in self.spooler.jobs(QUEUE_600) if job.id > before]
        self.assertEqual([job.id for job in jobs], [page.job.id], f'the cancelled job reached the queue: {jobs}')
        self.assertEqual((page.job.state, page.job.name, page.pages), ('completed', BITMAP_CAPTION, 1))

    def test_twenty_bitmap_jobs_arrive_whole_over_a_disabled_window_and_leave_no_memory_behind(self):
        count = 20
        with fixture_program(DRIVERS) as program:
            program.set_mode(BITMAP_CAPTION)
            before = {queue: self.spooler.last_job(queue) for queue in (QUEUE_600, QUEUE)}
            memory = {}
            for number in range(1, count + 1):
                # The first job is watched from outside: its cancel dialog up over a disabled main
                # window, so no second Print command can start meanwhile; at 600 dpi it stays up
                # long enough to be seen. The rest print at 300 dpi, a quarter of the work.
                if number == 1:
                    program.drive('print-watched', QUEUE_600)
                else:
                    program.drive('print', QUEUE)
                if number in (5, count):
                    memory[number] = program.memory()
            jobs = (self.spooler.wait_for_jobs(QUEUE_600, before[QUEUE_600], 1) +
                    self.spooler.wait_for_jobs(QUEUE, before[QUEUE], count - 1))
            self.assertExitsCleanly(program)
        self.assertEqual(len(jobs), count, f'jobs {jobs}')
        for job in jobs:
            self.assertEqual((job.state, job.name, job.sheets), ('completed', BITMAP_CAPTION, 1), f'{job}')
        # Each 300 dpi page bitmap is 2550 x 3300 x 4 bytes, 32 MB: one kept would show twice over.
        self.assertLessEqual(memory[count] - memory[5], MEMORY_GROWTH,
                             f'private memory after job 5 and job {count}: {memory}')

    def test_a_bitmap_page_too_large_is_refused_with_a_message_and_a_direct_page_then_prints(self):
        margins = ('1', '1', '1', '1')
        # Measured at 300 dpi: the 2400 dpi sheet would be half a billion pixels.
        measured = PageSetup(None, None, Margins(margins), dpi=(300, 300))
        queue = PrintQueue(self.spooler, QUEUE_2400)
        pages = []
        with fixture_program(DRIVERS) as program:
            program.set_mode(BITMAP_CAPTION)
            # With the zero margins the program starts with, the page is the whole Letter sheet:
            # at 2400 dpi a bitmap of 20400 x 26400 x 4 bytes, 2.15 GB in one piece, which neither
            # a 32-bit process nor GDI in a 64-bit one makes.
            with self.assertRaises(NotPrinted) as whole_sheet:
                print_page(program, queue, COUNTED, self.workdir, QUEUE_2400)
            refused = [whole_sheet]
            # Page Setup and the mode need the main window enabled with no dialog left open.
            program.drive('page-setup', *margins)
            # Within one-inch margins the bitmap is 1.35 GB: a 32-bit process makes it but has no
            # room left for the copies Wine's PostScript driver makes of it; a 64-bit one prints it.
            if program_is_64_bit():
                pages.append((BITMAP_CAPTION, print_page(program, queue, measured, self.workdir, QUEUE_2400)))
            else:
                with self.assertRaises(NotPrinted) as inside_margins:
                    print_page(program, queue, COUNTED, self.workdir, QUEUE_2400)
                refused.append(inside_margins)
            program.set_mode(DIRECT_CAPTION)
            pages.append((DIRECT_CAPTION, print_page(program, queue, measured, self.workdir, QUEUE_2400)))
            self.assertExitsCleanly(program)
        for refusal in refused:
            self.assertEqual(refusal.exception.message, 'Unable to create page bitmap!')
            self.assertEqual(refusal.exception.reason, 'no job reached the queue')
        for caption, page in pages:
            for check in judge_page(page, caption, TOLERANCE_MM):
                self.assertTrue(check.passed, f'{caption}: {check.name}: {check.figure}')

    def test_exit_ends_the_program_with_code_zero(self):
        with fixture_program(DRIVERS) as program:
            self.assertExitsCleanly(program)


if __name__ == '__main__':
    unittest.main()
