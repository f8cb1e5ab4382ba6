"""PostScript, as Wine's driver and the filters write it: read as the device would get it, without
the printer-resident feature code Ghostscript cannot run, and rendered by Ghostscript at the
printer's resolution; its title, the page size it asks for, and how its page set-up lays the page
on the sheet."""
import math
import os
import re

from . import ghostscript
from .base import Rendered, StreamError

LANGUAGE = 'PostScript'
LANGUAGES = (LANGUAGE,)
PPD_KEYWORDS = ()
FEATURE = re.compile(rb'^%%BeginFeature:\s*\*(\S+).*?^%%EndFeature[^\n]*\n', re.M | re.S)
# Feature code Ghostscript can run and the page needs: the size of the sheet.
KEPT_FEATURES = (b'PageSize', b'PageRegion')
TITLE = re.compile(rb'^%%Title:[ \t]*', re.M)
PAGE_SIZE = re.compile(rb'/PageSize\s*\[\s*(\d+(?:\.\d+)?)\s+(\d+(?:\.\d+)?)\s*\]')
ESCAPES = {ord('n'): b'\n', ord('r'): b'\r', ord('t'): b'\t', ord('b'): b'\b', ord('f'): b'\f'}
SETUP = re.compile(rb'^%%BeginPageSetup[^\n]*\n(.*?)^%%EndPageSetup', re.M | re.S)
NUMBER = re.compile(rb'-?(\d+\.?\d*|\.\d+)')


def sniff(data):
    return data.startswith(b'%!')


def language(data):
    return LANGUAGE


def device_code(data):
    """The document without the feature code a printer would run from its own memory."""
    return FEATURE.sub(lambda m: m.group(0) if m.group(1) in KEPT_FEATURES else b'', data)


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


def title(data):
    """The document's %%Title, decoded, or None."""
    found = TITLE.search(data)
    return text_value(data, found.end()).decode('latin-1') if found else None


def sized(found):
    """The (name, (width, height) in points) of a size a document gives as two numbers, or None."""
    if not found:
        return None
    size = float(found.group(1)), float(found.group(2))
    return f'{size[0]:g} x {size[1]:g} points', size


def paper(data):
    """The first page size the document asks for, or None."""
    return sized(PAGE_SIZE.search(data))


class LaidOut:
    """How the first page's set-up lays the page on the sheet. dpi is the (x, y) units per inch
    of the page's own coordinates, the resolution it was laid out at; turn where its left edge
    lies: 'Plus90' at the bottom of the sheet, 'Minus90' at its top, None for an upright page."""

    def __init__(self, dpi, turn):
        self.dpi = dpi
        self.turn = turn


def laid_out(data):
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
    return LaidOut((round(72 / math.hypot(*x)), round(72 / math.hypot(*y))), turn)


def render(document, media, workdir, bits=False):
    """The document's pages rendered by Ghostscript at the media's resolution, on its sheet unless
    a page asks for a size."""
    readable = os.path.join(workdir, 'readable')
    with open(readable, 'wb') as target:
        target.write(document.data)
    try:
        return Rendered(ghostscript.rasterize(readable, media.dpi, workdir, media.sheet_points, bits), media.dpi)
    except StreamError as problem:
        raise StreamError(f'not a readable {document.kind} document: {problem}') from None
