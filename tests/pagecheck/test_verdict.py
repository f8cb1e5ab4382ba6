"""Verdicts on page shapes met in real runs: a text line a little wider than the border, a page in
a language Ghostscript cannot read, a page Wine's driver drew at half the printer's resolution."""
import types
import unittest

from pagecheck.measure import Measurement, Placement
from pagecheck.sheet import View
from pagecheck.verdict import DIAGONALS, TITLED, Tolerance, judge_line, judge_page, judge_text

# Letter at 100 dpi, margins 0.8, 0.7, 0.7, 0.7 inch: the border spans x 80 to 780, y 70 to 1030.
WIDTH, HEIGHT = 850, 1100


def measured(box, first, last):
    """The border (strokes 6 pixels wide), then a 48-point line over its opaque box: 48 rows of
    stems 6 pixels wide, from first (its first letter's) to last, one every 30 pixels between."""
    ink = bytearray(WIDTH * HEIGHT)
    for left, top, right, bottom, value in [(80, 70, 780, 1030, 1), (86, 76, 774, 1024, 0), (*box, 0)] + \
            [(x, 526, x + 6, 574, 1) for x in [first, *range(first + 25, last - 6, 30), last - 6]]:
        for y in range(top, bottom):
            ink[y * WIDTH + left:y * WIDTH + right] = bytes([value]) * (right - left)
    sheet = types.SimpleNamespace(width=WIDTH, height=HEIGHT, ink=bytes(ink))
    return Measurement(View(sheet), Placement((100, 100), ('0.8', '0.7', '0.7', '0.7'), False, WIDTH, HEIGHT))


class VerdictTest(unittest.TestCase):
    def test_a_line_wider_than_the_border_starts_at_its_left_edge_and_is_cut_at_its_right(self):
        # Its box covers both strokes; a cut letter's stem lies just where the right stroke was.
        check = judge_text(measured((80, 516, 780, 584), 85, 780))
        self.assertTrue(check.passed, check.figure)
        self.assertIn('starts 1.27 mm from its left edge', check.figure)
        # Begun 0.3 inch in, as the program never draws it.
        self.assertFalse(judge_text(measured((110, 516, 780, 584), 115, 776)).passed)

    def test_a_page_ghostscript_cannot_read_is_titled_by_its_job_and_not_measured(self):
        for job, passed in (('Print Mode: Direct Print', True), ('untitled', False)):
            page = types.SimpleNamespace(kind=None, language='PCLXL', title=None, pages=None,
                                         job=types.SimpleNamespace(name=job))
            checks = {check.name: check.passed for check in judge_page(page, 'Print Mode: Direct Print', 0.1)}
            self.assertEqual((checks.pop(TITLED), set(checks.values())), (passed, {None}))

    def test_lines_of_a_page_drawn_at_300_dpi_are_judged_in_its_pixels(self):
        # A 600 dpi PDF queue whose resolution is a PJL option: Bitmap diagonals up to 5.6 px off.
        drawn = Placement((600, 600), ('1', '1', '1', '1'), False, 5100, 6600, layout=(300, 300))
        self.assertEqual((drawn.inset_x, drawn.grain), (18, (2, 2)))
        self.assertTrue(judge_line(DIAGONALS, [5.6], Tolerance(0.1, (600, 600), drawn.grain), 600).passed)
        self.assertFalse(judge_line(DIAGONALS, [5.6], Tolerance(0.1, (600, 600)), 600).passed)


if __name__ == '__main__':
    unittest.main()
