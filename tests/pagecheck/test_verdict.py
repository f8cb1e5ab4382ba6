"""Verdicts on page shapes met in real runs: a text line wider than the page, the ellipse of a low
page under the text line's box, a page in a language the check does not read, a page Wine's
driver drew at half the printer's resolution."""
import os
import tempfile
import types
import unittest

from pagecheck.core.modes import DIRECT_CAPTION
from pagecheck.core.setup import Margins, PageSetup
from pagecheck.measure.measurement import Measurement
from pagecheck.measure.page import NamedJob, Printed, measure_document
from pagecheck.measure.placement import Placement
from pagecheck.measure.sheet import View, ink_sheet
from pagecheck.measure.checks import (DIAGONALS, ELLIPSE, TITLED, Tolerance, judge_edges, judge_line, judge_page,
                               judge_strokes, judge_text)
from pagecheck.readers.pjl import UEL

# Letter at 100 dpi, margins 0.8, 0.7, 0.7, 0.7 inch: the border spans x 80 to 780, y 70 to 1030.
WIDTH, HEIGHT = 850, 1100
LETTER = ('0.8', '0.7', '0.7', '0.7')


def measured(box, first, last, margins=LETTER, low=()):
    """The border (strokes 6 pixels wide), the ellipse (a pen of 6), then a 48-point line over its
    opaque box: 48 rows of stems 6 pixels wide, from first (its first letter's) to last, one every
    30 pixels between; those from low on are lowercase, 34 rows tall."""
    lay = Placement((100, 100), Margins(margins), WIDTH, HEIGHT)
    ink = bytearray(WIDTH * HEIGHT)
    cx, cy, a, b = (lay.left + lay.right) / 2, (lay.top + lay.bottom) / 2, \
        (lay.right - lay.left) / 4, (lay.bottom - lay.top) / 4
    for y in range(int(cy - b - 3), int(cy + b + 4)):
        for x in range(int(cx - a - 3), int(cx + a + 4)):
            ring = [((x + 0.5 - cx) / (a + d)) ** 2 + ((y + 0.5 - cy) / (b + d)) ** 2 <= 1 for d in (3, -3)]
            ink[y * WIDTH + x] = ring[0] and not ring[1]
    stems = [first, *range(first + 25, last - 6, 30), last - 6]
    for left, top, right, bottom, value in \
            [(80, int(lay.top), 780, int(lay.top) + 6, 1), (80, int(lay.bottom) - 6, 780, int(lay.bottom), 1),
             (80, int(lay.top), 86, int(lay.bottom), 1), (774, int(lay.top), 780, int(lay.bottom), 1), (*box, 0)] + \
            [(x, 540 if low and x >= low[0] else 526, x + 6, 574, 1) for x in stems]:
        for y in range(top, bottom):
            ink[y * WIDTH + left:y * WIDTH + right] = bytes([value]) * (right - left)
    sheet = ink_sheet(WIDTH, HEIGHT, ink)
    return Measurement(View(sheet), lay)


class VerdictTest(unittest.TestCase):
    def test_a_line_wider_than_the_border_starts_at_its_left_edge_and_is_cut_at_its_right(self):
        # Its box covers both strokes; a cut letter's stem lies just where the right stroke was.
        check = judge_text(measured((80, 516, 780, 584), 85, 780))
        self.assertTrue(check.passed, check.figure)
        self.assertIn('starts 1.27 mm from its left edge', check.figure)
        # Begun 0.3 inch in, as the program never draws it.
        self.assertFalse(judge_text(measured((110, 516, 780, 584), 115, 776)).passed)

    def test_a_cut_line_is_as_tall_as_its_first_letter_whatever_the_page_leaves_in_its_middle(self):
        # The page's middle holds lowercase letters only, as on A6 or a wide-margined sheet.
        check = judge_text(measured((80, 516, 780, 584), 85, 780, low=(140,)))
        self.assertTrue(check.passed, check.figure)
        self.assertIn('48.3 pt', check.figure)

    def test_the_border_and_ellipse_of_a_low_page_are_measured_clear_of_the_text_lines_box(self):
        # 2 inches high: the box covers the rows 3/5 of the ellipse's half-height from its middle
        # and those the border is found on, 3/10 of the page's height from its top and bottom.
        low = ('0.8', '4.5', '0.7', '4.5')
        page = measured((80, 513, 780, 587), 85, 780, low)
        tolerance = Tolerance(0.1, (100, 100))
        self.assertTrue(judge_edges(page, tolerance).passed, judge_edges(page, tolerance).figure)
        self.assertTrue(judge_line(ELLIPSE, page.ellipse_errors, tolerance, 100).passed)
        # The same ellipse on a page 3.6 inches high spans a third of it, and is failed.
        wrong = measured((80, 513, 780, 587), 85, 780, low)
        wrong.placement.top, wrong.placement.bottom = 370, 730
        wrong.measure_ellipse()
        self.assertIs(judge_line(ELLIPSE, wrong.ellipse_errors, Tolerance(0.1, (100, 100)), 100).passed, False)

    def test_a_whole_line_narrower_than_the_ellipse_of_a_wide_page_is_whole(self):
        # Landscape on a sheet 16 inches long: the ellipse is 7 inches wide, the line 6.8.
        lay = Placement((100, 100), Margins(('1', '1', '1', '1')), 1600, 827)
        page = types.SimpleNamespace(placement=lay, ellipse=(800, 413.5, 350, 156.75), text_cut=False,
                                     text=(460, 390, 1142, 438))
        self.assertTrue(judge_text(page).passed, judge_text(page).figure)
        page.text = (460, 390, 860, 438)
        self.assertFalse(judge_text(page).passed)

    def test_a_narrow_pages_border_strokes_are_measured_where_no_diagonal_runs_into_them(self):
        # 0.75 by 3 inches: at a tenth of its width a diagonal meets the top and bottom strokes.
        lay = Placement((100, 100), Margins(('2.5', '4', '5.25', '4')), WIDTH, HEIGHT)
        ink = bytearray(WIDTH * HEIGHT)
        for y in range(400, 700):
            ink[y * WIDTH + 250:y * WIDTH + 325] = b'\1' * 6 + b'\0' * 63 + b'\1' * 6 if 406 <= y < 694 else b'\1' * 75
            # Each diagonal's pen, 6 pixels across it, some 26 down a column of this narrow page.
            for x in (253 + (y - 403) * 69 / 294, 322 - (y - 403) * 69 / 294):
                ink[y * WIDTH + int(x) - 3:y * WIDTH + int(x) + 3] = b'\1' * 6
        page = Measurement(View(ink_sheet(WIDTH, HEIGHT, ink)), lay)
        self.assertTrue(judge_strokes(page, Tolerance(0.1, (100, 100))).passed, page.strokes_y)

    def test_a_page_the_check_cannot_read_is_titled_by_its_job_and_never_fails(self):
        # brlaser and some other drivers name a PJL job JOBID/USER/TITLE.
        for name, passed in ((b'12/root/Print Mode: Direct Print', True), (b'12/root/Print Test - Direct', None)):
            with tempfile.TemporaryDirectory() as folder:
                path = os.path.join(folder, 'job.prn')
                with open(path, 'wb') as job:
                    job.write(UEL + b'@PJL JOB NAME="%s"\n@PJL ENTER LANGUAGE=JETREADY\n\x1bE' % name)
                page = measure_document(Printed(path, NamedJob(DIRECT_CAPTION)),
                                        PageSetup('Letter', (612, 792), Margins(LETTER)), folder)
            checks = {check.name: check.passed for check in judge_page(page, DIRECT_CAPTION, 0.1)}
            self.assertEqual((checks.pop(TITLED), set(checks.values())), (passed, {None}), name)

    def test_lines_of_a_page_drawn_at_300_dpi_are_judged_in_its_pixels(self):
        # A 600 dpi PDF queue whose resolution is a PJL option: Bitmap diagonals up to 5.6 px off.
        drawn = Placement((600, 600), Margins(('1', '1', '1', '1')), 5100, 6600, layout=(300, 300))
        self.assertEqual((drawn.inset_x, drawn.grain), (18, (2, 2)))
        self.assertTrue(judge_line(DIAGONALS, [5.6], Tolerance(0.1, (600, 600), drawn.grain), 600).passed)
        self.assertFalse(judge_line(DIAGONALS, [5.6], Tolerance(0.1, (600, 600)), 600).passed)


if __name__ == '__main__':
    unittest.main()
