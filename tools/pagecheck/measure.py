"""Where the test page belongs on a sheet, and how far what was printed lies from it."""
from .sheet import centre, nearest_run, runs


class Placement:
    """Where the program should put the test page on the sheet: the border's outer edges at
    the margins, measured from the sheet's edges, in printer pixels (fractions kept). dpi is the
    (x, y) resolution along the page as it was laid out."""

    def __init__(self, dpi, margins, metric, width, height):
        units = 2540.0 if metric else 1000.0
        scale = 100 if metric else 1000
        left, top, right, bottom = (round(float(text) * scale) for text in margins)
        self.dpi_x, self.dpi_y = dpi
        self.left = self.dpi_x * left / units
        self.top = self.dpi_y * top / units
        self.right = width - self.dpi_x * right / units
        self.bottom = height - self.dpi_y * bottom / units
        # The border's inset, 1/32 inch; its pen is twice as wide.
        self.inset_x = round(self.dpi_x / 32)
        self.inset_y = round(self.dpi_y / 32)


class Measurement:
    """The figures of one printed page, measured on its view against where it belongs."""

    FRACTIONS = (0.1, 0.3, 0.7, 0.9)

    def __init__(self, view, placement):
        self.view = view
        self.placement = placement
        self.measure_border()
        self.measure_diagonals()
        self.measure_ellipse()
        self.measure_text()

    def measure_border(self):
        """Outer edges and stroke widths of the border, along rows and columns that cross the
        page away from its middle, where the text line is."""
        lay = self.placement
        self.left, self.right, self.top, self.bottom = [], [], [], []
        # Widths of the left and right strokes (in x pixels), of the top and bottom ones (in y).
        self.strokes_x, self.strokes_y = [], []
        for fraction in self.FRACTIONS:
            across = self.view.row(int(lay.top + fraction * (lay.bottom - lay.top)))
            down = self.view.column(int(lay.left + fraction * (lay.right - lay.left)))
            for line, first, last, strokes in ((across, self.left, self.right, self.strokes_x),
                                               (down, self.top, self.bottom, self.strokes_y)):
                found = runs(line)
                if found:
                    first.append(found[0][0])
                    last.append(found[-1][1])
                    strokes += [found[0][1] - found[0][0], found[-1][1] - found[-1][0]]

    def measure_diagonals(self):
        """How far the diagonals' strokes lie from the lines joining the border's corners (the
        centres of its strokes), at points outside the ellipse, whose white inside covers them."""
        lay = self.placement
        x0, y0 = lay.left + lay.inset_x, lay.top + lay.inset_y
        x1, y1 = lay.right - lay.inset_x, lay.bottom - lay.inset_y
        self.diagonal_errors = []
        for fraction in (0.1, 0.25, 0.75, 0.9):
            y = int(y0 + fraction * (y1 - y0))
            along = (y + 0.5 - y0) / (y1 - y0)
            line = self.view.row(y)
            for expected in (x0 + along * (x1 - x0), x1 - along * (x1 - x0)):
                run = nearest_run(line, expected)
                self.diagonal_errors.append(abs(centre(run) - expected) if run else float('inf'))

    def measure_ellipse(self):
        """How far the ellipse's stroke lies from the ellipse inscribed in the middle half of the
        page: at its top and bottom, and at 3/5 of its half-height up and down, where it is 4/5 of
        its half-width wide."""
        lay = self.placement
        cx, cy = (lay.left + lay.right) / 2, (lay.top + lay.bottom) / 2
        a, b = (lay.right - lay.left) / 4, (lay.bottom - lay.top) / 4
        self.ellipse_errors = []
        column = runs(self.view.column(int(cx)))
        if len(column) >= 4:
            self.ellipse_errors += [abs(centre(column[1]) - (cy - b)), abs(centre(column[-2]) - (cy + b))]
        else:
            self.ellipse_errors.append(float('inf'))
        for dy in (-0.6 * b, 0.6 * b):
            y = int(cy + dy)
            line = self.view.row(y)
            for expected in (cx - 0.8 * a, cx + 0.8 * a):
                run = nearest_run(line, expected)
                self.ellipse_errors.append(abs(centre(run) - expected) if run else float('inf'))
        self.ellipse = (cx, cy, a, b)

    def measure_text(self):
        """The ink box of the text line. Its rows are found inside the ellipse, where nothing
        else is drawn; across them, the ink between the border's strokes is the text's, apart
        from the ellipse's stroke where the text's white background leaves it. A line wider than
        the page is cut at its right edge, where its white background covers the border's stroke
        in part or its ink runs into it: then text_cut is true."""
        lay = self.placement
        cx, cy, a, b = self.ellipse
        x0, x1 = int(cx - a / 2), int(cx + a / 2)
        rows = [y for y in range(int(cy - b / 2), int(cy + b / 2)) if 1 in self.view.row(y)[x0:x1]]
        if not rows:
            self.text = None
            return
        top, bottom = rows[0], rows[-1] + 1
        inner_left = lay.left + 2 * lay.inset_x + 2
        inner_right = lay.right - 2 * lay.inset_x - 2
        pen = lay.dpi_x / 16
        left, right = None, None
        covered = 0
        for y in range(top, bottom):
            spread = max(0.0, 1 - ((y + 0.5 - cy) / b) ** 2) ** 0.5 * a
            found = runs(self.view.row(y))
            if not found or found[-1][1] - found[-1][0] < 1.5 * lay.inset_x or found[-1][0] < inner_right - 2:
                covered += 1
            for start, end in found:
                if start < inner_left or end > inner_right:
                    continue
                if any(abs(centre((start, end)) - (cx + side * spread)) < pen for side in (-1, 1)):
                    continue
                left = start if left is None else min(left, start)
                right = end if right is None else max(right, end)
        self.text = (left, top, right, bottom)
        self.text_cut = covered > (bottom - top) / 2

    def edges(self):
        return {'left': self.left, 'top': self.top, 'right': self.right, 'bottom': self.bottom}
