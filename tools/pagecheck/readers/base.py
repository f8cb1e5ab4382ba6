"""What every reader hands back, and what it is given. A reader turns a page description or a
printer's own stream into each page's whole sheet, written as a grey (or, for a page known to be
black on white, a bit-a-pixel) Netpbm file a page, paper white and ink black, at the printer's
resolution; what it took from outside the stream to place a page is said. Every reader module has
the same entry points:

    LANGUAGES          the names of the languages it reads, as reports name them
    PPD_KEYWORDS       the PPD keywords whose values it takes from Media.attributes
    sniff(data)        whether data is in one of them, by its first bytes
    language(data)     which of them data is in
    device_code(data)  what of data the printer's interpreter runs; StreamError for data
                       known bad before it is rendered (a PDF without its trailer)
    title(data)        the title the document carries, or None
    paper(data)        (name, (width, height) in points) of the paper data names first, or None
    render(document, media, workdir, bits)
                       writes the pages of document.data (its device code) into workdir, as bits
                       where asked and the reader renders vectors; returns a Rendered, or raises
                       StreamError naming what is wrong and where (document.name is the file's)

A reader that keeps the defaults binds them from here: unchanged as device_code, no_title as
title.
"""
import os
from dataclasses import dataclass, field

from PIL import Image, ImageChops

# PIL refuses images above some 179 million pixels; a Letter sheet at 2400 dpi is 269 million.
Image.MAX_IMAGE_PIXELS = None
# The largest page read, two gigapixels: a Tabloid sheet at 2400 dpi is 1.1.
MAX_PIXELS = 1 << 31
# The widest and longest sheet a reader places a page on: 10 metres.
MAX_POINTS = 28346
# Grey darker than this is ink, as the page is measured.
INK_BELOW = 128


class StreamError(ValueError):
    """A stream that is bad, cut short or in commands the reader does not read; its text says
    which, and where: 'PCL 3 GUI stream cut off inside a raster row at byte 18211'."""


@dataclass(frozen=True)
class Media:
    """What the printer's model tells a reader that its stream may not: the sheet's (width,
    height) in points, the printable area's (left, top) corner on it in points, from the PPD the
    driver made, and the printer's (x, y) resolution, at which a page the stream describes in
    vectors is rendered. Any may be None; a reader that needs one it lacks raises StreamError.
    attributes holds the values of the PPD keywords the readers name in PPD_KEYWORDS (None for
    one the PPD lacks), for a reader that needs more of the driver's data for the model;
    size_code the PPD's *PageSize code for the sheet, which hands a driver the size code it
    writes where the code is the driver's own."""
    sheet_points: tuple = None
    origin_points: tuple = None
    dpi: tuple = None
    attributes: dict = field(default_factory=dict)
    size_code: str = None


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


class Rendered:
    """A document's pages as written: the files in page order, the first page's (x, y)
    resolution, and what its reader took from the media to place it (or None)."""

    def __init__(self, files, dpi, assumed=None):
        self.files = files
        self.dpi = dpi
        self.assumed = assumed


def unchanged(data):
    return data


def blank_sheet(points, dpi, what):
    """A sheet of points (width, height) at dpi (x, y), all paper; StreamError naming what (the
    page, and where it is in the stream) for a sheet too large to draw."""
    size = (round(points[0] * dpi[0] / 72), round(points[1] * dpi[1] / 72))
    if size[0] * size[1] > MAX_PIXELS:
        raise StreamError(f'{what} on a sheet of {size[0]}x{size[1]} pixels')
    return Image.new('L', size, 255)


def from_ppd(origin_points):
    """What a reader says it took, having placed a page at the printable origin the PPD gives."""
    left, top = origin_points
    return f'printable area {left:g} pt from the left and {top:g} pt from the top, from the PPD'


def no_title(data):
    """A printer's own language carries no title: its job's name is all there is."""
    return None


def shifted(image, dx, dy, fill):
    moved = Image.new(image.mode, image.size, fill)
    moved.paste(image, (dx, dy))
    return moved


def rank(image, pick, fill):
    """A 3 x 3 minimum or maximum (pick ImageChops.darker or .lighter), a row of three then a
    column of three; fill, which pick never chooses, stands beyond the edges."""
    for dx, dy in ((1, 0), (0, 1)):
        image = pick(pick(image, shifted(image, dx, dy, fill)), shifted(image, -dx, -dy, fill))
    return image


def spread(image):
    """The sheet as the ink lies on paper. An inkjet's drops spread over the dots around them, so
    the black a driver dithers prints solid: closing the ink by one dot fills the holes between
    inked dots and leaves the edges of what is inked where they are. (PIL's MinFilter(3) then
    MaxFilter(3) give the same pixels in three times the time.)"""
    return rank(rank(image, ImageChops.darker, 255), ImageChops.lighter, 0)


def page_file(workdir, number, extension='pgm'):
    return os.path.join(workdir, f'page-{number:03d}.{extension}')


def save_pages(pages, workdir, name, dithered=False):
    """Writes each DecodedPage a reader found as an 8-bit grey PGM, one file per page, as
    Ghostscript's pages are written, its pixels let go; returns them as Rendered. dithered spreads
    the ink of an inkjet's dots first. name is the stream's language, for a stream with no page."""
    if not pages:
        raise StreamError(f'no page in the {name} stream')
    files = []
    for number, page in enumerate(pages, 1):
        files.append(page_file(workdir, number))
        (spread(page.image) if dithered else page.image).save(files[-1])
        page.image = None
    return Rendered(files, pages[0].dpi, pages[0].assumed)
