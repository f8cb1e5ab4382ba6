"""The raster language of Kodak's ESP and Hero inkjets as printer-driver-c2esp writes it: c2esp for
the ESP 3 to 9 and the ESP 3200 to 9200 series, c2espC for the ESP C and Hero series. A job is
plain-text commands, NAME=VALUE; each, and queries NAME?, which the printer answers on its back
channel; a page's raster comes in RasterObject.Data#N= commands, N bytes of data then ';'.

The job opens with LockPrinterWait? and Event=StartOfJob; MediaSize= names the sheet by its PWG
name (iso_a4_210x297mm: c2espcommon.c:305); Event=StartOfPage starts a page, whose Origin.Top and
Origin.Left put the raster's top left corner that far from the sheet's (c2esp.c:295 1 mm, c2espC.c:223
0 mm), Resolution= gives its x and y resolution, RasterObject.Width and Height its size in pixels.

c2esp (RasterObject.Compression=JBIG) dithers the page to dots of BitsPerPixel 1 (300 dpi across)
or 2 (600 dpi, two drop sizes): c2esp.c:1094. Each row holds RasterObject.Planes' planes side by
side (RGB: cyan, magenta, yellow, black, grey; K: black, grey: c2esp.c:70-71), each padded to a
multiple of 32 bytes (c2esp.c:1124, 899). The page goes down in bands: RasterObject.Extent=skip,H
for H rows with no ink, which are left out of the image, or RasterObject.BandHeight=H then
RasterObject.Extent=true and, for each of its rows, the pixels from and up to which it has ink.
The bands' rows are one JBIG image (T.85, jbigkit's jbig85) across the page's Data commands, undone
here by jbigkit's jbgtopbm85. The extents do not cut the rows here: c2esp.c:461 finds them in every
plane but the last, where the driver's dither puts all the black of the test page in colour and in
grey alike (its levels 1 and 2: c2esp.c:913-914), giving every row an extent of nothing (0, 0); a
printer that cut rows to them would print every such page blank.

c2espC (RasterObject.Compression=GZIPTok) sends 8-bit ink amounts (K, or C, M and Y, though it calls
them sRGB: c2espC.c:246 and 579), a zlib stream of rows: each a run of blank pixels (its count, 2
bytes little-endian, then 01 00), a run of pixels (count, 00 00, then each plane's values of the
run in turn) and a run of blank ones after it where there are any (c2espC.c:561-598).

Each page comes back as the whole sheet in grey at the page's resolution, its raster at the
stream's origin: nothing is taken from the PPD. c2esp's dots are ink wherever any plane has one;
c2espC's amounts are measured in grey as a CUPS raster's pixels. Sources cited are c2esp 27's."""
import os
import re
import subprocess
import tempfile
import zlib
from dataclasses import dataclass, field

from PIL import Image, ImageOps

from .base import DecodedPage, MAX_PIXELS, MAX_POINTS, StreamError, blank_sheet, no_title, save_pages, unchanged
from .foo2 import PBM_HEADER
from ..core.papers import SHEETS
from ..core.units import MM_PER_INCH, POINTS_PER_INCH

LANGUAGE = 'Kodak ESP raster'
LANGUAGES = (LANGUAGE,)
PPD_KEYWORDS = ()
# The entry points it takes as readers.base has them.
device_code = unchanged
title = no_title

# Both filters open the job by locking the printer (c2esp.c:146, c2espC.c:102), whether or not
# they hear its answer.
MAGIC = b'LockPrinterWait?'
# A command's name, the data command's count, and = (a setting) or ? (a query).
COMMAND = re.compile(rb'([A-Za-z][A-Za-z0-9.]*)(?:#(\d{1,9}))?([=?])')
VALUE = re.compile(rb'[ -:<-~]*')
DATA = b'RasterObject.Data'
NUMBER = re.compile(rb'\d{1,9}')
RESOLUTION = re.compile(rb'(\d{1,5})x(\d{1,5})')
MILLIMETRES = re.compile(rb'(\d{1,4}(?:\.\d{1,3})?)mm')
# A PWG media name: its size at the end, in millimetres or inches.
MEDIA = re.compile(r'[a-z0-9]+_([a-z0-9.-]+)_(\d{1,4}(?:\.\d{1,4})?)x(\d{1,4}(?:\.\d{1,4})?)(mm|in)')
# The sizes c2espcommon.c:305-358 names, by the check's names.
SHEET_NAMES = {'letter': 'Letter', 'legal': 'Legal', 'executive': 'Executive', 'a4': 'A4', 'a5': 'A5', 'a6': 'A6',
               'index4x6': '4x6', '5x7': '5x7', 'dl': 'DL', 'c5': 'C5', 'number10': 'Env10', 'b5': 'ISOB5'}
# Settings that move no ink: the print mode, paper source and type, output bin, and c2espC's page
# number and colour mode (c2esp.c:168-222 and 298-313, c2espC.c:222-252).
SETTINGS = frozenset((b'PrintQuality', b'PrintSpeed', b'MediaInputTrayCheck', b'OutputBin', b'MediaType',
                      b'PrintColorspace', b'AntiBleedControl', b'Page'))
# Printing on both sides turns every other page over, a back no reader places.
SIDES, ONE_SIDED = b'Sides', b'OneSided'
JBIG, GZIPTOK = b'JBIG', b'GZIPTok'
# c2espC's colour spaces and their planes.
COMPONENTS = {b'sRGB': 3, b'Mono': 1}
# A GZIPTok run: its pixel count, little-endian, then its kind.
RUN_HEAD = 4
BLANK_RUN, PIXEL_RUN = b'\x01\x00', b'\x00\x00'
MAX_DPI = 2400
DECODER = 'jbgtopbm85'
# Seconds the decoder may take over a page: one takes it well under a second.
TIMEOUT = 60
# The JBIG header (T.85): DL, D, P, a fill byte, then the width, height and stripe height.
BIH_SIZE = 20


@dataclass
class Band:
    """A band of the page: its first byte, height, and whether its rows are in the JBIG image."""
    at: int
    height: int
    sent: bool


@dataclass
class Page:
    at: int
    sheet: tuple
    origin: dict = field(default_factory=dict)
    dpi: tuple = None
    bits: int = None
    planes: int = None
    space: bytes = None
    compression: bytes = None
    width: int = None
    height: int = None
    band_height: int = None
    bands: list = field(default_factory=list)
    data: bytearray = field(default_factory=bytearray)


def number(value, at, name):
    if not NUMBER.fullmatch(value):
        raise StreamError(f'Kodak ESP {name.decode()} at byte {at} is no number: {value[:40]!r}')
    return int(value)


def media_sheet(value, at):
    """The (name, (width, height) in points) a MediaSize value names."""
    found = MEDIA.fullmatch(value.decode('ascii'))
    if not found:
        raise StreamError(f'Kodak ESP MediaSize at byte {at} is no sheet: {value[:40]!r}')
    kind, width, height, unit = found.groups()
    scale = POINTS_PER_INCH / (MM_PER_INCH if unit == 'mm' else 1)
    points = (float(width) * scale, float(height) * scale)
    if not all(0 < side <= MAX_POINTS for side in points):
        raise StreamError(f'Kodak ESP MediaSize at byte {at} gives a sheet of {width}x{height} {unit}, '
                          f'which is not read')
    name = SHEET_NAMES.get(kind)
    if name and all(abs(a - b) < 1 for a, b in zip(SHEETS[name], points)):
        return name, SHEETS[name]
    return value.decode('ascii'), points


def commands(data):
    """Each command of the stream as (name, count or None, =/?, value, its first byte); the data
    command's value is its data."""
    at = 0
    while at < len(data):
        found = COMMAND.match(data, at)
        if not found:
            raise StreamError(f'no Kodak ESP command at byte {at}: {data[at:at + 16]!r}')
        name, count, kind = found.groups()
        start = found.end()
        if kind == b'?':
            if count:
                raise StreamError(f'Kodak ESP query with a count at byte {at}')
            yield name, None, kind, b'', at
            at = start
            continue
        if count:
            if name != DATA:
                raise StreamError(f'Kodak ESP command {name.decode()} with a count at byte {at} is not read')
            end = start + int(count)
        else:
            end = data.find(b';', start)
            if end < 0:
                raise StreamError(f'Kodak ESP stream cut off inside command {name.decode()} at byte {at}')
            if not VALUE.fullmatch(data, start, end):
                raise StreamError(f'Kodak ESP command {name.decode()} at byte {at} has a value that is no text')
        if end >= len(data):
            raise StreamError(f'Kodak ESP stream cut off inside command {name.decode()} at byte {at}')
        if data[end] != ord(';'):
            raise StreamError(f'Kodak ESP command {name.decode()} at byte {at} does not end at its ; '
                              f'(byte {end})')
        yield name, count and int(count), kind, data[start:end], at
        at = end + 1


class Reader:
    """Walks a job's commands, collecting each page's settings, bands and data."""

    def __init__(self, data):
        self.data = data
        self.sheet = None
        self.page = None
        self.pages = []
        self.started = self.ended = False

    def read(self):
        for name, _, kind, value, at in commands(self.data):
            if kind == b'=':
                self.step(name, value, at)
            elif self.ended and name != b'UnlockPrinter':
                raise StreamError(f'Kodak ESP query {name.decode()} after the end of job at byte {at}')
        if not self.ended:
            raise StreamError(f'Kodak ESP stream ends before its end of job at byte {len(self.data)}')
        return self.pages

    def step(self, name, value, at):
        if self.ended:
            raise StreamError(f'Kodak ESP command {name.decode()} after the end of job at byte {at}')
        if name == b'Event':
            self.event(value, at)
        elif name == b'MediaSize':
            if self.page:
                raise StreamError(f'Kodak ESP MediaSize inside a page at byte {at}')
            self.sheet = media_sheet(value, at)
        elif name == SIDES:
            if value != ONE_SIDED:
                raise StreamError(f'Kodak ESP Sides={value.decode()} at byte {at} is not read')
        elif name in SETTINGS:
            pass
        elif not self.page:
            raise StreamError(f'Kodak ESP command {name.decode()} outside a page at byte {at}')
        else:
            self.page_setting(name, value, at)

    def event(self, value, at):
        if not self.started:
            if value != b'StartOfJob':
                raise StreamError(f'Kodak ESP event {value.decode()} before the start of job at byte {at}')
            self.started = True
        elif value == b'StartOfPage':
            if self.page:
                raise StreamError(f'Kodak ESP page starts inside a page at byte {at}')
            if not self.sheet:
                raise StreamError(f'Kodak ESP page at byte {at} starts before any MediaSize')
            self.page = Page(at, self.sheet)
        elif value == b'EndOfPage':
            if not self.page:
                raise StreamError(f'Kodak ESP page ends outside a page at byte {at}')
            self.pages.append(self.page)
            self.page = None
        elif value == b'EndOfBand':
            if not self.page or not self.page.bands or not self.page.bands[-1].sent:
                raise StreamError(f'Kodak ESP band ends outside a band at byte {at}')
        elif value == b'EndOfJob':
            if self.page:
                raise StreamError(f'Kodak ESP job ends inside a page at byte {at}')
            self.ended = True
        else:
            raise StreamError(f'Kodak ESP event {value.decode()} at byte {at} is not read')

    def page_setting(self, name, value, at):
        page = self.page
        if name in (b'Origin.Top', b'Origin.Left'):
            found = MILLIMETRES.fullmatch(value)
            if not found:
                raise StreamError(f'Kodak ESP {name.decode()} at byte {at} is not in millimetres: {value[:40]!r}')
            page.origin[name] = float(found.group(1))
        elif name == b'Resolution':
            found = RESOLUTION.fullmatch(value)
            if not found or not all(0 < int(side) <= MAX_DPI for side in found.groups()):
                raise StreamError(f'Kodak ESP resolution {value[:40]!r} at byte {at} is not read')
            page.dpi = tuple(int(side) for side in found.groups())
        elif name == b'RasterObject.BitsPerPixel':
            page.bits = number(value, at, name)
        elif name == b'RasterObject.Planes':
            page.planes = len(value.split(b'&'))
        elif name == b'RasterObject.Colorspace':
            page.space = value
        elif name == b'RasterObject.Compression':
            if value not in (JBIG, GZIPTOK):
                raise StreamError(f'Kodak ESP compression {value[:40].decode()} at byte {at} is not read')
            page.compression = value
        elif name == b'RasterObject.Width':
            page.width = number(value, at, name)
        elif name == b'RasterObject.Height':
            page.height = number(value, at, name)
        elif name == b'RasterObject.BandHeight':
            page.band_height = number(value, at, name)
        elif name == b'RasterObject.Extent':
            self.extent(value, at)
        elif name == DATA:
            page.data += value
        else:
            raise StreamError(f'Kodak ESP command {name.decode()} at byte {at} is not read')

    def extent(self, value, at):
        page = self.page
        kind, *numbers = value.split(b',')
        numbers = [number(part, at, b'extent') for part in numbers]
        if kind == b'skip' and len(numbers) == 1:
            page.bands.append(Band(at, numbers[0], False))
        elif kind == b'true' and page.band_height is not None and len(numbers) == 2 * page.band_height:
            page.bands.append(Band(at, page.band_height, True))
            page.band_height = None
        else:
            raise StreamError(f'Kodak ESP extent at byte {at} does not give its band\'s rows')


def read(data, workdir):
    """Every page of the job, each the whole sheet, and whether they are of inkjet dots."""
    pages = Reader(data).read()
    dotted = False
    with tempfile.TemporaryDirectory(dir=workdir) as folder:
        decoded = []
        for page in pages:
            check(page)
            dotted = page.compression == JBIG
            raster = jbig_raster(page, folder) if dotted else gziptok_raster(page)
            decoded.append(placed(page, raster))
    return decoded, dotted


def check(page):
    """StreamError for a page whose settings do not give a raster that is read."""
    missing = [name for name, value in (('Resolution', page.dpi), ('Compression', page.compression),
                                        ('Width', page.width), ('Height', page.height),
                                        ('BitsPerPixel', page.bits)) if value is None]
    missing += [name.decode() for name in (b'Origin.Top', b'Origin.Left') if name not in page.origin]
    if missing:
        raise StreamError(f'Kodak ESP page at byte {page.at} does not give its {", ".join(missing)}')
    if not 0 < page.width * page.height <= MAX_PIXELS:
        raise StreamError(f'Kodak ESP page at byte {page.at} has a raster of {page.width}x{page.height} pixels')
    if page.compression == JBIG and (page.bits not in (1, 2) or page.planes is None):
        raise StreamError(f'Kodak ESP page at byte {page.at} sends JBIG in {page.bits}-bit pixels of '
                          f'{page.planes} planes, which is not read')
    if page.compression == GZIPTOK and (page.bits != 8 or page.space not in COMPONENTS):
        raise StreamError(f'Kodak ESP page at byte {page.at} sends {page.bits}-bit pixels in '
                          f'{(page.space or b"no colour space").decode()}, which is not read')


def jbig_raster(page, folder):
    """c2esp's page as 'L', ink 0: its bands' rows from the JBIG image, each row inked where any
    plane has a dot."""
    heights = sum(band.height for band in page.bands)
    if heights != page.height:
        raise StreamError(f'Kodak ESP page at byte {page.at}: its bands cover {heights} of its {page.height} rows')
    rows = sum(band.height for band in page.bands if band.sent)
    if page.data and not rows:
        raise StreamError(f'Kodak ESP page at byte {page.at} sends JBIG data but skips all its bands')
    plane_bits = page.width * page.bits
    image, width = decode(page, rows, folder) if rows else (b'', plane_bits * page.planes)
    plane_bytes = width // 8 // page.planes
    if width % (8 * page.planes) or plane_bytes * 8 < plane_bits:
        raise StreamError(f'Kodak ESP page at byte {page.at}: its JBIG image of {width} pixels across does not '
                          f'hold {page.planes} planes of {plane_bits} bits')
    out = bytearray(plane_bytes * page.height)
    y = source = 0
    for band in page.bands:
        if band.sent:
            for _ in range(band.height):
                row = 0
                for plane in range(page.planes):
                    start = source * width // 8 + plane * plane_bytes
                    row |= int.from_bytes(image[start:start + plane_bytes], 'big')
                out[y * plane_bytes:(y + 1) * plane_bytes] = row.to_bytes(plane_bytes, 'big')
                y += 1
                source += 1
        else:
            y += band.height
    dots = Image.frombytes('1', (plane_bits, page.height), bytes(out), 'raw', '1;I', plane_bytes, 1).convert('L')
    if page.bits == 1:
        return dots
    # A pixel of two bits is a drop of one of two sizes: ink whichever it is.
    return dots.reduce((page.bits, 1)).point(lambda value: 255 if value == 255 else 0)


def decode(page, rows, folder):
    """The page's JBIG image as jbgtopbm85 writes it: its rows' bytes and its width in pixels."""
    bih = page.data[:BIH_SIZE]
    if len(bih) < BIH_SIZE:
        raise StreamError(f'Kodak ESP page at byte {page.at} has no JBIG image for its {rows} rows')
    width = int.from_bytes(bih[4:8], 'big')
    if not 0 < width * rows <= MAX_PIXELS * 8:
        raise StreamError(f'Kodak ESP page at byte {page.at} has a JBIG image {width} pixels across')
    source, target = os.path.join(folder, 'page.jbg'), os.path.join(folder, 'page.pbm')
    with open(source, 'wb') as file:
        file.write(page.data)
    try:
        done = subprocess.run([DECODER, '-x', str(width), source, target], capture_output=True, timeout=TIMEOUT)
    except FileNotFoundError:
        raise StreamError(f'Kodak ESP JBIG is decoded by {DECODER}, which is not installed (jbigkit-bin)') from None
    except subprocess.TimeoutExpired:
        raise StreamError(f'Kodak ESP page at byte {page.at}: {DECODER} did not finish in {TIMEOUT} s') from None
    said = ' '.join(done.stderr.decode('utf-8', 'replace').split())
    if done.returncode:
        raise StreamError(f'Kodak ESP page at byte {page.at}: its JBIG image refused by {DECODER}: '
                          f'{said or f"exit status {done.returncode}"}')
    with open(target, 'rb') as file:
        pbm = file.read()
    os.remove(target)
    header = PBM_HEADER.match(pbm)
    size = header and tuple(int(value) for value in header.groups())
    if size != (width, rows) or len(pbm) - header.end() < width // 8 * rows:
        raise StreamError(f'Kodak ESP page at byte {page.at}: its JBIG image is {size} pixels where its bands '
                          f'are {width}x{rows}')
    return pbm[header.end():], width


def gziptok_raster(page):
    """c2espC's page as 'L', paper white: its rows of runs, each plane's ink amounts, in grey."""
    planes = COMPONENTS[page.space]
    pixels = page.width * page.height
    # Each row: a blank run, a run of pixels, a blank run.
    most = page.height * 3 * RUN_HEAD + pixels * planes
    inflater = zlib.decompressobj()
    try:
        runs = inflater.decompress(bytes(page.data), most + 1)
    except zlib.error as error:
        raise StreamError(f'Kodak ESP page at byte {page.at}: its GZIPTok data is bad ({error})') from None
    if not inflater.eof or inflater.unused_data or len(runs) > most:
        raise StreamError(f'Kodak ESP page at byte {page.at}: its GZIPTok data is cut short or runs on past '
                          f'its {page.width}x{page.height} pixels')
    ink = [bytearray(pixels) for _ in range(planes)]
    at = 0
    for y in range(page.height):
        x = 0
        while x < page.width:
            if at + RUN_HEAD > len(runs):
                raise StreamError(f'Kodak ESP page at byte {page.at}: its GZIPTok data ends in row {y}')
            count, kind = int.from_bytes(runs[at:at + 2], 'little'), runs[at + 2:at + 4]
            at += RUN_HEAD
            if x + count > page.width or kind not in (BLANK_RUN, PIXEL_RUN):
                raise StreamError(f'Kodak ESP page at byte {page.at}: GZIPTok run at byte {at - RUN_HEAD} of '
                                  f'its data is not read (row {y}, {count} pixels of kind {kind.hex()})')
            if kind == PIXEL_RUN:
                if at + count * planes > len(runs):
                    raise StreamError(f'Kodak ESP page at byte {page.at}: its GZIPTok data ends in row {y}')
                for plane in ink:
                    plane[y * page.width + x:y * page.width + x + count] = runs[at:at + count]
                    at += count
            x += count
    if at != len(runs):
        raise StreamError(f'Kodak ESP page at byte {page.at}: its GZIPTok data runs on past its last row')
    size = (page.width, page.height)
    paper = [ImageOps.invert(Image.frombytes('L', size, bytes(plane))) for plane in ink]
    return paper[0] if planes == 1 else Image.merge('RGB', paper).convert('L')


def placed(page, raster):
    """The raster on the page's sheet, its top left corner at the stream's origin."""
    name, points = page.sheet
    x_dpi, y_dpi = page.dpi
    origin = (round(page.origin[b'Origin.Left'] * x_dpi / MM_PER_INCH),
              round(page.origin[b'Origin.Top'] * y_dpi / MM_PER_INCH))
    image = blank_sheet(points, page.dpi, f'Kodak ESP page at byte {page.at}')
    image.paste(raster, origin)
    return DecodedPage(image, page.dpi, points)


def sniff(data):
    return data.startswith(MAGIC)


def language(data):
    return LANGUAGE


def paper(data):
    """The sheet the job's first MediaSize names, or None."""
    try:
        for name, _, _, value, at in commands(data):
            if name == b'MediaSize':
                return media_sheet(value, at)
            if name == DATA:
                return None
    except StreamError:
        return None
    return None


def render(document, media, workdir, bits=False):
    pages, dotted = read(document.data, workdir)
    return save_pages(pages, workdir, LANGUAGE, dithered=dotted)
