"""Canon's raster language for its BJC, S, i and PIXMA inkjets, as Gutenprint's bjc driver writes
it. A job may open and close with XML job blocks; ESC [ K resets the printer (BJL control text may
follow it); ESC @ ends the job. Every other command is ESC ( letter, a 2-byte little-endian length
and that many bytes. Each page is set up by ESC ( d (resolution), ESC ( b (PackBits on),
ESC ( t (each ink's depth: 1, 2, 4 or 8 bits a pixel, or 3, 5 or 6 levels packed 5 or 3 pixels to
the byte) and, on most models, ESC ( p, whose long form gives the printable area's origin, its
width and the sheet (the short form only the width); ESC ( P or ESC ( m name the sheet. Older
models then send each colour's raster line as ESC ( A (colour letter, PackBits) with a CR after
it, and move down with ESC ( e; newer ones turn on bands with ESC ( I, give the lines in a band
in ESC ( J and its colours in ESC ( L, and send each colour's band as one ESC ( F, each line in it
ended by the code 128. FF ends a page.

Each page comes back as the whole sheet in grey at the stream's resolution, ink wherever any
colour has a dot at any level, the printable area placed where the long ESC ( p puts it, or else
at the media's origin (the PPD's printable area, where the driver puts each line's first pixel).
ESC ( t lists the depths in the printer's own order of inks, which the stream does not name: a
colour's depth is the one of those whose full line (the driver sends every line as wide as the
printable area) is as long as that colour's lines at the width ESC ( p gives."""
import re

from PIL import Image

from .base import DecodedPage, StreamError, from_ppd, no_title, save_pages, unchanged
from ..core.papers import sheet

# Its dots are an inkjet's, dithered where the driver prints black: see base.spread.
DITHERED = True

LANGUAGE = 'Canon raster'
LANGUAGES = (LANGUAGE,)
PPD_KEYWORDS = ()
# The entry points it takes as readers.base has them.
device_code = unchanged
title = no_title

ESC = 0x1b
CR, FF = 0x0d, 0x0c
COMMAND = b'\x1b('
RESET = b'\x1b[K'
END_JOB = b'\x1b@'
# ESC [ K's arguments: a plain reset, or one that BJL control text follows up to its end line.
PLAIN_RESET, CONTROL_RESET = b'\x00\x0f', b'\x00\x1f'
BJL_END = b'BJLEND\n'
# Some models' jobs open and close with XML blocks of job control.
XML_BLOCKS = re.compile(rb'(?:<\?xml[^\x1b]*?</cmd>)+')
# The code that ends each line of a band; the driver's PackBits never uses it otherwise.
END_OF_LINE = 0x80
COLOURS = b'CMYKcmyk'

# Commands that set what cannot move ink: page mode, page ID, paper source and media, cartridge,
# duplex, ink and media tables.
IGNORED = frozenset(b'aqlMTS$suw')
# Commands that shape the page: refused once the page has raster data.
PAGE_SETUP = frozenset(b'dtpIJL')

# Ink depths by ESC ( t's format byte (bits, plus 0x20 where several pixels' levels are packed into
# a byte) and, for packed ones, their level count: (name, pixels a byte, how: a bit field of size
# bits or a digit of a base size number, the first pixel the highest).
DEPTHS = {(0x01, None): ('1-bit', 8, 'bits', 1), (0x02, None): ('2-bit', 4, 'bits', 2),
          (0x22, 3): ('3-level packed', 5, 'digits', 3), (0x04, None): ('4-bit', 2, 'bits', 4),
          (0x24, 5): ('5-level packed', 3, 'digits', 5), (0x24, 6): ('6-level packed', 3, 'digits', 6),
          (0x08, None): ('8-bit', 1, 'bits', 8)}
PACKED = 0x20
# The short ESC ( t: one depth for every ink, by its first byte; the long one starts with 0x80.
SHORT_DEPTHS = {0x01: DEPTHS[0x01, None], 0x02: DEPTHS[0x02, None]}
LONG_T = 0x80

# The driver's 1440 dpi line modes send each colour so many lines after black, for the head to
# lay it that many lines back up; its other modes leave that to the printer.
HEAD_DELAYS_1440 = {ord('C'): 112, ord('M'): 224, ord('Y'): 336, ord('c'): 112, ord('m'): 224, ord('y'): 336}
HEAD_DELAY_XDPI = 1440
# ESC ( r 0x63 sets the head's direction, and only the S200 is sent it (print-canon.c:5086-5090,
# 5114-5117): every mode of it sends each colour so many lines after black (canon-modes.h:82,
# 900-909; print-canon.c:5492-5507).
HEAD_DIRECTION = 0x63
S200_DELAYS = {ord('C'): 0x30, ord('M'): 0x50, ord('Y'): 0x70}
# ESC ( c's 6-byte form, the S200's above 360 dpi, where it weaves, gives black a vertical offset
# whose unit Gutenprint does not state (print-canon.c:3615-3626).
OFFSET_COLOUR_LENGTH = 6
BLACK_OFFSET = 5
# ESC ( p's long form: the offsets of its big-endian fields: the unit (1/600 inch), the printable
# area's left edge, top edge and width, two fields never seen other than 0, then the sheet.
LONG_P = 46
P_UNIT, P_LEFT, P_TOP, P_WIDTH, P_UNUSED, P_PAPER = 12, 14, 18, 22, 30, 38
# ESC ( p's short form gives the printable width in 1/60 inch, as (width in points + 1) * 5 // 6.
SHORT_P, SHORT_P_WIDTH = 8, 4
# ESC ( P's and ESC ( m's paper size code; ESC ( P's page rotation bytes, (1, 0) for none.
P_SIZE, M_SIZE = 1, 7
P_ROTATION, NO_ROTATION = 4, b'\x01\x00'
# The finest resolution and the largest sheet of any of the driver's models (22 by 66 inches).
MAX_DPI = 2880
MAX_SHEET_POINTS = (22 * 72, 66 * 72)

PAPER_CODES = {code: sheet(name) for code, name in {
    0x01: 'A5', 0x03: 'A4', 0x05: 'A3', 0x08: 'B5', 0x0a: 'B4', 0x0d: 'Letter', 0x0f: 'Legal', 0x11: 'Tabloid',
    0x14: 'Postcard', 0x2e: 'Env10', 0x2f: 'DL', 0x34: '4x6', 0x37: '5x7', 0x63: 'A6', 0x91: 'Executive', 0x92: 'C5',
    0x93: 'Monarch'}.items()}


def ink_tables(pixels, how, size):
    """For each pixel of a byte, the table that turns the byte into 255 where that pixel has ink."""
    tables = []
    for pixel in range(pixels):
        if how == 'bits':
            levels = [(byte >> (8 - size * (pixel + 1))) & ((1 << size) - 1) for byte in range(256)]
        else:
            levels = [byte // size ** (pixels - 1 - pixel) % size for byte in range(256)]
        tables.append(bytes(255 if level else 0 for level in levels))
    return tables


INK_TABLES = {name: ink_tables(pixels, how, size) for name, pixels, how, size in DEPTHS.values()}
# The bytes past a packed depth's last code (242 for five 3-level pixels), which mean nothing.
BAD_CODES = {name: bytes(how == 'digits' and byte >= size ** pixels for byte in range(256))
             for name, pixels, how, size in DEPTHS.values()}


def full_line_length(depth, width):
    """The bytes of a full line of width pixels as the driver packs it: bit planes of whole bytes
    folded into pixels of 1, 2, 4 or 8 bits; a packed depth's 2-bit pixels then go 5 to the byte,
    its 4-bit ones 3 to the byte, a byte for each group that starts inside the line."""
    plane = (width + 7) // 8
    _, pixels, how, size = depth
    if how == 'bits':
        return plane * size
    folded, group = (plane * 2, 5) if pixels == 5 else (plane * 4, 3)
    return folded - folded // group


def colour_name(key):
    letter = key[1]
    return chr(letter) if 32 < letter < 127 else f'0x{letter:02x}'


class Job:
    """The printer's state as the stream sets it, and the page being read: its lines by colour,
    keyed (band position or None, colour letter), each (line number, bytes, byte offset)."""

    def __init__(self, media):
        self.media = media
        self.dpi = None
        self.compressed = False
        self.depths = None
        self.banded = False
        self.band_lines = None
        self.band_colours = None
        self.long_p = None
        self.widths = None
        self.paper_code = None
        self.s200 = False
        self.pages = []
        self.new_page()

    def new_page(self):
        self.row = 0
        self.lines = {}
        self.band_next = 0
        self.started = None

    def start(self, at):
        """Raster data at at: the page is under way, and must be set up for it."""
        if self.started is None:
            self.started = at
        if self.dpi is None:
            raise StreamError(f'Canon raster data before any resolution (ESC ( d) at byte {at}')
        if self.depths is None:
            raise StreamError(f'Canon raster data before any ink depths (ESC ( t) at byte {at}')
        if not self.compressed:
            raise StreamError(f'Canon raster data sent uncompressed (no ESC ( b 1) at byte {at}')

    def add(self, key, row, line, at):
        if line:
            self.lines.setdefault(key, []).append((row, line, at))


def unpack(data, at, end, banded):
    """One PackBits line from at: literal runs (count below 128, then count + 1 bytes) and repeats
    (257 - count copies of the next byte). In a band the line ends at the code 128; an ESC ( A
    line runs to end. Returns the line and where what follows starts."""
    out = bytearray()
    while at < end:
        count = data[at]
        if count == END_OF_LINE:
            if not banded:
                raise StreamError(f'Canon raster line with the code 128 inside it at byte {at}')
            return bytes(out), at + 1
        size = count + 1 if count < 128 else 1
        if at + 1 + size > end:
            raise StreamError(f'Canon raster line runs past the end of its command at byte {at}')
        out += data[at + 1:at + 1 + size] if count < 128 else data[at + 1:at + 2] * (257 - count)
        at += 1 + size
    if banded:
        raise StreamError(f'Canon raster band ends inside a line at byte {at}')
    return bytes(out), at


def read_depths(payload, at):
    """The depths ESC ( t names: the short form's one for all, or the long form's for each ink
    (3 bytes each: format, 0, level count; an unused ink all 0)."""
    if len(payload) == 3 and payload[0] != LONG_T:
        if payload[0] not in SHORT_DEPTHS:
            raise StreamError(f'ESC ( t with ink depth 0x{payload[0]:02x} at byte {at} is not read')
        return [SHORT_DEPTHS[payload[0]]]
    if len(payload) < 6 or len(payload) % 3 or payload[0] != LONG_T:
        raise StreamError(f'ESC ( t of {len(payload)} bytes at byte {at} is not read')
    depths = []
    for offset in range(3, len(payload), 3):
        form, extra, levels = payload[offset:offset + 3]
        depth = DEPTHS.get((form, levels if form & PACKED else None))
        if form and (extra or not depth):
            raise StreamError(f'ESC ( t ink format {payload[offset:offset + 3].hex()} at byte {at} is not read')
        if form and depth not in depths:
            depths.append(depth)
    if not depths:
        raise StreamError(f'ESC ( t at byte {at} names no ink')
    return depths


def number(payload, offset, size=4):
    return int.from_bytes(payload[offset:offset + size], 'big', signed=size == 4)


def read_page_format(job, payload, at):
    """ESC ( p: the long form's unit, origin and sheet, and the printable width in whole points
    that either form's truncated width allows."""
    if len(payload) == LONG_P:
        unit, width = number(payload, P_UNIT, 2), number(payload, P_WIDTH)
        paper = (number(payload, P_PAPER), number(payload, P_PAPER + 4))
        origin = (number(payload, P_LEFT), number(payload, P_TOP))
        # A borderless page starts a little off the sheet, never a sheet's width off it.
        if not unit or width <= 0 or any(payload[P_UNUSED:P_PAPER]) or not all(
                0 < size * 72 / unit <= most and -size < edge < size
                for size, most, edge in zip(paper, MAX_SHEET_POINTS, origin)):
            raise StreamError(f'ESC ( p at byte {at} gives a page that is not read')
        job.long_p = (unit, origin[0], origin[1], paper)
        job.widths = [points for points in range(width * 72 // unit, width * 72 // unit + 2)
                      if points * unit // 72 == width]
    elif len(payload) == SHORT_P:
        width = number(payload, SHORT_P_WIDTH, 2)
        job.long_p = None
        job.widths = [points for points in range(max(0, width * 6 // 5 - 2), width * 6 // 5 + 2)
                      if (points + 1) * 5 // 6 == width]
    else:
        raise StreamError(f'ESC ( p of {len(payload)} bytes at byte {at} is not read')


def read_resolution(job, payload, at):
    """ESC ( d: the vertical, then the horizontal resolution, 2 bytes each."""
    dpi = (number(payload, 2, 2), number(payload, 0, 2))
    if len(payload) != 4 or not all(0 < value <= MAX_DPI for value in dpi):
        raise StreamError(f'ESC ( d at byte {at} gives no resolution that is read')
    job.dpi = dpi


def read_flag(payload, at, letter):
    if len(payload) != 1 or payload[0] > 1:
        raise StreamError(f'ESC ( {letter} at byte {at} sets what is not read')
    return payload[0] == 1


def setup(job, letter, payload, at):
    """The commands that set the printer up, or set what cannot move ink."""
    if letter in PAGE_SETUP and job.started is not None:
        raise StreamError(f'ESC ( {chr(letter)} inside a page, after its raster data, at byte {at}')
    if letter == ord('d'):
        read_resolution(job, payload, at)
    elif letter == ord('b'):
        job.compressed = read_flag(payload, at, 'b')
    elif letter == ord('t'):
        job.depths = read_depths(payload, at)
    elif letter == ord('p'):
        read_page_format(job, payload, at)
    elif letter == ord('I'):
        job.banded = read_flag(payload, at, 'I')
    elif letter == ord('J'):
        if len(payload) != 1 or not payload[0]:
            raise StreamError(f'ESC ( J at byte {at} gives no lines to a band')
        job.band_lines = payload[0]
    elif letter == ord('L'):
        if not payload:
            raise StreamError(f'ESC ( L at byte {at} names no colour')
        job.band_colours = payload
    elif letter == ord('P'):
        if len(payload) >= P_ROTATION + 2 and payload[P_ROTATION:P_ROTATION + 2] != NO_ROTATION:
            raise StreamError(f'ESC ( P at byte {at} has the printer turn the page')
        job.paper_code = payload[P_SIZE] if len(payload) > P_SIZE else None
    elif letter == ord('v'):
        if any(payload):
            raise StreamError(f'ESC ( v at byte {at} has the printer turn the page')
    elif letter == ord('c'):
        if len(payload) >= OFFSET_COLOUR_LENGTH:
            raise StreamError(f"ESC ( c at byte {at} sets the S200's weaving above 360 dpi, not read: the vertical "
                              f'offset it gives black ({payload[BLACK_OFFSET]}) is in a unit Gutenprint does not state')
    elif letter == ord('r'):
        job.s200 = job.s200 or (len(payload) == 3 and payload[0] == HEAD_DIRECTION)
    elif letter == ord('m'):
        if job.paper_code is None and len(payload) > M_SIZE:
            job.paper_code = payload[M_SIZE]
    elif letter not in IGNORED:
        raise StreamError(f'unknown command ESC ( {chr(letter) if 32 < letter < 127 else hex(letter)} at byte {at}')


def raster_line(job, data, start, end, at):
    """ESC ( A at at, its colour letter and PackBits from start to end: one colour's raster line
    at the current line."""
    job.start(at)
    if job.banded:
        raise StreamError(f'ESC ( A raster line among bands at byte {at}')
    if start == end or data[start] not in COLOURS:
        raise StreamError(f'ESC ( A raster line of no known colour at byte {at}')
    key = (None, data[start])
    line, _ = unpack(data, start + 1, end, False)
    earlier = job.lines.get(key)
    if line and earlier and earlier[-1][0] == job.row:
        raise StreamError(f'a second {chr(data[start])} raster line on one line at byte {at}')
    job.add(key, job.row, line, at)


def raster_band(job, data, start, end, at):
    """ESC ( F at at, its lines from start to end: one colour's band of ESC ( J lines; the
    colours come in ESC ( L's order, and the band is done when each has sent its own."""
    job.start(at)
    if not (job.banded and job.band_lines and job.band_colours):
        raise StreamError(f'ESC ( F band without bands set up (ESC ( I, J and L) at byte {at}')
    index = job.band_next
    offset = start
    for line_number in range(job.band_lines):
        if offset == end:
            raise StreamError(f'ESC ( F band of {line_number} lines where ESC ( J gives {job.band_lines} '
                              f'at byte {at}')
        line, offset = unpack(data, offset, end, True)
        job.add((index, job.band_colours[index]), job.row + line_number, line, at)
    if offset != end:
        raise StreamError(f'ESC ( F band runs past its {job.band_lines} lines at byte {at}')
    job.band_next = (index + 1) % len(job.band_colours)
    if not job.band_next:
        job.row += job.band_lines


def advance(job, payload, at):
    """ESC ( e: down so many raster lines; bands, once banded, as the driver counts its top margin."""
    if len(payload) not in (2, 4):
        raise StreamError(f'ESC ( e of {len(payload)} bytes at byte {at} is not read')
    if job.band_next:
        raise StreamError(f'ESC ( e inside a band at byte {at}')
    if job.started is None:
        job.started = at
    job.row += number(payload, 0, len(payload)) * (job.band_lines if job.banded and job.band_lines else 1)


def depth_of(job, key, lines):
    """A colour's depth: the one of ESC ( t's whose full line at the width ESC ( p gives is as long
    as the colour's lines, or ESC ( t's only one where no ESC ( p gives the width."""
    length = len(lines[0][1])
    for _, line, at in lines:
        if len(line) != length:
            raise StreamError(f'{colour_name(key)} raster lines {length} and {len(line)} bytes long at byte {at}')
    if job.widths is None:
        if len(job.depths) == 1:
            return job.depths[0]
        raise StreamError(f'{colour_name(key)} raster lines at byte {lines[0][2]}: ESC ( t gives several ink depths '
                          f'and no ESC ( p the width that tells them apart')
    widths = sorted({job.dpi[0] * points // 72 for points in job.widths})
    fits = [depth for depth in job.depths if any(full_line_length(depth, width) == length for width in widths)]
    if len(fits) != 1:
        raise StreamError(f'{colour_name(key)} raster lines of {length} bytes at byte {lines[0][2]} are full lines of '
                          f'{"none" if not fits else "more than one"} of the ink depths ESC ( t gives, '
                          f'{" or ".join(str(width) for width in widths)} pixels wide')
    return fits[0]


def head_delays(job):
    """The lines the driver sends each colour late by, and where: the S200's, or those of the 1440
    dpi line modes."""
    if job.s200:
        return S200_DELAYS, 'on the S200'
    if job.dpi[0] == HEAD_DELAY_XDPI and not job.banded:
        return HEAD_DELAYS_1440, 'at 1440 dpi'
    return {}, None


def colour_dots(job, key, lines, rows, columns):
    """A colour's dots on the printable area's first rows lines and columns pixels, as an 'L'
    mask (255 where there is ink); lines off those are off the sheet."""
    name, pixels = depth_of(job, key, lines)[:2]
    length = min(len(lines[0][1]), -(-columns // pixels))
    delay = head_delays(job)[0].get(key[1], 0)
    plane = bytearray(length * rows)
    for row, line, at in lines:
        if 0 <= row - delay < rows:
            plane[(row - delay) * length:(row - delay + 1) * length] = line[:length]
    if b'\x01' in plane.translate(BAD_CODES[name]):
        raise StreamError(f'{colour_name(key)} raster data from byte {lines[0][2]} with a byte that is no code '
                          f'of {pixels} {name} pixels')
    dots = bytearray(len(plane) * pixels)
    for pixel, table in enumerate(INK_TABLES[name]):
        dots[pixel::pixels] = plane.translate(table)
    return Image.frombytes('L', (length * pixels, rows), bytes(dots))


def sheet_of(job, at):
    """The sheet's size in pixels and in points, and what was taken from the media for it."""
    if job.long_p:
        unit, _, _, paper = job.long_p
        points, taken = (paper[0] * 72 / unit, paper[1] * 72 / unit), None
    elif job.paper_code in PAPER_CODES:
        points, taken = PAPER_CODES[job.paper_code][1], None
    elif job.media.sheet_points:
        points, taken = tuple(job.media.sheet_points), 'sheet from the media'
    else:
        raise StreamError(f'Canon raster page ending at byte {at} names no sheet, and the media gives none')
    size = tuple(round(side * dots / 72) for side, dots in zip(points, job.dpi))
    if not all(0 < side <= most for side, most in zip(points, MAX_SHEET_POINTS)) or 0 in size:
        raise StreamError(f'Canon raster page ending at byte {at} on a sheet of {size[0]} x {size[1]} pixels')
    return size, points, taken


def origin_of(job, at):
    """The printable area's top left corner on the sheet in pixels, and what was taken for it."""
    x_dpi, y_dpi = job.dpi
    if job.long_p:
        unit, left, top, _ = job.long_p
        return (round(left * x_dpi / unit), round(top * y_dpi / unit)), None
    if not job.media.origin_points:
        raise StreamError(f'Canon raster page ending at byte {at}: no ESC ( p places the printable area, '
                          f'and the media gives no origin')
    left, top = job.media.origin_points
    return (round(left * x_dpi / 72), round(top * y_dpi / 72)), from_ppd(job.media.origin_points)


def end_page(job, at):
    """FF: the page's dots, of all its colours, on its sheet."""
    if job.band_next:
        raise StreamError(f'Canon raster page ends inside a band at byte {at}')
    if job.dpi is None:
        raise StreamError(f'Canon raster page with no resolution (ESC ( d) ends at byte {at}')
    size, points, sheet_taken = sheet_of(job, at)
    (left, top), origin_taken = origin_of(job, at)
    rows, columns = max(0, size[1] - top), max(0, size[0] - left)
    colours = [colour_dots(job, key, lines, rows, columns) for key, lines in job.lines.items()] \
        if rows and columns else []
    sheet = Image.new('L', size, 255)
    for dots in colours:
        sheet.paste(0, (left, top, left + dots.width, top + dots.height), dots)
    assumed = [taken for taken in (origin_taken, sheet_taken) if taken]
    delays, where = head_delays(job)
    if any(key[1] in delays for key in job.lines):
        assumed.append(f'colours raised by the distances the driver delays them {where}')
    job.pages.append(DecodedPage(sheet, job.dpi, points, '; '.join(assumed) or None))
    job.new_page()


def skip_xml(data, at):
    block = XML_BLOCKS.match(data, at)
    if not block:
        raise StreamError(f'Canon raster stream with an XML block cut off or broken at byte {at}')
    return block.end()


def reset(job, data, at):
    """ESC [ K and the BJL control text that may follow it; returns where the next command starts."""
    if at + 5 > len(data):
        raise StreamError(f'Canon raster stream cut off inside a command at byte {at}')
    end = at + 5 + int.from_bytes(data[at + 3:at + 5], 'little')
    payload = data[at + 5:end]
    if payload not in (PLAIN_RESET, CONTROL_RESET):
        raise StreamError(f'ESC [ K at byte {at} is not read')
    if job.started is not None:
        raise StreamError(f'ESC [ K resets the printer inside a page at byte {at}')
    if payload == CONTROL_RESET:
        text_end = data.find(BJL_END, end)
        if text_end < 0:
            raise StreamError(f'Canon raster stream cut off inside BJL control text at byte {end}')
        end = text_end + len(BJL_END)
    return end


def command(job, data, at):
    """The ESC ( command at at; returns where the next starts."""
    if at + 5 > len(data):
        raise StreamError(f'Canon raster stream cut off inside a command at byte {at}')
    letter = data[at + 2]
    end = at + 5 + int.from_bytes(data[at + 3:at + 5], 'little')
    if end > len(data):
        inside = {ord('A'): 'a raster line', ord('F'): 'a raster band'}.get(letter, 'a command')
        raise StreamError(f'Canon raster stream cut off inside {inside} at byte {at}')
    if letter == ord('A'):
        raster_line(job, data, at + 5, end, at)
    elif letter == ord('F'):
        raster_band(job, data, at + 5, end, at)
    elif letter == ord('e'):
        advance(job, data[at + 5:end], at)
    else:
        setup(job, letter, data[at + 5:end], at)
    return end


def read(data, media):
    """Every page of a Canon raster job, each as the whole sheet; StreamError for anything that
    cannot be read."""
    job = Job(media)
    at = 0
    while at < len(data):
        byte = data[at]
        if data.startswith(COMMAND, at):
            at = command(job, data, at)
        elif data.startswith(RESET, at):
            at = reset(job, data, at)
        elif data.startswith(END_JOB, at):
            if job.started is not None:
                raise StreamError(f'ESC @ ends the job inside a page at byte {at}')
            at += len(END_JOB)
        elif byte == FF:
            end_page(job, at)
            at += 1
        elif byte == CR:
            at += 1
        elif byte == ord('<'):
            at = skip_xml(data, at)
        elif byte == ESC:
            raise StreamError(f'unknown command ESC {data[at + 1:at + 2].decode("latin-1")} at byte {at}')
        else:
            raise StreamError(f'Canon raster stream has the stray byte 0x{byte:02x} at byte {at}')
    if job.started is not None:
        raise StreamError(f'Canon raster stream cut off inside page {len(job.pages) + 1}: no form feed ends '
                          f'the raster data from byte {job.started}')
    if not job.pages:
        raise StreamError('Canon raster stream with no page')
    return job.pages


def first_command(data):
    blocks = XML_BLOCKS.match(data)
    return blocks.end() if blocks else 0


def language(data):
    return LANGUAGE


def sniff(data):
    """Whether data is a Canon raster job: after any XML job blocks, the printer reset ESC [ K."""
    at = first_command(data[:4096])
    return data.startswith(RESET + b'\x02\x00', at) and data[at + 5:at + 7] in (PLAIN_RESET, CONTROL_RESET)


def paper(data):
    """The (name, (width, height) in points) of the first page's sheet as its setup names it:
    ESC ( P's or ESC ( m's size code, and the long ESC ( p's size where it comes ('Custom' for a
    code not listed); None when the setup names none or cannot be read."""
    job = Job(None)
    at = first_command(data)
    try:
        while at < len(data) and (data.startswith(RESET, at) or data.startswith(COMMAND, at)) \
                and data[at + 2:at + 3] not in (b'A', b'F', b'e'):
            at = reset(job, data, at) if data.startswith(RESET, at) else command(job, data, at)
    except StreamError:
        return None
    named = PAPER_CODES.get(job.paper_code)
    if job.long_p:
        unit, _, _, size = job.long_p
        return (named[0] if named else 'Custom'), (size[0] * 72 / unit, size[1] * 72 / unit)
    return named


def render(document, media, workdir, bits=False):
    return save_pages(read(document.data, media), workdir, LANGUAGE, DITHERED)
