"""Where the program should put the test page on a sheet."""


class Placement:
    """Where the program should put the test page on the sheet: the border's outer edges at the
    margins (a Margins), measured from the sheet's edges, in printer pixels (fractions kept). dpi
    is the (x, y) resolution the page is measured at, along the page; width and height the
    sheet's there; layout the resolution the program drew it at, when the printer's driver gave
    it another: sizes it rounds are whole pixels there, and grain is how many printer pixels one
    of them spans."""

    def __init__(self, dpi, margins, width, height, layout=None):
        (left, top, right, bottom), units = margins.page_setup_values()
        self.dpi_x, self.dpi_y = dpi
        self.left = self.dpi_x * left / units
        self.top = self.dpi_y * top / units
        self.right = width - self.dpi_x * right / units
        self.bottom = height - self.dpi_y * bottom / units
        layout = layout or dpi
        self.grain = (self.dpi_x / layout[0], self.dpi_y / layout[1])
        # The border's inset, 1/32 inch; its pen is twice as wide.
        self.inset_x = round(layout[0] / 32) * self.grain[0]
        self.inset_y = round(layout[1] / 32) * self.grain[1]
