"""The JBIG printer languages of the foo2zjs family: ZjStream (foo2zjs, foo2hp2600, hpcups'
ljzjstream), XQX (foo2xqx), QPDL (foo2qpdl, splix), HBPL (foo2hbpl2), HIPERC (foo2hiperc),
LAVAFLOW (foo2lava) and SLX (foo2slx). Each page is a header record (its sheet, resolution and
raster size) and a JBIG bitmap for each colour plane (HIPERC's may be sent as they are). The
reader walks every record itself, takes each page's placement from the stream's own headers and
refuses a record it does not know or one cut short; Debian's decoder for the language
(zjsdecode, xqxdecode, qpdldecode, hbpldecode, hipercdecode, lavadecode, slxdecode) undoes the
JBIG compression, run with -d NAME in a folder of the render's own, where it writes each plane's
bitmap as NAME-PP-N.pbm (page PP, plane N). splix' own band compression 0x11, which qpdldecode
does not decode, is undone here as splix' algo0x11.cpp lays it down.

Each page comes back as the whole sheet in grey at the stream's resolution, ink wherever any plane
has a dot. Only ZjStream's and SLX's offsets (foo2zjs and foo2slx without -L0) and LAVAFLOW's
cursor position (taken from the sheet's corner: foo2lava sets no top margin) say where the raster
lies on the sheet; without them the printer lays it at its own printable origin, which the
drivers crop the page to (foo2*-wrapper's set_clipping; splix' compress.cpp, with the PPD's
ImageableArea as its hard margins): the reader takes that origin from the PPD and says so. HIPERC
names no sheet either (foo2hiperc.c:746 names it in the PJL job around it): the sheet comes from
the PPD too."""
import os
import re
import struct
import subprocess
import tempfile
from dataclasses import dataclass, field

from PIL import Image, ImageChops

from .base import DecodedPage, MAX_PIXELS, StreamError, blank_sheet, from_ppd, no_title, save_pages, unchanged
from ..core.papers import sheet

ZJSTREAM = 'ZjStream'
XQX = 'XQX'
QPDL = 'QPDL'
HBPL = 'HBPL'
HIPERC = 'HIPERC'
LAVAFLOW = 'LAVAFLOW'
SLX = 'SLX'
LANGUAGES = (ZJSTREAM, XQX, QPDL, HBPL, HIPERC, LAVAFLOW, SLX)
PPD_KEYWORDS = ()
# The entry points it takes as readers.base has them.
device_code = unchanged
title = no_title

# Seconds a decoder may take over a job: a page takes it well under one, and on some damaged
# streams qpdldecode spins until it is stopped.
TIMEOUT = 60
DECODERS = {ZJSTREAM: 'zjsdecode', XQX: 'xqxdecode', QPDL: 'qpdldecode', HBPL: 'hbpldecode',
            HIPERC: 'hipercdecode', LAVAFLOW: 'lavadecode', SLX: 'slxdecode'}
# What the decoders call the bitmaps they write (-d BASE): BASE-PP-N.pbm.
BASE = 'plane'
# A decoder's bitmap's header, up to the one whitespace byte before its pixels: a PBM's (bits, 1
# ink) width and height, a PGM's width, height and white.
PBM_HEADER = re.compile(rb'P4\s+(\d+)\s+(\d+)\s')
PGM_HEADER = re.compile(rb'P5\s+(\d+)\s+(\d+)\s+(\d+)\s')
# The finest resolution any of the drivers writes.
MAX_DPI = 2400

# Windows' DMPAPER codes (zjs.h, xqx.h) and the codes foo2zjs-wrapper gives its own sizes.
DMPAPER = {1: 'Letter', 3: 'Tabloid', 5: 'Legal', 7: 'Executive', 8: 'A3', 9: 'A4', 11: 'A5', 12: 'B4', 13: 'B5',
           20: 'Env10', 27: 'DL', 28: 'C5', 34: 'ISOB5', 37: 'Monarch', 70: 'A6', 262: 'A6', 259: 'ISOB5',
           261: 'DoublePostcard', 43: 'Postcard', 260: 'Postcard'}
# QPDL's paper codes (qpdldecode.c:222).
QPDL_PAPER = {0: 'Letter', 1: 'Legal', 2: 'A4', 3: 'Executive', 4: 'Tabloid', 5: 'A3', 6: 'Env10', 7: 'Monarch',
              8: 'C5', 9: 'DL', 10: 'B4', 11: 'B5', 12: 'ISOB5', 16: 'A5', 17: 'A6'}


@dataclass
class Page:
    """What a page's header records say: its first byte, resolution (x, y), sheet (name, points)
    or None, the raster's top left corner on the sheet in pixels (None where the stream does not
    say), the part of its planes the printer prints (width, height; None: all), a QPDL page's
    raster size and version, the bits of a video pixel (foo2zjs and foo2xqx send 1200 x 600 dpi as
    600 dpi of 2 bits, the two dots side by side: foo2zjs.c:1866, foo2xqx.c:1435); its planes,
    each one's (width, height) as its JBIG header gives it, or a QPDL page's Bands; and a HIPERC
    page's plane numbers, in the planes' order."""
    at: int
    dpi: tuple
    paper: tuple
    origin: tuple = None
    video: tuple = None
    raster: tuple = None
    version: int = None
    bpp: int = 1
    planes: list = field(default_factory=list)
    numbers: list = field(default_factory=list)

    def __post_init__(self):
        if not all(0 < value <= MAX_DPI for value in self.dpi):
            raise StreamError(f'page header at byte {self.at} gives a resolution of {self.dpi[0]}x{self.dpi[1]} dpi, '
                              f'which is not read')


def bih_size(bih, at, kind):
    """The (width, height) a JBIG bi-level image header gives; one plane of bits, as the decoders
    read it (T.82's header: DL, D, P, a fill byte, XD, YD, L0 big-endian, MX, MY, order, options)."""
    dl, _, planes, _, width, height = struct.unpack_from('>4B2I', bih)
    if dl or planes != 1 or not 0 < width * height <= MAX_PIXELS:
        raise StreamError(f'{kind} JBIG header at byte {at} gives {planes} planes of {width}x{height} pixels, '
                          f'which is not read')
    return width, height


def number(data, at, size):
    return int.from_bytes(data[at:at + size], 'big')


def need(data, at, size, kind, what):
    if at + size > len(data):
        raise StreamError(f'{kind} stream cut off inside {what} at byte {at}')


# ZjStream (zjs.h): 'JZJZ', then records of a 16-byte header (size with the header, type, item
# count, reserved, 'ZZ'), their items (size with its 8-byte header, item, type, param, value),
# then the record's data; zjsdecode.c:395 skips a record to a multiple of 4 bytes. SLX (slx.h,
# foo2slx) has the same records and items under its own magic, signature and item numbers.
ZJ_START_DOC, ZJ_END_DOC, ZJ_START_PAGE, ZJ_END_PAGE, ZJ_BIH, ZJ_BID, ZJ_END_JBIG = 0, 1, 2, 3, 4, 5, 6
ZJ_SIGNATURE, ZJ_START_PLANE, ZJ_END_PLANE = 7, 9, 10
ZJ_READ = {ZJ_START_DOC, ZJ_END_DOC, ZJ_START_PAGE, ZJ_END_PAGE, ZJ_BIH, ZJ_BID, ZJ_END_JBIG, ZJ_SIGNATURE,
           ZJ_START_PLANE, ZJ_END_PLANE}
ZJ_NAMES = {8: 'raw image', 11: 'pause', 12: 'colour bitmap', 13: 'ZX 0x0d', 14: 'ZX 0x0e', 15: 'ZX 0x0f'}


@dataclass(frozen=True)
class ZjKind:
    """A language of ZjStream's records: its name, magic, records' signature, paper codes, and
    its page's items: paper, (x, y) resolution, offset on the sheet, video size, the bits of a
    video pixel (None: it gives them as its raster's width over its video's) and raster size."""
    name: str
    magic: bytes
    sign: int
    papers: dict
    paper: int
    dpi: tuple
    offset: tuple
    video: tuple
    bpp: int
    raster: tuple


# foo2slx-wrapper's paper codes (slx.h's DMPAPER, A4 2, Letter 6).
SLX_PAPER = {2: 'A4', 4: 'B5', 5: 'ISOB5', 6: 'Letter', 8: 'Executive', 9: 'Legal', 10: 'Env10', 11: 'DL', 13: 'A5',
             28: 'C5', 37: 'Monarch'}
ZJ = ZjKind(ZJSTREAM, b'JZJZ', 0x5a5a, DMPAPER, 3, (8, 9), (10, 11), (17, 18), 16, None)
SLX_KIND = ZjKind(SLX, b'\xa5SLX', 0xa5a5, SLX_PAPER, 0x100, (0x105, 0x106), (0x107, 0x108), (0x10d, 0x10e), None,
                  (0x109, 0x10a))


def zj_items(data, at, end, count, kind):
    """The items of a record from at: {item: value of a 4-byte one}, and where its data starts."""
    items = {}
    for _ in range(count):
        need(data, at, 8, kind.name, 'an item')
        size, item = number(data, at, 4), number(data, at + 4, 2)
        if size < 8 or at + size > end:
            raise StreamError(f'{kind.name} item of {size} bytes does not fit its record at byte {at}')
        if size == 12:
            items[item] = number(data, at + 8, 4)
        at += size
    return items, at


def zj_page(items, at, kind):
    """The Page a page record's items start."""
    paper = kind.papers.get(items.get(kind.paper))
    origin = tuple(items.get(item, 0) for item in kind.offset) if any(item in items for item in kind.offset) else None
    video = tuple(items[item] for item in kind.video) if all(item in items for item in kind.video) else None
    if kind.bpp:
        bpp = items.get(kind.bpp, 1)
    else:
        # foo2slx.c:555 gives the video width as the raster's over the bits of a pixel.
        raster = items.get(kind.raster[0], 0)
        bpp = raster // video[0] if video and video[0] and raster % video[0] == 0 else 1
    page = Page(at, tuple(items.get(item, 0) for item in kind.dpi), paper and sheet(paper), origin, video, bpp=bpp)
    # foo2zjs.c:1331 and 1866 give the offset in dots of 1200 dpi across where its pixels are 600
    # dpi of 2 bits; whether the printer counts it so, the stream does not say.
    if origin and page.bpp != 1:
        raise StreamError(f'{kind.name} page at byte {at} is offset on its sheet in {page.bpp}-bit pixels, '
                          f'in units the stream does not settle')
    return page


def zj_pages(data, kind=ZJ):
    pages, page, at = [], None, len(kind.magic)
    while True:
        if at >= len(data):
            raise StreamError(f'{kind.name} stream ends before its end of document at byte {at}')
        need(data, at, 16, kind.name, 'a record header')
        size, record, count, _, sign = struct.unpack_from('>3I2H', data, at)
        if sign != kind.sign:
            raise StreamError(f'{kind.name} record without its signature at byte {at}')
        if record not in ZJ_READ:
            raise StreamError(f'{kind.name} record of type {record} ({ZJ_NAMES.get(record, "unknown")}) at byte {at} '
                              f'is not read')
        end = at + size
        if size < 16 or end > len(data):
            raise StreamError(f'{kind.name} record of {size} bytes cut off at byte {at}')
        items, body = zj_items(data, at + 16, end, count, kind)
        if record == ZJ_START_PAGE:
            if page:
                raise StreamError(f'{kind.name} page starts inside a page at byte {at}')
            page = zj_page(items, at, kind)
        elif record in (ZJ_START_DOC, ZJ_END_DOC):
            if page:
                raise StreamError(f'{kind.name} document record inside a page at byte {at}')
            if record == ZJ_END_DOC:
                return pages
        elif not page:
            raise StreamError(f'{kind.name} page record outside a page at byte {at}')
        elif record == ZJ_BIH:
            if end - body < 20:
                raise StreamError(f'{kind.name} JBIG header cut short at byte {at}')
            page.planes.append(bih_size(data[body:body + 20], at, kind.name))
        elif record == ZJ_END_PAGE:
            pages.append(page)
            page = None
        at = end + (-size) % 4


# XQX (xqx.h): ',XQX', then records of type and count, 4 bytes each: a JBIG record's count is its
# data's size, another's the number of its items (type, size, value).
XQX_START_DOC, XQX_END_DOC, XQX_START_PAGE, XQX_END_PAGE, XQX_START_PLANE, XQX_END_PLANE, XQX_JBIG = range(1, 8)
XQXI_PAPER, XQXI_RES_X, XQXI_RES_Y = 0x20000001, 0x20000008, 0x20000009
XQXI_VIDEO_BPP, XQXI_VIDEO_X, XQXI_VIDEO_Y, XQXI_BIH = 0x2000000a, 0x2000000f, 0x20000010, 0x40000002
XQX_MAGIC = b',XQX'


def xqx_items(data, at, count):
    items = {}
    for _ in range(count):
        need(data, at, 8, XQX, 'an item')
        item, size = struct.unpack_from('>2I', data, at)
        need(data, at + 8, size, XQX, 'an item')
        items[item] = number(data, at + 8, 4) if size == 4 else data[at + 8:at + 8 + size]
        at += 8 + size
    return items, at


def xqx_pages(data):
    pages, page, at = [], None, len(XQX_MAGIC)
    while True:
        if at >= len(data):
            raise StreamError(f'XQX stream ends before its end of document at byte {at}')
        need(data, at, 8, XQX, 'a record header')
        kind, count = struct.unpack_from('>2I', data, at)
        if not XQX_START_DOC <= kind <= XQX_JBIG:
            raise StreamError(f'XQX record of type {kind} at byte {at} is not read')
        if kind == XQX_JBIG:
            need(data, at, 8 + count, XQX, 'JBIG data')
            if not page:
                raise StreamError(f'XQX JBIG data outside a page at byte {at}')
            at += 8 + count
            continue
        items, end = xqx_items(data, at + 8, count)
        if kind == XQX_START_PAGE:
            if page:
                raise StreamError(f'XQX page starts inside a page at byte {at}')
            paper = DMPAPER.get(items.get(XQXI_PAPER))
            video = (items[XQXI_VIDEO_X], items[XQXI_VIDEO_Y]) if XQXI_VIDEO_X in items and XQXI_VIDEO_Y in items \
                else None
            page = Page(at, (items.get(XQXI_RES_X, 0), items.get(XQXI_RES_Y, 0)), paper and sheet(paper), None, video,
                        bpp=items.get(XQXI_VIDEO_BPP, 1))
        elif kind in (XQX_START_DOC, XQX_END_DOC):
            if page:
                raise StreamError(f'XQX document record inside a page at byte {at}')
            if kind == XQX_END_DOC:
                return pages
        elif not page:
            raise StreamError(f'XQX page record outside a page at byte {at}')
        elif kind == XQX_START_PLANE:
            bih = items.get(XQXI_BIH)
            if not isinstance(bih, bytes) or len(bih) != 20:
                raise StreamError(f'XQX plane without its JBIG header at byte {at}')
            page.planes.append(bih_size(bih, at, XQX))
        elif kind == XQX_END_PAGE:
            pages.append(page)
            page = None
        at = end


# QPDL as foo2qpdl.c and splix' qpdl.cpp write it: one-byte record types. 0x00, the page header
# (17 bytes: y resolution / 100, copies, paper code, width and height, source, duplex, x resolution
# / 100 last); 0x01 ends a page (3 bytes), 0x09 the job; 0x13 (15 bytes) and 0x14 (8 bytes, or 25
# with a JBIG header) set up the CLP-610/620/310/315's bands; 0x0c is a band: its number, width,
# height, the colour (only colour printers send it: 1 to 4), the compression and the size of what
# follows, 12 bytes in all with the colour.
QPDL_PAGE, QPDL_PAGE_END, QPDL_JOB_END, QPDL_SETUP, QPDL_BIH, QPDL_BAND = 0x00, 0x01, 0x09, 0x13, 0x14, 0x0c
QPDL_HEADER = 17
QPDL_RECORDS = (QPDL_PAGE, QPDL_PAGE_END, QPDL_JOB_END, QPDL_SETUP, QPDL_BIH, QPDL_BAND)
# Compressions: JBIG a page in bands of one image (0x13) or each band an image (0x15), which
# qpdldecode decodes; splix' own 0x11; 0x0d and 0x0e are not read.
JBIG_PAGE, JBIG_BANDS, SPLIX_0X11 = 0x13, 0x15, 0x11
QPDL_COLOURS = (1, 2, 3, 4)


@dataclass
class Band:
    """A QPDL band record: its number down the page, size in pixels, colour (1 to 4, K), compression,
    what follows its header, and its first byte."""
    number: int
    width: int
    height: int
    colour: int
    compression: int
    data: bytes
    at: int


def qpdl_band(data, at, page):
    """A 0x0c band record at at: its Band, and where the next record starts."""
    need(data, at, 10, QPDL, 'a band header')
    coloured = data[at + 6] in QPDL_COLOURS
    if coloured:
        need(data, at, 12, QPDL, 'a band header')
    colour = data[at + 6] if coloured else 4
    head = at + 6 + coloured
    compression, size = data[head], number(data, head + 1, 4)
    if compression not in (JBIG_PAGE, JBIG_BANDS, SPLIX_0X11):
        raise StreamError(f'QPDL band in compression 0x{compression:02x} at byte {at} is not read')
    need(data, at, head + 5 + size - at, QPDL, 'a band')
    band = Band(data[at + 1], number(data, at + 2, 2), number(data, at + 4, 2), colour, compression,
                data[head + 5:head + 5 + size], at)
    page.planes.append(band)
    return head + 5 + size


def qpdl_pages(data):
    pages, page, at = [], None, 0
    while True:
        if at >= len(data):
            raise StreamError(f'QPDL stream ends before its end of job at byte {at}')
        kind = data[at]
        if kind not in QPDL_RECORDS:
            raise StreamError(f'QPDL record of type 0x{kind:02x} at byte {at} is not read')
        if kind == QPDL_JOB_END:
            if page:
                raise StreamError(f'QPDL job ends inside a page at byte {at}')
            return pages
        if kind == QPDL_PAGE:
            if page:
                raise StreamError(f'QPDL page starts inside a page at byte {at}')
            need(data, at, QPDL_HEADER, QPDL, 'a page header')
            paper = QPDL_PAPER.get(data[at + 4])
            page = Page(at, (data[at + 16] * 100, data[at + 1] * 100), paper and sheet(paper),
                        raster=(number(data, at + 5, 2), number(data, at + 7, 2)), version=data[at + 14])
            at += QPDL_HEADER
        elif not page:
            raise StreamError(f'QPDL page record outside a page at byte {at}')
        elif kind == QPDL_PAGE_END:
            need(data, at, 3, QPDL, 'a page end')
            pages.append(page)
            page = None
            at += 3
        elif kind == QPDL_SETUP:
            need(data, at, 15, QPDL, 'a band set-up')
            at += 15
        elif kind == QPDL_BIH:
            need(data, at, 2, QPDL, 'a band set-up')
            size = 8 if data[at + 1] == 0x10 else 25
            need(data, at, size, QPDL, 'a band set-up')
            at += size
        else:
            at = qpdl_band(data, at, page)


# HBPL version 2 (hbpl.h, hbpldecode.c:271): records of ESC, two letters and a length byte, then
# that many bytes (JP, the job's parameters, 60 whatever its length byte). PS starts a page: width,
# height, bytes of bitmap, size of what follows the record (little-endian), paper code, media,
# colour (1: four planes), a byte, the resolution (2 bytes), each plane's share of what follows;
# each share a JBIG header and its data. PE ends a page, DM means nothing known. The job ends at
# the PJL job's UEL, which ends the part the reader is handed.
HBPL_PAPER = {1: 'A4', 2: 'B5', 3: 'A5', 4: 'Letter', 5: 'Executive', 7: 'Legal', 9: 'Env10', 10: 'Monarch', 11: 'C5',
              12: 'DL'}
HBPL_MAGIC = b'\x1bJP'
HBPL_JP_SIZE = 60
# What hbpldecode needs around the stream: the PJL line that enters HBPL, and a UEL after it.
HBPL_ENTER = b'\x1b%-12345X@PJL\n@PJL ENTER LANGUAGE=HBPL\n'
# hbpldecode.c:318 reads the UEL's record as 15 bytes after its first 4.
HBPL_END = b'\x1b%-12345X@PJL EOJ\r\n'


def hbpl_page(data, at, size):
    """The Page a PS record at at of size bytes after its header starts; where its bitmaps end."""
    need(data, at, 4 + 38, HBPL, 'a page start')
    width, _, _, length = struct.unpack_from('<4I', data, at + 4)
    paper, colour, (dpi,) = HBPL_PAPER.get(data[at + 20]), data[at + 22], struct.unpack_from('<H', data, at + 24)
    shares = struct.unpack_from('<4I', data, at + 26) if colour else (struct.unpack_from('<I', data, at + 38)[0],)
    start = at + 4 + size
    need(data, start, length, HBPL, 'a page\'s bitmaps')
    if colour not in (0, 1) or sum(shares) != length:
        raise StreamError(f'HBPL page start at byte {at} gives bitmaps that are not read')
    page = Page(at, (dpi, dpi), paper and sheet(paper))
    for share in shares:
        if share < 20:
            raise StreamError(f'HBPL page start at byte {at} gives a bitmap too short for its JBIG header')
        page.planes.append(bih_size(data[start:start + 20], at, HBPL))
        if page.planes[-1][0] != width:
            raise StreamError(f'HBPL page at byte {at} packs {page.planes[-1][0] // max(width, 1)} bits a pixel, '
                              f'which is not read')
        start += share
    return page, start


def hbpl_pages(data):
    pages, page, at = [], None, 0
    while at < len(data):
        need(data, at, 4, HBPL, 'a record header')
        name = data[at + 1:at + 3]
        if data[at] != 0x1b or name not in (b'JP', b'DM', b'PS', b'PE'):
            raise StreamError(f'HBPL record {data[at:at + 3]!r} at byte {at} is not read')
        size = HBPL_JP_SIZE if name == b'JP' else data[at + 3]
        need(data, at, 4 + size, HBPL, 'a record')
        if name == b'PS':
            if page:
                raise StreamError(f'HBPL page starts inside a page at byte {at}')
            page, at = hbpl_page(data, at, size)
            continue
        if name == b'PE':
            if not page:
                raise StreamError(f'HBPL page ends outside a page at byte {at}')
            pages.append(page)
            page = None
        at += 4 + size
    if page:
        raise StreamError(f'HBPL stream ends inside a page at byte {at}')
    return pages


# HIPERC (hiperc.h, foo2hiperc.c:415-645): records of a 4-byte size (with its 8-byte header) and
# type, then blocks, each a 4-byte size and its bytes, all big-endian. Type 0 starts a plane of
# the page: a 16-byte block (planes on the page, plane 0 to 3 CMYK, a flag, the resolution's code,
# width) and a 20-byte one, the plane's JBIG header, or '0010', width, height and rows a block for
# a plane sent as it is; type 1 carries a plane's data (a 4-byte block, the plane in its top byte,
# then the data); type 255 ends the page. It gives no sheet and no origin.
HIPERC_START, HIPERC_DATA, HIPERC_END = 0, 1, 255
# The resolution's code (foo2hiperc.c:427).
HIPERC_DPI = {0: (300, 300), 17: (600, 600), 33: (600, 1200)}
HIPERC_RAW = b'0010'
HIPERC_PLANES = 4


def hiperc_blocks(data, at, end):
    """The (first byte, size) of each block of the record at at, which ends at end."""
    blocks, at = [], at + 8
    while at < end:
        need(data, at, 4, HIPERC, 'a block')
        size = number(data, at, 4)
        if at + 4 + size > end:
            raise StreamError(f'HIPERC block of {size} bytes does not fit its record at byte {at}')
        blocks.append((at + 4, size))
        at += 4 + size
    return blocks


def hiperc_plane(data, at, blocks, page, raw):
    """The page a plane's start record at at adds its plane to (a new one if page is None);
    raw gets the bytes a plane sent as it is holds, by its number."""
    if [size for _, size in blocks] != [16, 20]:
        raise StreamError(f'HIPERC plane start at byte {at} is not read')
    (head, _), (bih, _) = blocks
    plane, code, width = data[head + 1], data[head + 3], number(data, head + 4, 4)
    if plane >= HIPERC_PLANES or code not in HIPERC_DPI:
        raise StreamError(f'HIPERC plane start at byte {at} gives plane {plane} at resolution code {code}, '
                          f'which is not read')
    page = page or Page(at, HIPERC_DPI[code], None)
    if HIPERC_DPI[code] != page.dpi or plane in page.numbers:
        raise StreamError(f'HIPERC plane start at byte {at} repeats plane {plane} or changes the resolution')
    if data[bih:bih + 4] == HIPERC_RAW:
        size = (width, number(data, bih + 8, 4))
        if width % 8 or not 0 < size[0] * size[1] <= MAX_PIXELS:
            raise StreamError(f'HIPERC plane start at byte {at} gives {size[0]}x{size[1]} pixels, which are not read')
        raw[plane] = 0
    else:
        size = bih_size(data[bih:bih + 20], at, HIPERC)
        if size[0] != width:
            raise StreamError(f'HIPERC plane start at byte {at} is {width} pixels wide and its JBIG {size[0]}')
    page.planes.append(size)
    page.numbers.append(plane)
    return page


def hiperc_pages(data):
    pages, page, raw, at = [], None, {}, 0
    while at < len(data):
        need(data, at, 8, HIPERC, 'a record header')
        size, kind = struct.unpack_from('>2I', data, at)
        end = at + size
        if size < 8 or end > len(data):
            raise StreamError(f'HIPERC record of {size} bytes cut off at byte {at}')
        blocks = hiperc_blocks(data, at, end)
        if kind == HIPERC_START:
            page = hiperc_plane(data, at, blocks, page, raw)
        elif kind not in (HIPERC_DATA, HIPERC_END):
            raise StreamError(f'HIPERC record of type {kind} at byte {at} is not read')
        elif not page:
            raise StreamError(f'HIPERC page record outside a page at byte {at}')
        elif kind == HIPERC_DATA:
            plane = data[blocks[0][0]] if len(blocks) == 2 and blocks[0][1] == 4 else None
            if plane not in page.numbers:
                raise StreamError(f'HIPERC data at byte {at} is for no plane the page started')
            if plane in raw:
                raw[plane] += blocks[1][1]
        else:
            for plane, sent in raw.items():
                width, height = page.planes[page.numbers.index(plane)]
                if sent != width // 8 * height:
                    raise StreamError(f'HIPERC page ends at byte {at} with {sent} bytes of plane {plane}\'s '
                                      f'{width // 8 * height}')
            pages.append(page)
            page, raw = None, {}
        at = end
    if page:
        raise StreamError(f'HIPERC stream ends inside a page at byte {at}')
    return pages


# LAVAFLOW as foo2lava.c:540-626 and 768-774 write it for the magicolor 2530 DL and 1600W: PCL's
# escapes (ESC & or *, a group letter, a value, an upper-case letter; ESC E, the reset) and no
# other byte. &u gives the units of the cursor's position (*p X and Y), &l A the paper, *g W the
# planes' resolutions (its bytes: a format, the planes, then each plane's x and y dpi, a byte and
# its bits), *r S and T the raster's size; *r A starts a page and *r C ends it. Each plane is a
# *b V of its 20-byte JBIG header, then *b V (W the last) of its data. foo2lava's other commands
# set the job (duplex, copies, source, media, the compression 1234: JBIG) or count its dots (*x);
# &l E, U and Z, the top margin and registration offsets, are read where 0, as foo2lava sends them.
LAVA_COMMAND = re.compile(rb'\x1b(?:E|([&*])([a-z])(-?\d+)?([A-Z]))')
LAVA_JOB = {b'&lS', b'&lG', b'&lX', b'&lH', b'&lM', b'&xX', b'&fG', b'&fF', b'*rU', b'*bM', b'*xK', b'*xW', b'*xC',
            b'*xZ', b'*xM', b'*xV', b'*xY', b'*xU'}
LAVA_ZERO = {b'&lO', b'&lE', b'&lU', b'&lZ'}
LAVA_JBIG = 1234
# lavadecode.c:188.
LAVA_PAPER = {1: 'Executive', 2: 'Letter', 3: 'Legal', 25: 'A5', 26: 'A4', 45: 'B5', 65: 'ISOB5', 80: 'Monarch',
              81: 'Env10', 90: 'DL', 91: 'C5'}
# What lavadecode.c:221 needs before the stream.
LAVA_ENTER = b'@PJL ENTER LANGUAGE=LAVAFLOW\n'


@dataclass
class LavaJob:
    """What LAVAFLOW's commands have set so far: units, cursor, paper code, the planes' (x, y)
    dpi, raster size, and whether a plane's JBIG header has come."""
    units: int = None
    cursor: dict = field(default_factory=dict)
    paper: int = None
    dpi: tuple = None
    raster: dict = field(default_factory=dict)
    plane: bool = False


def lava_config(data, at, size, job):
    """The planes' resolutions a *g W at at gives: all one."""
    config = data[at:at + size]
    planes = config[1] if size > 1 else 0
    dpis = {struct.unpack_from('>2H', config, 2 + 6 * plane) for plane in range(planes) if size == 2 + 6 * planes}
    if planes not in (1, 4) or len(dpis) != 1:
        raise StreamError(f'LAVAFLOW plane set-up at byte {at} is not read')
    job.dpi = dpis.pop()


def lava_page(job, at):
    """The Page a *r A at at starts, as the commands before it set it."""
    if not (job.units and job.dpi and len(job.cursor) == 2 and len(job.raster) == 2):
        raise StreamError(f'LAVAFLOW page starts at byte {at} without its resolution, raster size and position')
    paper = LAVA_PAPER.get(job.paper)
    page = Page(at, job.dpi, paper and sheet(paper),
                tuple(round(job.cursor[axis] * dpi / job.units) for axis, dpi in zip(b'XY', job.dpi)))
    page.raster = tuple(job.raster[axis] for axis in b'ST')
    return page


def lava_pages(data):
    pages, page, job, at = [], None, LavaJob(), 0
    while at < len(data):
        command = LAVA_COMMAND.match(data, at)
        if not command:
            raise StreamError(f'LAVAFLOW byte 0x{data[at]:02x} at byte {at} is no command read')
        start = end = command.end()
        if command.group() == b'\x1bE':
            if page:
                raise StreamError(f'LAVAFLOW reset inside a page at byte {at}')
            at = end
            continue
        name = command.group(1) + command.group(2) + command.group(4)
        value = int(command.group(3) or 0)
        if name in (b'*gW', b'*bV', b'*bW'):
            if value < 0:
                raise StreamError(f'LAVAFLOW command {command.group()[1:].decode()} at byte {at} is not read')
            need(data, at, end - at + value, LAVAFLOW, 'a command\'s data')
            end += value
        if name == b'&uD':
            job.units = value
        elif name == b'&lA':
            job.paper = value
        elif name in (b'*pX', b'*pY'):
            job.cursor[name[2]] = value
        elif name in (b'*rS', b'*rT'):
            job.raster[name[2]] = value
        elif name == b'*gW':
            lava_config(data, start, value, job)
        elif name == b'*rA':
            if page:
                raise StreamError(f'LAVAFLOW page starts inside a page at byte {at}')
            page = lava_page(job, at)
        elif name in (b'*bV', b'*bW'):
            if not page:
                raise StreamError(f'LAVAFLOW raster data outside a page at byte {at}')
            # lavadecode.c:423 takes a *b V of 20 bytes for a plane's JBIG header.
            if name == b'*bV' and value == 20:
                page.planes.append(bih_size(data[start:end], at, LAVAFLOW))
                if page.planes[-1] != page.raster:
                    raise StreamError(f'LAVAFLOW plane at byte {at} is not the page\'s raster of {page.raster[0]}x'
                                      f'{page.raster[1]} pixels')
            elif not page.planes:
                raise StreamError(f'LAVAFLOW raster data before its JBIG header at byte {at}')
        elif name == b'*rC':
            if not page:
                raise StreamError(f'LAVAFLOW page ends outside a page at byte {at}')
            pages.append(page)
            page = None
        elif not (name in LAVA_JOB or name in LAVA_ZERO and value == 0) or name == b'*bM' and value != LAVA_JBIG:
            raise StreamError(f'LAVAFLOW command {command.group()[1:].decode()} at byte {at} is not read')
        at = end
    if page:
        raise StreamError(f'LAVAFLOW stream ends inside a page at byte {at}')
    return pages


def sniff_lava(data):
    """A LAVAFLOW stream opens with PCL's reset and sets its JBIG compression within its first
    commands."""
    return data.startswith(b'\x1bE\x1b&l') and b'\x1b*b1234M' in data[:256]


def sniff_hiperc(data):
    """A HIPERC stream starts with a plane's start record: 52 bytes of type 0, a 16-byte block."""
    return len(data) >= 16 and struct.unpack_from('>3I', data) == (52, HIPERC_START, 16)


def slx_pages(data):
    return zj_pages(data, SLX_KIND)


def sniff_qpdl(data):
    """A QPDL stream starts with its page header: a resolution of 100 to 1200 dpi, a known paper,
    and a record type after it."""
    return len(data) > QPDL_HEADER and data[0] == QPDL_PAGE and 1 <= data[1] <= 12 and 1 <= data[16] <= 12 \
        and data[QPDL_HEADER] in QPDL_RECORDS


def language(data):
    if data.startswith(ZJ.magic):
        return ZJSTREAM
    if data.startswith(SLX_KIND.magic):
        return SLX
    if data.startswith(XQX_MAGIC):
        return XQX
    if data.startswith(HBPL_MAGIC):
        return HBPL
    if sniff_hiperc(data):
        return HIPERC
    if sniff_lava(data):
        return LAVAFLOW
    return QPDL if sniff_qpdl(data) else None


def sniff(data):
    return language(data) is not None


def paper(data):
    """The sheet the first page header names, or None."""
    try:
        pages = read_headers(data)
    except StreamError:
        return None
    return pages[0].paper if pages else None


def read_headers(data):
    kind = language(data)
    return {ZJSTREAM: zj_pages, XQX: xqx_pages, QPDL: qpdl_pages, HBPL: hbpl_pages, HIPERC: hiperc_pages,
            LAVAFLOW: lava_pages, SLX: slx_pages}[kind](data)


# splix' algo0x11.cpp: a band is stored column by column of bytes (a byte of 8 pixels across for
# each line of the band, then the next 8 pixels), its bits inverted (compress.cpp), then packed:
# a 4-byte little-endian count of bytes copied as they are, a table of 64 2-byte distances back,
# those bytes, then codes: below 0x80, that many bytes plus one as they are; else a copy of
# 3 + (the code's low 7 bits | the next byte's top 2 bits << 7) bytes from a table distance back
# (the next byte's low 6 bits).
TABLE_ENTRIES = 64


def unpack_0x11(band, checksum):
    """The band in splix' compression 0x11 as an 'L' image, ink 0, or StreamError. After the
    4-byte signature come the packed data and, from QPDL version 1 on, a 4-byte checksum
    (qpdl.cpp)."""
    width_bytes = (band.width + 7) // 8
    size = width_bytes * band.height
    body = band.data[4:len(band.data) - 4 * checksum]
    if len(body) < 4 + 2 * TABLE_ENTRIES:
        raise StreamError(f'QPDL band at byte {band.at} is too short for its compression 0x11 header')
    raw = int.from_bytes(body[:4], 'little')
    table = struct.unpack_from(f'<{TABLE_ENTRIES}H', body, 4)
    at = 4 + 2 * TABLE_ENTRIES
    out = bytearray(body[at:at + raw])
    at += raw
    while at < len(body) and len(out) < size:
        code = body[at]
        if code < 0x80:
            out += body[at + 1:at + 2 + code]
            at += 2 + code
            continue
        if at + 1 >= len(body):
            raise StreamError(f'QPDL band at byte {band.at}: its compression 0x11 data ends inside a copy')
        count = 3 + ((code & 0x7f) | ((body[at + 1] & 0xc0) << 1))
        back = table[body[at + 1] & 0x3f]
        if not 0 < back <= len(out):
            raise StreamError(f'QPDL band at byte {band.at}: a copy from before the band\'s start')
        start = len(out) - back
        # A copy may run into what it copies, repeating the last back bytes.
        out += out[start:start + count] if back >= count else (out[start:] * (count // back + 1))[:count]
        at += 2
    if len(out) != size or at != len(body):
        raise StreamError(f'QPDL band at byte {band.at} unpacks to {len(out)} bytes where its {band.width}x'
                          f'{band.height} pixels are {size}')
    rows = bytearray(size)
    for column in range(width_bytes):
        rows[column::width_bytes] = out[column * band.height:(column + 1) * band.height]
    # The bits as stored are inverted ink: 1 is paper, as PIL's '1' has it.
    return Image.frombytes('1', (width_bytes * 8, band.height), bytes(rows)).convert('L')


def splix_bands(page):
    """A page of splix bands in compression 0x11: each colour's bands laid one under the other by
    their numbers on the raster the page header gives, as 'L' images, ink 0."""
    planes = {}
    for band in page.planes:
        if band.compression != SPLIX_0X11:
            raise StreamError(f'QPDL page at byte {page.at} mixes band compressions')
        if band.width != page.raster[0] or not band.height:
            raise StreamError(f'QPDL band at byte {band.at} is {band.width} pixels wide on a page of {page.raster[0]}')
        if band.colour not in planes:
            planes[band.colour] = Image.new('L', page.raster, 255)
        planes[band.colour].paste(unpack_0x11(band, page.version > 0), (0, band.number * band.height))
    return list(planes.values())


def decode(kind, data, workdir):
    """Runs the language's decoder over data in workdir; its bitmaps' paths by (page, plane)."""
    program = DECODERS[kind]
    if kind == HBPL:
        data = HBPL_ENTER + data + HBPL_END
    elif kind == LAVAFLOW:
        data = LAVA_ENTER + data
    try:
        done = subprocess.run([program, '-d', BASE], input=data, cwd=workdir, capture_output=True, timeout=TIMEOUT)
    except FileNotFoundError:
        raise StreamError(f'{kind} is decoded by {program}, which is not installed (printer-driver-foo2zjs)') from None
    except subprocess.TimeoutExpired:
        raise StreamError(f'{kind} stream: {program} did not finish in {TIMEOUT} s') from None
    said = ' '.join((done.stderr or b'').decode('utf-8', 'replace').split())
    if done.returncode < 0:
        raise StreamError(f'{kind} stream: {program} crashed (signal {-done.returncode})')
    if done.returncode or said:
        raise StreamError(f'{kind} stream refused by {program}: {said or f"exit status {done.returncode}"}')
    found = {}
    for name in os.listdir(workdir):
        parts = name.split('.')[0].split('-')
        if name.startswith(BASE + '-') and len(parts) == 3 and parts[1].isdigit() and parts[2].isdigit():
            found[int(parts[1]), int(parts[2])] = os.path.join(workdir, name)
    return found


def ink(path):
    """A decoder's bitmap as 'L', ink 0: a PBM's dots, or any level of a PGM but its white
    (zjsdecode.c:743 writes 2-bit pixels as levels 0 to 3, 3 white). The header is read here: PIL
    reads a PGM whose white is not 255 pixel by pixel, and qpdldecode.c:530 heads a page of bands
    each an image (compression 0x15) with the rows above its last band, the bitmap all the rows it
    wrote."""
    with open(path, 'rb') as source:
        data = source.read()
    name = os.path.basename(path)
    bitmap, levels = PBM_HEADER.match(data), PGM_HEADER.match(data)
    if bitmap:
        width, height = (int(value) for value in bitmap.groups())
        rows = (len(data) - bitmap.end()) // max(1, (width + 7) // 8)
        if not width or rows < height:
            raise StreamError(f'the decoder wrote {name} cut short')
        return Image.frombytes('1', (width, rows), data[bitmap.end():], 'raw', '1;I').convert('L')
    if not levels:
        raise StreamError(f'the decoder wrote {name}, which is no PBM or PGM')
    width, height, white = (int(value) for value in levels.groups())
    pixels = data[levels.end():levels.end() + width * height]
    if not 0 < white < 256 or len(pixels) < width * height:
        raise StreamError(f'the decoder wrote {name} cut short, or of levels that are not read')
    return Image.frombytes('L', (width, height), pixels).point(lambda value: 255 if value == white else 0)


def placed(kind, page, planes, media):
    """The page's planes on its sheet: the union of their ink, cut to what the printer prints, at
    the origin the stream gives, or else the media's."""
    assumed = []
    if page.paper:
        points = page.paper[1]
    elif media.sheet_points:
        points = tuple(media.sheet_points)
        assumed.append('sheet from the media')
    else:
        raise StreamError(f'{kind} page at byte {page.at} names no sheet the check knows, and the media gives none')
    x_dpi, y_dpi = page.dpi
    if page.origin is not None:
        origin = page.origin
    elif media.origin_points:
        left, top = media.origin_points
        origin = (round(left * x_dpi / 72), round(top * y_dpi / 72))
        assumed.append(from_ppd(media.origin_points))
    else:
        raise StreamError(f'{kind} page at byte {page.at} does not place its raster, and the media gives no origin')
    image = blank_sheet(points, page.dpi, f'{kind} page at byte {page.at}')
    if not planes:
        return DecodedPage(image, page.dpi, points, '; '.join(assumed) or None)
    union = planes[0]
    for plane in planes[1:]:
        if plane.size != union.size:
            raise StreamError(f'{kind} page at byte {page.at} has planes of {union.size} and {plane.size} pixels')
        union = ImageChops.darker(union, plane)
    if page.video:
        union = union.crop((0, 0, min(union.width, page.video[0]), min(union.height, page.video[1])))
    image.paste(union, origin)
    return DecodedPage(image, page.dpi, points, '; '.join(assumed) or None)


def read(data, media, workdir):
    kind = language(data)
    if not kind:
        raise StreamError('not a ZjStream, XQX, QPDL, HBPL, HIPERC, LAVAFLOW or SLX stream')
    pages = read_headers(data)
    if not pages:
        raise StreamError(f'{kind} stream with no page')
    splix = kind == QPDL and any(band.compression == SPLIX_0X11 for page in pages for band in page.planes)
    with tempfile.TemporaryDirectory(dir=workdir) as folder:
        return [placed(kind, page, planes, media)
                for page, planes in zip(pages, splix_pages(pages) if splix else decoded(kind, data, pages, folder))]


def decoded(kind, data, pages, folder):
    """Each page's planes as the decoder writes them into folder, as 'L' images, ink 0."""
    bitmaps = decode(kind, data, folder)
    for number, page in enumerate(pages, 1):
        paths = [path for (page_number, _), path in sorted(bitmaps.items()) if page_number == number]
        wanted = len({band.colour for band in page.planes}) if kind == QPDL else len(page.planes)
        if len(paths) != wanted:
            raise StreamError(f'{kind} page {number} at byte {page.at}: {DECODERS[kind]} wrote {len(paths)} of its '
                              f'{wanted} planes')
        yield [video(ink(path), page) for path in paths]


def video(plane, page):
    """A plane at the page's resolution: xqxdecode writes a plane of 2-bit video pixels as the
    bits they are (zjsdecode as their levels), two dots across a pixel, inked where either is."""
    if page.bpp not in (1, 2):
        raise StreamError(f'page at byte {page.at} has video pixels of {page.bpp} bits, which are not read')
    if page.bpp == 1 or page.video is None or plane.width < page.video[0] * page.bpp:
        return plane
    return plane.reduce((page.bpp, 1)).point(lambda value: 255 if value == 255 else 0)


def splix_pages(pages):
    for page in pages:
        yield splix_bands(page)


def render(document, media, workdir, bits=False):
    return save_pages(read(document.data, media, workdir), workdir, language(document.data))
