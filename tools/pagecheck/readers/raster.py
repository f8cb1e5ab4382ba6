"""PWG raster and Apple raster (what a driverless printer receives) and CUPS raster (what CUPS
hands a raster driver): page headers of 1796 bytes (32 in Apple raster), then each page's lines,
run-length coded alike in PWG and Apple raster and in CUPS raster version 2. Each page is handed
back as the whole sheet in 8-bit grey at the page's own resolution, written as Ghostscript writes
its pages, so that what follows does not know where a page came from."""
import struct

from PIL import Image

from .base import INK_BELOW, MAX_PIXELS, MAX_POINTS, Rendered, StreamError, no_title, page_file, unchanged

PWG_RASTER = 'PWG raster'
CUPS_RASTER = 'CUPS raster'
APPLE_RASTER = 'Apple raster'
LANGUAGES = (PWG_RASTER, CUPS_RASTER, APPLE_RASTER)
PPD_KEYWORDS = ()
# The entry points it takes as readers.base has them: a raster carries no title, a queue's is the
# one its job was handed on with.
device_code = unchanged
title = no_title
APPLE_SYNC = b'UNIRAST\0'
# An Apple raster file's header: its sync word and page count; then each page's.
APPLE_FILE_HEADER = 12
APPLE_HEADER = 32
# Apple raster's colour spaces as CUPS numbers them, with their colours.
APPLE_SPACES = {0: (18, 1), 1: (19, 3), 3: (20, 3), 4: (0, 1), 5: (1, 3), 6: (6, 4)}
# Sync word: byte order of the header's numbers, and whether the lines are run-length coded.
SYNCS = {b'RaS2': ('>', True), b'2SaR': ('<', True), b'RaS3': ('>', False), b'3SaR': ('<', False),
         b'RaSt': ('>', False), b'tSaR': ('<', False)}
HEADER = 1796
# What a PWG raster page names in its MediaClass field.
PWG_CLASS = b'PwgRaster'
# Colour spaces: luminance (white is 255) and colorant (ink is 255) ones, by their PIL mode; of
# RGBW (hpcups' inkjets) the page is in its red, green and blue.
WHITE_SPACES = {0: 'L', 18: 'L', 1: 'RGB', 19: 'RGB', 20: 'RGB', 17: 'RGBX'}
INK_SPACES = {3: 'L', 4: 'RGB', 6: 'CMYK'}


class RasterError(ValueError):
    pass


class Page:
    """One page's header fields the reading relies on; offsets are into the header, after the
    sync word."""

    def __init__(self, header, order):
        def numbers(offset, count, kind='I'):
            return struct.unpack_from(f'{order}{count}{kind}', header, offset)

        self.dpi = numbers(276, 2)
        (self.width, self.height, _, self.bits_per_colour, self.bits_per_pixel, self.bytes_per_line,
         self.colour_order, self.colour_space) = numbers(372, 8)
        self.colours = numbers(420, 1)[0]
        # A raster driver's page is only the printable area, whose box (left, bottom, right, top in
        # points) says where it lies on the sheet; the fractions, when given, are exact.
        exact_box = numbers(436, 4, 'f')
        self.box = exact_box if any(exact_box) else numbers(284, 4)
        exact_size = numbers(428, 2, 'f')
        self.sheet_points = exact_size if all(exact_size) else numbers(352, 2)
        self.check()

    def check(self):
        if not (self.width and self.height and all(self.dpi)):
            raise RasterError(f'a page of {self.width}x{self.height} pixels at {self.dpi[0]}x{self.dpi[1]} dpi')
        if self.width * self.height > MAX_PIXELS:
            raise RasterError(f'a page of {self.width}x{self.height} pixels is larger than any sheet')
        if self.colour_order != 0:
            raise RasterError(f'colour order {self.colour_order}: only pixels with their colours together are read')
        spaces = WHITE_SPACES if self.colour_space in WHITE_SPACES else INK_SPACES
        mode = spaces.get(self.colour_space)
        colours = len(mode) if mode else 0
        if not mode or self.colours not in (0, colours) or self.bits_per_colour not in (1, 2, 4, 8, 16) or \
                self.bits_per_pixel != colours * self.bits_per_colour or (colours > 1 and self.bits_per_colour < 8):
            raise RasterError(f'colour space {self.colour_space} with {self.colours} colours of '
                              f'{self.bits_per_colour} bits in {self.bits_per_pixel}-bit pixels is not read')
        if self.bytes_per_line != (self.width * self.bits_per_pixel + 7) // 8:
            raise RasterError(f'{self.bytes_per_line} bytes a line for {self.width} pixels of {self.bits_per_pixel} bits')
        width, height = self.sheet_points
        if any(self.box) and not (0 <= self.box[0] < width <= MAX_POINTS and 0 < self.box[3] <= height <= MAX_POINTS):
            raise RasterError(f'a printable area of {self.box} points off its sheet of {width} x {height}')
        if any(self.box) and width * self.dpi[0] / 72 * height * self.dpi[1] / 72 > MAX_PIXELS:
            raise RasterError(f'a sheet of {width} x {height} points at {self.dpi[0]}x{self.dpi[1]} dpi is too large')

    def image(self, data, order):
        """The page's pixels as grey, paper white."""
        mode = WHITE_SPACES.get(self.colour_space) or INK_SPACES[self.colour_space]
        bits = self.bits_per_colour
        if bits == 16:
            raw = f'{mode};16{"B" if order == ">" else ("" if mode == "L" else "L")}'
        elif bits == 1:
            mode, raw = '1', '1'
        else:
            raw = mode if bits == 8 else f'L;{bits}'
        image = Image.frombytes(mode, (self.width, self.height), data, 'raw', raw)
        if self.colour_space in INK_SPACES and mode != 'CMYK':
            image = Image.eval(image.convert('L') if mode == '1' else image, lambda value: 255 - value)
        return image.convert('L')

    def sheet(self, image):
        """The whole sheet, with a page of only the printable area placed where that lies."""
        box, size = self.box, self.sheet_points
        if not any(box):
            return image
        x_dpi, y_dpi = self.dpi
        sheet = Image.new('L', (round(size[0] * x_dpi / 72), round(size[1] * y_dpi / 72)), 255)
        sheet.paste(image, (round(box[0] * x_dpi / 72), round((size[1] - box[3]) * y_dpi / 72)))
        return sheet


def apple_header(data):
    """An Apple raster page's header as the CUPS raster header that says the same."""
    bits, space = data[0], data[1]
    width, height, dpi = struct.unpack_from('>3I', data, 12)
    if space not in APPLE_SPACES:
        raise RasterError(f'Apple raster colour space {space} is not read')
    if width * max(height, 1) * max(bits, 8) // 8 > MAX_PIXELS:
        raise RasterError(f'a page of {width}x{height} pixels of {bits} bits is larger than any sheet')
    cups_space, colours = APPLE_SPACES[space]
    header = bytearray(HEADER)
    struct.pack_into('>2I', header, 276, dpi, dpi)
    struct.pack_into('>8I', header, 372, width, height, 0, bits // colours, bits, (width * bits + 7) // 8, 0, cups_space)
    struct.pack_into('>I', header, 420, colours)
    return bytes(header)


def kind(data):
    """PWG_RASTER, CUPS_RASTER, APPLE_RASTER, or None for data that starts with none's sync word."""
    start = data[:4 + 64]
    if start.startswith(APPLE_SYNC):
        return APPLE_RASTER
    if start[:4] not in SYNCS:
        return None
    return PWG_RASTER if start[4:].split(b'\0', 1)[0] == PWG_CLASS else CUPS_RASTER


def sniff(data):
    return kind(data) is not None


language = kind


def decode_lines(data, at, page):
    """The page's lines, run-length coded: a line's repeat count, then runs of one pixel repeated
    (count below 128) or of pixels as they are (257 - count); 128 fills the line with paper.
    Returns the lines' bytes and where the next page starts."""
    width = page.bytes_per_line
    unit = max(1, page.bits_per_pixel // 8)
    paper = b'\xff' if page.colour_space in WHITE_SPACES else b'\0'
    lines = []
    end = len(data)
    while len(lines) < page.height:
        if at >= end:
            raise RasterError(f'the page ends after {len(lines)} of its {page.height} lines')
        repeat = data[at] + 1
        at += 1
        line = bytearray()
        while len(line) < width:
            if at >= end:
                raise RasterError(f'line {len(lines)} ends after {len(line)} of its {width} bytes')
            count = data[at]
            at += 1
            if count == 128:
                line += paper * (width - len(line))
                continue
            size = unit if count < 128 else (257 - count) * unit
            if at + size > end:
                raise RasterError(f'line {len(lines)} ends inside a run')
            line += data[at:at + size] * (count + 1) if count < 128 else data[at:at + size]
            at += size
        if len(line) > width:
            raise RasterError(f'line {len(lines)} runs {len(line) - width} bytes past its {width}')
        if len(lines) + repeat > page.height:
            raise RasterError(f'line {len(lines)} repeats past the page\'s {page.height} lines')
        lines += [bytes(line)] * repeat
    return b''.join(lines), at


def layout(data, name):
    """How a raster file is laid out, from its sync word: whether it is Apple raster, the byte
    order of its numbers, whether its lines are coded, its pages' header size and where the first
    page starts."""
    apple = data.startswith(APPLE_SYNC)
    if not apple and data[:4] not in SYNCS:
        raise RasterError(f'{name}: not PWG, CUPS or Apple raster')
    order, coded = ('>', True) if apple else SYNCS[data[:4]]
    return apple, order, coded, APPLE_HEADER if apple else HEADER, APPLE_FILE_HEADER if apple else 4


def page_header(data, at, apple, order):
    """The Page whose header starts at at."""
    size = APPLE_HEADER if apple else HEADER
    return Page(apple_header(data[at:at + size]) if apple else data[at:at + size], order)


def first_page(data, name=''):
    """The first page's header, its lines left unread: what the file says of its sheet."""
    apple, order, _, header, at = layout(data, name)
    if at + header > len(data):
        raise RasterError(f'{name}: page 1\'s header is cut short')
    return page_header(data, at, apple, order)


def paper(data):
    """The sheet the first page's header gives, or None where it gives none or cannot be read."""
    try:
        page = first_page(data)
    except RasterError:
        return None
    return None if not all(page.sheet_points) else ('the raster\'s sheet', page.sheet_points)


def read(data, name=''):
    """The pages of a raster file, each as (Page, grey sheet image); RasterError for a file that
    is no raster, is cut short or has a header or line it cannot be. name is the file's, for what
    it says."""
    apple, order, coded, header, at = layout(data, name)
    pages = []
    while at < len(data):
        if at + header > len(data):
            raise RasterError(f'{name}: page {len(pages) + 1}\'s header is cut short')
        try:
            page = page_header(data, at, apple, order)
            at += header
            if coded:
                pixels, at = decode_lines(data, at, page)
            else:
                size = page.bytes_per_line * page.height
                if at + size > len(data):
                    raise RasterError(f'the page ends after {(len(data) - at) // page.bytes_per_line} of its '
                                      f'{page.height} lines')
                pixels, at = data[at:at + size], at + size
        except RasterError as problem:
            raise RasterError(f'{name}: page {len(pages) + 1}: {problem}') from None
        pages.append((page, page.sheet(page.image(pixels, order))))
    if not pages:
        raise RasterError(f'{name}: no page')
    return pages


def fill_out(sheet, page, sheet_points):
    """The sheet padded with paper at its right and bottom to the whole pixels of a sheet of
    sheet_points (width, height): a page that stops short of the sheet by less than a pixel (A4 is
    7015.7 rows at 600 dpi, the page 7015) still has the sheet's far edges where they are, for a
    page turned to lie across it."""
    size = [round(points * dots / 72) for points, dots in zip(sheet_points, page.dpi)]
    if not all(0 <= whole - have <= 1 for whole, have in zip(size, sheet.size)) or tuple(size) == sheet.size:
        return sheet
    filled = Image.new('L', size, 255)
    filled.paste(sheet, (0, 0))
    return filled


def render(document, media, workdir, bits=False):
    """Writes each page of the raster as an 8-bit grey PGM, one file per page, as Ghostscript's
    pages are written, on the media's sheet when it gives one; a page has its own resolution."""
    try:
        pages = read(document.data, document.name)
    except RasterError as problem:
        raise StreamError(f'{kind(document.data)} that cannot be read: {problem}') from None
    files, assumed = [], None
    for number, (page, sheet) in enumerate(pages, 1):
        sheet, darkest = darkened(sheet)
        if darkest and number == 1:
            assumed = f'its darkest grey, {darkest} of 255, taken as black'
        files.append(page_file(workdir, number))
        (fill_out(sheet, page, media.sheet_points) if media.sheet_points else sheet).save(files[-1])
    return Rendered(files, pages[0][0].dpi, assumed)


def darkened(sheet):
    """The sheet, and None; or, where its darkest ink is lighter than the grey measuring takes for
    ink, the sheet stretched so that that ink is black, and how dark it was. A driver's colour
    profile can hand it such a raster: c2esp's PPDs have Ghostscript write the black of the page
    as 153 of 255 in RGB (their cupsColorProfile), which the driver prints black."""
    darkest = sheet.getextrema()[0]
    if not INK_BELOW <= darkest < 255:
        return sheet, None
    return sheet.point(lambda value: 255 - (255 - value) * 255 // (255 - darkest)), darkest
