"""Pictures of a printed sheet, a scan or a photo: the sheet found against its background, its
edges fitted to a fraction of a pixel, and the picture brought onto the sheet as the readers hand
a page back: the whole sheet in 8-bit grey at SHEET_DPI, paper 255 and ink 0, measured by the
project's one measuring code."""
import math
import os
import re

import cv2
import numpy as np
from PIL import Image, ImageDraw

from .measure import Measurement, Placement
from .printers import UsageError
from .registration import registration, told_mode
from .sheet import View, ink_sheet, render
from .verdict import MM_PER_INCH

SCAN, PHOTO = 'scan', 'photo'
KINDS = (SCAN, PHOTO)
# Fine enough that the interpolated picture, thresholded, puts an edge within a fraction of a
# 300-dpi pixel; and one resolution for every picture, so that a Direct and a Bitmap picture
# compare pixel for pixel.
SHEET_DPI = 600
# Common papers (width, height) in mm, in the order a tie in proportions is settled: A5, A3 and
# B5 have A4's.
PAPERS = {'Letter': (215.9, 279.4), 'A4': (210.0, 297.0), 'Legal': (215.9, 355.6), 'Tabloid': (279.4, 431.8),
          'Executive': (184.15, 266.7), 'A3': (297.0, 420.0), 'A5': (148.0, 210.0), 'B5': (182.0, 257.0)}
# How far a scan's measured size, or a photo's proportions, may lie from a paper's.
SIZE_SLACK = 0.015
SAME_PROPORTIONS = 0.005
IMAGE_FORMATS = ('PNG', 'JPEG', 'MPO', 'TIFF', 'BMP')
# EXIF tags only a camera writes: exposure time, f-number, focal length (and in 35 mm terms).
CAMERA_TAGS = (0x829A, 0x829D, 0x920A, 0xA405)
EXIF_IFD, FOCAL_35 = 0x8769, 0xA405
FILM_DIAGONAL_MM = math.hypot(36, 24)
# A phone's main camera is some 26 mm in 35 mm terms, where the file does not say.
DEFAULT_FOCAL_35 = 26
# The sheet is first found on a picture this many pixels along its longer side.
COARSE = 1000
MIN_CONTRAST = 25
MIN_SHARE = 0.05
SAMPLES = 120
# The least tolerance a picture is judged to: what the sheet's finding and bringing on allow, as
# measured by sheet-accuracy.sh, with room for the printer's own pixel.
SCAN_TOLERANCE_MM = 0.25
PHOTO_TOLERANCE_MM = 0.75
# A picture's pixel on the sheet may be at most this share of the tolerance.
PIXEL_SHARE = 0.4
# An edge spread wider than this (10 to 90 % of its rise) is too blurred to judge.
BLUR_MM = 1.0
RISE = 2.563
# Background that bleeds in along the sheet's edges, at most a pixel and the blur, is paper.
EDGE_BAND_MM = 0.5
STRIP = 512
GAP = 8


LIGHT = ('no sheet found against the background: the picture is as light as paper to its edges (scan with the lid '
         'open or a dark sheet behind the page; photograph it on a darker surface)')
NOTHING = 'no sheet found: nothing in the picture stands out as a light sheet on a darker ground'
FOLDED = 'no sheet found: the light area is not four-sided (a corner folded or covered?)'


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


def is_picture(path):
    """'image' for a PNG, JPEG, TIFF or BMP file, 'PDF' for a PDF whose one page is one image, else
    None."""
    image = open_image(path)
    if image:
        image.close()
        return 'image'
    return 'PDF' if pdf_image(path) else None


def read_picture(path, workdir):
    """The file as a Picture; PictureError when it is no picture this reads."""
    image = open_image(path)
    if image:
        with image:
            exif = image.getexif()
            taken = exif.get_ifd(EXIF_IFD)
            camera = any(tag in taken for tag in CAMERA_TAGS)
            grey = as_grey(image)
            focal = taken.get(FOCAL_35)
            focal = float(focal) / FILM_DIAGONAL_MM * math.hypot(*grey.shape) if focal else None
            return Picture(path, grey, None if camera else image_dpi(image), camera, focal, image.format)
    found = pdf_image(path)
    if not found:
        raise PictureError('neither a PNG, JPEG, TIFF or BMP picture nor a PDF whose one page is one image')
    (width, height), (page_width, page_height) = found
    # Rendered at the image's own resolution: pixel for pixel.
    dpi = (round(width * 72 / page_width, 3), round(height * 72 / page_height, 3))
    files = render(path, dpi, workdir)
    with Image.open(files[0]) as page:
        grey = as_grey(page)
    for file in files:
        os.remove(file)
    return Picture(path, grey, dpi, False, None, 'PDF')


class Side:
    """A side of the sheet: the edge points found along it and the line fitted to them, as a
    point on it and its unit direction."""

    def __init__(self, points):
        self.points = points
        self.fit()

    def fit(self, points=None):
        points = self.points if points is None else points
        keep = np.ones(len(points), bool)
        for _ in range(3):
            centre = points[keep].mean(axis=0)
            _, _, axes = np.linalg.svd(points[keep] - centre)
            residual = (points - centre) @ axes[1]
            spread = 1.4826 * np.median(np.abs(residual[keep]))
            keep = np.abs(residual) <= 3 * spread + 0.25
        self.centre, self.direction = centre, axes[0]
        self.residual = float(np.sqrt(np.mean(residual[keep] ** 2)))
        return self


def crossing(one, other):
    """Where two Sides' lines cross."""
    matrix = np.array([one.direction, -other.direction]).T
    along = np.linalg.solve(matrix, other.centre - one.centre)
    return one.centre + along[0] * one.direction


def coarse_outline(grey):
    """The sheet's four corners, roughly, clockwise as seen from the one nearest the picture's top
    left; the coarse picture's pixel in picture pixels; paper's and background's grey."""
    height, width = grey.shape
    step = max(1.0, max(height, width) / COARSE)
    small = cv2.resize(grey, (max(1, round(width / step)), max(1, round(height / step))), interpolation=cv2.INTER_AREA)
    small = cv2.GaussianBlur(small, (0, 0), 1.5)
    low, high = np.percentile(small, (1, 99))
    if high - low < MIN_CONTRAST:
        raise PictureError(LIGHT if low >= 128 else NOTHING)
    _, bright = cv2.threshold(np.clip(small, 0, 255).astype(np.uint8), 0, 255, cv2.THRESH_BINARY | cv2.THRESH_OTSU)
    contours, _ = cv2.findContours(bright, cv2.RETR_EXTERNAL, cv2.CHAIN_APPROX_NONE)
    outline = max(contours, key=cv2.contourArea) if contours else None
    rows, columns = small.shape
    x, y, w, h = cv2.boundingRect(outline) if outline is not None else (0, 0, columns, rows)
    touches = [name for name, hit in (('left', x <= 1), ('top', y <= 1), ('right', x + w >= columns - 1),
                                      ('bottom', y + h >= rows - 1)) if hit]
    if len(touches) == 4 and np.median(small) >= 128:
        raise PictureError(LIGHT)
    if outline is None or cv2.contourArea(outline) < MIN_SHARE * rows * columns:
        raise PictureError(NOTHING)
    paper = float(np.median(small[bright > 0]))
    ground = float(np.median(small[bright == 0])) if len(touches) < 4 else paper
    if paper - ground < MIN_CONTRAST:
        raise PictureError(NOTHING)
    if touches:
        raise PictureError(f'the sheet is cut off at the picture\'s {" and ".join(touches)} edge: leave some '
                           'background all round it')
    hull = cv2.convexHull(outline)
    perimeter = cv2.arcLength(hull, True)
    for share in (0.01, 0.02, 0.03, 0.05):
        quad = cv2.approxPolyDP(hull, share * perimeter, True)
        if len(quad) == 4:
            break
    else:
        raise PictureError(FOLDED)
    if cv2.contourArea(quad) < 0.97 * cv2.contourArea(hull):
        raise PictureError(FOLDED)
    corners = (quad.reshape(4, 2).astype(np.float64) + 0.5) * step - 0.5
    centre = corners.mean(axis=0)
    corners = corners[np.argsort(np.arctan2(corners[:, 1] - centre[1], corners[:, 0] - centre[0]))]
    return np.roll(corners, -int(np.argmin(corners.sum(axis=1))), axis=0), step, paper, ground


def edge_points(grey, start, end, outward, reach, contrast):
    """Points of the sheet's edge between two corners: along lines across it, where the grey falls
    fastest from paper to background, to a fraction of a pixel."""
    along = np.linspace(0.05, 0.95, SAMPLES)[:, None, None]
    across = np.arange(-reach, reach + 1, dtype=np.float64)[None, :, None]
    places = start + along * (end - start) + across * outward
    profile = cv2.remap(grey, places[..., 0].astype(np.float32), places[..., 1].astype(np.float32), cv2.INTER_LINEAR,
                        borderMode=cv2.BORDER_REPLICATE)
    fall = profile[:, :-1] - profile[:, 1:]
    peak = np.argmax(fall[:, 1:-1], axis=1) + 1
    lines = np.arange(len(peak))
    before, at, after = fall[lines, peak - 1], fall[lines, peak], fall[lines, peak + 1]
    curve = before - 2 * at + after
    shift = np.clip(np.where(curve < 0, (before - after) / (2 * np.where(curve < 0, curve, -1)), 0), -0.5, 0.5)
    offset = across[0, :, 0][peak] + 0.5 + shift
    strong = at > 0.02 * contrast
    return (start + along[:, 0] * (end - start) + offset[:, None] * outward)[strong]


def find_sides(grey, corners, step, contrast):
    """The sheet's four Sides, each found twice: along the coarse outline, then along its fitted
    line, nearer."""
    smooth = cv2.GaussianBlur(grey, (0, 0), 1.0)
    centre = corners.mean(axis=0)
    for reach in (int(3 * step) + 6, 6):
        sides = []
        for index in range(4):
            start, end = corners[index], corners[(index + 1) % 4]
            direction = (end - start) / np.linalg.norm(end - start)
            outward = np.array([direction[1], -direction[0]])
            if outward @ ((start + end) / 2 - centre) < 0:
                outward = -outward
            points = edge_points(smooth, start, end, outward, reach, contrast)
            if len(points) < SAMPLES / 3:
                raise PictureError('no sheet found: its edges are lost in the background along a side')
            sides.append(Side(points))
        corners = np.array([crossing(sides[index - 1], sides[index]) for index in range(4)])
    return sides, corners


class Lens:
    """A camera's lens: its focal length and one radial distortion term about the picture's
    middle, as OpenCV models them."""

    def __init__(self, size, focal, k1=0.0):
        width, height = size
        self.matrix = np.array([[focal, 0, (width - 1) / 2], [0, focal, (height - 1) / 2], [0, 0, 1]], dtype=np.float64)
        self.k1 = k1

    @property
    def distortion(self):
        return np.array([self.k1, 0, 0, 0], dtype=np.float64)

    def straighten(self, points):
        """Picture points as an undistorted lens would have put them."""
        if not self.k1:
            return points
        shaped = points.reshape(-1, 1, 2).astype(np.float64)
        return cv2.undistortPoints(shaped, self.matrix, self.distortion, P=self.matrix).reshape(-1, 2)

    def bend(self, points):
        """Undistorted points where the lens puts them."""
        if not self.k1:
            return points
        focal, cx, cy = self.matrix[0, 0], self.matrix[0, 2], self.matrix[1, 2]
        x, y = (points[..., 0] - cx) / focal, (points[..., 1] - cy) / focal
        factor = 1 + self.k1 * (x * x + y * y)
        return np.stack([x * factor * focal + cx, y * factor * focal + cy], axis=-1)


def fit_lens(sides, size, focal):
    """The Lens whose distortion makes the sheet's sides straightest (the plumb-line method)."""
    def bent(k1):
        lens = Lens(size, focal, k1)
        return sum(Side(lens.straighten(side.points)).residual ** 2 for side in sides)
    low, high = -0.25, 0.25
    grid = np.linspace(low, high, 21)
    best = grid[int(np.argmin([bent(k1) for k1 in grid]))]
    low, high = best - 0.025, best + 0.025
    golden = (math.sqrt(5) - 1) / 2
    for _ in range(24):
        one, other = high - golden * (high - low), low + golden * (high - low)
        if bent(one) < bent(other):
            high = other
        else:
            low = one
    return Lens(size, focal, (low + high) / 2)


class Mapping:
    """Where a point of the sheet (x, y in mm from its top left corner, upright) lies in the
    picture: an affine map for a scan, a homography and a lens for a photo."""

    def __init__(self, corners, size_mm, kind, lens=None):
        self.corners = corners
        self.size_mm = size_mm
        self.kind = kind
        self.lens = lens
        width, height = size_mm
        if kind == SCAN:
            self.matrix = scan_matrix(corners, size_mm)
        else:
            sheet = np.array([[0, 0], [width, 0], [width, height], [0, height]], np.float32)
            self.matrix = cv2.getPerspectiveTransform(sheet, corners.astype(np.float32)).astype(np.float64)

    def __call__(self, x, y):
        m = self.matrix
        if self.kind == SCAN:
            return np.stack([m[0, 0] * x + m[0, 1] * y + m[0, 2], m[1, 0] * x + m[1, 1] * y + m[1, 2]], axis=-1)
        w = m[2, 0] * x + m[2, 1] * y + m[2, 2]
        flat = np.stack([(m[0, 0] * x + m[0, 1] * y + m[0, 2]) / w, (m[1, 0] * x + m[1, 1] * y + m[1, 2]) / w], axis=-1)
        return self.lens.bend(flat)

    def pixel_mm(self):
        """The picture's coarsest pixel on the sheet, in mm: along its shortest side."""
        sides = [np.linalg.norm(self.corners[(i + 1) % 4] - self.corners[i]) for i in range(4)]
        width, height = self.size_mm
        return max(width / min(sides[0], sides[2]), height / min(sides[1], sides[3]))


def scan_matrix(corners, size_mm):
    """A scan's map from the sheet to the picture: a rotation, an offset, and the scale the sheet's
    own size gives along each of its sides."""
    top, right, bottom, left = (corners[(i + 1) % 4] - corners[i] for i in range(4))
    turns = [top, -bottom, np.array([-left[1], left[0]]), np.array([right[1], -right[0]])]
    angle = math.atan2(sum(v[1] / np.linalg.norm(v) for v in turns), sum(v[0] / np.linalg.norm(v) for v in turns))
    u, v = np.array([math.cos(angle), math.sin(angle)]), np.array([-math.sin(angle), math.cos(angle)])
    first, last = (corners[0] @ u + corners[3] @ u) / 2, (corners[1] @ u + corners[2] @ u) / 2
    high, low = (corners[0] @ v + corners[1] @ v) / 2, (corners[3] @ v + corners[2] @ v) / 2
    width, height = size_mm
    across, down = u * (last - first) / width, v * (low - high) / height
    origin = u * first + v * high
    return np.array([[across[0], down[0], origin[0]], [across[1], down[1], origin[1]]])


def flattened(grey, corners, pixel_mm):
    """The picture with paper 255 and ink 0 however the light fell: each pixel against the
    paper's brightness about it (its brightest within a few mm, where no stroke of the page is
    as wide), and the ink's darkness across the sheet taken as one."""
    height, width = grey.shape
    shrink = max(1.0, 1 / pixel_mm)
    small = cv2.resize(grey, (max(1, round(width / shrink)), max(1, round(height / shrink))), interpolation=cv2.INTER_AREA)
    paper = cv2.dilate(small, cv2.getStructuringElement(cv2.MORPH_ELLIPSE, (7, 7)))
    paper = cv2.GaussianBlur(paper, (0, 0), 4)
    inside = np.zeros(small.shape, np.uint8)
    cv2.fillPoly(inside, [np.round((corners + 0.5) / shrink - 0.5).astype(np.int32)], 1)
    inside = cv2.erode(inside, np.ones((9, 9), np.uint8)) > 0
    paper = cv2.resize(paper, (width, height), interpolation=cv2.INTER_LINEAR)
    ratio = grey / np.maximum(paper, 1)
    step = max(1, int(shrink))
    sample = ratio[::step, ::step][:inside.shape[0], :inside.shape[1]]
    within = cv2.resize(inside.astype(np.uint8), (sample.shape[1], sample.shape[0]), interpolation=cv2.INTER_NEAREST) > 0
    dark = sample[within & (sample < 0.5)]
    ink = float(np.median(dark)) if dark.size else 0.0
    return np.clip((ratio - ink) / (1 - ink) * 255, 0, 255).astype(np.float32)


def bring_on(flat, mapping, size_mm, dpi, picture_mm):
    """The sheet as the picture shows it, upright, at dpi, paper 255 and ink 0: each pixel's middle
    looked up in the picture; a band along the edges, where background may bleed in, is paper."""
    width, height = (round(size * dpi / MM_PER_INCH) for size in size_mm)
    pitch = MM_PER_INCH / dpi
    if picture_mm < pitch:
        flat = cv2.GaussianBlur(flat, (0, 0), 0.5 * pitch / picture_mm)
    sheet = np.empty((height, width), np.uint8)
    xs = (np.arange(width) + 0.5) * pitch
    for first in range(0, height, STRIP):
        last = min(height, first + STRIP)
        places = mapping(*np.meshgrid(xs, (np.arange(first, last) + 0.5) * pitch)).astype(np.float32)
        sheet[first:last] = np.clip(cv2.remap(flat, places[..., 0], places[..., 1], cv2.INTER_LINEAR,
                                              borderMode=cv2.BORDER_CONSTANT, borderValue=255), 0, 255)
    band = max(1, round(EDGE_BAND_MM / pitch))
    sheet[:band], sheet[-band:], sheet[:, :band], sheet[:, -band:] = 255, 255, 255, 255
    return sheet


def upside_down(flat, mapping, size_mm, margins_mm):
    """Whether the page stands on its head as mapped: the dots of the caption's i's stand above
    its letters (and of its colon one above, one below)."""
    dpi = 150
    sheet = bring_on(flat, mapping, size_mm, dpi, MM_PER_INCH / dpi)
    scale = dpi / MM_PER_INCH
    left, top, right, bottom = margins_mm
    em = 48 / 72 * dpi
    middle = (top + (size_mm[1] - bottom)) / 2 * scale
    rows = slice(max(0, int(middle - 0.6 * em)), int(middle + 0.6 * em))
    columns = slice(int((left + 4) * scale), int((size_mm[0] - right - 4) * scale))
    band = (sheet[rows, columns] < 128).astype(np.uint8)
    count, _, stats, centres = cv2.connectedComponentsWithStats(band)
    parts = [(stats[i], centres[i]) for i in range(1, count)
             if stats[i][cv2.CC_STAT_TOP] > 0 and stats[i][cv2.CC_STAT_TOP] + stats[i][cv2.CC_STAT_HEIGHT] < band.shape[0]]
    dots = [centre for stat, centre in parts if stat[cv2.CC_STAT_HEIGHT] < 0.2 * em and stat[cv2.CC_STAT_WIDTH] < 0.2 * em
            and stat[cv2.CC_STAT_AREA] > 0.002 * em * em]
    letters = [stat for stat, _ in parts if stat[cv2.CC_STAT_HEIGHT] >= 0.4 * em]
    if not letters or not dots:
        return False
    high = min(stat[cv2.CC_STAT_TOP] for stat in letters)
    low = max(stat[cv2.CC_STAT_TOP] + stat[cv2.CC_STAT_HEIGHT] for stat in letters)
    above = sum(centre[1] < (high + low) / 2 for centre in dots)
    return above < len(dots) - above


def paper_of(size_mm, proportions_only):
    """The common paper a sheet of size_mm is (a photo's: of its proportions), or None."""
    def off(paper):
        width, height = PAPERS[paper]
        if proportions_only:
            return abs(size_mm[1] / size_mm[0] / (height / width) - 1)
        return max(abs(size_mm[0] / width - 1), abs(size_mm[1] / height - 1))
    near = [paper for paper in PAPERS if off(paper) <= SIZE_SLACK]
    if not near:
        return None
    best = min(off(paper) for paper in near)
    return next(paper for paper in near if off(paper) <= best + SAME_PROPORTIONS)


def photo_proportions(corners, lens):
    """A photographed rectangle's height over its width: from the homography of its corners and the
    lens's focal length (Zhang and He's whiteboard method)."""
    focal, cx, cy = lens.matrix[0, 0], lens.matrix[0, 2], lens.matrix[1, 2]
    square = np.array([[0, 0], [1, 0], [1, 1], [0, 1]], np.float32)
    h = cv2.getPerspectiveTransform(square, (corners - [cx, cy]).astype(np.float32))
    weight = np.diag([1 / focal ** 2, 1 / focal ** 2, 1.0])
    return math.sqrt((h[:, 1] @ weight @ h[:, 1]) / (h[:, 0] @ weight @ h[:, 0]))


def is_rectangle(corners, dpi):
    """Whether a scan's sheet is a rectangle at its resolution: square corners, opposite sides
    alike (a photo's is not)."""
    points = corners / np.array(dpi)
    sides = [points[(i + 1) % 4] - points[i] for i in range(4)]
    square = all(abs(sides[i] @ sides[(i + 1) % 4]) / np.linalg.norm(sides[i]) / np.linalg.norm(sides[(i + 1) % 4])
                 < math.sin(math.radians(0.5)) for i in range(4))
    alike = all(abs(np.linalg.norm(sides[i]) / np.linalg.norm(sides[i + 2]) - 1) < 0.01 for i in range(2))
    return square and alike


def blur_mm(sheet, m):
    """How wide the border's outer edges are spread, from 10 to 90 % of their rise, in mm: from
    the steepest fall of the grey across them on the sheet brought on; 0 where none was found."""
    lay = m.placement
    widths = []
    for fraction, left in zip(m.FRACTIONS, m.left):
        row = sheet[m.clear_of_text(int(lay.top + fraction * (lay.bottom - lay.top))),
                    max(0, left - 60):left + 60].astype(np.float32)
        steepest = float(np.max(row[:-1] - row[1:])) if row.size > 1 else 0.0
        if steepest > 0:
            widths.append(RISE * 255 / (math.sqrt(2 * math.pi) * steepest))
    return np.median(widths) / lay.dpi_x * MM_PER_INCH if widths else 0.0


class PicturedPage:
    """A picture of a printed sheet brought onto the sheet and measured, as the report takes a
    printed page: what PrintedPage has for a file, and the picture's kind, the paper, the
    tolerance it is judged to, the Registration, the mode its text line reads and a small picture
    of the sheet as found."""

    def __init__(self, path):
        self.job = None
        self.document = path
        self.measured = None
        self.driver_output = None
        self.handed = None
        self.assumed = None
        self.unreadable = None
        self.untitled = True
        self.language = None
        self.title = None
        self.pages = 1
        self.dpi = (SHEET_DPI, SHEET_DPI)
        self.sheet_size = None
        self.view = None
        self.measurement = None
        self.picture = None
        self.kind = None
        self.paper = None
        self.tolerance = None
        self.registration = None
        self.mode = None
        self.words = []
        self.found = None
        self.said = ''


def picture_kind(picture, corners, kind):
    """scan or photo: as asked, else a scan where the file gives a resolution and no camera made
    it and its sheet is a rectangle there."""
    if kind:
        return kind
    return SCAN if picture.dpi and not picture.camera and is_rectangle(corners, picture.dpi) else PHOTO


def found_picture(picture, corners):
    """The picture, small, with the sheet's outline as found drawn over it."""
    height, width = picture.grey.shape
    scale = 360 / max(width, height)
    small = cv2.resize(picture.grey, (max(1, round(width * scale)), max(1, round(height * scale))),
                       interpolation=cv2.INTER_AREA)
    image = Image.fromarray(np.clip(small, 0, 255).astype(np.uint8)).convert('RGB')
    outline = [tuple((corner + 0.5) * scale - 0.5) for corner in corners]
    ImageDraw.Draw(image).line(outline + outline[:1], fill=(0, 200, 0), width=2)
    return image


def read_sheet(path, workdir, margins, metric, tolerance, kind=None, dpi=None, paper=None):
    """The picture in path brought onto its sheet and measured, as a PicturedPage; PictureError
    says why it cannot be judged. kind is scan or photo (default: told from the file), dpi a
    scan's resolution where the file gives none, paper the name of the paper and its (width,
    height) in points, else recognised from the sheet."""
    picture = read_picture(path, workdir)
    if dpi:
        picture.dpi = (dpi, dpi)
    if picture.dpi and picture.dpi[0] != picture.dpi[1]:
        height, width = picture.grey.shape
        picture.grey = cv2.resize(picture.grey, (width, round(height * picture.dpi[0] / picture.dpi[1])),
                                  interpolation=cv2.INTER_LINEAR)
        picture.dpi = (picture.dpi[0], picture.dpi[0])
    corners, step, level, ground = coarse_outline(picture.grey)
    sides, corners = find_sides(picture.grey, corners, step, level - ground)
    kind = picture_kind(picture, corners, kind)
    if kind == SCAN and not picture.dpi:
        raise UsageError(f'{path}: a scan whose file gives no resolution: give --dpi')
    page = PicturedPage(path)
    page.picture = kind
    page.kind = f'{picture.form} {kind}'
    size = picture.grey.shape[::-1]
    lens = None
    if kind == PHOTO:
        focal = picture.focal or DEFAULT_FOCAL_35 / FILM_DIAGONAL_MM * math.hypot(*size)
        lens = fit_lens(sides, size, focal)
        straight = [side.fit(lens.straighten(side.points)) for side in sides]
        corners = np.array([crossing(straight[index - 1], straight[index]) for index in range(4)])
    page.found = found_picture(picture, lens.bend(corners) if lens else corners)
    # Upright: the sheet's top is one of its shorter sides.
    if kind == SCAN:
        measured = [np.linalg.norm(corners[(i + 1) % 4] - corners[i]) / picture.dpi[0] * MM_PER_INCH for i in range(4)]
        turn = 0 if measured[0] + measured[2] <= measured[1] + measured[3] else 1
        corners = np.roll(corners, -turn, axis=0)
        measured = np.roll(measured, -turn)
        size_mm = ((measured[0] + measured[2]) / 2, (measured[1] + measured[3]) / 2)
        said = f'{size_mm[0]:.1f} x {size_mm[1]:.1f} mm at the {"file" if not dpi else "given"}\'s ' \
               f'{picture.dpi[0]:g} dpi'
    else:
        proportions = photo_proportions(corners, lens)
        turn = 0 if proportions >= 1 else 1
        corners = np.roll(corners, -turn, axis=0)
        proportions = proportions if turn == 0 else 1 / proportions
        size_mm = (1.0, proportions)
        said = f'proportions {proportions:.3f}'
    if paper:
        name, points = paper
        paper_mm = tuple(value / 72 * MM_PER_INCH for value in points)
        if kind == SCAN and max(abs(a / b - 1) for a, b in zip(size_mm, paper_mm)) > 3 * SIZE_SLACK:
            raise UsageError(f'{path}: the sheet measures {said}, not {name} ({paper_mm[0]:g} x {paper_mm[1]:g} mm): '
                               'check --paper and --dpi')
    else:
        name = paper_of(size_mm, kind == PHOTO)
        if not name:
            raise UsageError(f'{path}: the sheet ({said}) is no common paper: give --paper')
        paper_mm = PAPERS[name]
        points = tuple(value / MM_PER_INCH * 72 for value in paper_mm)
    page.paper = (name, points)
    mapping = Mapping(corners, paper_mm, kind, lens)
    picture_mm = mapping.pixel_mm()
    page.tolerance = max(tolerance, SCAN_TOLERANCE_MM if kind == SCAN else PHOTO_TOLERANCE_MM)
    if picture_mm > PIXEL_SHARE * page.tolerance:
        raise PictureError(f'too small a resolution: a pixel of the picture is {picture_mm:.2f} mm on the sheet, '
                           f'too coarse for a {page.tolerance:g} mm tolerance ({"scan at 300 dpi" if kind == SCAN else "come closer"}, '
                           f'or give --tolerance {picture_mm / PIXEL_SHARE:.2f})')
    flat = flattened(picture.grey, lens.bend(corners) if lens else corners, picture_mm)
    unit = MM_PER_INCH if metric else 1
    margins_mm = [float(text) * MM_PER_INCH / unit for text in margins]
    if upside_down(flat, mapping, paper_mm, margins_mm):
        corners = np.roll(corners, 2, axis=0)
        mapping = Mapping(corners, paper_mm, kind, lens)
    sheet = bring_on(flat, mapping, paper_mm, SHEET_DPI, picture_mm)
    del flat
    page.view = View(ink_sheet(sheet.shape[1], sheet.shape[0], sheet < 128))
    page.sheet_size = (page.view.width, page.view.height)
    width, height = (value * SHEET_DPI / 72 for value in points)
    m = Measurement(page.view, Placement(page.dpi, margins, metric, width, height))
    page.measurement = m
    spread = blur_mm(sheet, m)
    if spread > BLUR_MM:
        raise PictureError(f'too blurred: the border\'s edges are spread over {spread:.1f} mm (hold the camera still, '
                           'focus on the sheet, keep it flat on the glass)')
    if sum(len(found) == len(m.FRACTIONS) for found in m.edges().values()) < 3 or not m.text:
        raise PictureError('not the test page: no border at the sheet\'s margins and text line across its middle')
    page.registration = registration(m)
    page.mode, page.words = told_mode(m)
    page.said = said
    return page


def report_picture(page, folder, name):
    """The report's picture of a pictured page: the picture as taken with the sheet's outline as
    found, beside the page picture already saved as name (the page brought onto the sheet, the
    red frame where the border belongs), saved over it."""
    path = os.path.join(folder, name)
    with Image.open(path) as brought:
        brought = brought.convert('RGB')
    found = page.found
    # On grey, so that the white sheet's edges show.
    both = Image.new('RGB', (found.width + brought.width + 3 * GAP, max(found.height, brought.height) + 2 * GAP),
                     (160, 160, 160))
    both.paste(found, (GAP, GAP))
    both.paste(brought, (found.width + 2 * GAP, GAP))
    both.save(path)
    return name
