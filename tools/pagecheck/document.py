"""The document a queue wrote, read as the device would get it: the page description a PJL job
hands its language, without the printer-resident feature code Ghostscript cannot run; and how a
document's page set-up lays its page on the sheet."""
import math
import re

from . import readers

POSTSCRIPT = 'PostScript'
PDF = 'PDF'
# The Universal Exit Language command: it opens and closes a PJL job and, wherever it comes,
# hands the printer back to PJL.
UEL = b'\x1b%-12345X'
PJL_LINE = re.compile(rb'[ \t\r\n]*@PJL[^\n]*\n?')
ENTER = re.compile(rb'@PJL[ \t]+ENTER[ \t]+LANGUAGE[ \t]*=[ \t]*(\w+)', re.I)
# hpcups writes JOBNAME, and SET JOBNAME, where PJL has JOB NAME.
JOB_NAME = re.compile(rb'@PJL[ \t]+(?:SET[ \t]+)?JOB[ \t]*NAME[ \t]*=[ \t]*"([^"]*)"', re.I)
LANGUAGES = {'POSTSCRIPT': POSTSCRIPT, 'PDF': PDF}
FEATURE = re.compile(rb'^%%BeginFeature:\s*\*(\S+).*?^%%EndFeature[^\n]*\n', re.M | re.S)
# Feature code Ghostscript can run and the page needs: the size of the sheet.
KEPT_FEATURES = (b'PageSize', b'PageRegion')
ESCAPES = {ord('n'): b'\n', ord('r'): b'\r', ord('t'): b'\t', ord('b'): b'\b', ord('f'): b'\f'}


def sniffed(data):
    return POSTSCRIPT if data.startswith(b'%!') else PDF if data.startswith(b'%PDF') else None


def job_parts(raw):
    """The parts of a job in the languages a printer would hand them to, as (language, data): after
    each UEL come PJL command lines; ENTER LANGUAGE names the language of what follows its line,
    else the printer tells it by its first bytes; either runs to the next UEL. language is the
    name the job gives it, upper-case, or None."""
    if not raw.startswith(UEL):
        return [(None, raw)]
    parts = []
    for block in raw.split(UEL)[1:]:
        at, language = 0, None
        while language is None and (line := PJL_LINE.match(block, at)):
            at = line.end()
            entered = ENTER.search(line.group())
            language = entered and entered.group(1).decode('ascii').upper()
        if block[at:].strip():
            parts.append((language, block[at:]))
    return parts


def literal_string(data, start):
    """The PostScript (or PDF) literal string whose '(' is at start: nested parentheses kept,
    escapes undone."""
    text, depth, at = bytearray(), 0, start
    while at < len(data):
        byte = data[at]
        at += 1
        if byte == ord('\\') and at < len(data):
            octal = re.match(rb'[0-7]{1,3}', data[at:at + 3])
            if octal:
                text.append(int(octal.group(), 8) & 0xFF)
                at += octal.end()
            elif data[at] not in b'\r\n':
                text += ESCAPES.get(data[at], bytes([data[at]]))
                at += 1
            else:
                at += 2 if data[at:at + 2] == b'\r\n' else 1
            continue
        if byte == ord('('):
            depth += 1
            if depth == 1:
                continue
        elif byte == ord(')'):
            depth -= 1
            if depth == 0:
                break
        text.append(byte)
    return bytes(text)


def text_value(data, start):
    """A comment's text from start to the end of its line; a text in parentheses is a string."""
    if data[start:start + 1] == b'(':
        return literal_string(data, start)
    return data[start:data.find(b'\n', start) if b'\n' in data[start:] else len(data)].strip()


class PageSetup:
    """How the first page's set-up lays the page on the sheet. dpi is the (x, y) units per inch
    of the page's own coordinates, the resolution it was laid out at; turn where its left edge
    lies: 'Plus90' at the bottom of the sheet, 'Minus90' at its top, None for an upright page."""

    def __init__(self, dpi, turn):
        self.dpi = dpi
        self.turn = turn


SETUP = re.compile(rb'^%%BeginPageSetup[^\n]*\n(.*?)^%%EndPageSetup', re.M | re.S)
NUMBER = re.compile(rb'-?(\d+\.?\d*|\.\d+)')


def page_setup(data):
    """The page set-up of a PostScript document as its driver wrote it: the scale and rotate
    operators between %%BeginPageSetup and %%EndPageSetup, run on the axes of the page; None when
    it scales nothing (a set-up left empty by a filter)."""
    found = SETUP.search(data)
    if not found:
        return None
    # Rows: where a unit along the page's x and y goes in the sheet's default space (points,
    # y upward).
    axes = [[1.0, 0.0], [0.0, 1.0]]
    stack, scaled = [], False
    for token in found.group(1).split():
        if NUMBER.fullmatch(token):
            stack.append(float(token))
            continue
        if token == b'div' and len(stack) >= 2 and stack[-1]:
            stack[-2:] = [stack[-2] / stack[-1]]
            continue
        if token == b'scale' and len(stack) >= 2:
            axes = [[value * stack[-2] for value in axes[0]], [value * stack[-1] for value in axes[1]]]
            scaled = True
        elif token == b'rotate' and stack:
            cos, sin = math.cos(math.radians(stack[-1])), math.sin(math.radians(stack[-1]))
            axes = [[cos * axes[0][i] + sin * axes[1][i] for i in (0, 1)],
                    [-sin * axes[0][i] + cos * axes[1][i] for i in (0, 1)]]
        stack = []
    x, y = axes
    if not (scaled and math.hypot(*x) and math.hypot(*y)):
        return None
    turn = None if abs(x[0]) >= abs(x[1]) else 'Plus90' if x[1] > 0 else 'Minus90'
    return PageSetup((round(72 / math.hypot(*x)), round(72 / math.hypot(*y))), turn)


class Document:
    """kind is POSTSCRIPT, PDF, the name of a printer language one of the readers reads (then
    reader is its module), or None for a language none reads, which language then names when it
    can; title the document's title, or the PJL job's name where the document cannot say it; data
    what Ghostscript or the reader is given; setup its PageSetup or None."""

    def __init__(self, path):
        with open(path, 'rb') as source:
            raw = source.read()
        # A language the printer names for itself may still be PostScript or PDF by its first
        # bytes: hpcups' PCLm is a PDF.
        parts = [(LANGUAGES.get(language) or sniffed(data), language, data)
                 for language, data in job_parts(raw)]
        readable = [part for part in parts if part[0]]
        self.kind, self.language, self.data = (readable or parts or [(None, None, b'')])[0]
        self.reader = None
        if not readable:
            found = [(module, data) for _, _, data in parts if (module := readers.reader(data))]
            if found:
                self.reader, self.data = found[0]
                self.kind = self.language = readers.language(self.reader, self.data)
            else:
                self.language = readers.unread_language(self.language, self.data) or self.language
        self.setup = None
        title = None
        if self.kind == POSTSCRIPT:
            self.data = FEATURE.sub(lambda m: m.group(0) if m.group(1) in KEPT_FEATURES else b'', self.data)
            found = re.search(rb'^%%Title:[ \t]*', self.data, re.M)
            title = found and text_value(self.data, found.end())
            self.setup = page_setup(self.data)
        elif self.kind == PDF:
            found = re.search(rb'/Title\s*\(', self.data)
            title = found and literal_string(self.data, found.end() - 1)
        else:
            found = JOB_NAME.search(raw)
            title = found and found.group(1)
        self.title = title.decode('latin-1') if title is not None else None

    def save(self, path):
        with open(path, 'wb') as target:
            target.write(self.data)
