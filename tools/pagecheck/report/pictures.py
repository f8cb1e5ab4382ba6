"""Small pictures of printed pages for the report: a page with the border it should have drawn
over it, and where the Direct and Bitmap pages differ."""
import os

import numpy
from PIL import Image, ImageChops, ImageDraw

from ..measure.sheet import BitSheet, View, ink_sheet

WIDTH = 360
EXPECTED = (230, 0, 0)
PAPER_GREY = 255
INK_GREY = 150
# A spot of the small picture is marked when this share of its pixels differ (of 255): lines
# a pixel apart stay unmarked, a missing or moved stroke or letter is marked.
MARKED_SHARE = 64
# The small pictures are made from a sheet's ink counted in blocks of a byte's eight pixels by
# eight rows, 0 to 64: a picture 360 pixels wide is a 14th of a 600 dpi page's width, and the
# blocks are read in a 64th of the time its pixels would be.
BLOCK = 8
BITS_SET = numpy.array([bin(byte).count('1') for byte in range(256)], numpy.uint8)


def ink_blocks(view):
    """The ink of each block of the view's sheet, turned upright like the view, as an image whose
    pixels are 0 to 64; and the box the sheet takes in it, in blocks, the blocks of its last
    row and column being partly off the sheet."""
    sheet = view.sheet
    counts = BITS_SET[sheet.bits]
    spare_rows = -sheet.height % BLOCK
    if spare_rows:
        counts = numpy.vstack((counts, numpy.zeros((spare_rows, counts.shape[1]), numpy.uint8)))
    image = Image.fromarray(counts.reshape(-1, BLOCK, counts.shape[1]).sum(axis=1, dtype=numpy.uint8))
    across, down = sheet.width / BLOCK, sheet.height / BLOCK
    if view.turn == 'Plus90':
        # Turned a quarter clockwise: the spare rows come to the left.
        spare = image.height - down
        return image.transpose(Image.Transpose.ROTATE_270), (spare, 0, spare + down, across)
    if view.turn == 'Minus90':
        # Turned a quarter anticlockwise: the spare columns come to the top.
        spare = image.width - across
        return image.transpose(Image.Transpose.ROTATE_90), (0, spare, down, spare + across)
    return image, (0, 0, across, down)


def shrink(image, box):
    width, height = box[2] - box[0], box[3] - box[1]
    return image.resize((WIDTH, max(1, round(height * WIDTH / width))), Image.Resampling.BOX, box=box)


def save(picture, folder, stem):
    name = stem + '.png'
    picture.save(os.path.join(folder, name))
    return name


def page_picture(page, folder, stem):
    """The page in grey with the border's expected outer edges in red: its file name and the
    small grey page, or None when there is no page to show."""
    if not getattr(page, 'measurement', None):
        return None
    blocks, box = ink_blocks(page.view)
    grey = shrink(blocks.point(lambda v: 255 - (v * 255 + 32) // 64), box)
    picture = grey.convert('RGB')
    lay = page.measurement.placement
    scale = WIDTH / page.view.width
    ImageDraw.Draw(picture).rectangle([lay.left * scale, lay.top * scale, lay.right * scale - 1, lay.bottom * scale - 1],
                                      outline=EXPECTED)
    return save(picture, folder, stem), grey


def upright(view):
    """The view's sheet turned upright."""
    if not view.turn:
        return view.sheet
    pixels = numpy.unpackbits(view.sheet.bits, axis=1, count=view.sheet.width)
    return ink_sheet(view.width, view.height, numpy.rot90(pixels, -1 if view.turn == 'Plus90' else 1))


def difference_picture(direct, bitmap, greys, folder, stem):
    """Both pages in light grey, in red the spots where one has ink and the other none; returns
    the picture's file name and the share of the sheet's pixels that differ, or None. greys are
    the two pages' small grey pictures."""
    if not all(getattr(page, 'measurement', None) for page in (direct, bitmap)):
        return None
    one, other = direct.view, bitmap.view
    if (one.width, one.height) != (other.width, other.height):
        return None
    if one.turn == other.turn:
        differ = View(BitSheet(one.sheet.width, one.sheet.height, one.sheet.bits ^ other.sheet.bits), one.turn)
    else:
        differ = View(BitSheet(one.width, one.height, upright(one).bits ^ upright(other).bits))
    share = int(BITS_SET[differ.sheet.bits].sum(dtype=numpy.uint64)) / (one.width * one.height)
    # Ink on either page, from the small pictures: the sheets are not gone over again.
    paper = ImageChops.darker(*greys).point(lambda v: INK_GREY + (PAPER_GREY - INK_GREY) * v // 255)
    blocks, box = ink_blocks(differ)
    marks = shrink(blocks.point(lambda v: (v * 255 + 32) // 64), box).point(lambda v: 255 if v >= MARKED_SHARE else 0)
    faded = ImageChops.subtract(paper, marks)
    picture = Image.merge('RGB', (ImageChops.lighter(paper, marks), faded, faded))
    return save(picture, folder, stem), share
