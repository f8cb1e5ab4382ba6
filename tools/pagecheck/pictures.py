"""Small pictures of printed pages for the report: a page with the border it should have drawn
over it, and where the Direct and Bitmap pages differ."""
import os

from PIL import Image, ImageChops, ImageDraw

# PIL refuses images above some 179 million pixels, a guard against forged files; a Letter sheet
# at 2400 dpi is 269 million.
Image.MAX_IMAGE_PIXELS = None
WIDTH = 360
EXPECTED = (230, 0, 0)
PAPER_GREY = 255
INK_GREY = 150
# A spot of the small picture is marked when this share of its pixels differ (of 255): lines
# a pixel apart stay unmarked, a missing or moved stroke or letter is marked.
MARKED_SHARE = 64


def ink_image(view):
    """The view's ink as 1 and paper as 0, turned upright like the view."""
    sheet = view.sheet
    # On the sheet's own bytes: a page at 600 dpi is 35 MB.
    image = Image.frombuffer('L', (sheet.width, sheet.height), sheet.ink, 'raw', 'L', 0, 1)
    if view.turn == 'Plus90':
        return image.transpose(Image.Transpose.ROTATE_270)
    if view.turn == 'Minus90':
        return image.transpose(Image.Transpose.ROTATE_90)
    return image


def shrink(image):
    return image.resize((WIDTH, max(1, round(image.height * WIDTH / image.width))), Image.Resampling.BOX)


def save(picture, folder, stem):
    name = stem + '.png'
    picture.save(os.path.join(folder, name))
    return name


def page_picture(page, folder, stem):
    """The page in grey with the border's expected outer edges in red: its file name and the
    small grey page, or None when there is no page to show."""
    if not getattr(page, 'measurement', None):
        return None
    ink = ink_image(page.view)
    grey = shrink(ink.point(lambda v: 0 if v else 255))
    picture = grey.convert('RGB')
    lay = page.measurement.placement
    scale = WIDTH / ink.width
    ImageDraw.Draw(picture).rectangle([lay.left * scale, lay.top * scale, lay.right * scale - 1, lay.bottom * scale - 1],
                                      outline=EXPECTED)
    return save(picture, folder, stem), grey


def difference_picture(direct, bitmap, greys, folder, stem):
    """Both pages in light grey, in red the spots where one has ink and the other none; returns
    the picture's file name and the share of the sheet's pixels that differ, or None. greys are
    the two pages' small grey pictures."""
    if not all(getattr(page, 'measurement', None) for page in (direct, bitmap)):
        return None
    one, other = ink_image(direct.view), ink_image(bitmap.view)
    if one.size != other.size:
        return None
    differ = ImageChops.difference(one, other)
    share = differ.histogram()[1] / (one.width * one.height)
    # Ink on either page, from the small pictures: the sheets are not gone over again.
    paper = ImageChops.darker(*greys).point(lambda v: INK_GREY + (PAPER_GREY - INK_GREY) * v // 255)
    marks = shrink(differ.point(lambda v: 255 * v)).point(lambda v: 255 if v >= MARKED_SHARE else 0)
    faded = ImageChops.subtract(paper, marks)
    picture = Image.merge('RGB', (ImageChops.lighter(paper, marks), faded, faded))
    return save(picture, folder, stem), share
