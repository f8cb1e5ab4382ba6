"""The figures a service engineer sets a printer by, from a measured page's border: where the page
lies on the sheet along and across the feed (leading-edge and side registration), how far it is
turned (skew) and how far it is stretched (scale); and the mode a page's text line reads."""
import math

import numpy as np

from .measurement import TEXT_POINTS
from ..core.units import MM_PER_INCH

# A word space of the caption's face is 0.28 em; the gaps between its letters are under 0.15.
WORD_GAP_EM = 0.2
# The ink of the third word: "Direct" some 2.5 em wide, "Bitmap" some 3.0.
MODE_WIDTH_EM = 2.75
WORDS = 4


class Registration:
    """leading the border's top edge at its middle less where it belongs, in mm (+ further from
    the leading edge); side its left edge's likewise (+ further right); skew in degrees (+
    clockwise as the sheet lies face up); along and across the border's height and width less
    what they should be, in percent."""

    NAMES = ('leading', 'side', 'skew', 'along', 'across')
    UNITS = {'leading': 'mm', 'side': 'mm', 'skew': 'deg', 'along': '%', 'across': '%'}

    def __init__(self, leading, side, skew, along, across):
        self.leading, self.side, self.skew, self.along, self.across = leading, side, skew, along, across

    def record(self):
        return {'leading_edge_mm': self.leading, 'side_mm': self.side, 'skew_deg': self.skew,
                'scale_along_pct': self.along, 'scale_across_pct': self.across}

    def minus(self, other):
        return Registration(*(getattr(self, name) - getattr(other, name) for name in self.NAMES))

    def text(self):
        return (f'leading edge {self.leading:+.2f} mm, side {self.side:+.2f} mm, skew {self.skew:+.3f} deg, '
                f'scale {self.along:+.3f} % along the feed, {self.across:+.3f} % across')


def border_points(m):
    """The border's outer edge crossings as (x, y) points in printer pixels, pixel edges at whole
    numbers, by side; None when a side was not found at every crossing."""
    lay = m.placement
    rows = [m.clear_of_text(int(lay.top + f * (lay.bottom - lay.top))) + 0.5 for f in m.FRACTIONS]
    columns = [int(lay.left + f * (lay.right - lay.left)) + 0.5 for f in m.FRACTIONS]
    if any(len(found) != len(m.FRACTIONS) for found in m.edges().values()):
        return None
    return {'left': list(zip(m.left, rows)), 'right': list(zip(m.right, rows)),
            'top': list(zip(columns, m.top)), 'bottom': list(zip(columns, m.bottom))}


def points_registration(points, lay):
    """The Registration of a border whose edges pass through points, against the Placement."""
    lines = {}
    for side, found in points.items():
        found = np.asarray(found, dtype=float)
        along, across = (found[:, 1], found[:, 0]) if side in ('left', 'right') else (found[:, 0], found[:, 1])
        lines[side] = np.polyfit(along, across, 1)
    # A vertical side leans left as the page turns clockwise, a horizontal one down.
    angle = np.mean([math.atan(lines['top'][0]), math.atan(lines['bottom'][0]),
                     -math.atan(lines['left'][0]), -math.atan(lines['right'][0])])
    middle_x, middle_y = (lay.left + lay.right) / 2, (lay.top + lay.bottom) / 2
    top, bottom = (np.polyval(lines[side], middle_x) for side in ('top', 'bottom'))
    left, right = (np.polyval(lines[side], middle_y) for side in ('left', 'right'))
    # A turned rectangle's sides lie further apart along the axes than across each other.
    turned = math.cos(angle)
    return Registration((top - lay.top) / lay.dpi_y * MM_PER_INCH, (left - lay.left) / lay.dpi_x * MM_PER_INCH,
                        math.degrees(angle), ((bottom - top) * turned / (lay.bottom - lay.top) - 1) * 100,
                        ((right - left) * turned / (lay.right - lay.left) - 1) * 100)


def registration(m):
    """The Registration of a measured page, or None when a side of its border was not found."""
    points = border_points(m)
    return points_registration(points, m.placement) if points else None


def caption_words(m):
    """The widths of the text line's words in ems, from its ink box on the page, left to right."""
    if not m.text:
        return []
    left, top, right, bottom = m.text
    inked = np.any([np.frombuffer(m.view.row(y), np.uint8)[left:right] for y in range(top, bottom)], axis=0)
    em = TEXT_POINTS / 72 * m.placement.dpi_x
    words, start, blank = [], None, 0
    for x, dark in enumerate(inked):
        if dark:
            if start is None:
                start = x
            blank, end = 0, x + 1
        elif start is not None:
            blank += 1
            if blank > WORD_GAP_EM * em:
                words.append((end - start) / em)
                start = None
    if start is not None:
        words.append((end - start) / em)
    return words


def told_mode(m):
    """'direct' or 'bitmap' as the text line's third word reads ("Direct" is half an em narrower
    than "Bitmap"), and that word's width in ems; None for a line that does not read as the
    caption."""
    words = caption_words(m)
    if not WORDS - 1 <= len(words) <= WORDS:
        return None, words
    return ('direct' if words[2] < MODE_WIDTH_EM else 'bitmap'), words
