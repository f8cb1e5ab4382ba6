"""PCL 3 and PCL 3 GUI: the raster languages of inkjet printers. PCL 3 is PCL 5's raster graphics
with the inkjets' own commands; PCL 3 GUI adds configure raster data (ESC*g#W), which describes
the planes each raster row is sent in: format 2 gives each colorant's resolution and levels (one
1-bit plane per bit of level, one plane row per row of the colorant's resolution), format 6 each
component's resolution, compression and pixel size (hpcups' 1-bit black in compression 9 and
24-bit RGB in compression 10). hpcups writes PCL 3 GUI for its pcl3, pcl3gui and pcl3gui2
printers; Gutenprint writes PCL 3 for its inkjets, without ESC*g#W.

Read: ESC E, form feed and ESC&l0H, the UEL and the PJL lines after it; page size (ESC&l#A, of
pcl_paper's table), portrait orientation, top margin (ESC&l#E in lines of ESC&l#D or ESC&l#C),
units (ESC&u#D), cursor positions (ESC*p#X/#Y, ESC&a#H/#V, signed values relative); raster
resolution (ESC*t#R), width (ESC*r#S), height (ESC*r#T), simple colour planes (ESC*r#U of 1, -3
and -4), start and end (ESC*r#A, ESC*rB, ESC*rC), compression (ESC*b#M: 0, 1, 2, 3, 9; 10 in format
6), seed row source 0 (ESC*b#S), row planes (ESC*b#V, the last of a row ESC*b#W) and skipped rows
(ESC*b#Y, which clears the seed rows), hpcups' left and top overspray (ESC*o5W 0E 01 and 0E 02).
Commands that cannot move ink (media type, quality, paper source, duplex) are passed over; any other
command, and any text, is refused: among them hpcups' overspray for its SPD printers (ESC*o5W 0E
0D), which gives no amount.

A PCL 3 printer places the page from its own origin, not from the sheet's edge: left at its
printable area's left edge (the PPD's ImageableArea), top at *HPMechOffset thousandths of an inch
down where hpcups' PPD gives it (hpcups counts its ESC*p#Y from there), else at the sheet's top
edge (Gutenprint counts its ESC&a#V from there). A borderless page's overspray puts the origin that
many dots of the raster's resolution left of and above the sheet's corner instead, the sheet then
the one its PCL size code names (the PPD's borderless page size is the larger area the raster
covers). Each page is handed back as the whole sheet in 8-bit grey at the highest resolution of its
planes, ink wherever any plane has a dot (any level but 0; any RGB pixel but white), each plane
scaled to it exactly, what lies past the sheet's edges left out. Sources cited are hplip
3.22.10's prnt/hpcups."""
import math
import re
from fractions import Fraction

from PIL import Image

from . import pcl_paper
from .base import DecodedPage, MAX_PIXELS, StreamError, no_title, save_pages, unchanged

# Its dots are an inkjet's, dithered where the driver prints black: see base.spread.
DITHERED = True

LANGUAGE = 'PCL 3 GUI'
PLAIN_LANGUAGE = 'PCL 3'
LANGUAGES = (LANGUAGE, PLAIN_LANGUAGE)
# hpcups' offset of the printer's origin down the sheet, in thousandths of an inch, and the one it
# takes for sheets wider than Letter.
MECH_OFFSET, MECH_OFFSET_B_SIZE = 'HPMechOffset', 'HPMechOffsetBSize'
PPD_KEYWORDS = (MECH_OFFSET, MECH_OFFSET_B_SIZE)
# The entry points it takes as readers.base has them.
device_code = unchanged
title = no_title
ESC = 0x1B
FORM_FEED = 0x0C
UEL = b'\x1b%-12345X'
# What a printer back in PJL after a UEL skips before the next language's first byte.
PJL_LINES = re.compile(rb'(?:[ \t\r\n]*@PJL[^\n]*(?:\n|$))*[ \t\r\n]*')
SNIFF_BYTES = 16384
CONFIGURE_RASTER_DATA = re.compile(rb'\x1b\*g\d+W')
# Commands inkjets have and the laser printers' drivers here do not send: CMY and KCMY simple
# colour, depletion, shingling, raster quality.
INKJET_COMMANDS = re.compile(rb'\x1b\*(?:r-[34]U|o\d+[DQ]|r\d+Q)')
# A parameter's value and its terminator: a lower-case one chains another parameter of the same
# group, an upper-case one ends the command.
PARAMETER = re.compile(rb'([+-]?\d{0,10}(?:\.\d{0,6})?)([@-~])')
# Commands followed by as many bytes of data as their value says.
DATA_COMMANDS = {'*bW', '*bV', '*gW', '*oW', '&bW'}
# Commands that set what a printer prints with, not where: media type, print quality, shingling,
# depletion, raster quality, perforation skip, text length, HMI, line termination, duplex,
# output bin, job data, presentation mode (raster along the page's width either way in portrait).
PASSED_OVER = {'&lM', '*oM', '*oQ', '*oD', '*rQ', '&lL', '&lF', '&kH', '&kG', '&lS', '&lG', '&bW', '*rF'}
# ESC*o#W driver configurations that do not move the page: media subtype, speed mechanism (two
# forms), grey printing, black extraction. Others (custom sizes) do.
DRIVER_CONFIGURATIONS = {(0x0D, 0x03), (0x0D, 0x02), (0x0D, 0x05), (0x0B, 0x01), (0x04, 0x0C)}
# hpcups' overspray for a borderless page (Pcl3Gui2.cpp:169-200): how far, in dots, the raster
# starts left of and above the sheet's corner, each in two bytes after a zero; and the form its SPD
# printers get instead, which gives no amount.
OVERSPRAY = {(0x0E, 0x01): 'left', (0x0E, 0x02): 'top'}
OVERSPRAY_SIZE = 5
SPD_OVERSPRAY = (0x0E, 0x0D)
DEFAULT_UNITS = 300
# PCL's raster resolution before any ESC*t#R.
DEFAULT_RESOLUTION = 75
DEFAULT_VMI = Fraction(1, 6)
DECIPOINTS = 720
MAX_RESOLUTION = 4800
# PCL's largest value for a count or a size.
MAX_VALUE = 32767
# The widest row read: Tabloid's width at 4800 dpi.
MAX_ROW_PIXELS = 11 * MAX_RESOLUTION
CUSTOM_SIZE = 101
SIMPLE_PLANES = {1: 1, -3: 3, -4: 4}
FORMAT_PLANAR = 2
FORMAT_COMPONENTS = 6
BITS, RGB = 'bits', 'rgb'
WHITE = b'\xff\xff\xff'
# Each byte of an RGB row as ink (255) where it is below white (255).
INK_BYTES = bytes([255] * 255 + [0])
HALF = Fraction(1, 2)
WHOLE = re.compile(r'-?\d+')
# hpcups takes its B-size offset for sheets wider than Letter.
LETTER_WIDTH = 612


def language(data):
    """'PCL 3 GUI' for a stream that configures its raster data, else 'PCL 3'."""
    return LANGUAGE if CONFIGURE_RASTER_DATA.search(data[:SNIFF_BYTES]) else PLAIN_LANGUAGE


def sniff(data):
    """Whether data is PCL 3 GUI (configure raster data) or an inkjet's PCL 3 raster."""
    head = data[:SNIFF_BYTES]
    return bool(CONFIGURE_RASTER_DATA.search(head) or INKJET_COMMANDS.search(head))


def paper(data):
    """The paper the stream's first ESC&l#A names, as (name, (width, height) in points), or None."""
    try:
        for _, name, value, _ in commands(data, PLAIN_LANGUAGE):
            if name == '&lA':
                return pcl_paper.page_size(whole(value, name))
    except StreamError:
        return None
    return None


def read(data, media):
    """Every page of the stream, each the whole sheet in 8-bit grey, placed from the printer's
    origin as the media's PPD gives it."""
    return Reader(data, media).run()


def render(document, media, workdir, bits=False):
    return save_pages(read(document.data, media), workdir, language(document.data), DITHERED)


def commands(data, name):
    """Each command of the stream as (offset, name, value, data): name is a parameterized
    command's group, parameter and terminator ('*bW'), or 'E', 'UEL', 'FF'; value the parameter's
    text; data what a data command carries. A byte that is no command raises StreamError."""
    at, end = 0, len(data)
    while at < end:
        byte = data[at]
        if byte == FORM_FEED:
            yield at, 'FF', None, None
            at += 1
        elif byte == 0:
            at += 1
        elif byte != ESC:
            raise StreamError(f'{name} stream has text or control code 0x{byte:02x} at byte {at}, which is not read')
        elif data.startswith(UEL, at):
            yield at, 'UEL', None, None
            at = PJL_LINES.match(data, at + len(UEL)).end()
        elif data[at + 1:at + 2] == b'E':
            yield at, 'E', None, None
            at += 2
        elif at + 2 < end and 0x21 <= data[at + 1] <= 0x2F and 0x60 <= data[at + 2] <= 0x7E:
            start, group = at, chr(data[at + 1]) + chr(data[at + 2])
            at += 3
            while True:
                parameter = PARAMETER.match(data, at)
                if not parameter:
                    raise StreamError(f'{name} stream has an unfinished ESC{group} command at byte {start}')
                value, terminator = parameter.groups()
                at = parameter.end()
                command = group + terminator.decode().upper()
                payload = None
                if command in DATA_COMMANDS:
                    try:
                        size = whole(value, command)
                    except StreamError as problem:
                        raise StreamError(f'{name} stream: {problem} at byte {start}') from None
                    if at + size > end:
                        what = 'a raster row' if command[1] == 'b' else f'ESC{command[:2]}#{command[2]}'
                        raise StreamError(f'{name} stream cut off inside {what} at byte {start}')
                    payload = data[at:at + size]
                    at += size
                yield start, command, value, payload
                if terminator[0] < 0x60:
                    break
        else:
            raise StreamError(f'{name} stream has an escape sequence ESC {data[at + 1:at + 3].hex(" ")} at byte {at}, '
                              f'which is not read')


def number(value, command):
    """A parameter's value, exactly, and whether it is signed (a relative move)."""
    text = value.decode()
    digits = text.lstrip('+-')
    if not digits.strip('.'):
        if '.' in digits:
            raise StreamError(f'ESC{command[:2]}{text}{command[2]} has no digits')
        return Fraction(0), text != digits
    return Fraction(text + ('0' if text.endswith('.') else '')), text != digits


def whole(value, command):
    amount, _ = number(value, command)
    if amount.denominator != 1:
        raise StreamError(f'ESC{command[:2]}{value.decode()}{command[2]} has a fraction where a whole number belongs')
    return int(amount)


class Slot:
    """One plane of a raster row as the configuration says it comes: which picture it inks (a
    resolution, a kind and a row of that resolution within the row), its width in pixels and
    bytes, and its compression when the configuration fixes it."""

    def __init__(self, target, kind, pixels, row_bytes, compression=None):
        self.target = target
        self.kind = kind
        self.pixels = pixels
        self.row_bytes = row_bytes
        self.compression = compression
        self.mask_bytes = (pixels + 7) // 8 if kind == BITS else pixels

    def blank(self):
        """The seed row at a raster's start and after skipped rows: no dots; RGB white."""
        return WHITE * self.pixels if self.kind == RGB else bytes(self.row_bytes)


class Layout:
    """The planes of each raster row and the pictures they ink: each picture is (x dpi, y dpi,
    kind, width in pixels, rows of it to each raster row); base_dpi the raster row's (x, y)."""

    def __init__(self, components, base_dpi, width):
        self.base_dpi = base_dpi
        self.slots, self.pictures = [], []
        for x_dpi, y_dpi, kind, planes, compression in components:
            ratio = x_dpi // base_dpi[0]
            pixels = width * ratio
            if pixels > MAX_ROW_PIXELS:
                raise StreamError(f'raster rows of {pixels} pixels are not read')
            # hpcups pads a row to whole bytes of the base resolution before scaling it up.
            row_bytes = 3 * pixels if kind == RGB else (width + 7) // 8 * ratio
            rows = y_dpi // base_dpi[1]
            for row in range(rows):
                key = (x_dpi, y_dpi, kind, pixels, rows)
                if key not in self.pictures:
                    self.pictures.append(key)
                target = (self.pictures.index(key), row)
                self.slots += [Slot(target, kind, pixels, row_bytes, compression) for _ in range(planes)]

    def dpi(self):
        return max(picture[0] for picture in self.pictures), max(picture[1] for picture in self.pictures)


class Block:
    """Raster rows one after another from (x, y) inches on the sheet: for each of the layout's
    pictures its rows' ink masks (None for a row without ink)."""

    def __init__(self, layout, x, y):
        self.layout = layout
        self.x, self.y = x, y
        self.rows = 0
        self.masks = [[] for _ in layout.pictures]

    def next_y(self):
        return self.y + Fraction(self.rows, self.layout.base_dpi[1])

    def paint(self, sheet, dpi):
        for (x_dpi, y_dpi, kind, pixels, _), masks in zip(self.layout.pictures, self.masks):
            if not any(masks):
                continue
            if dpi[0] % x_dpi or dpi[1] % y_dpi:
                raise StreamError(f'planes of {x_dpi}x{y_dpi} dpi do not scale to the page\'s {dpi[0]}x{dpi[1]} dpi')
            width = (pixels + 7) // 8 if kind == BITS else pixels
            blank = bytes(width)
            picture = Image.frombytes('1' if kind == BITS else 'L', (pixels, len(masks)),
                                      b''.join(mask or blank for mask in masks))
            scale = (dpi[0] // x_dpi, dpi[1] // y_dpi)
            if scale != (1, 1):
                picture = picture.resize((pixels * scale[0], len(masks) * scale[1]), Image.NEAREST)
            sheet.paste(0, (math.floor(self.x * dpi[0] + HALF), math.floor(self.y * dpi[1] + HALF)), picture)


def extended(data, at, amount, what):
    """A count or offset that goes on in the following bytes, each added, while they are 255."""
    while True:
        if at >= len(data):
            raise StreamError(f'{what} row ends inside a count')
        amount += data[at]
        at += 1
        if data[at - 1] != 255:
            return amount, at


def uncompressed(data, slot, _seed):
    if len(data) > slot.row_bytes:
        raise StreamError('raster row wider than ESC*r#S')
    return data + bytes(slot.row_bytes - len(data))


def run_length(data, slot, _seed):
    """Compression 1: pairs of a repeat count less one and a byte."""
    if len(data) % 2:
        raise StreamError('compression 1 row of an odd number of bytes')
    row = b''.join(data[at + 1:at + 2] * (data[at] + 1) for at in range(0, len(data), 2))
    return uncompressed(row, slot, None)


def packbits(data, slot, _seed):
    """Compression 2: a count below 128 takes that many bytes and one more as they are, one above
    128 repeats the next byte 257 less it times; 128 is nothing."""
    row = bytearray()
    at, end = 0, len(data)
    while at < end:
        count = data[at]
        at += 1
        if count < 128:
            if at + count + 1 > end:
                raise StreamError('compression 2 row ends inside a run')
            row += data[at:at + count + 1]
            at += count + 1
        elif count > 128:
            if at >= end:
                raise StreamError('compression 2 row ends inside a run')
            row += data[at:at + 1] * (257 - count)
            at += 1
        if len(row) > slot.row_bytes:
            raise StreamError('raster row wider than ESC*r#S')
    return uncompressed(bytes(row), slot, None)


def delta_row(data, slot, seed):
    """Compression 3: the seed row with runs replaced, each a byte of count less one (top three
    bits) and offset from the last run's end (five bits, 31 going on in the next bytes)."""
    row = bytearray(seed)
    at, x, end = 0, 0, len(data)
    while at < end:
        command = data[at]
        at += 1
        count, offset = (command >> 5) + 1, command & 31
        if offset == 31:
            offset, at = extended(data, at, offset, 'compression 3')
        x += offset
        if at + count > end:
            raise StreamError('compression 3 row ends inside a run')
        if x + count > slot.row_bytes:
            raise StreamError('raster row wider than ESC*r#S')
        row[x:x + count] = data[at:at + count]
        at += count
        x += count
    return bytes(row)


def replacement_delta_row(data, slot, seed):
    """Compression 9: the seed row with runs replaced, each a byte giving its kind (top bit),
    offset from the last run's end and count, either going on in the next bytes at its largest:
    bytes as they are (offset four bits, count less one three bits) or one byte repeated (offset
    two bits, count less two five bits)."""
    row = bytearray(seed)
    at, x, end = 0, 0, len(data)
    while at < end:
        command = data[at]
        at += 1
        if command & 0x80:
            offset, count, most_offset, most_count = (command >> 5) & 3, (command & 31) + 2, 3, 33
        else:
            offset, count, most_offset, most_count = (command >> 3) & 15, (command & 7) + 1, 15, 8
        if offset == most_offset:
            offset, at = extended(data, at, offset, 'compression 9')
        if count == most_count:
            count, at = extended(data, at, count, 'compression 9')
        x += offset
        if x + count > slot.row_bytes:
            raise StreamError('raster row wider than ESC*r#S')
        size = 1 if command & 0x80 else count
        if at + size > end:
            raise StreamError('compression 9 row ends inside a run')
        row[x:x + count] = data[at:at + 1] * count if command & 0x80 else data[at:at + count]
        at += size
        x += count
    return bytes(row)


def signed5(bits):
    return bits - 32 if bits & 16 else bits


def rgb_pixel(data, at, seed, x):
    """A new pixel of compression 10: two bytes (top bit set) of red, green and blue differences
    from the seed row's pixel (5 bits each, blue's doubled), or three bytes of the pixel shifted
    right by one, blue's lowest bit lost: it is taken back from blue's top bit, so white stays
    white."""
    if at >= len(data):
        raise StreamError('compression 10 row ends inside a pixel')
    if data[at] & 0x80:
        if at + 2 > len(data):
            raise StreamError('compression 10 row ends inside a pixel')
        delta = (data[at] << 8) | data[at + 1]
        above = seed[3 * x:3 * x + 3]
        changes = (signed5(delta >> 10 & 31), signed5(delta >> 5 & 31), 2 * signed5(delta & 31))
        return bytes(min(255, max(0, value + change)) for value, change in zip(above, changes)), at + 2
    if at + 3 > len(data):
        raise StreamError('compression 10 row ends inside a pixel')
    value = ((data[at] << 16) | (data[at + 1] << 8) | data[at + 2]) << 1
    return bytes((value >> 16 & 255, value >> 8 & 255, (value & 255) | (value >> 7 & 1))), at + 3


def source_pixel(source, row, seed, x, cached, pixels):
    """A run's first pixel taken from elsewhere: west (the row's last), north-east (the seed row's
    next), or the cached colour."""
    if source == 1:
        if x == 0:
            raise StreamError('compression 10 row takes a west pixel at its left edge')
        return bytes(row[3 * x - 3:3 * x])
    if source == 2:
        if x + 1 >= pixels:
            raise StreamError('compression 10 row takes a north-east pixel past its right edge')
        return seed[3 * x + 3:3 * x + 6]
    return cached


def rgb_delta_row(data, slot, seed):
    """Compression 10, of 24-bit RGB pixels: the seed row with runs replaced, each a byte of kind
    (top bit: 1 one pixel repeated, 0 pixels as they come), the first pixel's source (new, west,
    north-east, cached), the offset in pixels from the last run's end (two bits, 3 going on in the
    next bytes) and the count (three bits, less two or one, 7 going on: after a repeated pixel, or
    within pixels as they come after the 8th and every 255th more)."""
    row = bytearray(seed)
    pixels = slot.pixels
    at, x, end, cached = 0, 0, len(data), WHITE
    while at < end:
        command = data[at]
        at += 1
        offset, source, count = (command >> 3) & 3, (command >> 5) & 3, command & 7
        if offset == 3:
            offset, at = extended(data, at, offset, 'compression 10')
        x += offset
        if x >= pixels:
            raise StreamError('raster row wider than ESC*r#S')
        if command & 0x80:
            if source == 0:
                pixel, at = rgb_pixel(data, at, seed, x)
                cached = pixel
            else:
                pixel = source_pixel(source, row, seed, x, cached, pixels)
            count += 2
            if count == 9:
                count, at = extended(data, at, count, 'compression 10')
            if x + count > pixels:
                raise StreamError('raster row wider than ESC*r#S')
            row[3 * x:3 * (x + count)] = pixel * count
            x += count
            continue
        count, more, done = count + 1, count == 7, 0
        while done < count:
            if x >= pixels:
                raise StreamError('raster row wider than ESC*r#S')
            if done == 0 and source != 0:
                pixel = source_pixel(source, row, seed, x, cached, pixels)
            else:
                pixel, at = rgb_pixel(data, at, seed, x)
                if done == 0:
                    cached = pixel
            row[3 * x:3 * x + 3] = pixel
            x += 1
            done += 1
            if more and done == count:
                if at >= end:
                    raise StreamError('compression 10 row ends inside a count')
                count += data[at]
                more = data[at] == 255
                at += 1
    return bytes(row)


COMPRESSIONS = {0: uncompressed, 1: run_length, 2: packbits, 3: delta_row, 9: replacement_delta_row, 10: rgb_delta_row}
BIT_COMPRESSIONS = (0, 1, 2, 3, 9)


def ink_mask(row, slot):
    """A plane's row as the ink it puts down: its dots as they are, 1 bit each, for a bit plane;
    a byte of 255 for each RGB pixel but white."""
    if slot.kind == BITS:
        return row[:slot.mask_bytes]
    inked = row.translate(INK_BYTES)
    pixels = slot.pixels
    combined = int.from_bytes(inked[0::3], 'big') | int.from_bytes(inked[1::3], 'big') | \
        int.from_bytes(inked[2::3], 'big')
    return combined.to_bytes(pixels, 'big')


def mech_offset(attributes, sheet_width):
    """hpcups' *HPMechOffset for the sheet (its B-size one for sheets wider than Letter), in
    thousandths of an inch, or None."""
    def whole(keyword):
        value = attributes.get(keyword)
        return int(value) if value and WHOLE.fullmatch(value) else None
    wide = whole(MECH_OFFSET_B_SIZE) if sheet_width > LETTER_WIDTH else None
    return wide if wide is not None else whole(MECH_OFFSET)


class Reader:
    """The printer's state as the stream sets it, and the pages it has printed."""

    def __init__(self, data, media):
        self.data = data
        self.media = media
        self.name = language(data)
        self.pages = []
        self.reset()

    def reset(self):
        self.units = DEFAULT_UNITS
        self.resolution = DEFAULT_RESOLUTION
        self.simple_planes = 1
        self.configuration = None
        self.fixed_compression = False
        self.compression = 0
        self.width = self.height = None
        self.page_size = None
        self.vmi = DEFAULT_VMI
        self.top_margin = Fraction(0)
        self.overspray = {}
        self.new_page()

    def new_page(self):
        self.blocks = []
        self.marked = False
        self.raster = None
        # A page starts with the cursor at the origin: hpcups counts its negative (so relative)
        # ESC*p#Y from there.
        self.x = self.y = Fraction(0)

    def run(self):
        handlers = self.handlers()
        for at, name, value, payload in commands(self.data, self.name):
            handler = handlers.get(name)
            if handler is None:
                if name not in PASSED_OVER:
                    raise StreamError(f'{self.name} stream has ESC{name[:2]}{value.decode()}{name[2]} at byte {at}, '
                                      f'which is not read')
                continue
            try:
                handler(name, value, payload)
            except StreamError as problem:
                raise StreamError(f'{self.name} stream: {problem} at byte {at}') from None
        if self.marked:
            raise StreamError(f'{self.name} stream ends inside page {len(self.pages) + 1}, which no form feed or '
                              f'reset prints, at byte {len(self.data)}')
        if not self.pages:
            raise StreamError(f'no page in the {self.name} stream')
        return self.pages

    def handlers(self):
        return {'FF': self.form_feed, 'E': self.reset_command, 'UEL': self.reset_command,
                '&lA': self.page_size_command, '&lO': self.orientation, '&lP': self.page_length,
                '&lH': self.paper_source, '&aG': self.page_side, '&lX': self.copies,
                '&lD': self.lines_per_inch, '&lC': self.vmi_command, '&lE': self.top_margin_command,
                '&uD': self.units_command, '*pX': self.position, '*pY': self.position,
                '&aH': self.position, '&aV': self.position,
                '*tR': self.raster_setting, '*rS': self.raster_setting, '*rT': self.raster_setting,
                '*rU': self.raster_setting, '*gW': self.configure_raster_data,
                '*rA': self.start_raster, '*rB': self.end_raster, '*rC': self.end_raster,
                '*bM': self.compression_command, '*bS': self.seed_row_source,
                '*bV': self.plane, '*bW': self.plane, '*bY': self.skip_rows, '*oW': self.driver_configuration}

    # Pages

    def eject(self):
        self.pages.append(self.page())
        self.end_raster()
        self.new_page()

    def eject_if_marked(self):
        if self.marked:
            self.eject()
        else:
            self.end_raster()

    def form_feed(self, *_):
        self.eject()

    def reset_command(self, *_):
        self.eject_if_marked()
        self.reset()

    def handed_size(self, code):
        """The sheet of a size code that is not PCL's but the driver's own, where the PPD's code for
        the sheet hands the driver that code: hpcups writes the cupsInteger0 of the page size's
        code as its ESC&l#A (its photo and borderless sizes among them)."""
        handed = re.search(r'/cupsInteger0\s+(\d+)', self.media.size_code or '')
        return self.media.sheet_points if handed and int(handed.group(1)) == code else None

    def page_size_command(self, name, value, _):
        code = whole(value, name)
        if code != CUSTOM_SIZE and not pcl_paper.page_size(code) and not self.handed_size(code):
            raise StreamError(f'page size {code} is not known')
        self.eject_if_marked()
        self.page_size = code
        self.top_margin = Fraction(0)

    def orientation(self, name, value, _):
        if whole(value, name) != 0:
            raise StreamError(f'orientation {value.decode()} is not read: only portrait')
        self.eject_if_marked()
        self.top_margin = Fraction(0)

    def page_length(self, *_):
        # A page length resets the top margin, as a page size does: PCL 3 printers' default
        # is 0 (hpcups places its PCL 3 GUI pages with no ESC&l#E).
        self.top_margin = Fraction(0)

    def paper_source(self, name, value, _):
        source = whole(value, name)
        if source == 0:
            self.eject()
        elif source != -2:
            # -2 only loads the sheet; a tray chosen prints the page in hand first.
            self.eject_if_marked()

    def page_side(self, *_):
        self.eject_if_marked()

    def copies(self, name, value, _):
        if whole(value, name) != 1:
            raise StreamError(f'{value.decode()} copies are not read')

    def lines_per_inch(self, name, value, _):
        lines = whole(value, name)
        if not 0 < lines <= 48:
            raise StreamError(f'{lines} lines per inch is not read')
        self.vmi = Fraction(1, lines)

    def vmi_command(self, name, value, _):
        spacing, _ = number(value, name)
        if not 0 < spacing <= 48 * 48:
            raise StreamError(f'line spacing {value.decode()} is not read')
        self.vmi = spacing / 48

    def top_margin_command(self, name, value, _):
        lines = whole(value, name)
        if not 0 <= lines <= MAX_VALUE:
            raise StreamError(f'top margin of {lines} lines is not read')
        self.top_margin = lines * self.vmi

    def units_command(self, name, value, _):
        units = whole(value, name)
        if not 0 < units <= 7200:
            raise StreamError(f'{units} units per inch is not read')
        self.units = units

    def position(self, name, value, _):
        amount, relative = number(value, name)
        if abs(amount) > MAX_VALUE * 10:
            raise StreamError(f'position {value.decode()} is out of range')
        inches = amount / (DECIPOINTS if name[0] == '&' else self.units)
        if name[2] in 'XH':
            if self.raster:
                raise StreamError('a move across the page inside raster graphics is not read')
            self.x = self.x + inches if relative else inches
        else:
            self.y = self.y + inches if relative else self.top_margin + inches

    # Raster set-up

    def outside_raster(self, name):
        if self.raster:
            raise StreamError(f'ESC{name[:2]}#{name[2]} inside raster graphics is not read')

    def raster_setting(self, name, value, _):
        self.outside_raster(name)
        amount = whole(value, name)
        if name == '*tR':
            if not 0 < amount <= MAX_RESOLUTION:
                raise StreamError(f'raster resolution {amount} is not read')
            self.resolution = amount
        elif name == '*rU':
            if amount not in SIMPLE_PLANES:
                raise StreamError(f'simple colour {amount} is not read')
            if self.configuration:
                raise StreamError('simple colour after configure raster data is not read')
            self.simple_planes = SIMPLE_PLANES[amount]
        elif not 0 < amount <= MAX_VALUE:
            raise StreamError(f'raster {"width" if name == "*rS" else "height"} {amount} is not read')
        elif name == '*rS':
            self.width = amount
        else:
            self.height = amount

    def configure_raster_data(self, name, _value, payload):
        self.outside_raster(name)
        if len(payload) < 2:
            raise StreamError(f'configure raster data of {len(payload)} bytes')
        form = payload[0]
        if form == FORMAT_PLANAR:
            count, size, start = payload[1], 6, 2
        elif form == FORMAT_COMPONENTS and len(payload) >= 4:
            count, size, start = (payload[2] << 8) | payload[3], 8, 4
        else:
            raise StreamError(f'configure raster data format {form} is not read')
        if not 0 < count <= 8 or len(payload) != start + size * count:
            raise StreamError(f'configure raster data of {len(payload)} bytes for {count} components')
        components = []
        for place in range(start, len(payload), size):
            x_dpi, y_dpi = (payload[place] << 8) | payload[place + 1], (payload[place + 2] << 8) | payload[place + 3]
            if not (0 < x_dpi <= MAX_RESOLUTION and 0 < y_dpi <= MAX_RESOLUTION):
                raise StreamError(f'configure raster data resolution {x_dpi}x{y_dpi}')
            components.append((x_dpi, y_dpi) + (self.levels(payload, place) if form == FORMAT_PLANAR else
                                                self.component(payload, place)))
        base = (min(component[0] for component in components), min(component[1] for component in components))
        if any(x_dpi % base[0] or y_dpi % base[1] for x_dpi, y_dpi, *_ in components):
            raise StreamError(f'configure raster data resolutions {[component[:2] for component in components]} '
                              f'are not whole multiples of the lowest')
        self.configuration = (components, base)
        self.fixed_compression = form == FORMAT_COMPONENTS

    @staticmethod
    def levels(payload, place):
        levels = (payload[place + 4] << 8) | payload[place + 5]
        if levels < 2 or levels & (levels - 1) or levels > 256:
            raise StreamError(f'configure raster data of {levels} levels')
        return BITS, levels.bit_length() - 1, None

    @staticmethod
    def component(payload, place):
        compression, orientation, bits, planes = payload[place + 4:place + 8]
        if (bits, planes, orientation) == (1, 1, 0) and compression in BIT_COMPRESSIONS:
            return BITS, 1, compression
        if (bits, planes, orientation, compression) == (32, 1, 1, 10):
            return RGB, 1, compression
        raise StreamError(f'configure raster data component of {bits} bits in {planes} planes, orientation '
                          f'{orientation}, compression {compression}, is not read')

    def compression_command(self, name, value, _):
        mode = whole(value, name)
        if mode not in BIT_COMPRESSIONS:
            raise StreamError(f'unknown compression mode {mode}' if mode not in COMPRESSIONS else
                              f'compression mode {mode} of a bit plane is not read')
        if self.fixed_compression:
            raise StreamError('ESC*b#M where configure raster data sets each plane\'s compression is not read')
        self.compression = mode

    def seed_row_source(self, name, value, _):
        if whole(value, name) != 0:
            raise StreamError(f'seed row source {value.decode()} is not read: only each plane\'s own')

    def driver_configuration(self, name, _value, payload):
        kind = tuple(payload[:2])
        if kind in OVERSPRAY:
            self.outside_raster(name)
            if len(payload) != OVERSPRAY_SIZE or payload[2]:
                raise StreamError(f'overspray {payload.hex(" ")} is not read: only 0e 0{kind[1]} 00 and two bytes')
            self.overspray[OVERSPRAY[kind]] = int.from_bytes(payload[3:], 'big')
        elif kind == SPD_OVERSPRAY:
            raise StreamError('borderless overspray 0e 0d (hpcups\' SPD printers) is not read: it gives no amount, '
                              'so where the raster starts is not known')
        elif kind not in DRIVER_CONFIGURATIONS:
            raise StreamError(f'driver configuration {payload[:2].hex(" ")} is not read: it can move the page')

    # Raster graphics

    def sheet_points(self):
        if self.page_size is not None and self.page_size != CUSTOM_SIZE:
            known = pcl_paper.page_size(self.page_size)
            if known:
                return known[1], False
        if self.overspray:
            # hpcups' PPD gives a borderless size the area the raster covers, larger than the sheet
            # (hpcups.drv.in:2345, A4.FB: 605 x 852 pt).
            code = 'no size code' if self.page_size is None else f'size code {self.page_size}, not PCL\'s,'
            raise StreamError(f'a borderless page on {code} is not read: its sheet is not known')
        if self.page_size is not None and self.page_size != CUSTOM_SIZE:
            return self.handed_size(self.page_size), True
        if not self.media.sheet_points:
            raise StreamError('the stream names no paper size and the printer\'s is not known')
        return self.media.sheet_points, True

    def origin(self, dpi):
        """The printer's origin on the sheet in inches, and what was taken from the PPD for it
        (None where the stream's overspray gives it): hpcups counts the overspray in dots of the
        raster's resolution (HPCupsFilter.cpp:362-363) and sends no top margin with it
        (Pcl3Gui2.cpp:225-228)."""
        if self.overspray:
            if len(self.overspray) < len(OVERSPRAY):
                missing = next(side for side in OVERSPRAY.values() if side not in self.overspray)
                raise StreamError(f'a borderless page\'s overspray gives no {missing} amount')
            return (-Fraction(self.overspray['left'], dpi[0]), -Fraction(self.overspray['top'], dpi[1])), None
        if not self.media.origin_points:
            raise StreamError('the printable area\'s left edge is not known: the printer\'s PPD gives it')
        left = Fraction(self.media.origin_points[0]).limit_denominator(1000) / 72
        mech = mech_offset(self.media.attributes, self.sheet_points()[0][0])
        top = Fraction(mech, 1000) if mech is not None else Fraction(0)
        said = f'left edge at the printable area\'s, {float(left):.3g} in, from the PPD; ' + \
            (f'top from *HPMechOffset {mech} ({mech / 1000:g} in)' if mech is not None else
             'top at the sheet\'s edge')
        return (left, top), said

    def layout(self):
        if self.configuration:
            components, base = self.configuration
        else:
            components = [(self.resolution, self.resolution, BITS, 1, None)] * self.simple_planes
            base = (self.resolution, self.resolution)
        width = self.width
        if width is None:
            width = math.ceil(self.sheet_points()[0][0] * base[0] / 72)
        return Layout(components, base, width)

    def start_raster(self, name, value, _):
        mode = whole(value, name)
        if mode not in (0, 1):
            raise StreamError(f'start raster {mode} is not read')
        if self.raster:
            return
        layout = self.layout()
        (left, top), _ = self.origin(layout.base_dpi)
        self.raster = layout
        self.left = left + (self.x if mode == 1 else 0)
        self.top = top
        self.bottom = Fraction(self.sheet_points()[0][1]).limit_denominator(1000) / 72
        self.rows = 0
        self.seeds = [slot.blank() for slot in layout.slots]
        # Each plane's last row and its ink, for the rows a delta compression leaves as they were.
        self.inked = [(None, None)] * len(layout.slots)
        self.group = []
        self.block = None

    def end_raster(self, name=None, *_):
        if self.raster:
            if self.group:
                raise StreamError(f'raster graphics end inside a row of {len(self.group)} planes')
            self.raster = None
        if name == '*rC':
            # ESC*rC, unlike ESC*rB, also sets the compression back to none.
            self.compression = 0

    def plane(self, name, value, payload):
        if not self.raster:
            raise StreamError('a raster row outside raster graphics (no ESC*r#A) is not read')
        slots = self.raster.slots
        index = len(self.group)
        if index >= len(slots) or (name == '*bW') != (index == len(slots) - 1):
            count = f'{index + 1}' if name == '*bW' else f'above {index + 1}'
            raise StreamError(f'plane count {count} does not match the {len(slots)} planes of '
                              f'{"configure raster data" if self.configuration else "ESC*r#U"}')
        slot = slots[index]
        compression = self.compression if slot.compression is None else slot.compression
        row = self.seeds[index] if not payload and compression in (3, 9, 10) else \
            COMPRESSIONS[compression](payload, slot, self.seeds[index])
        self.seeds[index] = row
        self.group.append(row)
        if name == '*bW':
            self.finish_row()

    def finish_row(self):
        layout, group = self.raster, self.group
        self.group = []
        self.marked = True
        step = Fraction(1, layout.base_dpi[1])
        y = self.top + self.y
        self.y += step
        self.rows += 1
        # Rows past the raster's height, or off the sheet, are not printed.
        if (self.height is not None and self.rows > self.height) or not -step < y < self.bottom:
            self.block = None
            return
        block = self.block
        if block is None or block.next_y() != y:
            block = self.block = Block(layout, self.left, y)
            self.blocks.append(block)
        masks = [[None] * picture[4] for picture in layout.pictures]
        for index, (slot, row) in enumerate(zip(layout.slots, group)):
            last, mask = self.inked[index]
            if row is not last:
                mask = ink_mask(row, slot)
                mask = mask if mask.strip(b'\0') else None
                self.inked[index] = row, mask
            if mask is None:
                continue
            picture, sub_row = slot.target
            earlier = masks[picture][sub_row]
            masks[picture][sub_row] = mask if earlier is None else \
                (int.from_bytes(earlier, 'big') | int.from_bytes(mask, 'big')).to_bytes(len(mask), 'big')
        for kept, new in zip(block.masks, masks):
            kept += new
        block.rows += 1

    def skip_rows(self, name, value, _):
        if not self.raster:
            raise StreamError('skipped raster rows outside raster graphics (no ESC*r#A) are not read')
        if self.group:
            raise StreamError('rows skipped inside a raster row')
        rows = whole(value, name)
        if not 0 <= rows <= MAX_VALUE:
            raise StreamError(f'{rows} skipped rows')
        self.y += Fraction(rows, self.raster.base_dpi[1])
        self.rows += rows
        self.seeds = [slot.blank() for slot in self.raster.slots]

    def page(self):
        """The page printed: the sheet at the resolution of its finest planes, each block of rows
        painted where it lies."""
        sheet_points, from_media = self.sheet_points()
        layouts = self.layouts()
        _, said = self.origin(layouts[0].base_dpi)
        dpi = tuple(max(dpi) for dpi in zip(*(layout.dpi() for layout in layouts)))
        size = [round(points * dots / 72) for points, dots in zip(sheet_points, dpi)]
        if not all(size) or size[0] * size[1] > MAX_PIXELS:
            raise StreamError(f'a sheet of {size[0]}x{size[1]} pixels is not read')
        sheet = Image.new('L', size, 255)
        for block in self.blocks:
            block.paint(sheet, dpi)
        return DecodedPage(sheet, dpi, sheet_points, said + ('; sheet size from the PPD' if from_media else '')
                           if said else None)

    def layouts(self):
        return [block.layout for block in self.blocks] or [self.raster or self.layout()]
