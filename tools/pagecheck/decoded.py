"""What every reader of a printer's own language hands back: each page as the whole sheet in 8-bit
grey at the printer's resolution (paper 255, ink 0), with what the reader had to take from outside
the stream to place it; and the one error a stream that cannot be read gives."""


class StreamError(ValueError):
    """A stream that is bad, cut short or in commands the reader does not read; its text says
    which, and where: 'PCL 3 GUI stream cut off inside a raster row at byte 18211'."""


class Media:
    """What the printer's model tells a reader that its stream may not: the sheet's (width,
    height) in points, the printable area's (left, top) corner on it in points, from the PPD the
    driver made, and the printer's (x, y) resolution, at which a page the stream describes in
    vectors is rendered. Any may be None; a reader that needs one it lacks raises StreamError.
    ppd is the PPD's text, for a reader that needs more of the driver's data for the model."""

    def __init__(self, sheet_points=None, origin_points=None, dpi=None, ppd=None):
        self.sheet_points = sheet_points
        self.origin_points = origin_points
        self.dpi = dpi
        self.ppd = ppd


class DecodedPage:
    """image is a PIL 'L' image of the whole sheet; dpi its (x, y) resolution; sheet_points the
    sheet's size in points where the stream or the media says it; assumed says in a few words what
    the reader took from the media rather than the stream (None when the stream placed the page
    itself)."""

    def __init__(self, image, dpi, sheet_points=None, assumed=None):
        self.image = image
        self.dpi = dpi
        self.sheet_points = sheet_points
        self.assumed = assumed
