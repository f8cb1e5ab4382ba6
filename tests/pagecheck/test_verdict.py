"""The measuring and the verdicts on pages shaped as real runs met them: a text line a little wider
than the border, a page in a language Ghostscript cannot read, a page drawn at a coarser
resolution than the printer's."""
import types
import unittest

from pagecheck.measure import Measurement, Placement
from pagecheck.sheet import View
from pagecheck.verdict import DIAGONALS, ONE_PAGE, TEXT, TITLED, Tolerance, judge_line, judge_page, judge_text

DPI = 100
# Letter at 100 dpi, with the border's outer edges at 80, 70, 780 and 1030: 7 inches across.
WIDTH, HEIGHT = 850, 1100
MARGINS = ('0.8', '0.7', '0.7', '0.7')
STROKE = 2 * round(DPI / 32)
# A 48-point line: its capitals about 48 pixels tall, around the middle of the page.
TEXT_TOP, TEXT_BOTTOM = 526, 574


class Canvas:
    def __init__(self):
        self.ink = bytearray(WIDTH * HEIGHT)

    def fill(self, left, top, right, bottom, value=1):
        for y in range(top, bottom):
            self.ink[y * WIDTH + left:y * WIDTH + right] = bytes([value]) * (right - left)

    def page(self, box, stems):
        """The border, then a text line: its opaque box (left, right) and its letters' stems."""
        self.fill(80, 70, 780, 1030)
        self.fill(80 + STROKE, 70 + STROKE, 780 - STROKE, 1030 - STROKE, 0)
        self.fill(box[0], TEXT_TOP - 10, box[1], TEXT_BOTTOM + 10, 0)
        for left, right in stems:
            self.fill(left, TEXT_TOP, right, TEXT_BOTTOM)
        sheet = types.SimpleNamespace(width=WIDTH, height=HEIGHT, ink=bytes(self.ink))
        return Measurement(View(sheet), Placement((DPI, DPI), MARGINS, False, WIDTH, HEIGHT))


def stems(first, last):
    """A line from first to last: a stem where its first letter's starts, then one every 30 pixels
    after a gap, the last ending at last."""
    return [(first, first + 6)] + [(x, x + 6) for x in range(first + 25, last - 6, 30)] + [(last - 6, last)]


class TextLineTest(unittest.TestCase):
    def test_a_line_a_little_wider_than_the_border_starts_at_its_left_edge_and_is_cut(self):
        # The box covers the border; the first letter starts 5 pixels in (its side bearing) and a
        # cut letter's stem lies just where the right stroke was.
        m = Canvas().page((80, 780), stems(85, 780))
        check = judge_text(m)
        self.assertTrue(m.text_cut)
        self.assertTrue(check.passed, check.figure)
        self.assertIn('starts 1.27 mm from its left edge', check.figure)

    def test_a_narrower_line_is_judged_centred_and_a_wide_one_must_start_at_the_left_edge(self):
        centred = Canvas().page((200, 660), stems(205, 655))
        self.assertFalse(centred.text_cut)
        self.assertTrue(judge_text(centred).passed, judge_text(centred).figure)
        shifted = Canvas().page((230, 660), stems(235, 655))
        self.assertFalse(judge_text(shifted).passed, judge_text(shifted).figure)
        # Wider than the page but begun 0.3 inch in: the program never draws it so.
        late = Canvas().page((110, 780), stems(115, 776))
        self.assertTrue(late.text_cut)
        self.assertFalse(judge_text(late).passed, judge_text(late).figure)


class PageTest(unittest.TestCase):
    def test_a_page_ghostscript_cannot_read_is_not_measured_and_titled_by_its_job(self):
        for job, title, passed in (('Print Mode: Direct Print', None, True), ('untitled', None, False),
                                   ('Print Mode: Direct Print', 'Print Mode: Bitmap Print', False)):
            page = types.SimpleNamespace(kind=None, language='PCLXL', title=title, pages=None,
                                         job=types.SimpleNamespace(name=job))
            with self.subTest(job=job, title=title):
                checks = {check.name: check for check in judge_page(page, 'Print Mode: Direct Print', 0.1)}
                self.assertIs(checks[TITLED].passed, passed, checks[TITLED].figure)
                self.assertIsNone(checks[ONE_PAGE].passed)
                self.assertIn('printed in PCLXL', checks[ONE_PAGE].figure)
                self.assertEqual([check.passed for name, check in checks.items() if name not in (TITLED, ONE_PAGE)],
                                 [None] * 5)

    def test_lines_of_a_page_drawn_at_300_dpi_are_judged_in_its_pixels(self):
        # A cups-filters PDF queue at 600 dpi whose resolution is a PJL option: Wine's driver lays
        # the page out at 300 dpi, and its Bitmap page's diagonals lie up to 5.6 printer pixels off.
        drawn = Placement((600, 600), ('1', '1', '1', '1'), False, 5100, 6600, layout=(300, 300))
        self.assertEqual((drawn.inset_x, drawn.grain), (18, (2, 2)))
        self.assertTrue(judge_line(DIAGONALS, [5.6], Tolerance(0.1, (600, 600), drawn.grain), 600).passed)
        self.assertFalse(judge_line(DIAGONALS, [5.6], Tolerance(0.1, (600, 600)), 600).passed)


if __name__ == '__main__':
    unittest.main()
