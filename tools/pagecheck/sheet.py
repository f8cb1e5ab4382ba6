"""A printed document rendered with Ghostscript, page by page, and read as ink and paper."""
import glob
import os
import re
import subprocess

from .wine import STEP_TIMEOUT


def render(document, dpi, workdir, sheet_points=None):
    """Renders the document with Ghostscript at the (x, y) resolution as 8-bit grey, one file per
    page, on sheets of sheet_points (width, height) unless its pages ask for a size; returns the
    files in page order."""
    for old in glob.glob(os.path.join(workdir, 'page-*.pgm')):
        os.remove(old)
    size = [f'-dDEVICEWIDTHPOINTS={sheet_points[0]}', f'-dDEVICEHEIGHTPOINTS={sheet_points[1]}'] if sheet_points else []
    subprocess.run(['gs', '-q', '-dSAFER', '-dBATCH', '-dNOPAUSE', '-sDEVICE=pgmraw', f'-r{dpi[0]}x{dpi[1]}', *size,
                    f'-sOutputFile={os.path.join(workdir, "page-%03d.pgm")}', document],
                   check=True, timeout=STEP_TIMEOUT, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    return sorted(glob.glob(os.path.join(workdir, 'page-*.pgm')))


INK = bytes(1 if value < 128 else 0 for value in range(256))
INK_RUN = re.compile(b'\x01+')


class Sheet:
    """A rendered page as Ghostscript's raw PGM gives it, reduced to ink (1) and paper (0)."""

    def __init__(self, path):
        with open(path, 'rb') as image:
            data = image.read()
        fields = []
        position = 0
        while len(fields) < 4:
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
        if fields[0] != b'P5' or int(fields[3]) != 255:
            raise ValueError(f'{path}: not an 8-bit raw PGM')
        self.width = int(fields[1])
        self.height = int(fields[2])
        self.ink = data[position + 1:position + 1 + self.width * self.height].translate(INK)


class View:
    """A sheet seen the way its page was laid out: a landscape page is turned back upright.
    turn is the PPD's LandscapeOrientation: Plus90 puts the page's left edge at the bottom of
    the sheet, Minus90 at its top."""

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
            return s.ink[y::s.width][::-1]
        if self.turn == 'Minus90':
            return s.ink[s.width - 1 - y::s.width]
        return s.ink[y * s.width:(y + 1) * s.width]

    def column(self, x):
        s = self.sheet
        if self.turn == 'Plus90':
            y = s.height - 1 - x
            return s.ink[y * s.width:(y + 1) * s.width]
        if self.turn == 'Minus90':
            return s.ink[x * s.width:(x + 1) * s.width][::-1]
        return s.ink[x::s.width]


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
