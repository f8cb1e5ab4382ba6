"""A page as a reader wrote it, read as ink and paper, and seen the way it was laid out."""
import re
from functools import cached_property

import numpy

from ..readers.base import INK_BELOW

INK = bytes(1 if value < INK_BELOW else 0 for value in range(256))
INK_RUN = re.compile(b'\x01+')


def netpbm(path, count):
    """A raw Netpbm file's first count header fields, and its data after them."""
    with open(path, 'rb') as image:
        data = image.read()
    fields = []
    position = 0
    while len(fields) < count:
        while data[position:position + 1].isspace():
            position += 1
        if data[position:position + 1] == b'#':
            position = data.index(b'\n', position) + 1
            continue
        end = position
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[position:end])
        position = end
    return fields, memoryview(data)[position + 1:]


class Sheet:
    """A rendered page as Ghostscript's raw PGM gives it, reduced to ink (1) and paper (0)."""

    def __init__(self, path):
        fields, data = netpbm(path, 4)
        if fields[0] != b'P5' or int(fields[3]) != 255:
            raise ValueError(f'{path}: not an 8-bit raw PGM')
        self.width = int(fields[1])
        self.height = int(fields[2])
        self.ink = data[:self.width * self.height].tobytes().translate(INK)

    def row(self, y):
        return self.ink[y * self.width:(y + 1) * self.width]

    def column(self, x):
        return self.ink[x::self.width]

    @cached_property
    def bits(self):
        """The ink as a BitSheet holds it."""
        return numpy.packbits(numpy.frombuffer(self.ink, numpy.uint8).reshape(self.height, self.width), axis=1)


class BitSheet:
    """A rendered page as ink and paper, kept as bits: bits holds a row of bytes for each row of
    pixels, eight pixels a byte from its high bit, 1 for ink, the last byte's spare bits 0. A
    600 dpi page is 4.4 MB so, where a byte a pixel made it 35; rows and columns are unpacked
    as the measuring asks for them."""

    def __init__(self, width, height, bits):
        self.width = width
        self.height = height
        self.bits = bits

    def row(self, y):
        """Row y's pixels, a byte each: 1 for ink, 0 for paper; none off the sheet."""
        if not 0 <= y < self.height:
            return b''
        return numpy.unpackbits(self.bits[y], count=self.width).tobytes()

    def column(self, x):
        """Column x's pixels from the top, a byte each."""
        if not 0 <= x < self.width:
            return b''
        return ((self.bits[:, x >> 3] >> (7 - (x & 7))) & 1).tobytes()


def load_sheet(path):
    """The page of a raw PBM file (1 for ink) as a BitSheet, of an 8-bit raw PGM as a Sheet."""
    with open(path, 'rb') as image:
        if image.read(2) != b'P4':
            return Sheet(path)
    fields, data = netpbm(path, 3)
    width, height = int(fields[1]), int(fields[2])
    bits = numpy.frombuffer(data, numpy.uint8, height * ((width + 7) // 8)).reshape(height, -1)
    if width % 8:
        bits = bits.copy()
        bits[:, -1] &= 0xFF << (8 - width % 8) & 0xFF
    return BitSheet(width, height, bits)


def ink_sheet(width, height, ink):
    """The BitSheet whose pixels ink gives row by row, true (or 1) for ink."""
    return BitSheet(width, height, numpy.packbits(numpy.asarray(ink, bool).reshape(height, width), axis=1))


class View:
    """A sheet (a Sheet or a BitSheet) seen the way its page was laid out: a landscape page is
    turned back upright. turn is the PPD's LandscapeOrientation: Plus90 puts the page's left
    edge at the bottom of the sheet, Minus90 at its top."""

    def __init__(self, sheet, turn=None):
        self.sheet = sheet
        self.turn = turn
        if turn:
            self.width, self.height = sheet.height, sheet.width
        else:
            self.width, self.height = sheet.width, sheet.height

    def row(self, y):
        s = self.sheet
        if self.turn == 'Plus90':
            return s.column(y)[::-1]
        if self.turn == 'Minus90':
            return s.column(s.width - 1 - y)
        return s.row(y)

    def column(self, x):
        s = self.sheet
        if self.turn == 'Plus90':
            return s.row(s.height - 1 - x)
        if self.turn == 'Minus90':
            return s.row(x)[::-1]
        return s.column(x)


def runs(line):
    """The runs of ink along a row or a column, as (start, end) with end exclusive."""
    return [match.span() for match in INK_RUN.finditer(line)]


def nearest_run(line, position):
    found = runs(line)
    if not found:
        return None
    return min(found, key=lambda run: abs((run[0] + run[1]) / 2 - position))


def centre(run):
    return (run[0] + run[1]) / 2
