"""PCL 5 and PCL XL, the languages of laser printers, read through GhostPCL's gpcl6, which lays
each page on its sheet as the printer would.

PCL 5 is escape sequences (ESC, a class and group character, numbers each ended by a letter, a
capital letter ending the sequence) among text bytes; some sequences carry as many bytes of data
as their number says (raster rows, downloaded fonts). Here it comes as raster graphics (ESC*b#W),
HP-GL/2 or text. PCL XL is a binary stream after a header line ') HP-PCL XL;...': operators, each
after its attributes (a value, then the attribute's number), and blocks of data; each page lies
between BeginPage, whose MediaSize names its sheet, and EndPage, all pages inside BeginSession,
whose UnitsPerMeasure is the stream's resolution, and EndSession. Either may come after a job
header (UEL and PJL lines), whose lines gpcl6 reads itself.

gpcl6 refuses little and reports less, so each stream is first walked here: a sequence or tag
that is malformed or cut off, a page size gpcl6 does not know (it would print on Letter instead),
or a stream without its ending (ESC E; EndSession) is refused before gpcl6 runs. PCL 3 GUI
(ESC*g#W, configure raster data) is not read: gpcl6 prints it as garbage text. A dispatcher tries
the PCL 3 GUI reader first; sniff answers False for its streams. Only the binary little-endian
PCL XL (') HP-PCL XL', what every driver writes) is read.

Each page is rendered at the printer's resolution (the media's, else the stream's own) by gpcl6,
one 8-bit grey file per page, and handed back padded with paper at the right and bottom to the
whole sheet where gpcl6's sheet is a fraction of a millimetre short (its A4 is 841.68 points)."""
import re
import struct

from PIL import Image

from . import ghostpcl, pcl_paper
from .base import MAX_POINTS, DecodedPage, StreamError, no_title, save_pages, unchanged
from ..core import papers
from ..core.units import MM_PER_INCH, POINTS_PER_INCH, POINTS_PER_MM

PCL5 = 'PCL 5'
PCLXL = 'PCL XL'
LANGUAGES = (PCL5, PCLXL)
PPD_KEYWORDS = ()
# The entry points it takes as readers.base has them.
device_code = unchanged
title = no_title

# What sniff looks at: a stream's job header and first commands.
SNIFF_BYTES = 16384
ESC = 0x1B
# Before the language: a reset, UELs, PJL lines (ENTER LANGUAGE among them) and line ends.
JOB_HEADER = re.compile(rb'(?:\x1bE|\x1b%-12345X|@PJL[^\n]*\n|[\r\n]+)*')
ENTER = re.compile(rb'@PJL\s+ENTER\s+LANGUAGE\s*=\s*([A-Za-z0-9]+)', re.IGNORECASE)
# After the language's ending: UELs, PJL lines and blanks only.
JOB_TRAILER = re.compile(rb'(?:\x1b%-12345X|@PJL[^\n]*(?:\n|$)|[\s\0]+)*\Z')

# PCL 5: a two-character sequence, or the start of a parameterized one (class, group).
PCL5_START = re.compile(rb'\x1b(?:E|[!-/][`-~]?[-+0-9.]*[@-~])')
SEQUENCE = re.compile(rb'\x1b(?:([!-/])([`-~]?)|([0-~]))')
PARAMETER = re.compile(rb'((?:[-+]?(?:[0-9]+\.?[0-9]*|\.[0-9]+))?)([@-~])')
PARTIAL_PARAMETER = re.compile(rb'[-+]?[0-9]*\.?[0-9]*')
# The commands whose number counts data bytes that follow, as gpcl6 defines them: (class, group,
# command letter).
DATA_COMMANDS = {
    b'*bW', b'*bV', b'(sW', b')sW', b'(fW', b'*cW', b'*vW', b'*iW', b'*lW', b'*mW', b'*oW',
    b'&pX', b'&nW', b'&aW', b'&bW', b'*gW',
}
PAGE_SIZE = b'&lA'
CONFIGURE_RASTER = b'*gW'
RASTER_RESOLUTION = b'*tR'
UNITS_OF_MEASURE = b'&uD'
UEL_COMMAND, UEL_VALUE = b'%X', -12345
# What PJL's ENTER LANGUAGE calls PCL 5.
PCL5_NAMES = (b'PCL', b'PCL5', b'PCL5E', b'PCL5C')
# PCL 5 page sizes gpcl6 knows, with the PJL names it gives them; any other it replaces by Letter.
GHOSTPCL_PAGE_SIZES = {1: 'executive', 2: 'letter', 3: 'legal', 6: 'ledger', 26: 'a4', 27: 'a3',
                       80: 'monarch', 81: 'com_10', 90: 'dl', 91: 'c5', 100: 'b5'}

# PCL XL.
XL_HEADER = re.compile(rb'\) HP-PCL XL;[^\n]*\n')
XL_LITTLE_ENDIAN, XL_BIG_ENDIAN = b') HP-PCL XL', b'( HP-PCL XL'
XL_WHITESPACE = frozenset(b'\0\t\n\v\f\r ')
# The operators gpcl6 defines.
XL_OPERATORS = frozenset(
    [0x41, 0x42, 0x43, 0x44, 0x46, 0x47, 0x48, 0x49] + list(range(0x4F, 0x59)) + list(range(0x5B, 0x87)) +
    [0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9B, 0x9D, 0x9E, 0x9F, 0xA0, 0xA1, 0xA2, 0xA3,
     0xA8, 0xA9, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB8, 0xB9, 0xBF])
BEGIN_SESSION, END_SESSION, BEGIN_PAGE, END_PAGE = 0x41, 0x42, 0x43, 0x44
# Scalar value tags: (element size, struct code). Each one's array (its count after the tag), xy
# pair and box tags lie 8, 16 and 32 above it.
XL_SCALARS = {0xC0: (1, 'B'), 0xC1: (2, 'H'), 0xC2: (4, 'I'), 0xC3: (2, 'h'), 0xC4: (4, 'i'), 0xC5: (4, 'f')}
XL_VALUES = {tag + step: (size, code, count) for tag, (size, code) in XL_SCALARS.items()
             for step, count in ((0, 1), (8, None), (16, 2), (32, 4))}
ATTRIBUTE_BYTE, ATTRIBUTE_WORD, DATA_LONG, DATA_BYTE = 0xF8, 0xF9, 0xFA, 0xFB
MEDIA_SIZE, CUSTOM_MEDIA_SIZE, CUSTOM_MEDIA_UNITS = 37, 47, 48
MEASURE, UNITS_PER_MEASURE = 134, 137
# Points per unit of the Measure enumeration: inch, millimetre, tenth of a millimetre.
MEASURES = {0: 72.0, 1: POINTS_PER_MM, 2: POINTS_PER_INCH / 254}
# MediaSize's enumeration, the names gpcl6 also takes in its place, and the sheets.
XL_MEDIA = [(name, *papers.sheet(paper, turned)) for name, paper, turned in (
    ('letter', 'Letter', False), ('legal', 'Legal', False), ('a4', 'A4', False), ('executive', 'Executive', False),
    ('ledger', 'Tabloid', False), ('a3', 'A3', False), ('com10', 'Env10', False), ('monarch', 'Monarch', False),
    ('c5', 'C5', False), ('dl', 'DL', False), ('jisb4', 'B4', False), ('jisb5', 'B5', False), ('b5', 'ISOB5', False),
    ('b5paper', 'B5', False), ('jpost', 'Postcard', False), ('jpostd', 'DoublePostcard', True), ('a5', 'A5', False),
    ('a6', 'A6', False), ('jisb6', 'B6', False))]
XL_MEDIA_NAMES = dict((name, index) for index, (name, _, _) in enumerate(XL_MEDIA))
XL_MEDIA_NAMES['jis b4'], XL_MEDIA_NAMES['jis b5'] = 10, 11

# The finest resolution and the largest sheet gpcl6 is asked for: 9600 dpi, 10 metres.
MAX_DPI = 9600
# A rendered sheet may fall short of the sheet it stands for by up to a quarter millimetre.
SHORT_MM = 0.25


def language_start(data):
    """Where the language begins after a job header, and the language PJL enters, if any."""
    header = JOB_HEADER.match(data)
    entered = None
    for line in ENTER.finditer(header.group()):
        entered = line.group(1).upper()
    return header.end(), entered


def language(data):
    """PCL5, PCLXL or None, by the first bytes after any job header."""
    at, _ = language_start(data)
    head = data[at:at + SNIFF_BYTES]
    if head.startswith((XL_LITTLE_ENDIAN, XL_BIG_ENDIAN)):
        return PCLXL
    # A reset is PCL 5 whatever follows it: text, or commands.
    if PCL5_START.match(head) or data.startswith(b'\x1bE'):
        return PCL5
    return None


def sniff(data):
    """Whether data is PCL 5 or PCL XL that this reader reads; False for PCL 3 GUI, whose raster
    configuration (ESC*g#W) comes among the first commands, for its own reader."""
    kind = language(data)
    if kind != PCL5:
        return kind == PCLXL
    try:
        for at, command, _ in pcl5_commands(data, SNIFF_BYTES):
            if command == CONFIGURE_RASTER:
                return False
    except StreamError:
        pass
    return True


# PCL 5.

def pcl5_commands(data, stop=None):
    """Each escape sequence's commands as (offset, class + group + letter in capitals, value),
    the two-character ones as (offset, letter, None), data bytes stepped over; from stop on (when
    given) no more are read. StreamError for a sequence malformed or cut off."""
    end = len(data)
    at = data.find(b'\x1b')
    while at >= 0 and (stop is None or at < stop):
        start = at
        sequence = SEQUENCE.match(data, at)
        if not sequence:
            if at + 1 >= end:
                raise StreamError(f'PCL 5 stream cut off inside an escape sequence at byte {at}')
            raise StreamError(f'PCL 5 stream has a malformed escape sequence at byte {at}')
        at = sequence.end()
        if sequence.group(3):
            yield start, sequence.group(3), None
        else:
            prefix = sequence.group(1) + sequence.group(2)
            while True:
                parameter = PARAMETER.match(data, at)
                if not parameter:
                    if PARTIAL_PARAMETER.fullmatch(data, at):
                        raise StreamError(f'PCL 5 stream cut off inside an escape sequence at byte {start}')
                    raise StreamError(f'PCL 5 stream has a malformed escape sequence at byte {start}')
                text, letter = parameter.groups()
                at = parameter.end()
                command = prefix + letter.upper()
                value = float(text) if b'.' in text else int(text or 0)
                if command in DATA_COMMANDS:
                    name = 'ESC' + data[start + 1:at].decode('latin-1')
                    if value < 0:
                        raise StreamError(f'PCL 5 stream has {name} at byte {start}: a negative data length')
                    if at + value > end:
                        raise StreamError(f'PCL 5 stream cut off inside the {value} data bytes of {name} '
                                          f'at byte {start}')
                    at += int(value)
                yield start, command, value
                if not 0x60 <= letter[0] <= 0x7E:
                    break
        at = data.find(b'\x1b', at)


def pcl5_facts(data):
    """The stream's page size codes as (offset, code), and its resolution (x, y) or None;
    StreamError for what gpcl6 would not read right, or a stream without its closing reset."""
    sizes, resolution, units, reset_end = [], None, None, None
    for at, command, value in pcl5_commands(data):
        if command == CONFIGURE_RASTER:
            raise StreamError(f'PCL 5 stream configures its raster data (ESC*g#W, PCL 3 GUI) at byte {at}: '
                              f'not read')
        if command == PAGE_SIZE:
            if value not in GHOSTPCL_PAGE_SIZES or not pcl_paper.page_size(value):
                raise StreamError(f'PCL 5 page size {value} at byte {at} is not read: gpcl6 would print it on Letter')
            sizes.append((at, value))
        elif command == RASTER_RESOLUTION and resolution is None:
            resolution = value
        elif command == UNITS_OF_MEASURE and units is None:
            units = value
        elif command == b'E':
            reset_end = at + 2
        elif command == UEL_COMMAND and value == UEL_VALUE:
            _, entered = language_start(JOB_HEADER.match(data, at).group())
            if entered and entered not in PCL5_NAMES:
                raise StreamError(f'PCL 5 job turns to {entered.decode()} at byte {at}: not read')
    if reset_end is None or not JOB_TRAILER.match(data, reset_end):
        raise StreamError(f'PCL 5 stream ends at byte {len(data)} without its closing reset (ESC E): cut short?')
    dots = resolution or units
    if dots is not None and not 0 < dots <= MAX_DPI:
        raise StreamError(f'PCL 5 stream names a resolution of {dots} dpi')
    return sizes, ((round(dots), round(dots)) if dots else None)


# PCL XL.

def xl_value(data, at):
    """The value whose tag is at at: (value, tag, where it ends). Arrays as tuples; a ubyte
    array also as bytes, a name."""
    tag = data[at]
    size, code, count = XL_VALUES[tag]
    at += 1
    if count is None:
        if at >= len(data) or data[at] not in (0xC0, 0xC1):
            raise StreamError(f'PCL XL array at byte {at - 1} has no length')
        length_size = 1 if data[at] == 0xC0 else 2
        if at + 1 + length_size > len(data):
            raise StreamError(f'PCL XL stream cut off inside the array at byte {at - 1}')
        count = data[at + 1] if length_size == 1 else struct.unpack_from('<H', data, at + 1)[0]
        at += 1 + length_size
    if at + size * count > len(data):
        raise StreamError(f'PCL XL stream cut off inside the value at byte {at - 1}')
    if code == 'B' and XL_VALUES[tag][2] is None:
        value = bytes(data[at:at + count])
    else:
        value = struct.unpack_from(f'<{count}{code}', data, at)
    return (value[0] if len(value) == 1 and not isinstance(value, bytes) else value), tag, at + size * count


def xl_tokens(data, at):
    """Each operator of the stream from at, with the attributes before it, as (offset, operator,
    {attribute: value}); data blocks stepped over. Ends at the stream's end or a UEL, giving
    (offset, None, {}) there."""
    end = len(data)
    attributes, value = {}, None
    while at < end:
        byte = data[at]
        if byte in XL_WHITESPACE:
            at += 1
        elif byte in XL_VALUES:
            value, _, at = xl_value(data, at)
        elif byte in (ATTRIBUTE_BYTE, ATTRIBUTE_WORD):
            size = 1 if byte == ATTRIBUTE_BYTE else 2
            if at + 1 + size > end:
                raise StreamError(f'PCL XL stream cut off inside the attribute at byte {at}')
            if value is None:
                raise StreamError(f'PCL XL attribute at byte {at} has no value')
            number = data[at + 1] if size == 1 else struct.unpack_from('<H', data, at + 1)[0]
            attributes[number] = value
            value = None
            at += 1 + size
        elif byte in (DATA_LONG, DATA_BYTE):
            size = 4 if byte == DATA_LONG else 1
            if at + 1 + size > end:
                raise StreamError(f'PCL XL stream cut off inside the data length at byte {at}')
            length = data[at + 1] if size == 1 else struct.unpack_from('<I', data, at + 1)[0]
            at += 1 + size + length
            if at > end:
                raise StreamError(f'PCL XL stream cut off inside the {length} data bytes at byte {at - length}')
        elif byte in XL_OPERATORS:
            if value is not None:
                raise StreamError(f'PCL XL operator at byte {at} follows a value that names no attribute')
            yield at, byte, attributes
            attributes = {}
            at += 1
        elif byte == ESC:
            break
        else:
            raise StreamError(f'PCL XL stream has byte 0x{byte:02x}, no tag, at byte {at}')
    if value is not None or attributes:
        raise StreamError(f'PCL XL stream ends at byte {at} inside an operator\'s attributes')
    yield at, None, {}


def xl_sheet(attributes, at):
    """The (name, (width, height) in points) of a BeginPage's attributes; None for a page on
    the session's default sheet."""
    if MEDIA_SIZE in attributes:
        size = attributes[MEDIA_SIZE]
        if isinstance(size, bytes):
            index = XL_MEDIA_NAMES.get(size.decode('latin-1').lower())
        else:
            index = size if isinstance(size, int) and 0 <= size < len(XL_MEDIA) else None
        if index is None:
            raise StreamError(f'PCL XL MediaSize {size!r} of the page at byte {at} is not read')
        return XL_MEDIA[index][1:]
    if CUSTOM_MEDIA_SIZE not in attributes:
        return None
    units = attributes.get(CUSTOM_MEDIA_UNITS)
    size = attributes[CUSTOM_MEDIA_SIZE]
    if units in MEASURES and isinstance(size, tuple) and len(size) == 2 and \
            all(0 < length * MEASURES[units] <= MAX_POINTS for length in size):
        return 'Custom', (size[0] * MEASURES[units], size[1] * MEASURES[units])
    raise StreamError(f'PCL XL CustomMediaSize {size!r} of the page at byte {at} is not read')


def xl_facts(data):
    """Each page's sheet as (name, points), None where it names none, and the stream's resolution
    (x, y); StreamError for a stream gpcl6 would not read right or one that is cut short."""
    at, _ = language_start(data)
    if data.startswith(XL_BIG_ENDIAN, at):
        raise StreamError(f'PCL XL stream in the big-endian binding at byte {at}: not read')
    header = XL_HEADER.match(data, at)
    if not header:
        raise StreamError(f'PCL XL stream header at byte {at} is cut off or malformed')
    sheets, resolution, state = [], None, 'before'
    for at, operator, attributes in xl_tokens(data, header.end()):
        if operator is None:
            break
        if state == 'before':
            if operator != BEGIN_SESSION:
                raise StreamError(f'PCL XL stream does not begin with BeginSession (byte {at})')
            units = attributes.get(UNITS_PER_MEASURE)
            measure = attributes.get(MEASURE)
            if not (isinstance(units, tuple) and len(units) == 2 and measure in MEASURES and
                    all(0 < unit * 72 / MEASURES[measure] <= MAX_DPI for unit in units)):
                raise StreamError(f'PCL XL BeginSession at byte {at} has no UnitsPerMeasure or Measure it reads')
            resolution = tuple(round(unit * 72 / MEASURES[measure]) for unit in units)
            state = 'session'
        elif operator == BEGIN_SESSION:
            raise StreamError(f'PCL XL BeginSession at byte {at} inside a session')
        elif operator == BEGIN_PAGE:
            if state != 'session':
                raise StreamError(f'PCL XL BeginPage at byte {at} inside a page')
            sheets.append(xl_sheet(attributes, at))
            state = 'page'
        elif operator == END_PAGE:
            if state != 'page':
                raise StreamError(f'PCL XL EndPage at byte {at} outside a page')
            state = 'session'
        elif operator == END_SESSION:
            if state != 'session':
                raise StreamError(f'PCL XL EndSession at byte {at} inside a page')
            state = 'after'
        elif state == 'after':
            raise StreamError(f'PCL XL operator at byte {at} after EndSession')
    if state != 'after':
        raise StreamError(f'PCL XL stream ends at byte {at} before its EndSession: cut short?')
    if not JOB_TRAILER.match(data, at):
        raise StreamError(f'PCL XL stream goes on after its EndSession at byte {at}')
    return sheets, resolution


def paper(data):
    """The (name, (width, height) in points) of the paper the stream names first: PCL 5's page
    size command, PCL XL's first MediaSize; None when it names none or is no stream of these."""
    kind = language(data)
    try:
        if kind == PCLXL:
            sheets, _ = xl_facts(data)
            return next((sheet for sheet in sheets if sheet), None)
        if kind == PCL5:
            for _, command, value in pcl5_commands(data):
                if command == PAGE_SIZE:
                    return pcl_paper.page_size(value)
    except StreamError:
        return None
    return None


# Reading.

def default_paper(kind, sheet_points):
    """The PJL lines that give gpcl6 the media's sheet where the stream names none, and the
    sheet as (name, points); StreamError when there is none to give."""
    if not sheet_points:
        raise StreamError(f'{kind} stream names no paper and the printer\'s sheet is not known')

    def fits(points):
        return all(abs(a - b) < 1 for a, b in zip(points, sheet_points))
    if kind == PCL5:
        for code, name in GHOSTPCL_PAGE_SIZES.items():
            if fits(pcl_paper.page_size(code)[1]):
                return [f'@PJL SET PAPER={name}'], pcl_paper.page_size(code)
        # A size it has no name for is a custom one, with Letter's logical page offsets.
        width, height = (round(points * 10) for points in sheet_points)
        return [f'@PJL SET PAPERWIDTH={width}', f'@PJL SET PAPERLENGTH={height}'], ('Custom', sheet_points)
    for name, sheet_name, points in XL_MEDIA:
        if fits(points):
            return [f'@PJL SET PAPER={name}'], (sheet_name, points)
    raise StreamError(f'PCL XL stream names no MediaSize and gpcl6 has no name for a sheet of '
                      f'{sheet_points[0]:.1f} x {sheet_points[1]:.1f} points')


def whole_sheet(image, dpi, sheets):
    """The sheet of those named whose size the page has, within a fraction of a millimetre, and
    the page padded with paper to its whole pixels; (None, image) when none fits."""
    for sheet in sheets:
        size = [round(points * dots / 72) for points, dots in zip(sheet[1], dpi)]
        short = [whole - have for whole, have in zip(size, image.size)]
        if all(-1 <= gap <= 1 + dots * SHORT_MM / MM_PER_INCH for gap, dots in zip(short, dpi)):
            full = tuple(max(want, have) for want, have in zip(size, image.size))
            if full == image.size:
                return sheet, image
            filled = Image.new('L', full, 255)
            filled.paste(image, (0, 0))
            return sheet, filled
    return None, image


def read(data, media):
    """Every page of a PCL 5 or PCL XL stream as the whole sheet in 8-bit grey at the printer's
    resolution; StreamError for anything that cannot be read."""
    kind = language(data)
    if kind is None:
        raise StreamError('neither a PCL 5 nor a PCL XL stream: it begins with neither ESC nor ") HP-PCL XL"')
    if kind == PCL5:
        sizes, own_dpi = pcl5_facts(data)
        sheets = [pcl_paper.page_size(code) for _, code in sizes] or [None]
    else:
        sheets, own_dpi = xl_facts(data)
    dpi = tuple(media.dpi) if media.dpi else own_dpi
    if not dpi:
        raise StreamError(f'{kind} stream names no resolution and the printer\'s is not known')
    pjl, default = [], None
    if None in sheets:
        pjl, default = default_paper(kind, media.sheet_points)
    images = ghostpcl.rasterize(kind, data, dpi, pjl)
    if kind == PCLXL and len(images) != len(sheets):
        raise StreamError(f'PCL XL stream has {len(sheets)} pages, gpcl6 printed {len(images)}')
    pages = []
    for number, image in enumerate(images):
        named = [sheets[number]] if kind == PCLXL else sheets
        sheet, image = whole_sheet(image, dpi, [sheet or default for sheet in named])
        if not sheet:
            raise StreamError(f'{kind} page {number + 1}: gpcl6 printed it on a sheet of {image.width} x '
                              f'{image.height} pixels, none the stream names')
        assumed = f'sheet {sheet[0]} from the PPD: the stream names none' if None in named else None
        pages.append(DecodedPage(image, dpi, sheet_points=tuple(sheet[1]), assumed=assumed))
    return pages


def render(document, media, workdir, bits=False):
    return save_pages(read(document.data, media), workdir, language(document.data))
