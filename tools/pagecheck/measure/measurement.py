"""How far what was printed lies from where the test page belongs: its border, diagonals, ellipse
and text line, measured along rows and columns of the sheet."""
from .sheet import centre, nearest_run, runs

# The text line's size; the program draws it on a white box as tall as the face's cell, under
# 0.56 em above and below the line's middle for its face (0.58 for the printer's Helvetica).
# The shorter of the two captions' ink is some 10.2 em wide.
TEXT_POINTS = 48
BOX_HALF_EM = 0.6
LINE_EMS = 10


class Measurement:
    """The figures of one printed page, measured on its view against where it belongs."""

    FRACTIONS = (0.1, 0.3, 0.7, 0.9)

    def __init__(self, view, placement):
        self.view = view
        self.placement = placement
        # How far from the page's middle a stroke's middle must lie for the stroke to be clear of
        # the text line's white box: on a low page the rows the measuring uses move out.
        self.clear = BOX_HALF_EM * TEXT_POINTS / 72 * placement.dpi_y + placement.dpi_y / 32
        self.measure_border()
        self.measure_diagonals()
        self.measure_ellipse()
        self.measure_text()

    def clear_of_text(self, y):
        """The row y, or the first row beyond it clear of the text line's box."""
        middle = (self.placement.top + self.placement.bottom) / 2
        if abs(y - middle) >= self.clear:
            return y
        return int(middle - self.clear) if y < middle else int(middle + self.clear) + 1

    def measure_border(self):
        """Outer edges and stroke widths of the border, along rows and columns that cross the
        page away from its middle, where the text line is. A stroke's width is taken only where
        no diagonal runs into it, as they do near the corners of a narrow page."""
        lay = self.placement
        self.left, self.right, self.top, self.bottom = [], [], [], []
        # Widths of the left and right strokes (in x pixels), of the top and bottom ones (in y).
        self.strokes_x, self.strokes_y = [], []
        width, height = lay.right - lay.left - 2 * lay.inset_x, lay.bottom - lay.top - 2 * lay.inset_y
        for fraction in self.FRACTIONS:
            across = self.view.row(self.clear_of_text(int(lay.top + fraction * (lay.bottom - lay.top))))
            down = self.view.column(int(lay.left + fraction * (lay.right - lay.left)))
            corner = min(fraction, 1 - fraction)
            for line, first, last, strokes, inset, span, other in (
                    (across, self.left, self.right, self.strokes_x, lay.inset_x, width, height),
                    (down, self.top, self.bottom, self.strokes_y, lay.inset_y, height, width)):
                found = runs(line)
                if found:
                    first.append(found[0][0])
                    last.append(found[-1][1])
                    # The nearer diagonal's distance from the stroke's middle, less its pen's
                    # half-width along the line, is to leave paper beyond the stroke.
                    gap = (corner * other - inset) * span / other
                    if gap - inset * (1 + (span / other) ** 2) ** 0.5 > 2 * inset:
                        strokes += [found[0][1] - found[0][0], found[-1][1] - found[-1][0]]

    def measure_diagonals(self):
        """How far the diagonals' strokes lie from the lines joining the border's corners (the
        centres of its strokes), at points outside the ellipse, whose white inside covers them,
        and clear of the text line's box. Found along rows, a stroke's offset is turned into its
        distance from its line, in x pixels: along a row, a low page's flat diagonal is off by
        many times the pixel its rounding moves it up or down."""
        lay = self.placement
        x0, y0 = lay.left + lay.inset_x, lay.top + lay.inset_y
        x1, y1 = lay.right - lay.inset_x, lay.bottom - lay.inset_y
        width, height = (x1 - x0) / lay.dpi_x, (y1 - y0) / lay.dpi_y
        across = height / (width ** 2 + height ** 2) ** 0.5
        self.diagonal_errors = []
        for fraction in (0.1, 0.25, 0.75, 0.9):
            y = self.clear_of_text(int(y0 + fraction * (y1 - y0)))
            along = (y + 0.5 - y0) / (y1 - y0)
            line = self.view.row(y)
            for expected in (x0 + along * (x1 - x0), x1 - along * (x1 - x0)):
                run = nearest_run(line, expected)
                self.diagonal_errors.append(abs(centre(run) - expected) * across if run else float('inf'))

    def measure_ellipse(self):
        """How far the ellipse's stroke lies from the ellipse inscribed in the middle half of the
        page: at its top and bottom, and at 3/5 of its half-height up and down, where it is 4/5 of
        its half-width wide. The text line's white box, drawn after it, hides it on a page too
        low for the box: there its sides are measured on rows clear of the box, and its top and
        bottom only when clear of it."""
        lay = self.placement
        cx, cy, a, b = (lay.left + lay.right) / 2, (lay.top + lay.bottom) / 2, \
            (lay.right - lay.left) / 4, (lay.bottom - lay.top) / 4
        self.ellipse = (cx, cy, a, b)
        pen = lay.dpi_y / 16
        clear = self.clear
        self.ellipse_errors = []
        column = runs(self.view.column(int(cx)))
        for expected in (cy - b, cy + b):
            if abs(expected - cy) > clear:
                run = min((run for run in column if abs(centre(run) - cy) > clear - pen / 2),
                          key=lambda run: abs(centre(run) - expected), default=None)
                self.ellipse_errors.append(abs(centre(run) - expected) if run else float('inf'))
        # Moved out from under the box, the rows keep off 0.707 of the half-height, where the
        # diagonals run into the stroke.
        dy = 0.6 * b if 0.6 * b >= clear else max(0.85 * b, clear)
        if dy >= b - pen:
            return
        half_x, half_y = lay.dpi_x / 32, lay.dpi_y / 32
        for y in (int(cy - dy), int(cy + dy)):
            line = self.view.row(y)
            # The middle of the stroke's ink along the row, between the pen's outer and inner
            # edges: off the path where the stroke runs flat, near the ellipse's top. There an
            # offset along the row is a smaller one along the ellipse's normal, its distance.
            spread = sum(max(0.0, 1 - ((y + 0.5 - cy) / (b + side * half_y)) ** 2) ** 0.5 * (a + side * half_x)
                         for side in (-1, 1)) / 2
            normal_x, normal_y = spread / a / (a / lay.dpi_x), (y + 0.5 - cy) / b / (b / lay.dpi_y)
            across = abs(normal_x) / (normal_x ** 2 + normal_y ** 2) ** 0.5
            for expected in (cx - spread, cx + spread):
                run = nearest_run(line, expected)
                self.ellipse_errors.append(abs(centre(run) - expected) * across if run else float('inf'))

    def measure_text(self):
        """The ink box of the text line. Its first letter, a capital P, starts it wherever the
        line is, and its stem stands on the baseline: found as the first ink of the page's middle
        row that is neither the border nor a longer stroke, its column gives the line's
        bottom, and its top, raised to its tallest letter's, the line's top, whatever letters the
        page leaves to be seen (a descender is never counted). Across those rows, the ink
        between the border's strokes is the text's, apart from the ellipse's stroke where the
        text's white background leaves it. A line wider than the page starts at its left edge
        and is cut at its right one: its white background covers the border's strokes, whose
        places its letters may take, so a row shows the border only where its first ink starts
        and its last ends at the border's outer edges, as found away from the text. When most
        of the line's rows do not, text_cut is true."""
        lay = self.placement
        cx, cy, a, b = self.ellipse
        outer_left = sorted(self.left)[len(self.left) // 2] if self.left else lay.left
        outer_right = sorted(self.right)[len(self.right) // 2] if self.right else lay.right
        pen = lay.dpi_x / 16

        def letters(y, found):
            # What starts or ends at the border's outer edges is the border, whole or in part.
            spread = max(0.0, 1 - ((y + 0.5 - cy) / b) ** 2) ** 0.5 * a
            return [(start, end) for start, end in found
                    if abs(start - outer_left) > lay.inset_x / 2 and abs(end - outer_right) > lay.inset_x / 2 and
                    all(abs(centre((start, end)) - (cx + side * spread)) >= pen for side in (-1, 1))]

        em = TEXT_POINTS / 72 * lay.dpi_y
        for start, end in runs(self.view.row(int(cy))):
            if abs(start - outer_left) <= lay.inset_x / 2 or abs(end - outer_right) <= lay.inset_x / 2:
                continue
            # Into the stem, short of a bowl or bar the middle row may cross beside it. The P may
            # stand where the ellipse's stroke would be, under the line's box; the stroke, where
            # it is seen, runs on far above and below the line's letters.
            stem = start + min(max(1, round(0.03 * TEXT_POINTS / 72 * lay.dpi_x)), (end - start) // 2)
            top, bottom = next(run for run in runs(self.view.column(stem)) if run[0] <= int(cy) < run[1])
            if 0.6 * em <= bottom - top <= em:
                break
        else:
            self.text = None
            return
        # The line's tallest letters, the i's dot or an ascender, stand a little above the P.
        rise = top - 0.1 * em
        while top > rise and letters(top - 1, runs(self.view.row(top - 1))):
            top -= 1
        lines = [runs(self.view.row(y)) for y in range(top, bottom)]
        covered = sum(not found or abs(found[0][0] - outer_left) > lay.inset_x / 2 or
                      abs(found[-1][1] - outer_right) > lay.inset_x / 2 for found in lines)
        self.text_cut = covered > (bottom - top) / 2
        left, right = None, None
        for y, found in enumerate(lines, top):
            for start, end in letters(y, found):
                left = start if left is None else min(left, start)
                right = end if right is None else max(right, end)
        self.text = (left, top, right, bottom)

    def edges(self):
        return {'left': self.left, 'top': self.top, 'right': self.right, 'bottom': self.bottom}
