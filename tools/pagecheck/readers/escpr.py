"""ESC/P-R, the inkjet language of the epson-escpr filter. A job opens as an ESC/P 2 job does: out
of packet mode, a reset and a remote-mode block (paper path, time, job name); then ESC ( R ESCPR
switches the printer to ESC/P-R, whose commands are ESC, a class letter, the parameters' length in
4 bytes little-endian, a 4-letter name and the parameters, their numbers big-endian. setq sets the
media type, quality and colour plane; setj the sheet's width and height, the print area's top and
left margins on it (negative where borderless) and its width and height, all in dots of the input
resolution it names. sttp starts a page and endp ends it; each dsnd between is one raster line of
RGB pixels, 3 bytes each, at its column and row of the print area, as it is or run-length coded by
pixel. endj ends the job, and a reset and a remote-mode block follow.

The stream places the page itself, each line at the print area's margins on the sheet plus its own
offsets: nothing is taken from the PPD. Each page is handed back as the whole sheet in 8-bit grey
at the input resolution, each pixel as grey as a CUPS raster's (the printer dithers what it is
sent), what a borderless print area puts past the sheet's edges left out. Sources cited are
printer-driver-escpr 1.7.17's."""
from PIL import Image

from .base import DecodedPage, MAX_PIXELS, MAX_POINTS, StreamError, no_title, save_pages, unchanged
from .remote import packet_exit, remote_commands
from ..core.papers import SHEETS

LANGUAGE = 'ESC/P-R'
LANGUAGES = (LANGUAGE,)
PPD_KEYWORDS = ()
# The entry points it takes as readers.base has them.
device_code = unchanged
title = no_title

ESC = 0x1b
# ESC ( R's modes (lib/epson-escpr-api.c:163-174): remote mode, ESC/P-R raster and ESC/P-R JPEG.
REMOTE_MODE, RASTER_MODE, JPEG_MODE = b'\0REMOTE1', b'\0ESCPR', b'\0ESCPRJ'
MODE_SWITCH = b'\x1b(R'
# The remote commands the driver sends around a job (lib/epson-escpr-api.c:175-206): time, job
# start, job name, host, paper path, job end, and LD after a duplex job. The maintenance ones
# (nozzle check, cleaning: :211-218) print or move ink.
REMOTE_SETTINGS = frozenset((b'TI', b'JS', b'JH', b'HD', b'PP', b'LD', b'JE'))
# PP's paper path for the CD/DVD tray (lib/epson-escpr-api.c:4281-4282): no sheet.
PAPER_PATH, CD_TRAY = b'PP', b'\x02\x01'
HEADER = 10
# setq's fields (MakeQualityCmd, lib/epson-escpr-api.c:4443-4468): media type first, the colour
# plane seventh, then the palette's length; its size without the palette.
QUALITY_SIZE, MEDIA_TYPE, COLOUR_PLANE, PALETTE = 9, 0, 6, 7
FULL_COLOUR = 0
BYTES_PER_PIXEL = 3
# The CD/DVD label media types (lib/epson-escpr-media.h:383-385): printed on a disc, not a sheet.
CD_MEDIA = range(0x5b, 0x5e)
# setj's size (MakeJobCmd, lib/epson-escpr-api.c:4541-4574): sheet width and height (4 bytes
# each), top and left margins (2 each, negative for borderless: lib/epson-escpr-media.h:140),
# print area width and height (4 each), the input resolution's code and the print direction.
JOB_SIZE = 22
RESOLUTIONS = {0: 360, 1: 720, 2: 300, 3: 600}
# dsnd (SendLine, lib/epson-escpr-api.c:5159-5184): column and row (2 bytes each), compression,
# the data's length (2 bytes), then the data.
LINE_HEAD = 7
PLAIN, RUN_LENGTH = 0, 1
# A run's count (RunLengthEncode, lib/epson-escpr-api.c:5325 and :5364): below this, that many
# pixels plus one as they are; from it, the next pixel 257 less the count times.
REPEAT = 128
WHITE = 255


class Job:
    """The sheet and print area setj sets, in dots, and the resolution."""

    def __init__(self, payload, at):
        numbers = [int.from_bytes(payload[start:end], 'big', signed=signed)
                   for start, end, signed in ((0, 4, False), (4, 8, False), (8, 10, True), (10, 12, True),
                                              (12, 16, False), (16, 20, False))]
        self.sheet, (self.top, self.left), self.area = numbers[:2], numbers[2:4], numbers[4:6]
        if payload[20] not in RESOLUTIONS:
            raise StreamError(f'ESC j setj at byte {at} names input resolution {payload[20]}, which is not read')
        self.dpi = RESOLUTIONS[payload[20]]
        points = [dots * 72 / self.dpi for dots in self.sheet]
        if not (all(0 < size <= MAX_POINTS for size in points) and all(self.area)
                and self.sheet[0] * self.sheet[1] <= MAX_PIXELS):
            raise StreamError(f'ESC j setj at byte {at} gives a sheet of {self.sheet[0]} x {self.sheet[1]} dots and '
                              f'a print area of {self.area[0]} x {self.area[1]}, which cannot be drawn')
        self.points = tuple(points)


class Page:
    """A page being read: its sheet in grey, a byte a dot, and the rows already inked."""

    def __init__(self, job):
        self.job = job
        self.width, self.height = job.sheet
        self.grey = bytearray([WHITE]) * (self.width * self.height)
        self.rows = set()
        self.last_row = 0

    def add(self, column, row, pixels, at):
        """One raster line's RGB pixels, at its column and row of the print area."""
        job, count = self.job, len(pixels) // BYTES_PER_PIXEL
        if column + count > job.area[0] or row >= job.area[1]:
            raise StreamError(f'raster line at byte {at} runs outside the {job.area[0]} x {job.area[1]} dot print '
                              'area ESC j setj gives')
        # The paper feeds one way: the driver sends its lines top down (PrintBand,
        # lib/epson-escpr-api.c:3317-3361), and a line above one printed has no place the stream gives.
        if row < self.last_row:
            raise StreamError(f'raster line at byte {at} goes back up to row {row}, above row {self.last_row}')
        self.last_row = row
        x, y = job.left + column, job.top + row
        first, last = max(0, -x), min(count, self.width - x)
        if not 0 <= y < self.height or first >= last:
            return
        grey = Image.frombytes('RGB', (count, 1), pixels).convert('L').tobytes()[first:last]
        start = y * self.width + x + first
        if y in self.rows:
            grey = bytes(map(min, grey, self.grey[start:start + len(grey)]))
        self.rows.add(y)
        self.grey[start:start + len(grey)] = grey

    def decoded(self):
        image = Image.frombuffer('L', (self.width, self.height), self.grey, 'raw', 'L', 0, 1)
        return DecodedPage(image, (self.job.dpi, self.job.dpi), self.job.points)


def unpack_runs(data, at, end, line):
    """The pixels of a run-length coded line's data from at to end."""
    out = bytearray()
    while at < end:
        count = data[at]
        size = BYTES_PER_PIXEL if count >= REPEAT else (count + 1) * BYTES_PER_PIXEL
        if at + 1 + size > end:
            raise StreamError(f'a run runs past the end of the raster line at byte {line}')
        out += data[at + 1:at + 1 + size] * (257 - count if count >= REPEAT else 1)
        at += 1 + size
    return bytes(out)


class Reader:
    """The printer's state as the stream sets it, command by command."""

    def __init__(self, data):
        self.data = data
        self.pages = []
        self.page = None
        self.job = None
        self.raster = False
        self.quality_set = False

    def read(self):
        data, at = self.data, 0
        # The packet-mode exit opens with NULs (ExitPacketMode, lib/epson-escpr-api.c:158).
        while at < len(data) and data[at] == 0:
            at += 1
        while at < len(data):
            at = self.step(at)
        if self.page:
            raise StreamError(f'ESC/P-R stream ends inside a page, before its ESC p endp, at byte {len(data)}')
        return self.pages

    def step(self, at):
        """Reads the command at at; returns where the next starts."""
        data = self.data
        if data[at] != ESC:
            raise StreamError(f'unexpected byte {data[at]:#04x} in the ESC/P-R stream at byte {at}')
        command = self.take(at, 2, 'a command')[1:]
        if command == b'@':
            if self.page:
                raise StreamError(f'printer reset inside a page at byte {at}')
            self.raster = False
            return at + 2
        if command == b'(':
            return self.mode(at)
        if command == b'\x01' and not self.raster:
            return packet_exit(data, at)
        if not self.raster:
            raise StreamError(f'unknown command ESC {printable(command[0])} at byte {at}')
        return self.escpr(at)

    def take(self, at, count, what):
        if at + count > len(self.data):
            raise StreamError(f'ESC/P-R stream cut off inside {what} at byte {at}')
        return self.data[at:at + count]

    def mode(self, at):
        """ESC ( R: a remote-mode block, or the switch to ESC/P-R."""
        head = self.take(at, 5, 'a command')
        if head[:3] != MODE_SWITCH:
            raise StreamError(f'unknown command ESC ( {printable(head[2])} at byte {at}')
        end = at + 5 + int.from_bytes(head[3:5], 'little')
        payload = self.take(at, end - at, 'ESC ( R')[5:]
        if payload == REMOTE_MODE:
            commands, end = remote_commands(self.data, end, LANGUAGE)
            for name, where, parameters in commands:
                if name not in REMOTE_SETTINGS:
                    raise StreamError(f'remote command {name.decode()} at byte {where} is not read')
                if name == PAPER_PATH and parameters[1:3] == CD_TRAY:
                    raise StreamError(f'the CD/DVD tray (remote command PP at byte {where}): no sheet')
        elif payload == RASTER_MODE:
            self.raster = True
        elif payload == JPEG_MODE:
            raise StreamError(f'ESC/P-R JPEG pages (ESC ( R ESCPRJ at byte {at}) are not read')
        else:
            raise StreamError(f'ESC ( R at byte {at} switches to a mode that is not read')
        return end

    def escpr(self, at):
        """An ESC/P-R command: ESC, class, length, name, parameters."""
        head = self.take(at, HEADER, 'a command')
        name = (head[1:2], head[6:10])
        end = at + HEADER + int.from_bytes(head[2:6], 'little')
        payload = self.take(at, end - at, f'ESC {command_name(name)}')[HEADER:]
        handler = COMMANDS.get(name)
        if handler is None:
            raise StreamError(f'unknown command ESC {command_name(name)} at byte {at}')
        sizes, method = handler
        if sizes is not None and len(payload) not in sizes:
            raise StreamError(f'ESC {command_name(name)} with {len(payload)} bytes of parameters at byte {at}')
        method(self, payload, at)
        return end

    def quality(self, payload, at):
        if len(payload) < QUALITY_SIZE or len(payload) != QUALITY_SIZE + int.from_bytes(payload[PALETTE:PALETTE + 2], 'big'):
            raise StreamError(f'ESC q setq at byte {at} is {len(payload)} bytes long, not as its palette says')
        if payload[MEDIA_TYPE] in CD_MEDIA:
            raise StreamError(f'ESC q setq at byte {at} prints a CD/DVD label (media type {payload[MEDIA_TYPE]:#04x}): '
                              'no sheet')
        if payload[COLOUR_PLANE] != FULL_COLOUR:
            raise StreamError(f'ESC q setq at byte {at} sets colour plane {payload[COLOUR_PLANE]}: only full colour '
                              'is read')
        self.quality_set = True

    def job_setup(self, payload, at):
        if self.page:
            raise StreamError(f'ESC j setj inside a page at byte {at}')
        self.job = Job(payload, at)

    def start_page(self, payload, at):
        if self.page:
            raise StreamError(f'ESC p sttp inside a page at byte {at}')
        if self.job is None:
            raise StreamError(f'page started before the job set its sheet (ESC j setj) at byte {at}')
        if not self.quality_set:
            raise StreamError(f'page started before its colour plane is set (ESC q setq) at byte {at}')
        self.page = Page(self.job)

    def line(self, payload, at):
        if self.page is None:
            raise StreamError(f'raster line outside a page (no ESC p sttp before it) at byte {at}')
        column, row = int.from_bytes(payload[0:2], 'big'), int.from_bytes(payload[2:4], 'big')
        compression, size = payload[4], int.from_bytes(payload[5:7], 'big')
        if LINE_HEAD + size != len(payload):
            raise StreamError(f'raster line at byte {at} says it holds {size} bytes of data and holds '
                              f'{len(payload) - LINE_HEAD}')
        start = at + HEADER + LINE_HEAD
        if compression == RUN_LENGTH:
            pixels = unpack_runs(self.data, start, start + size, at)
        elif compression == PLAIN and size % BYTES_PER_PIXEL == 0:
            pixels = payload[LINE_HEAD:]
        else:
            raise StreamError(f'raster line at byte {at} in compression mode {compression} of {size} bytes is not read')
        self.page.add(column, row, pixels, at)

    def end_page(self, payload, at):
        if self.page is None:
            raise StreamError(f'ESC p endp with no page started at byte {at}')
        self.pages.append(self.page.decoded())
        self.page = None

    def end_job(self, payload, at):
        if self.page:
            raise StreamError(f'ESC j endj inside a page at byte {at}')

    def ignored(self, payload, at):
        """setn: the page's number (lib/epson-escpr-api.c:239 and :1201): it moves no ink."""


# Each command by (class, name): the lengths its parameters may have (None: any, checked by its
# reader) and its reader.
COMMANDS = {
    (b'q', b'setq'): (None, Reader.quality), (b'j', b'setj'): ((JOB_SIZE,), Reader.job_setup),
    (b'p', b'sttp'): ((0,), Reader.start_page), (b'p', b'setn'): ((1,), Reader.ignored),
    (b'd', b'dsnd'): (range(LINE_HEAD, LINE_HEAD + (1 << 16)), Reader.line), (b'p', b'endp'): ((1,), Reader.end_page),
    (b'j', b'endj'): ((0,), Reader.end_job),
}


def printable(byte):
    return chr(byte) if 0x21 <= byte < 0x7f else f'{byte:#04x}'


def command_name(name):
    letter, word = name
    return f'{printable(letter[0])} {word.decode("latin-1") if word.isalpha() else word.hex()}'


def read(data):
    """Every page of the ESC/P-R job, each the whole sheet; StreamError for a stream that is bad,
    cut short, or in commands that could move ink in ways not read."""
    pages = Reader(data).read()
    if not pages:
        raise StreamError('no page in the ESC/P-R stream')
    return pages


def language(data):
    return LANGUAGE


def sniff(data):
    """Whether data is an ESC/P-R job: the switch to ESC/P-R, raster or JPEG, among its first
    commands, after the opening it shares with ESC/P 2 jobs."""
    start = data[:4096].lstrip(b'\0')
    return start.startswith((b'\x1b\x01@EJL', b'\x1b@')) and \
        any(MODE_SWITCH + len(mode).to_bytes(2, 'little') + mode in start for mode in (RASTER_MODE, JPEG_MODE))


def paper(data):
    """(name, (width, height) in points) of the sheet the job's setj gives, named where it is
    within a dot of a sheet the check knows ('Custom' where not); None where no setj comes before
    the first page, or the stream cannot be read to it."""
    reader = Reader(data)
    at = len(data) - len(data.lstrip(b'\0'))
    try:
        while at < len(data) and reader.job is None and not reader.page:
            at = reader.step(at)
    except StreamError:
        return None
    job = reader.job
    if job is None:
        return None
    named = next((name for name, size in SHEETS.items()
                  if all(abs(side - given) <= 72 / job.dpi for side, given in zip(size, job.points))), 'Custom')
    return named, job.points


def render(document, media, workdir, bits=False):
    return save_pages(read(document.data), workdir, LANGUAGE)
