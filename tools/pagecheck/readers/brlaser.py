"""Brother's laser raster as printer-driver-brlaser's rastertobrlaser writes it. A job is 128 NULs
and a PJL job (job.cc:42-48); wherever a page's settings differ from the page before, a UEL, PJL
lines that set the resolution, paper and the rest, ENTER LANGUAGE = PCL, a reset, copies (ESC&l#X)
and, for duplex, ESC&l2S (job.cc:56-83). A page is one raster in brlaser's own compression mode
1030: ESC*b1030m, its lines in blocks (#w, the block's size with its 2-byte line count, then its
lines), 1030M and a form feed (job.cc:105-119, block.h's flush); a UEL, PJL EOJ and a UEL end the
job (job.cc:50-54).

Each line is its count of edits, 255 for a line of no ink, each edit worked on the line before it
from where the last one ended: a repeat (top bit set) of a byte, its offset in bits 5-6 and its
count less 2 in bits 0-4, or a substitution of the bytes that follow, its offset in bits 3-6 and
its count less 1 in bits 0-2; an offset or count at its field's largest goes on in the bytes
after, each added until one is not 255 (line.cc:25-73 writes them; brlaser's own decoder,
brdecode.cc:57-136, reads them so, a block's line count big-endian, the line kept from block to
block). Bits are dots, the first byte's top bit the leftmost.

The resolution is PJL's: RESOLUTION = 300 or 600 dots an inch both ways, or RAS1200MODE = TRUE,
in which the driver sends 1200 x 1200 dpi (brlaser.drv:35-37, job.cc:58-64); the sheet is PJL's
PAPER (main.cc:89-120: a size the driver does not know goes as A4). Nothing in the stream places
the raster: the driver sends the raster of the printable area CUPS hands it as it is, each page
from its first line (main.cc:186-189), and the printer lays that at its own printable origin, which
the reader takes from the PPD and says so. Each page is handed back as the whole sheet in 8-bit
grey at the stream's resolution, what lies past the sheet's edges left out. Sources cited are
brlaser 6's."""
import re

from PIL import Image

from .base import MAX_PIXELS, DecodedPage, StreamError, from_ppd, no_title, save_pages, unchanged
from .pjl import UEL
from ..core.papers import sheet

LANGUAGE = 'Brother laser raster'
LANGUAGES = (LANGUAGE,)
PPD_KEYWORDS = ()
# The entry points it takes as readers.base has them.
device_code = unchanged
title = no_title

ESC, FORM_FEED = 0x1B, 0x0C
# What tells a brlaser job from PCL 5 and PCL 3: the PCL part of a job opens with a reset, copies
# and duplex and then the raster in compression mode 1030, which no PCL printer knows and no PCL
# driver writes; PCL 5 and PCL 3 streams never name it. The job header before it is optional, so
# that the PCL part a PJL job hands on alone is still told apart (and refused: it lacks the PJL
# that gives its resolution and sheet).
SNIFF = re.compile(rb'\0*(?:\x1b%-12345X(?:@PJL[^\n]*\n)*)*\x1bE(?:\x1b&l\d+[XS])*\x1b\*b1030m')
LEADING_NULS = re.compile(rb'\0*')
PJL_LINE = re.compile(rb'@PJL(?:[ \t]+([A-Z]+)(?:[ \t]+(.*?))?)?[ \t\r]*\n')
SETTING = re.compile(rb'([A-Z0-9]+)[ \t]*=[ \t]*(.*)')
# What a UEL may end a job with before the stream's end.
TRAILER = re.compile(rb'[\0\s]*\Z')
# PJL's paper names the driver writes (main.cc:89-102).
PAPERS = {b'A4': 'A4', b'A5': 'A5', b'A6': 'A6', b'B5': 'B5', b'B6': 'B6', b'C5': 'C5', b'MONARCH': 'Monarch',
          b'DL': 'DL', b'EXECUTIVE': 'Executive', b'LEGAL': 'Legal', b'LETTER': 'Letter'}
RESOLUTIONS = (300, 600)
HIGH_RESOLUTION = 1200
# PJL settings that choose how the toner lies, not where: toner saving, tray, media type, memory.
PASSED_OVER = {b'ECONOMODE', b'SOURCETRAY', b'MEDIATYPE', b'PAGEPROTECT'}
COMPRESSION = 1030
# A PCL parameter: its value and its letter, a lower-case one chaining the next.
PARAMETER = re.compile(rb'(\d{1,9})([@-~])')
BLANK_LINE = 255
# The longest line the driver sends (main.cc:177, cupsBytesPerLine).
MAX_LINE = 10000


def language(data):
    return LANGUAGE


def sniff(data):
    return SNIFF.match(data) is not None


class Job:
    """The printer's state as the stream sets it: the PJL settings of the pages to come, the PCL
    part's compression mode, the page being read (its rows, and the line the next edits work on),
    the pages read, and whether the job has ended."""

    def __init__(self, data, media):
        self.data = data
        self.media = media
        self.settings = {}
        self.pages = []
        self.rows = None
        self.line = bytearray()
        self.compression = None
        self.ended = False

    def read(self):
        data = self.data
        at = LEADING_NULS.match(data).end()
        while at < len(data):
            if data.startswith(UEL, at):
                at = self.pjl(at + len(UEL))
            elif self.ended:
                raise StreamError(f'Brother laser raster after the end of its job at byte {at}')
            else:
                at = self.pcl(at)
        if self.rows is not None:
            raise StreamError(f'Brother laser raster stream ends inside a page at byte {len(data)}')
        if not self.ended:
            raise StreamError(f'Brother laser raster stream cut off before its end of job (@PJL EOJ) '
                              f'at byte {len(data)}')
        return self.pages

    # PJL

    def pjl(self, at):
        """The PJL lines after a UEL: where the PCL they enter starts, or the stream's end."""
        data = self.data
        if self.rows is not None:
            raise StreamError(f'UEL inside a page at byte {at - len(UEL)}')
        if self.ended:
            if not TRAILER.match(data, at):
                raise StreamError(f'Brother laser raster after the end of its job at byte {at}')
            return len(data)
        while True:
            line = PJL_LINE.match(data, at)
            if not line:
                if at >= len(data) or data.startswith(UEL, at):
                    return at
                raise StreamError(f'Brother laser raster job has a PJL line that is not read at byte {at}')
            command, rest = line.group(1), (line.group(2) or b'').strip()
            if command == b'SET':
                self.setting(rest, at)
            elif command == b'ENTER':
                entered = SETTING.fullmatch(rest)
                if not entered or entered.groups() != (b'LANGUAGE', b'PCL'):
                    raise StreamError(f'PJL ENTER {rest.decode("latin-1")} at byte {at} is not read')
                self.compression = None
                return line.end()
            elif command == b'EOJ':
                self.ended = True
            elif command not in (None, b'JOB'):
                raise StreamError(f'PJL {command.decode()} at byte {at} is not read')
            at = line.end()

    def setting(self, text, at):
        found = SETTING.fullmatch(text)
        if not found:
            raise StreamError(f'malformed PJL SET at byte {at}')
        name, value = found.groups()
        if name == b'ORIENTATION' and value != b'PORTRAIT':
            raise StreamError(f'PJL orientation {value.decode("latin-1")} at byte {at} is not read')
        if name not in PASSED_OVER | {b'ORIENTATION', b'RESOLUTION', b'RAS1200MODE', b'PAPER'}:
            raise StreamError(f'PJL SET {name.decode()} at byte {at} is not read')
        self.settings[name] = (value, at)

    def resolution(self, at):
        """The page's dots an inch, as the PJL before it sets them."""
        high, _ = self.settings.get(b'RAS1200MODE', (b'FALSE', None))
        value, where = self.settings.get(b'RESOLUTION', (None, at))
        if high not in (b'TRUE', b'FALSE') or not value or not value.isdigit():
            raise StreamError(f'page at byte {at} has no resolution that is read from its PJL')
        if high == b'TRUE':
            if int(value) != 600:
                raise StreamError(f'PJL RAS1200MODE with a resolution of {int(value)} at byte {where} is not read')
            return HIGH_RESOLUTION
        if int(value) not in RESOLUTIONS:
            raise StreamError(f'PJL resolution {int(value)} at byte {where} is not read')
        return int(value)

    def paper(self, at):
        value, where = self.settings.get(b'PAPER', (None, at))
        if value not in PAPERS:
            raise StreamError(f'page at byte {at} has no paper that is read from its PJL (byte {where})')
        return sheet(PAPERS[value])

    # PCL

    def pcl(self, at):
        data = self.data
        if data[at] == FORM_FEED:
            self.end_page(at)
            return at + 1
        if data[at] != ESC:
            raise StreamError(f'unexpected byte {data[at]:#04x} in the Brother laser raster stream at byte {at}')
        if data.startswith(b'E', at + 1):
            if self.rows is not None:
                raise StreamError(f'printer reset inside a page at byte {at}')
            self.compression = None
            return at + 2
        start, group = at, data[at + 1:at + 3]
        if group not in (b'&l', b'*b'):
            raise StreamError(f'PCL command ESC {printable(group)} at byte {at} is not read')
        at += 3
        while True:
            parameter = PARAMETER.match(data, at)
            if not parameter:
                if at >= len(data) or not data[at:].strip(b'0123456789'):
                    raise StreamError(f'Brother laser raster stream cut off inside a PCL command at byte {at}')
                raise StreamError(f'malformed PCL command at byte {at}')
            value, letter = int(parameter.group(1)), parameter.group(2)
            at = self.parameter(group + letter.upper(), value, start, parameter)
            if not letter.islower():
                return at

    def parameter(self, name, value, at, parameter):
        """Acts on one parameter of the command at at; where what follows it starts."""
        end = parameter.end()
        if name == b'&lX':
            # Copies of each page: the check reads one.
            return end
        if name == b'&lS':
            if value:
                raise StreamError(f'duplex printing (ESC&l{value}S at byte {at}) is not read')
            return end
        if name == b'*bM':
            if value != COMPRESSION:
                raise StreamError(f'raster compression mode {value} at byte {at} is not read')
            self.compression = value
            return end
        if name == b'*bW':
            if self.compression != COMPRESSION:
                raise StreamError(f'raster data outside compression mode {COMPRESSION} at byte {at}')
            return self.block(end, value, parameter.start())
        raise StreamError(f'PCL command ESC{name[:2].decode()}#{name[2:].decode()} at byte {at} is not read')

    # Raster

    def start_page(self, at):
        self.dpi, self.sheet = self.resolution(at), self.paper(at)
        self.width, self.height = (round(side * self.dpi / 72) for side in self.sheet[1])
        if self.width * self.height > MAX_PIXELS:
            raise StreamError(f'page at byte {at} on a sheet of {self.width}x{self.height} pixels')
        self.rows = []
        self.line = bytearray()

    def block(self, start, size, at):
        """A block of size bytes from start: its line count, then its lines."""
        data, end = self.data, start + size
        if end > len(data):
            raise StreamError(f'Brother laser raster stream cut off inside the {size} bytes of a block at byte {at}')
        if size < 2:
            raise StreamError(f'raster block of {size} bytes at byte {at} has no line count')
        if self.rows is None:
            self.start_page(at)
        count, start = int.from_bytes(data[start:start + 2], 'big'), start + 2
        for _ in range(count):
            start = self.read_line(start, end, at)
        if start != end:
            raise StreamError(f'raster block at byte {at} holds {end - start} bytes after its {count} lines')
        return end

    def read_line(self, at, end, block):
        """One line of a block ending at end; where the next starts."""
        data, line = self.data, self.line
        edits, at = self.byte(at, end, block), at + 1
        if edits == BLANK_LINE:
            line[:] = bytes(len(line))
        else:
            place = 0
            for _ in range(edits):
                command, at = self.byte(at, end, block), at + 1
                repeat = command >= 0x80
                if repeat:
                    offset, count = (command >> 5) & 3, command & 31
                else:
                    offset, count = (command >> 3) & 15, command & 7
                if offset == (3 if repeat else 15):
                    offset, at = self.overflow(offset, at, end, block)
                if count == (31 if repeat else 7):
                    count, at = self.overflow(count, at, end, block)
                count += 2 if repeat else 1
                place += offset
                if place + count > MAX_LINE:
                    raise StreamError(f'raster line in the block at byte {block} runs past the {MAX_LINE} bytes '
                                      f'a line holds')
                if place + count > len(line):
                    line.extend(bytes(place + count - len(line)))
                size = 1 if repeat else count
                if at + size > end:
                    raise StreamError(f'raster line runs past the end of its block at byte {block}')
                line[place:place + count] = data[at:at + 1] * count if repeat else data[at:at + count]
                at += size
                place += count
        if len(self.rows) < self.height:
            self.rows.append(bytes(line))
        return at

    def byte(self, at, end, block):
        if at >= end:
            raise StreamError(f'raster line runs past the end of its block at byte {block}')
        return self.data[at]

    def overflow(self, value, at, end, block):
        """An offset or count at its field's largest, with the bytes after it added: until one is
        not 255."""
        while True:
            more = self.byte(at, end, block)
            value, at = value + more, at + 1
            if more != 255:
                return value, at

    def end_page(self, at):
        if self.rows is None:
            raise StreamError(f'form feed with no raster before it at byte {at}')
        origin = self.media.origin_points
        if origin is None:
            raise StreamError('the printer\'s printable origin is not known: the printer\'s PPD gives it')
        width = max(len(row) for row in self.rows) if self.rows else 0
        image = Image.new('L', (self.width, self.height), 255)
        if width:
            raster = b''.join(row.ljust(width, b'\0') for row in self.rows)
            image.paste(Image.frombytes('1', (width * 8, len(self.rows)), raster, 'raw', '1;I').convert('L'),
                        tuple(round(side * self.dpi / 72) for side in origin))
        self.pages.append(DecodedPage(image, (self.dpi, self.dpi), self.sheet[1], from_ppd(origin)))
        self.rows = None


def printable(data):
    return ' '.join(chr(byte) if 0x21 <= byte < 0x7f else f'{byte:#04x}' for byte in data)


def read(data, media):
    """Every page of the job, each the whole sheet; StreamError for a stream that is bad, cut short,
    or in commands that could move ink in ways not read."""
    return Job(data, media).read()


def paper(data):
    """The sheet the PJL before the first page names, or None."""
    job = Job(data, None)
    at = LEADING_NULS.match(data).end()
    try:
        while data.startswith(UEL, at):
            at = job.pjl(at + len(UEL))
        return job.paper(at)
    except StreamError:
        return None


def render(document, media, workdir, bits=False):
    return save_pages(read(document.data, media), workdir, LANGUAGE)
