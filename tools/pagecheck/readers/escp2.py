"""ESC/P 2 raster jobs as Gutenprint's escp2 driver writes them for its inkjets: the sequence that
takes a printer out of packet mode, remote-mode blocks of settings, the page set-up (units, page
length and margins, paper size, raster resolution), then raster bands of one ink each, ESC . on
older printers and ESC i on newer ones, one or two bits a dot, run-length coded or not, placed by
relative and absolute moves; a form feed ends each page. The driver's weave needs no undoing: each
row of a band lands where the band's position puts it, the band's rows the nozzles' pitch apart.

Vertical positions count from the top margin, which the stream sets from the sheet's top edge
(a roll-only model is sent none); horizontal ones from the printer's printable left edge, which the
stream does not give. That edge, the offset the driver adds to the top margin, each ink's head
offset, where the rows of nozzles of a split ink print and the length the driver adds to the page
for the model come from Gutenprint's own data for the model the PPD names (*StpDriverName), for the
ink type the stream shows (escp2_data); without it, the left edge is the PPD's printable area's and
the sheet the PPD's. Each page is handed back as the whole sheet in 8-bit grey at the stream's own
resolution, any dot of any ink black."""
import math
import re
from dataclasses import dataclass
from fractions import Fraction

from PIL import Image

from .base import DecodedPage, MAX_PIXELS, StreamError, no_title, save_pages, unchanged
from .escp2_data import model_data
from .remote import packet_exit, remote_commands

# Its dots are an inkjet's, dithered where the driver prints black: see base.spread.
DITHERED = True

LANGUAGE = 'ESC/P 2'
LANGUAGES = (LANGUAGE,)
# The Gutenprint driver a PPD is made for, whose data places the page.
DRIVER_NAME = 'StpDriverName'
PPD_KEYWORDS = (DRIVER_NAME,)
# The entry points it takes as readers.base has them.
device_code = unchanged
title = no_title
ESC, LF, FF, CR = 0x1b, 0x0a, 0x0c, 0x0d
# The remote command that moves the page: borderless printing's origin.
BORDERLESS = b'FP'
# The unit of the one-byte ESC ( U and of ESC . 's dot spacings: 1/3600 inch.
OLD_BASE = 3600
COMPRESSIONS = (0, 1)
# The finest grid read, Gutenprint's finest resolution.
MAX_DPI = 5760
# Ink is 255 while the page is painted; the sheet handed back has paper 255 and ink 0.
INK = bytes([0] + [255] * 255)
PAPER_LEVELS = [255] + [0] * 255
# Gutenprint's borderless kinds whose page gets no extra length when printed borderless.
FULL_BLEED_KINDS = ('Full', 'Yes', 'VerticalRestricted')


def ppd_model(attributes):
    driver = attributes.get(DRIVER_NAME)
    return driver and model_data(driver)


def language(data):
    return LANGUAGE


def sniff(data):
    """Whether data starts as Gutenprint's ESC/P 2 jobs start: leaving packet mode, or a reset and
    then graphics, units or remote mode."""
    start = data[:4096].lstrip(b'\0')
    return start.startswith(b'\x1b\x01@EJL') or \
        (start.startswith(b'\x1b@') and re.match(rb'(?:\x1b@)*\x1b\((?:G|U|R)', start) is not None)


def paper(data):
    """ESC/P 2 names no paper: its paper size command gives a length that carries the model's
    extra feed."""
    return None


@dataclass
class Band:
    """One raster band: the byte its command is at, where it starts (inches from the printable edge
    and from the top margin, which is None before any ESC ( c), its dot spacing and row pitch in
    inches (None where the model gives it), its ink and ESC ( K mode, its rows, and the box around
    its inked dots with those dots as 8-bit ink."""
    at: int
    x: Fraction
    top: Fraction
    y: Fraction
    spacing: Fraction
    pitch: Fraction
    ink: tuple
    rows: int
    box: tuple
    pixels: bytes


@dataclass
class BandCommand:
    """A band's command as the stream gives it: the byte it is at and the byte its data starts at,
    its compression, bits a dot, bytes and dots a row, rows, its (dot spacing, row pitch) and ink."""
    at: int
    start: int
    compression: int
    bits: int
    width: int
    dots: int
    rows: int
    raster: tuple
    ink: int


class Page:
    """One page's bands, and the paper, page length and borderless offset in force when it ended."""

    def __init__(self):
        self.bands = []
        self.paper = self.length = self.borderless = None
        # The steps, in inches, of every position on the page across and down.
        self.x_steps = set()
        self.y_steps = set()


def signed(payload):
    return int.from_bytes(payload, 'little', signed=True)


def unsigned(payload):
    return int.from_bytes(payload, 'little')


def unpack_runs(data, at, size, start):
    """size bytes of run-length coded data from at: a count below 128 takes that many bytes plus
    one as they are, one of 128 or more repeats the next byte 257 less it times."""
    out = bytearray()
    end = len(data)
    while len(out) < size:
        if at + 1 >= end:
            raise StreamError(f'ESC/P 2 stream cut off inside a band at byte {start}')
        count = data[at]
        if count < 128:
            if at + 2 + count > end:
                raise StreamError(f'ESC/P 2 stream cut off inside a band at byte {start}')
            out += data[at + 1:at + 2 + count]
            at += 2 + count
        else:
            out += data[at + 1:at + 2] * (257 - count)
            at += 2
    if len(out) > size:
        raise StreamError(f'a run runs {len(out) - size} bytes past the end of the band at byte {start}')
    return bytes(out), at


def band_ink(pixels, dots, rows, bits):
    """The box (first dot, first row, last dot and row past them) around the band's inked dots
    and those dots as 8-bit ink, one byte a dot, any drop size ink; None for a blank band."""
    image = Image.frombytes('1', (dots, rows), pixels) if bits == 1 else \
        Image.frombytes('L', (dots, rows), pixels, 'raw', 'L;2')
    box = image.getbbox()
    if box is None:
        return None
    return box, image.crop(box).convert('L').tobytes().translate(INK)


class Reader:
    """The printer's state as the stream sets it, command by command, and what the stream shows of
    the ink type that printed it: each (ink, ESC ( K mode) its bands name with their row pitches."""

    def __init__(self, data):
        self.data = data
        self.pages = []
        self.page = Page()
        self.borderless = None
        self.sent = {}
        self.reset()

    def reset(self):
        self.page_unit = self.vertical_unit = self.horizontal_unit = None
        self.top = self.length = self.paper = self.raster = None
        self.x = Fraction(0)
        self.y = Fraction(0)
        self.ink = 0
        self.mode = None

    def fail(self, text):
        raise StreamError(text)

    def read(self):
        data, at = self.data, 0
        while at < len(data):
            byte = data[at]
            if byte == ESC:
                at = self.escape(at)
            elif byte == CR:
                self.x = Fraction(0)
                at += 1
            elif byte == LF:
                # A line feed moves by a line spacing the stream never sets.
                self.y = None
                at += 1
            elif byte == FF:
                self.end_page()
                at += 1
            elif byte == 0 and not data[:at].strip(b'\0'):
                at += 1
            else:
                self.fail(f'unexpected byte {byte:#04x} in the ESC/P 2 stream at byte {at}')
        if self.page.bands:
            self.fail(f'ESC/P 2 stream ends inside a page, before its form feed, at byte {len(data)}')
        return self.pages

    def end_page(self):
        page = self.page
        page.paper, page.length, page.borderless = self.paper, self.length, self.borderless
        page.x_steps.update(unit for unit in (self.horizontal_unit,) if unit)
        page.y_steps.update(unit for unit in (self.vertical_unit, self.page_unit) if unit)
        self.pages.append(page)
        self.page = Page()
        self.x = Fraction(0)
        self.y = Fraction(0)

    def take(self, at, count, what):
        if at + count > len(self.data):
            self.fail(f'ESC/P 2 stream cut off inside {what} at byte {at}')
        return self.data[at:at + count]

    def escape(self, at):
        command = self.take(at, 2, 'a command')[1:]
        if command == b'(':
            return self.extended(at)
        if command == b'@':
            if self.page.bands:
                self.fail(f'printer reset inside a page at byte {at}')
            self.reset()
            return at + 2
        if command == b'\x01':
            return packet_exit(self.data, at)
        if command == b'U':
            self.take(at, 3, 'ESC U')
            return at + 3
        if command == b'r':
            self.ink = self.take(at, 3, 'ESC r')[2]
            return at + 3
        if command == b'\\':
            self.move_across(signed(self.take(at, 4, 'ESC \\')[2:]), self.horizontal(at))
            return at + 4
        if command == b'.':
            return self.old_band(at)
        if command == b'i':
            return self.band(at)
        self.fail(f'unknown command ESC {printable(command)} at byte {at}')

    def extended(self, at):
        head = self.take(at, 5, 'a command')
        name, size = head[2:3], unsigned(head[3:5])
        payload = self.take(at, 5 + size, f'ESC ( {printable(name)}')[5:]
        handler = EXTENDED.get(name)
        if handler is None:
            self.fail(f'unknown command ESC ( {printable(name)} at byte {at}')
        sizes, method = handler
        if size not in sizes:
            self.fail(f'ESC ( {printable(name)} with {size} bytes of parameters at byte {at}')
        end = at + 5 + size
        return method(self, payload, at, end) or end

    def units(self, payload, at, end):
        if len(payload) == 1:
            page = vertical = horizontal = payload[0]
            base = OLD_BASE
        else:
            page, vertical, horizontal = payload[:3]
            base = unsigned(payload[3:5])
        if not (page and vertical and horizontal and base):
            self.fail(f'ESC ( U sets a unit of 0 at byte {at}')
        self.page_unit, self.vertical_unit, self.horizontal_unit = (Fraction(unit, base)
                                                                    for unit in (page, vertical, horizontal))

    def page_format(self, payload, at, end):
        if self.page.bands and self.top is None:
            self.fail(f'raster band before the page format (ESC ( c) at byte {self.page.bands[0].at}')
        if self.page.bands:
            self.fail(f'page format changed inside a page at byte {at}')
        half = len(payload) // 2
        self.top = signed(payload[:half]) * self.page_units(at)

    def page_length(self, payload, at, end):
        self.length = unsigned(payload) * self.page_units(at)

    def paper_size(self, payload, at, end):
        unit = self.page_units(at)
        self.paper = (unsigned(payload[:4]) * unit, unsigned(payload[4:]) * unit)

    def page_units(self, at):
        if self.page_unit is None:
            self.fail(f'page set before its units (ESC ( U) at byte {at}')
        return self.page_unit

    def relative_down(self, payload, at, end):
        if self.y is not None:
            self.y += signed(payload) * self.vertical(at)

    def absolute_down(self, payload, at, end):
        self.y = signed(payload) * self.vertical(at)

    def vertical(self, at):
        if self.vertical_unit is None:
            self.fail(f'vertical move before its units (ESC ( U) at byte {at}')
        self.page.y_steps.add(self.vertical_unit)
        return self.vertical_unit

    def horizontal(self, at):
        if self.horizontal_unit is None:
            self.fail(f'horizontal move before its units (ESC ( U) at byte {at}')
        return self.horizontal_unit

    def absolute_across(self, payload, at, end):
        self.x = Fraction(0)
        self.move_across(signed(payload), self.horizontal(at))

    def relative_across(self, payload, at, end):
        per_inch = unsigned(payload[:2])
        if not per_inch:
            self.fail(f'ESC ( \\ in units of 1/0 inch at byte {at}')
        self.move_across(signed(payload[2:]), Fraction(1, per_inch))

    def move_across(self, count, unit):
        self.page.x_steps.add(unit)
        self.x += count * unit

    def raster_resolution(self, payload, at, end):
        base, down, across = unsigned(payload[:2]), payload[2], payload[3]
        if not (base and down and across):
            self.fail(f'ESC ( D sets a spacing of 0 at byte {at}')
        self.raster = (Fraction(across, base), Fraction(down, base))

    def colour_mode(self, payload, at, end):
        self.mode = payload[1]

    def select_ink(self, payload, at, end):
        self.ink = payload[1] | payload[0] << 4

    def remote(self, payload, at, end):
        """A remote-mode block: of its commands, only borderless printing's origin moves the page."""
        commands, end = remote_commands(self.data, end, LANGUAGE)
        for name, where, parameters in commands:
            if name == BORDERLESS:
                if len(parameters) != 3:
                    self.fail(f'remote command FP with {len(parameters)} bytes of parameters at byte {where}')
                self.borderless = signed(parameters[1:3])
        return end

    def ignored(self, payload, at, end):
        """Graphics mode, weave, dot size, speed, print method, cutting: they move no ink."""

    def old_band(self, at):
        head = self.take(at, 8, 'ESC .')
        compression, down, across, rows = head[2:6]
        dots = unsigned(head[6:8])
        if not (down and across):
            self.fail(f'ESC . with a spacing of 0 at byte {at}')
        # ESC . 's vertical spacing is a density code of the printer's: its rows lie the head's
        # nozzle pitch apart, which the model's data gives.
        return self.add_band(BandCommand(at, at + 8, compression, 1, (dots + 7) // 8, dots, rows,
                                         (Fraction(across, OLD_BASE), None), self.ink))

    def band(self, at):
        head = self.take(at, 9, 'ESC i')
        ink, compression, bits = head[2:5]
        width, rows = unsigned(head[5:7]), unsigned(head[7:9])
        if self.raster is None:
            self.fail(f'ESC i band before the raster resolution (ESC ( D) at byte {at}')
        if bits not in (1, 2):
            self.fail(f'ESC i band of {bits} bits a dot at byte {at}')
        return self.add_band(BandCommand(at, at + 9, compression, bits, width, width * 8 // bits, rows, self.raster,
                                         ink))

    def add_band(self, command):
        at, start, compression, dots, rows = command.at, command.start, command.compression, command.dots, command.rows
        if compression not in COMPRESSIONS:
            self.fail(f'band in compression mode {compression} at byte {at}')
        if self.y is None:
            self.fail(f'raster band after a line feed, at no known height, at byte {at}')
        size = command.width * rows
        if compression:
            pixels, end = unpack_runs(self.data, start, size, at)
        else:
            if start + size > len(self.data):
                self.fail(f'ESC/P 2 stream cut off inside a band at byte {at}')
            pixels, end = self.data[start:start + size], start + size
        spacing, pitch = command.raster
        self.sent.setdefault((command.ink, self.mode), set()).add(pitch)
        inked = band_ink(pixels, dots, rows, command.bits) if dots and rows else None
        if inked:
            page = self.page
            page.x_steps.update((spacing, self.horizontal_unit or spacing))
            page.y_steps.update(step for step in (pitch, self.page_unit, self.vertical_unit) if step)
            page.bands.append(Band(at, self.x, self.top, self.y, spacing, pitch, (command.ink, self.mode), rows,
                                   *inked))
        self.x += dots * spacing
        return end


EXTENDED = {
    b'G': ((1,), Reader.ignored), b'i': ((1,), Reader.ignored), b'e': ((2,), Reader.ignored),
    b's': ((1,), Reader.ignored), b'm': ((1,), Reader.ignored), b'g': ((4,), Reader.ignored),
    b'K': ((2,), Reader.colour_mode), b'U': ((1, 5), Reader.units), b'c': ((4, 8), Reader.page_format),
    b'C': ((2, 4), Reader.page_length), b'S': ((8,), Reader.paper_size), b'v': ((2, 4), Reader.relative_down),
    b'V': ((2, 4), Reader.absolute_down), b'$': ((4,), Reader.absolute_across),
    b'\\': ((4,), Reader.relative_across), b'D': ((4,), Reader.raster_resolution),
    b'r': ((2,), Reader.select_ink), b'R': (range(1 << 16), Reader.remote),
}


def printable(name):
    return name.decode('latin-1') if 0x21 <= name[0] < 0x7f else f'{name[0]:#04x}'


def grid(steps, what):
    """The resolution on which every step falls on whole pixels."""
    dpi = 1
    for step in steps:
        dpi = math.lcm(dpi, step.denominator)
    if dpi > MAX_DPI:
        raise StreamError(f'ESC/P 2 positions {what} on a grid of {dpi} dpi, finer than any printer\'s')
    return dpi


class Placement:
    """Where the printer puts what the stream places, from Gutenprint's data for the model or,
    without it, the PPD: the printable left edge, each ink's offset down, the rows' pitch in old
    bands, and each page's sheet."""

    def __init__(self, model, media):
        self.model, self.media = model, media

    def left(self, page):
        """The printable left edge, inches from the sheet's: a borderless page's lies left of the
        usual one by the offset its remote command gives."""
        model = self.model
        if page.borderless is not None and model:
            return model.micro_left + Fraction(page.borderless, model.base)
        if model:
            return model.left
        if page.borderless is not None:
            raise StreamError('a borderless ESC/P 2 page, and no Gutenprint data for the model to place it')
        if self.media.origin_points is None:
            raise StreamError('no printable left edge for the ESC/P 2 page: no Gutenprint data for the model, '
                              'and no printable area in the PPD')
        return Fraction(self.media.origin_points[0]) / 72

    def sheet(self, page):
        """The sheet's size in inches: the stream's paper, less the length the driver adds to it
        for the model."""
        given = self.media.sheet_points
        width = page.paper[0] if page.paper else given and Fraction(given[0]) / 72
        length = page.paper[1] if page.paper else page.length
        if self.model and length is not None:
            full_bleed = page.borderless is not None and self.model.borderless in FULL_BLEED_KINDS
            height = length - (0 if full_bleed else self.model.extra_bottom)
        else:
            height = Fraction(given[1]) / 72 if given else length
        if width is None or height is None:
            raise StreamError('no sheet size for the ESC/P 2 page: the stream gives none, nor the PPD')
        return width, height

    def assumed(self, left):
        if self.model:
            return (f"left edge {float(left):.3f} in from the sheet's, and the top margin's and heads' offsets, "
                    f"from Gutenprint's data for {self.model.driver}")
        return f"left edge at the printable area's, {float(left):.3f} in, from the PPD"

    def pitch(self, band):
        """The band's row pitch in inches; None for a band of one row."""
        if band.pitch is not None or band.rows == 1:
            return band.pitch
        if not self.model:
            raise StreamError(f'ESC . band of {band.rows} rows at byte {band.at}: its rows lie the nozzle pitch '
                              'apart, and there is no Gutenprint data for the model to give it')
        return self.model.nozzle_pitch

    def offsets(self, reader):
        """Each (ink, ESC ( K mode)'s offset from where the stream puts its rows to where they
        print: none without Gutenprint's data for the model, else, mode by mode, the one its ink
        types that print the stream's inks as the stream does agree on."""
        inked = {band.ink for page in reader.pages for band in page.bands}
        if not self.model:
            return dict.fromkeys(inked, 0)
        found = {}
        for mode in sorted({mode for _, mode in inked}, key=lambda mode: (mode is not None, mode)):
            sent = {ink: pitches for (ink, sent_mode), pitches in reader.sent.items() if sent_mode == mode}
            found.update(((ink, mode), offset)
                         for ink, offset in self.model.offsets(mode, sent).items())
        return found

    def row(self, band, offsets):
        """Where the band's first row prints, in inches from the sheet's top: a roll-only model is
        sent no page format, and its rows count from where Gutenprint's data puts its top margin."""
        top = band.top
        if top is None and self.model and self.model.roll_only:
            top = self.model.roll_top
            if top is None:
                raise StreamError(f'raster band at byte {band.at} on {self.model.driver}, sent no page format: '
                                  'where its rows start is read only for fully borderless models with no '
                                  'top margin offsets')
        if top is None:
            raise StreamError(f'raster band before the page format (ESC ( c) at byte {band.at}')
        return top + band.y - offsets[band.ink]


def paint(page, placement, offsets):
    """The page as the whole sheet, at the resolution on which all its positions fall."""
    pitches = [placement.pitch(band) for band in page.bands]
    rows = [placement.row(band, offsets) for band in page.bands]
    if page.x_steps and page.y_steps:
        x_dpi = grid(page.x_steps, 'across')
        # Rows lie on the weave's grid, whatever finer units the paper moves in: in 720x360 dpi
        # the paper moves by 1/720 inch, the rows fall 1/360 apart and each dot is that tall.
        # A page of one row has only the paper's units to go by.
        top = min(rows, default=0)
        y_dpi = grid({row - top for row in rows}.union(pitch for pitch in pitches if pitch), 'down') if rows else 1
        y_dpi = y_dpi if y_dpi > 1 else grid(page.y_steps, 'down')
    elif placement.media.dpi:
        x_dpi, y_dpi = placement.media.dpi
    else:
        raise StreamError('an ESC/P 2 page with no units to give its resolution')
    left, size = placement.left(page), placement.sheet(page)
    width, height = (round(inches * dpi) for inches, dpi in zip(size, (x_dpi, y_dpi)))
    if not (0 < width and 0 < height and width * height <= MAX_PIXELS):
        raise StreamError(f'a sheet of {float(size[0]):.2f} x {float(size[1]):.2f} in at {x_dpi}x{y_dpi} dpi '
                          'cannot be drawn')
    sheet = bytearray(width * height)
    for band, pitch, row in zip(page.bands, pitches, rows):
        corner = (round((left + band.x) * x_dpi), round(row * y_dpi))
        steps = (int(band.spacing * x_dpi), int(pitch * y_dpi) if pitch else 1)
        place(sheet, (width, height), band, corner, steps, page.borderless is not None)
    image = Image.frombuffer('L', (width, height), sheet, 'raw', 'L', 0, 1).point(PAPER_LEVELS)
    return DecodedPage(image, (x_dpi, y_dpi), tuple(float(inches) * 72 for inches in size), placement.assumed(left))


def place(sheet, size, band, corner, steps, clip):
    """Lays the band's inked dots on the sheet, each at its own pixel, over what is there."""
    width, height = size
    box = band.box
    (x0, y0), (step_x, step_y) = corner, steps
    first_dot, first_row = max(box[0], -(x0 // step_x)), max(box[1], -(y0 // step_y))
    last_dot = min(box[2], (width - 1 - x0) // step_x + 1)
    last_row = min(box[3], (height - 1 - y0) // step_y + 1)
    if (first_dot, last_dot) != (box[0], box[2]) and not clip:
        raise StreamError(f'band wider than the page at byte {band.at}')
    if (first_row, last_row) != (box[1], box[3]) and not clip:
        raise StreamError(f'band runs off the sheet at byte {band.at}')
    count = last_dot - first_dot
    if count <= 0:
        return
    pixels, dots = band.pixels, box[2] - box[0]
    for row in range(first_row, last_row):
        at = (row - box[1]) * dots - box[0]
        segment = pixels[at + first_dot:at + last_dot]
        if not segment.strip(b'\0'):
            continue
        start = (y0 + row * step_y) * width + x0 + first_dot * step_x
        stop = start + (count - 1) * step_x + 1
        sheet[start:stop:step_x] = (int.from_bytes(sheet[start:stop:step_x], 'big') |
                                    int.from_bytes(segment, 'big')).to_bytes(count, 'big')


def read(data, media):
    """Every page of the ESC/P 2 job, each the whole sheet; StreamError for a stream that is bad,
    cut short, or in commands that could move ink in ways not read."""
    reader = Reader(data)
    pages = reader.read()
    if not pages:
        raise StreamError('no page in the ESC/P 2 stream')
    placement = Placement(ppd_model(media.attributes), media)
    offsets = placement.offsets(reader)
    return [paint(page, placement, offsets) for page in pages]


def render(document, media, workdir, bits=False):
    return save_pages(read(document.data, media), workdir, LANGUAGE, DITHERED)
