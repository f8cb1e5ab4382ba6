"""LIDIL, the language hpcups writes for its lidil inkjets (DeskJet 3320 to 3940, D1300 to D4300,
PSC 1000 to 1400, OfficeJet 4100 and their kind). A LIDIL stream is packets: '$', the length of
the packet's command part (from that '$' to the '$' that closes its options) in 2 bytes, its type
in 2 (0 for a command; reset, sync and sync complete are packets of types of their own), the
command, a reference number in 2 bytes, the length of the data after the command part in 2, the
command's options and the closing '$', then the data. Its numbers are big-endian; positions are
in device units of 1/2400 inch from the sheet's top left corner.

Read: start job, whose length tells LIDIL 1 from LIDIL 2 (hpcups' dj4100 and dj2600 platforms),
and end job; load page, the sheet's width and height; print sweep, one pass of the carriage: the
size of its data, its vertical position, the left margin, its swing format (16 dots a column group
in LIDIL 1, 32 in LIDIL 2), its direction and, for each colour, its left edge, its vertical and
horizontal data resolutions and the nozzles it fires; load sweep data, the sweep's dots, as they
are or in LidilCompress' words; eject page. Sync and comment packets are passed over; anything
else (pen handling, control, a vertical alignment, a shingle array) is refused.

A sweep's data is its swings (column groups) in the order the carriage meets them, from the right
in a sweep right to left; each swing holds every colour's rows in turn, a row the swing's bytes,
8 dots a byte, the first dot left. A colour's first row is fired by its first nozzle, that many
nozzle pitches (of its vertical print resolution) below the sweep's vertical position, each next
row one row of its data resolution further down. Rows lie where the stream puts them, the black
pen's included: hpcups sends its sweeps 12 device units below the colour pen's (m_cKtoCVertAlign,
Lidil.cpp:72 and :1583), its default for the pens' alignment.

The stream places the page itself: nothing is taken from the PPD. Each page is handed back as the
whole sheet in 8-bit grey, ink wherever any colour has a dot, across at the finest horizontal
data resolution of its sweeps and down at 600 dpi (the black pen's data rows' pitch, and the step
hpcups interleaves its passes by: Lidil.cpp:1119-1125) or a sweep's finer one; a dot covers its
data resolution's cell. Sources cited are hplip 3.22.10's prnt/hpcups."""
import struct

import numpy
from PIL import Image

from .base import DecodedPage, MAX_PIXELS, MAX_POINTS, StreamError, no_title, save_pages, unchanged
from ..core.papers import SHEETS

# Its dots are an inkjet's, dithered where the driver prints black: see base.spread.
DITHERED = True

LANGUAGE = 'LIDIL'
LANGUAGES = (LANGUAGE,)
PPD_KEYWORDS = ()
# The entry points it takes as readers.base has them.
device_code = unchanged
title = no_title

FRAME = 0x24
# A packet's header (Lidil.cpp:524-533): '$', command part's length, type, command, reference
# number, data length; at least 16 bytes a command part (Lidil.h:79).
HEADER = '>xHHBHH'
HEADER_SIZE, SMALLEST = 10, 16
COMMAND = 0
# The packets of their own types hpcups sends around a job (PrinterCommands.h:166-171): reset,
# sync (its options and data zeros) and sync complete.
OWN_TYPES = {6: 'reset', 7: 'sync', 8: 'sync complete'}
JOB, LOAD_PAGE, EJECT_PAGE, PRINT_SWEEP, LOAD_SWEEP_DATA, COMMENTS = 0, 1, 2, 3, 4, 7
NAMES = {JOB: 'start or end job', LOAD_PAGE: 'load page', EJECT_PAGE: 'eject page', PRINT_SWEEP: 'print sweep',
         LOAD_SWEEP_DATA: 'load sweep data', COMMENTS: 'comments'}
# Start and end job (Lidil.cpp:206-216, :226-232): the operation and the job's number; LIDIL 2's
# start job 4 bytes more.
START_JOB, END_JOB = 0, 1
JOB_SIZE, JOB_SIZE_2 = 16, 20
# Load page (Lidil.cpp:260-283): media type, source, destination, quality and special load, a
# byte each, the sheet's width and height, the optional fields' bits and the fields: media load
# speed and service period (a byte each), the least time between sweeps (2 bytes).
LOAD_PAGE_OPTIONS = '>5xIII'
PAGE_FIELDS = {0x1: 1, 0x2: 1, 0x4: 2}
# Eject page (Lidil.cpp:358-368): the optional fields' bits and the eject speed.
EJECT_PAGE_OPTIONS = '>I'
EJECT_FIELDS = {0x1: 1}
# Print sweep (Lidil.cpp:719-756): the data's size, vertical position, left margin, swing format,
# direction, and in LIDIL 2 the shingle mask, then the optional fields' bits and the fields:
# carriage speed, initial print speed and accurate position, a byte each. LIDIL 2 opens with its
# sweep version, 1, and gives the number of its entries; LIDIL 1 gives its colours' bits.
SWEEP_OPTIONS, SWEEP_OPTIONS_2 = '>IiiBBI', '>BIiiBB4xI'
SWEEP_VERSION = 1
SWEEP_FIELDS = {0x01: 1, 0x02: 1, 0x10: 1}
# Swing formats (Lidil.cpp:730-739, :143): LIDIL 1's 2 bytes, LIDIL 2's 4.
SWING_BYTES = ({0: 2}, {1: 4})
LEFT_TO_RIGHT, RIGHT_TO_LEFT = 0, 1
# A colour's entry (Lidil.cpp:813-882): left and right edge twice, vertical data and print
# resolutions, horizontal data and print resolutions, first and last nozzle, vertical alignment.
# LIDIL 2 gives one entry for all the colours of a sweep, opened by their bits: the data holds
# each of them in turn (Lidil.cpp:820 and :884-887 against :1410).
ENTRY, ENTRY_2 = '>iiiiHHHHHHb', '>IiiiiHHHHHHb'
DEVICE_UNITS = 2400
# Load sweep data (Lidil.cpp:644-670): the data's size before compression, then 0xFF up to the
# '$' at the packet's least size.
SWEEP_DATA_OPTIONS = '>H'
# LidilCompress' words (LidilCompress.h:32-37, LidilCompress.cpp:34-96): the top 4 bits a command,
# the other 12 a count less one: that many zero words, 0xFFFF words, copies of the next word, or
# words as they are.
FILL_ZEROS, FILL_ONES, FILL_NEXT, IMAGE = 1, 2, 3, 4
# The least resolution a page is drawn at down the sheet, and across it where it has no dot.
LEAST_DPI = 600
WHITE = 255


def fields(name, layout, data, at, start, end):
    """The numbers of layout at start, which must lie before end."""
    if start + struct.calcsize(layout) > end:
        raise StreamError(f'{name} at byte {at} is too short for its options')
    return struct.unpack_from(layout, data, start)


def optional_size(name, bits, known, at):
    """The size of the optional fields bits says follow."""
    if bits & ~sum(known):
        raise StreamError(f'{name} at byte {at} has optional fields {bits:#x}, which are not read')
    return sum(size for bit, size in known.items() if bits & bit)


class Entry:
    """The part of a sweep of a colour, or of several alike: their rows, where the first lies and
    the data's resolutions."""

    def __init__(self, numbers, at, colours=1):
        left, right, left_again, right_again, self.v_data, v_print, self.h_data, h_print, first, last, align = numbers
        self.colours = colours
        if (left, right) != (left_again, right_again) or align:
            raise StreamError(f'print sweep at byte {at} gives a colour two pairs of edges or a vertical alignment, '
                              'which are not read')
        if not (0 < first <= last and all(value and DEVICE_UNITS % value == 0
                                         for value in (self.v_data, v_print, self.h_data, h_print))):
            raise StreamError(f'print sweep at byte {at} gives a colour nozzles {first} to {last} at '
                              f'{self.v_data}/{v_print} x {self.h_data}/{h_print} dpi, which cannot be drawn')
        rows, rest = divmod((last - first + 1) * self.v_data, v_print)
        if rest:
            raise StreamError(f'print sweep at byte {at}: {last - first + 1} nozzles at {v_print} dpi are no '
                              f'whole number of rows at {self.v_data} dpi')
        self.rows, self.left = rows, left
        self.down = (first - 1) * DEVICE_UNITS // v_print


class Sweep:
    """A print sweep, and its data as it comes."""

    def __init__(self, data, at, end, version_2):
        start = at + HEADER_SIZE
        if version_2:
            version, self.size, self.top, self.margin, form, self.direction, bits = \
                fields('print sweep', SWEEP_OPTIONS_2, data, at, start, end)
            if version != SWEEP_VERSION:
                raise StreamError(f'print sweep at byte {at} is of version {version}, which is not read')
        else:
            self.size, self.top, self.margin, form, self.direction, bits = \
                fields('print sweep', SWEEP_OPTIONS, data, at, start, end)
        start += struct.calcsize(SWEEP_OPTIONS_2 if version_2 else SWEEP_OPTIONS)
        start += optional_size('print sweep', bits, SWEEP_FIELDS, at)
        if form not in SWING_BYTES[version_2] or self.direction not in (LEFT_TO_RIGHT, RIGHT_TO_LEFT):
            raise StreamError(f'print sweep at byte {at} in swing format {form} and direction {self.direction}, '
                              'which are not read')
        self.at, self.swing = at, SWING_BYTES[version_2][form]
        layout = ENTRY_2 if version_2 else ENTRY
        if version_2:
            count, = fields('print sweep', '>B', data, at, start, end)
            start += 1
        else:
            colours, = fields('print sweep', '>H', data, at, start, end)
            count = bin(colours).count('1')
            start += 2
        size = struct.calcsize(layout)
        numbers = [fields('print sweep', layout, data, at, start + index * size, end) for index in range(count)]
        self.entries = [Entry(entry[1:], at, bin(entry[0]).count('1')) if version_2 else Entry(entry, at)
                        for entry in numbers]
        start += count * size
        # LIDIL 2 ends with its shingle array's length.
        if version_2 and fields('print sweep', '>B', data, at, start, end)[0]:
            raise StreamError(f'print sweep at byte {at} gives a shingle array, which is not read')
        if start + version_2 != end - 1:
            raise StreamError(f'print sweep at byte {at} is {end - at} bytes long, not as its colours say')
        self.rows = sum(entry.rows * entry.colours for entry in self.entries)
        if (self.rows == 0) != (self.size == 0) or self.rows and self.size % (self.rows * self.swing):
            raise StreamError(f'print sweep at byte {at} announces {self.size} bytes of data, no whole number of '
                              f'swings of its {self.rows} rows of {self.swing} bytes')
        self.data = bytearray()

    def colours(self):
        """Each colour's dots as ((left, top) in device units, (across, down) resolution, rows of
        bytes left to right)."""
        swings = numpy.frombuffer(bytes(self.data), numpy.uint8).reshape(-1, self.rows, self.swing)
        if self.direction == RIGHT_TO_LEFT:
            swings = swings[::-1]
        first = 0
        for entry in self.entries:
            for _ in range(entry.colours):
                rows = swings[:, first:first + entry.rows].transpose(1, 0, 2).reshape(entry.rows, -1)
                first += entry.rows
                yield (self.margin + entry.left, self.top + entry.down), (entry.h_data, entry.v_data), rows


def number(data, at):
    return int.from_bytes(data[at:at + 2], 'big')


def uncompressed(data, start, end, size, at):
    """The words LidilCompress packed from start to end, which must make size bytes."""
    out = bytearray()
    while start < end:
        if start + 2 > end:
            raise StreamError(f'load sweep data at byte {at} ends inside a compressed word')
        word = number(data, start)
        command, count = word >> 12, (word & 0xFFF) + 1
        start += 2
        if command == FILL_ZEROS:
            out += b'\0\0' * count
        elif command == FILL_ONES:
            out += b'\xff\xff' * count
        elif command in (FILL_NEXT, IMAGE):
            taken = 2 if command == FILL_NEXT else 2 * count
            if start + taken > end:
                raise StreamError(f'load sweep data at byte {at}: compressed words run past its data')
            out += data[start:start + 2] * count if command == FILL_NEXT else data[start:start + taken]
            start += taken
        else:
            raise StreamError(f'load sweep data at byte {at} holds compression command {command}, which is not read')
        if len(out) > size:
            break
    if len(out) != size:
        raise StreamError(f'load sweep data at byte {at} unpacks to {len(out)} bytes, not the {size} it gives')
    return out


class Page:
    """A page being read: its sheet in device units and its colours' dots."""

    def __init__(self, width, height, at):
        points = (width * 72 / DEVICE_UNITS, height * 72 / DEVICE_UNITS)
        if not all(0 < side <= MAX_POINTS for side in points):
            raise StreamError(f'load page at byte {at} gives a sheet of {width} x {height} device units, which '
                              'cannot be drawn')
        self.sheet, self.points = (width, height), points
        self.dots = []

    def decoded(self, at):
        across = max((dpi[0] for _, dpi, _ in self.dots), default=LEAST_DPI)
        down = max([LEAST_DPI] + [dpi[1] for _, dpi, _ in self.dots])
        size = [side * dpi // DEVICE_UNITS for side, dpi in zip(self.sheet, (across, down))]
        if size[0] * size[1] > MAX_PIXELS or not all(size):
            raise StreamError(f'the page ejected at byte {at} is {size[0]} x {size[1]} dots, which cannot be drawn')
        ink = numpy.zeros((size[1], size[0]), numpy.uint8)
        for (left, top), dpi, rows in self.dots:
            if across % dpi[0] or down % dpi[1]:
                raise StreamError(f'the page ejected at byte {at} has dots at {dpi[0]} x {dpi[1]} dpi, which do not '
                                  f'fall on its {across} x {down} dpi grid')
            lay(ink, numpy.unpackbits(rows, axis=1), left * across // DEVICE_UNITS, top * down // DEVICE_UNITS,
                across // dpi[0], down // dpi[1])
        image = Image.fromarray((1 - ink) * numpy.uint8(WHITE), 'L')
        return DecodedPage(image, (across, down), self.points)


def lay(ink, bits, x, y, across, down):
    """Adds the dots of bits to ink from (x, y), each across dots wide and down high, what falls
    off the sheet left out."""
    height, width = ink.shape
    rows, columns = bits.shape
    for dy in range(down):
        for dx in range(across):
            top, left = y + dy, x + dx
            first_row, last_row = max(0, (down - 1 - top) // down), min(rows, (height - top + down - 1) // down)
            first, last = max(0, (across - 1 - left) // across), min(columns, (width - left + across - 1) // across)
            if first_row < last_row and first < last:
                ink[top + first_row * down:top + last_row * down:down,
                    left + first * across:left + last * across:across] |= bits[first_row:last_row, first:last]


class Reader:
    """The printer's state as the stream sets it, packet by packet."""

    def __init__(self, data):
        self.data = data
        self.pages = []
        self.page = None
        self.sweep = None
        self.version_2 = None

    def read(self):
        at = 0
        while at < len(self.data):
            at = self.step(at)
        if self.sweep:
            raise StreamError(f'LIDIL stream ends inside the print sweep at byte {self.sweep.at}, before its data')
        if self.page:
            raise StreamError(f'LIDIL stream ends inside a page, before its eject page, at byte {len(self.data)}')
        return self.pages

    def step(self, at):
        """Reads the packet at at; returns where the next starts."""
        data = self.data
        if data[at] != FRAME:
            raise StreamError(f'unexpected byte {data[at]:#04x} in the LIDIL stream at byte {at}')
        if at + HEADER_SIZE > len(data):
            raise StreamError(f'LIDIL stream cut off inside a packet\'s header at byte {at}')
        length, kind, command, _, size = struct.unpack_from(HEADER, data, at)
        end = at + length
        if length < SMALLEST:
            raise StreamError(f'packet at byte {at} is {length} bytes long, below LIDIL\'s 16')
        if end + size > len(data):
            raise StreamError(f'LIDIL stream cut off inside the packet at byte {at}')
        if data[end - 1] != FRAME:
            raise StreamError(f'packet at byte {at} does not end with $ where its length says, at byte {end - 1}')
        if kind in OWN_TYPES:
            return end + size
        if kind != COMMAND:
            raise StreamError(f'packet at byte {at} is of type {kind}, which is not read')
        if command not in NAMES:
            raise StreamError(f'LIDIL command {command} at byte {at} is not read')
        if self.sweep and command != LOAD_SWEEP_DATA:
            raise StreamError(f'{NAMES[command]} at byte {at} comes before the data of the print sweep at byte '
                              f'{self.sweep.at}')
        HANDLERS[command](self, at, end, size)
        return end + size

    def job(self, at, end, _):
        operation = self.data[at + HEADER_SIZE]
        if operation not in (START_JOB, END_JOB) or end - at not in (JOB_SIZE, JOB_SIZE_2):
            raise StreamError(f'start or end job at byte {at} of {end - at} bytes with operation {operation} is not read')
        if self.page:
            raise StreamError(f'start or end job inside a page at byte {at}')
        if operation == START_JOB:
            self.version_2 = end - at == JOB_SIZE_2

    def load_page(self, at, end, _):
        if self.page:
            raise StreamError(f'load page inside a page at byte {at}')
        if self.version_2 is None:
            raise StreamError(f'load page before the job starts, at byte {at}')
        width, height, bits = fields('load page', LOAD_PAGE_OPTIONS, self.data, at, at + HEADER_SIZE, end)
        if end - at != HEADER_SIZE + struct.calcsize(LOAD_PAGE_OPTIONS) + \
                optional_size('load page', bits, PAGE_FIELDS, at) + 1:
            raise StreamError(f'load page at byte {at} is {end - at} bytes long, not as its optional fields say')
        self.page = Page(width, height, at)

    def eject_page(self, at, end, _):
        if self.page is None:
            raise StreamError(f'eject page with no page loaded at byte {at}')
        bits, = fields('eject page', EJECT_PAGE_OPTIONS, self.data, at, at + HEADER_SIZE, end)
        optional_size('eject page', bits, EJECT_FIELDS, at)
        self.pages.append(self.page.decoded(at))
        self.page = None

    def print_sweep(self, at, end, _):
        if self.page is None:
            raise StreamError(f'print sweep outside a page (no load page before it) at byte {at}')
        sweep = Sweep(self.data, at, end, self.version_2)
        if sweep.size:
            self.sweep = sweep

    def load_sweep_data(self, at, end, size):
        if self.sweep is None:
            raise StreamError(f'load sweep data with no print sweep waiting for it at byte {at}')
        if end - at != SMALLEST:
            raise StreamError(f'load sweep data at byte {at} is {end - at} bytes long, not 16')
        raw, = fields('load sweep data', SWEEP_DATA_OPTIONS, self.data, at, at + HEADER_SIZE, end)
        start = end
        sweep = self.sweep
        # hpcups sends its data as it is: the size it gives is the data's (Lidil.cpp:654-664).
        sweep.data += self.data[start:start + size] if raw == size else \
            uncompressed(self.data, start, start + size, raw, at)
        if len(sweep.data) > sweep.size:
            raise StreamError(f'load sweep data at byte {at} runs past the {sweep.size} bytes of the print sweep at '
                              f'byte {sweep.at}')
        if len(sweep.data) == sweep.size:
            self.page.dots.extend(sweep.colours())
            self.sweep = None

    def comments(self, at, end, size):
        """Comments: words for whoever reads the stream, no ink."""


HANDLERS = {JOB: Reader.job, LOAD_PAGE: Reader.load_page, EJECT_PAGE: Reader.eject_page,
            PRINT_SWEEP: Reader.print_sweep, LOAD_SWEEP_DATA: Reader.load_sweep_data, COMMENTS: Reader.comments}


def read(data):
    """Every page of the LIDIL job, each the whole sheet; StreamError for a stream that is bad, cut
    short, or in commands that could move ink in ways not read."""
    pages = Reader(data).read()
    if not pages:
        raise StreamError('no page in the LIDIL stream')
    return pages


def language(data):
    return LANGUAGE


def sniff(data):
    """Whether data is a LIDIL stream: its first bytes a packet closed by '$' where its length
    says, of a command or of a type of LIDIL's own."""
    if len(data) < SMALLEST or data[0] != FRAME:
        return False
    length, kind = struct.unpack_from('>xHH', data)
    return SMALLEST <= length <= len(data) and data[length - 1] == FRAME and (kind == COMMAND or kind in OWN_TYPES)


def paper(data):
    """(name, (width, height) in points) of the sheet the first load page gives, named where it is
    within a 300 dpi dot (the coarsest hpcups sizes it at) of a sheet the check knows ('Custom'
    where not); None where no page is loaded, or the stream cannot be read to it."""
    reader = Reader(data)
    at = 0
    try:
        while at < len(data) and reader.page is None:
            at = reader.step(at)
    except StreamError:
        return None
    if reader.page is None:
        return None
    points = reader.page.points
    named = next((name for name, size in SHEETS.items()
                  if all(abs(side - given) <= 72 / 300 for side, given in zip(size, points))), 'Custom')
    return named, points


def render(document, media, workdir, bits=False):
    return save_pages(read(document.data), workdir, LANGUAGE, DITHERED)
