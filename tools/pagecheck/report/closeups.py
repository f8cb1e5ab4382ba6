"""Close-ups of a page whose border moved: each corner and edge midpoint of a moved edge, enlarged
so that a shift as small as the tolerance shows, the ink in black, where the border's outer edge
belongs in red, and how far the edge is from it written beneath."""
import numpy
from PIL import Image, ImageDraw, ImageFont

from ..core.units import MM_PER_INCH, mm
from ..measure.checks import edge_dots, edge_offsets
from .pictures import EXPECTED, save

# A close-up is SIZE pixels square and shows at least SMALLEST_MM of the sheet: 32 pixels to the
# millimetre, so that 0.1 mm is 3 pixels, and enough of the border's 1.6 mm stroke and the paper
# on both sides of it to see its shape; a larger shift widens it to hold the edge where it is and
# where it belongs, with MARGIN_MM to spare.
SIZE = 320
SMALLEST_MM = 10.0
MARGIN_MM = 3.0
LARGEST_MM = 60.0
CAPTION = 36
OFF_SHEET = 200
FONT = '/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf'
# Each spot: where on the border it lies (fractions of its width and height), and its edges. The
# side edges are seen above the middle, where the text line, which may be wider than the page,
# does not cover them.
SPOTS = (
    ('top left corner', 0, 0, ('left', 'top')),
    ('top edge', 0.5, 0, ('top',)),
    ('top right corner', 1, 0, ('right', 'top')),
    ('left edge', 0, 0.3, ('left',)),
    ('right edge', 1, 0.3, ('right',)),
    ('bottom left corner', 0, 1, ('left', 'bottom')),
    ('bottom edge', 0.5, 1, ('bottom',)),
    ('bottom right corner', 1, 1, ('right', 'bottom')),
)


def caption_font():
    try:
        return ImageFont.truetype(FONT, 14)
    except OSError:
        return ImageFont.load_default()


def crop(view, left, top, width, height):
    """The view's pixels in a box, 0 for ink and 255 for paper, OFF_SHEET beyond the sheet."""
    pixels = numpy.full((height, width), OFF_SHEET, numpy.uint8)
    first, last = max(0, left), min(view.width, left + width)
    if first >= last:
        return pixels
    for y in range(max(0, top), min(view.height, top + height)):
        row = numpy.frombuffer(view.row(y), numpy.uint8)[first:last]
        pixels[y - top, first - left:last - left] = 255 - 255 * row
    return pixels


def spot_figure(edges, offsets, lay):
    return '; '.join(f'{edge} not found' if offsets[edge] is None else
                     f'{edge} {mm(offsets[edge], edge_dots(lay, edge)):+.2f} mm' for edge in edges)


def closeups(page, moved, folder, stem):
    """The close-ups of a measured page's spots on its moved edges: [{'file', 'spot', 'figure'}]."""
    m = page.measurement
    lay, view = m.placement, page.view
    offsets = edge_offsets(m)
    expected = {'left': lay.left, 'top': lay.top, 'right': lay.right, 'bottom': lay.bottom}
    font = caption_font()
    made = []
    for spot, across, down, edges in SPOTS:
        if not set(edges) & set(moved):
            continue
        shift = max((abs(mm(offsets[edge], edge_dots(lay, edge))) for edge in edges if offsets[edge] is not None),
                    default=0)
        side_mm = min(LARGEST_MM, max(SMALLEST_MM, 2 * (shift + MARGIN_MM)))
        width, height = (round(side_mm / MM_PER_INCH * dots) for dots in (lay.dpi_x, lay.dpi_y))
        x = lay.left + across * (lay.right - lay.left)
        y = lay.top + down * (lay.bottom - lay.top)
        left, top = round(x - width / 2), round(y - height / 2)
        enlarged = Image.fromarray(crop(view, left, top, width, height)).resize(
            (SIZE, SIZE), Image.Resampling.NEAREST if width < SIZE else Image.Resampling.BOX)
        picture = Image.new('RGB', (SIZE, SIZE + CAPTION), 'white')
        picture.paste(enlarged.convert('RGB'))
        draw = ImageDraw.Draw(picture)
        for edge in edges:
            if edge in ('left', 'right'):
                at = (expected[edge] - left) * SIZE / width
                draw.line([(at, 0), (at, SIZE - 1)], fill=EXPECTED, width=2)
            else:
                at = (expected[edge] - top) * SIZE / height
                draw.line([(0, at), (SIZE - 1, at)], fill=EXPECTED, width=2)
        figure = spot_figure(edges, offsets, lay)
        draw.text((4, SIZE + 2), figure, fill='black', font=font)
        draw.text((4, SIZE + 19), f'{spot}, {side_mm:.0f} mm across', fill='black', font=font)
        made.append({'file': save(picture, folder, f'{stem}-{spot.replace(" ", "-")}'), 'spot': spot,
                     'figure': figure})
    return made
