"""A picture of a printed sheet as its file holds it: a scan or a photo in PNG, JPEG, TIFF or BMP,
a phone's photo in HEIC (HEIF), or a scanner's PDF whose one page is one image; read as grey, with
the resolution the file gives and what a camera says of its lens."""
import math
import os
import re
import subprocess

import numpy as np
from PIL import Image

from ..readers import ghostscript
from ..readers.base import StreamError

SCAN, PHOTO = 'scan', 'photo'
KINDS = (SCAN, PHOTO)
IMAGE_FORMATS = ('PNG', 'JPEG', 'MPO', 'TIFF', 'BMP')
# EXIF tags only a camera writes: exposure time, f-number, focal length (and in 35 mm terms).
CAMERA_TAGS = (0x829A, 0x829D, 0x920A, 0xA405)
EXIF_IFD, FOCAL_35 = 0x8769, 0xA405
FILM_DIAGONAL_MM = math.hypot(36, 24)
# The brands of an ISO base media file (its ftyp box) that make it a HEIF picture: HEVC-coded
# stills and sequences, and the generic image brands.
HEIF_BRANDS = (b'heic', b'heix', b'hevc', b'hevx', b'heim', b'heis', b'mif1', b'msf1')
HEIF = 'HEIC'


class PictureError(ValueError):
    """A picture that cannot be judged; its text says why in one line."""


class Picture:
    """A picture file read as grey (float32, 0 to 255); dpi its (x, y) resolution where it gives
    one and is not a camera's, focal the lens's focal length in pixels where the file says it."""

    def __init__(self, path, grey, dpi, camera, focal, form):
        self.path = path
        self.grey = grey
        self.dpi = dpi
        self.camera = camera
        self.focal = focal
        self.form = form


def image_dpi(image):
    """The resolution a PNG, JPEG or TIFF file gives, or None."""
    dpi = image.info.get('dpi')
    if not dpi and image.info.get('jfif_unit') == 2:
        dpi = tuple(value * 2.54 for value in image.info['jfif_density'])
    exif = image.getexif()
    if not dpi and 0x011A in exif and 0x011B in exif:
        dpi = (float(exif[0x011A]), float(exif[0x011B]))
        if exif.get(0x0128) == 3:
            dpi = tuple(value * 2.54 for value in dpi)
    if not dpi or min(float(value) for value in dpi) <= 1:
        return None
    # PNG keeps pixels per metre: 300 dpi comes back as 299.9994.
    return tuple(round(float(value), 1) for value in dpi)


def as_grey(image):
    if image.mode in ('I;16', 'I;16B', 'I;16L', 'I'):
        return np.asarray(image, dtype=np.float32) / 257
    if image.mode == 'F':
        return np.asarray(image, dtype=np.float32)
    return np.asarray(image.convert('L'), dtype=np.float32)


def open_image(path):
    """The file as a PIL image when it is a picture format this reads, else None."""
    try:
        image = Image.open(path)
    except (OSError, ValueError):
        return None
    if image.format not in IMAGE_FORMATS:
        image.close()
        return None
    return image


def pdf_image(path):
    """The (width, height) in pixels of the one image a one-page PDF is, and its page's (width,
    height) in points; None for any other PDF."""
    with open(path, 'rb') as file:
        data = file.read()
    if not data.startswith(b'%PDF'):
        return None
    pages = re.findall(rb'/Type\s*/Page(?![s\w])', data)
    images = [found.start() for found in re.finditer(rb'/Subtype\s*/Image', data)]
    box = re.search(rb'/MediaBox\s*\[\s*(-?[\d.]+)\s+(-?[\d.]+)\s+(-?[\d.]+)\s+(-?[\d.]+)\s*\]', data)
    if len(pages) != 1 or len(images) != 1 or not box:
        return None
    start = data.rfind(b'obj', 0, images[0])
    end = data.find(b'stream', images[0])
    fields = data[start:end]
    width, height = (re.search(rb'/%s\s+(\d+)' % name, fields) for name in (b'Width', b'Height'))
    if not (width and height):
        return None
    x0, y0, x1, y1 = (float(value) for value in box.groups())
    return (int(width.group(1)), int(height.group(1))), (x1 - x0, y1 - y0)


def is_heif(path):
    """Whether the file is a HEIF picture, by the brands its first box names."""
    with open(path, 'rb') as file:
        head = file.read(8)
        if len(head) < 8 or head[4:8] != b'ftyp':
            return False
        size = int.from_bytes(head[:4], 'big')
        box = head + file.read(min(max(size, 16), 512) - 8)
    # The major brand, then (past the minor version) the compatible ones.
    brands = [box[8:12]] + [box[at:at + 4] for at in range(16, len(box) - 3, 4)]
    return any(brand in HEIF_BRANDS for brand in brands)


def heif_image(path, workdir):
    """The HEIF picture decoded by libheif's heif-convert, turned and mirrored as its file says
    (HEIF's own transforms, which an EXIF orientation tag only repeats), and its EXIF; PictureError
    when it cannot be decoded."""
    decoded = os.path.join(workdir, 'heif-picture.png')
    exif_file = os.path.join(workdir, 'heif-picture.exif')
    try:
        done = subprocess.run(['heif-convert', '--quiet', '--with-exif', path, decoded], capture_output=True,
                              text=True, errors='replace', stdin=subprocess.DEVNULL, timeout=600)
    except FileNotFoundError:
        raise PictureError('HEIC picture could not be decoded: heif-convert is not installed '
                           '(scripts/install-deps.sh judge installs it)') from None
    try:
        said = [line.strip() for line in (done.stderr + done.stdout).splitlines() if line.strip()]
        if done.returncode or not os.path.exists(decoded):
            raise PictureError('HEIC picture could not be decoded: ' +
                               (said[-1] if said else f'heif-convert ended with status {done.returncode}'))
        exif = Image.Exif()
        if os.path.exists(exif_file):
            with open(exif_file, 'rb') as saved:
                data = saved.read()
            # The block begins with the offset of its TIFF header, which comes next.
            starts = [at for at in (data.find(b'MM\0*'), data.find(b'II*\0')) if at >= 0]
            if starts:
                exif.load(data[min(starts):])
        image = Image.open(decoded)
        image.load()
        return image, exif
    finally:
        for made in (decoded, exif_file):
            if os.path.exists(made):
                os.remove(made)


def is_picture(path):
    """'image' for a PNG, JPEG, TIFF, BMP or HEIF file, 'PDF' for a PDF whose one page is one
    image, else None."""
    image = open_image(path)
    if image:
        image.close()
        return 'image'
    if is_heif(path):
        return 'image'
    return 'PDF' if pdf_image(path) else None


def photo_or_scan(path, image, exif, grey, form):
    """The Picture of a decoded image: a photo where its EXIF names a camera's exposure or lens."""
    taken = exif.get_ifd(EXIF_IFD)
    camera = any(tag in taken for tag in CAMERA_TAGS)
    focal = taken.get(FOCAL_35)
    focal = float(focal) / FILM_DIAGONAL_MM * math.hypot(*grey.shape) if focal else None
    return Picture(path, grey, None if camera else image_dpi(image), camera, focal, form)


def read_picture(path, workdir):
    """The file as a Picture; PictureError when it is no picture this reads."""
    image = open_image(path)
    if image:
        with image:
            try:
                exif = image.getexif()
                grey = as_grey(image)
            except OSError as problem:
                raise PictureError(f'the {image.format} picture is cut short or damaged: {problem}') from None
            return photo_or_scan(path, image, exif, grey, image.format)
    if is_heif(path):
        image, exif = heif_image(path, workdir)
        with image:
            return photo_or_scan(path, image, exif, as_grey(image), HEIF)
    found = pdf_image(path)
    if not found:
        raise PictureError('neither a PNG, JPEG, TIFF, BMP or HEIC picture nor a PDF whose one page is one image')
    (width, height), (page_width, page_height) = found
    # Rendered at the image's own resolution: pixel for pixel.
    dpi = (round(width * 72 / page_width, 3), round(height * 72 / page_height, 3))
    try:
        files = ghostscript.rasterize(path, dpi, workdir)
    except StreamError as problem:
        raise PictureError(f'not a readable PDF: {problem}') from None
    with Image.open(files[0]) as page:
        grey = as_grey(page)
    for file in files:
        os.remove(file)
    return Picture(path, grey, dpi, False, None, 'PDF')
