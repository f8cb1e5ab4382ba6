"""Pictures of printed sheets with the truth known, for measuring how well the sheets package finds
and brings on a sheet (scripts/sheet-accuracy.sh and the tests): a real page (a driver's own output, read by the check's readers) put on paper by
a model printer (moved, turned, scaled, cut at its unprintable margins), then scanned on a model
flatbed (anywhere on a dark bed, turned, a small scale error, blur, noise, grey or colour, JPEG,
a shadow along one edge) or photographed with a model camera (tilted, a mildly distorting lens,
uneven light, vignetting, a shadow, a phone's smoothing and sharpening, JPEG or HEIC, the sheet
flat or curled)."""
import lzma
import math
import os
import shutil
import subprocess
from dataclasses import dataclass

import cv2
import numpy as np
from PIL import Image

from ..core.project import ROOT
from ..core.setup import Margins, PageSetup
from ..core.units import MM_PER_INCH, dpi_of
from ..measure.page import Printed, measure_document
from ..measure.placement import Placement
from ..measure.registration import border_points, points_registration
from ..readers.document import Document
from ..sheets.picture import EXIF_IFD, FILM_DIAGONAL_MM, FOCAL_35
from ..sheets.pictured import SHEET_DPI
from ..stack.printers import find_printer

DATA = os.path.join(ROOT, 'tests', 'pagecheck', 'data')
# The real pages kept for the model: the program's page printed through hpcups's DeskJet 5550
# driver, what the driver wrote, in each mode.
PRINTER = 'drv:///hpcups.drv/hp-deskjet_5550.ppd'
PAGES = {'direct': 'hp-deskjet_5550-Letter-portrait-direct.prn.xz',
         'bitmap': 'hp-deskjet_5550-Letter-portrait-bitmap.prn.xz'}
MARGINS = ('1', '1', '1', '1')
# Reflectances: of a printer's black, and the grey a sheet's paper and a dark ground give.
INK = 0.07
PAPER = 235.0


class RealPage:
    """A real page as the readers decode it: the whole sheet in grey (uint8, paper 255, ink 0) at
    dpi; its paper's name and size in mm; its border's edge points as measured."""

    def __init__(self, grey, dpi, paper, size_mm, points):
        self.grey = grey
        self.dpi = dpi
        self.paper = paper
        self.size_mm = size_mm
        self.points = points


def real_page(mode, workdir):
    """The kept page of mode, read as judge-page.sh reads a driver's file: on the paper it names,
    placed as the printer's PPD says, measured with one-inch margins."""
    packed = os.path.join(DATA, PAGES[mode])
    path = os.path.join(workdir, PAGES[mode][:-len('.xz')])
    with lzma.open(packed) as source, open(path, 'wb') as target:
        shutil.copyfileobj(source, target)
    printer = find_printer(PRINTER)
    document = Document(path)
    paper, points = document.paper()
    dpi = dpi_of(printer.resolution)
    printed = Printed(path, media=printer.media(printer.find_paper(paper), dpi), document=document)
    page = measure_document(printed, PageSetup(paper, points, Margins(MARGINS), dpi=dpi), workdir)
    os.remove(path)
    sheet = page.view.sheet
    ink = np.unpackbits(sheet.bits, axis=1, count=sheet.width)
    size_mm = tuple(pixels / dots * MM_PER_INCH for pixels, dots in zip((sheet.width, sheet.height), page.dpi))
    return RealPage(((1 - ink) * 255).astype(np.uint8), page.dpi[0], paper, size_mm, border_points(page.measurement))


def placement(size_mm, dpi=SHEET_DPI):
    width, height = (size / MM_PER_INCH * dpi for size in size_mm)
    return Placement((dpi, dpi), Margins(MARGINS), width, height)


def rotation(degrees):
    turn = math.radians(degrees)
    return np.array([[math.cos(turn), -math.sin(turn)], [math.sin(turn), math.cos(turn)]])


def pixel_affine(matrix, offset, source_mm, target_mm):
    """An affine map in mm (matrix, offset) as one from pixel indices to pixel indices, a pixel's
    middle being at (index + 0.5) pixels."""
    linear = matrix * source_mm / target_mm
    shift = (matrix @ np.array([0.5, 0.5]) * source_mm + offset) / target_mm - 0.5
    return np.hstack([linear, shift[:, None]])


class ModelPrinter:
    """How a printer put the page on its sheet: moved by offset (across, along the feed) in mm,
    turned by skew degrees clockwise and scaled by scale (across, along) percent about the page's
    middle; nothing printed in its unprintable margins (left, top, right, bottom) in mm."""

    def __init__(self, offset=(0.0, 0.0), skew=0.0, scale=(0.0, 0.0), unprintable=(3.2, 3.0, 3.2, 5.0)):
        self.offset = np.array(offset, dtype=float)
        self.skew = skew
        self.scale = scale
        self.unprintable = unprintable

    def matrix(self, size_mm):
        """The map in mm from the page as laid out to where it was printed."""
        middle = np.array(size_mm) / 2
        linear = rotation(self.skew) @ np.diag([1 + self.scale[0] / 100, 1 + self.scale[1] / 100])
        return linear, middle + self.offset - linear @ middle

    def print(self, page):
        """The printed sheet, in grey at the page's resolution."""
        pitch = MM_PER_INCH / page.dpi
        linear, offset = self.matrix(page.size_mm)
        height, width = page.grey.shape
        printed = cv2.warpAffine(page.grey, pixel_affine(linear, offset, pitch, pitch), (width, height),
                                 flags=cv2.INTER_LINEAR, borderValue=255)
        left, top, right, bottom = (round(mm / pitch) for mm in self.unprintable)
        printed[:top], printed[height - bottom:], printed[:, :left], printed[:, width - right:] = 255, 255, 255, 255
        return printed

    def truth(self, page):
        """The Registration of the printed page, its border's measured edges carried by the printer."""
        pitch = MM_PER_INCH / page.dpi
        linear, offset = self.matrix(page.size_mm)
        moved = {side: [tuple((linear @ (np.array(point) * pitch) + offset) / MM_PER_INCH * SHEET_DPI)
                        for point in points] for side, points in page.points.items()}
        return points_registration(moved, placement(page.size_mm))


def saved(image, path, dpi=None, quality=90, exif=None):
    """Writes the picture as its name's format says, with its resolution where given; a HEIC file
    as a phone writes it, HEVC-coded by libheif's heif-enc from a JPEG, its EXIF carried over."""
    options = {}
    if dpi:
        options['dpi'] = (dpi, dpi)
    heic = path.lower().endswith('.heic')
    if heic or path.lower().endswith(('.jpg', '.jpeg')):
        options['quality'] = 95 if heic else quality
    if exif is not None:
        options['exif'] = exif.tobytes()
    image.save(path + '.jpg' if heic else path, **options)
    if heic:
        subprocess.run(['heif-enc', '--quality', str(quality), '--output', path, path + '.jpg'], check=True,
                       capture_output=True)
        os.remove(path + '.jpg')
    return path


def finish(picture, blur, noise, colour, rng):
    """The picture as a sensor gives it: blurred, noisy, 8-bit, grey or in colour."""
    if blur:
        picture = cv2.GaussianBlur(picture, (0, 0), blur)
    if colour:
        tint = np.array([1.0, 0.985, 0.95], dtype=np.float32)
        picture = picture[..., None] * tint + rng.normal(0, noise, picture.shape + (3,)).astype(np.float32)
        return Image.fromarray(np.clip(picture, 0, 255).astype(np.uint8), 'RGB')
    picture = picture + rng.normal(0, noise, picture.shape).astype(np.float32)
    return Image.fromarray(np.clip(picture, 0, 255).astype(np.uint8), 'L')


def phone_processed(image):
    """What a phone does to its photos before saving them: noise smoothed away, then edges
    sharpened."""
    pixels = cv2.bilateralFilter(np.asarray(image), 7, 30, 5).astype(np.float32)
    sharp = pixels + 0.8 * (pixels - cv2.GaussianBlur(pixels, (0, 0), 2.0))
    return Image.fromarray(np.clip(sharp, 0, 255).astype(np.uint8), image.mode)


def ground(shape, level, rng):
    """A dark ground, a little uneven."""
    field = rng.normal(0, 1, (8, 8)).astype(np.float32)
    field = cv2.resize(field, shape[::-1], interpolation=cv2.INTER_CUBIC)
    return level * (1 + 0.1 * field)


@dataclass
class Scanner:
    """A flatbed scan of the sheet at dpi: the sheet turned by angle degrees and laid anywhere on a
    dark bed (place: where its middle is, as shares of the room), the scanner's scale off by scale
    (x, y) percent, blurred by blur pixels, noise of that many grey levels, grey or colour, a
    shadow along one of the sheet's sides ('left', 'top', 'right', 'bottom')."""
    dpi: float = 300
    angle: float = 0.0
    place: tuple = (0.5, 0.5)
    scale: tuple = (0.0, 0.0)
    blur: float = 0.8
    noise: float = 2.0
    colour: bool = False
    shadow: str = None
    dark: float = 40.0
    room: tuple = (30.0, 30.0)

    def scan(self, printed, page, path, rng, quality=90):
        size = np.array(page.size_mm)
        turn = rotation(self.angle)
        corners = (turn @ (np.array([[0, 0], [1, 0], [1, 1], [0, 1]]) * size - size / 2).T).T
        span = corners.max(axis=0) - corners.min(axis=0)
        bed = span + np.array(self.room) + 10
        middle = 5 + span / 2 + np.array(self.place) * self.room
        stretch = np.diag([1 + self.scale[0] / 100, 1 + self.scale[1] / 100])
        linear, offset = stretch @ turn, stretch @ (middle - turn @ size / 2)
        pitch = MM_PER_INCH / self.dpi
        shape = tuple(int(value) for value in np.ceil(stretch @ bed / pitch))
        # The sheet's corners in the scan, clockwise from its top left.
        self.corners = (linear @ (np.array([[0, 0], [1, 0], [1, 1], [0, 1]]) * size).T).T / pitch + offset / pitch - 0.5
        source = MM_PER_INCH / page.dpi
        matrix = pixel_affine(linear, offset, source, pitch)
        smooth = cv2.GaussianBlur(printed, (0, 0), 0.5 * pitch / source)
        seen = cv2.warpAffine(smooth, matrix, shape, flags=cv2.INTER_LINEAR, borderValue=0).astype(np.float32) / 255
        cover = cv2.warpAffine(np.full(printed.shape, 255, np.uint8), matrix, shape, flags=cv2.INTER_LINEAR,
                               borderValue=0).astype(np.float32) / 255
        back = ground(cover.shape, self.dark, rng)
        paper = np.full(cover.shape, PAPER, np.float32)
        if self.shadow:
            index = ('top', 'right', 'bottom', 'left').index(self.shadow)
            ends = (linear @ (np.array([[0, 0], [1, 0], [1, 1], [0, 1]]) * size).T).T + offset
            start, end = ends[index] / pitch - 0.5, ends[(index + 1) % 4] / pitch - 0.5
            along = (end - start) / np.linalg.norm(end - start)
            ys, xs = np.ogrid[0:cover.shape[0], 0:cover.shape[1]]
            # How far outward of the side, in mm: the sheet lies to its right as seen.
            out = ((xs - start[0]) * along[1] - (ys - start[1]) * along[0]).astype(np.float32) * pitch
            back *= 1 - 0.7 * np.exp(-np.maximum(out, 0) / 2.0)
            paper *= 1 - 0.2 * np.exp(np.minimum(out, 0) / 3.0)
        picture = back * (1 - cover) + paper * (INK * cover + (1 - INK) * seen)
        return saved(finish(picture, self.blur, self.noise, self.colour, rng), path, self.dpi, quality)


@dataclass
class Camera:
    """A photo of the sheet lying on a darker surface: a phone's camera (size pixels, focal35 mm in
    35 mm terms) tilted by tilt degrees towards azimuth, turned by roll, the sheet filling fill of
    the frame, a lens distorting by k1, light falling off by light, the corners darkened by
    vignette, part of the sheet in a shadow shade deep, blurred, noisy, smoothed and sharpened by a
    phone, JPEG (or HEIC). A sheet that is not flat has its long edges curled up, a fold across its
    middle or its top left corner up (curl: edges, fold, corner) by lift mm at most."""
    tilt: float = 0.0
    azimuth: float = 0.0
    roll: float = 0.0
    fill: float = 0.8
    k1: float = 0.0
    light: float = 0.0
    blur: float = 1.0
    noise: float = 2.5
    size: tuple = (3024, 4032)
    focal35: float = 26.0
    dark: float = 70.0
    curl: str = None
    lift: float = 0.0
    vignette: float = 0.0
    shade: float = 0.0
    phone: bool = False

    def pose(self):
        """The lens matrix and the camera's turn."""
        width, height = self.size
        focal = self.focal35 / FILM_DIAGONAL_MM * math.hypot(width, height)
        matrix = np.array([[focal, 0, (width - 1) / 2], [0, focal, (height - 1) / 2], [0, 0, 1]])
        axis = np.array([math.cos(math.radians(self.azimuth)), math.sin(math.radians(self.azimuth)), 0.0])
        tilted, _ = cv2.Rodrigues(axis * math.radians(self.tilt))
        rolled, _ = cv2.Rodrigues(np.array([0, 0, math.radians(self.roll)]))
        return matrix, rolled @ tilted

    def homography(self, size_mm, place):
        """The homography from the flat sheet (mm) to the undistorted picture, the sheet's middle at
        place (mm, from the camera along its axes), and the lens matrix."""
        matrix, turn = self.pose()
        centred = np.array([[1, 0, -size_mm[0] / 2], [0, 1, -size_mm[1] / 2], [0, 0, 1]])
        return matrix @ np.column_stack([turn[:, 0], turn[:, 1], place]) @ centred, matrix

    def lifted(self, x, y, size_mm):
        """How far above the desk the sheet lies at (x, y) mm on it; beyond its edges, as high as
        the edge nearest, so that a ray past a lifted edge meets nothing of the sheet."""
        width, height = size_mm
        x, y = np.clip(x, 0, width), np.clip(y, 0, height)
        if self.curl == 'edges':
            return self.lift * (2 * x / width - 1) ** 2
        if self.curl == 'fold':
            return self.lift * (1 - np.abs(2 * y / height - 1))
        if self.curl == 'corner':
            return self.lift * np.clip(1 - np.hypot(x, y) / (0.4 * width), 0, None) ** 2
        return np.zeros_like(x)

    def on_sheet(self, ux, uy, size_mm, place):
        """Where on the sheet, in mm, the rays through the undistorted picture points meet it: on
        the desk's plane, then, where the sheet lies above it, again and again nearer."""
        matrix, turn = self.pose()
        rays = np.linalg.inv(matrix) @ np.stack([ux.ravel(), uy.ravel(), np.ones(ux.size)])
        rays = turn.T @ rays
        eye = -turn.T @ place
        height = np.zeros(ux.size)
        for _ in range(6):
            reach = (-height - eye[2]) / rays[2]
            x = eye[0] + reach * rays[0] + size_mm[0] / 2
            y = eye[1] + reach * rays[1] + size_mm[1] / 2
            height = self.lifted(x, y, size_mm)
        return x.reshape(ux.shape), y.reshape(ux.shape)

    def seen(self, points_mm, size_mm, place):
        """Where the sheet's points (mm, lifted as the sheet lies) come in the picture."""
        matrix, turn = self.pose()
        x, y = points_mm[:, 0], points_mm[:, 1]
        where = turn @ np.stack([x - size_mm[0] / 2, y - size_mm[1] / 2, -self.lifted(x, y, size_mm)]) + \
            place[:, None]
        projected = matrix @ where
        return self.bend((projected[:2] / projected[2]).T, matrix)

    def bend(self, points, matrix):
        """Where the lens puts undistorted points."""
        focal, cx, cy = matrix[0, 0], matrix[0, 2], matrix[1, 2]
        x, y = (points[..., 0] - cx) / focal, (points[..., 1] - cy) / focal
        factor = 1 + self.k1 * (x * x + y * y)
        return np.stack([x * factor * focal + cx, y * factor * focal + cy], axis=-1)

    def straighten(self, points, matrix):
        focal, cx, cy = matrix[0, 0], matrix[0, 2], matrix[1, 2]
        x, y = (points[..., 0] - cx) / focal, (points[..., 1] - cy) / focal
        ux, uy = x, y
        for _ in range(6):
            factor = 1 + self.k1 * (ux * ux + uy * uy)
            ux, uy = x / factor, y / factor
        return ux * focal + cx, uy * focal + cy

    def frame(self, size_mm):
        """The homography and lens matrix that put the sheet at fill of the frame, in its middle,
        and where the sheet's middle is from the camera."""
        corners = np.array([[0, 0, 1], [size_mm[0], 0, 1], [size_mm[0], size_mm[1], 1], [0, size_mm[1], 1]]).T
        place = np.array([0.0, 0.0, 400.0])
        for _ in range(6):
            homography, matrix = self.homography(size_mm, place)
            seen = homography @ corners
            seen = self.bend((seen[:2] / seen[2]).T, matrix)
            extent = max((seen.max(axis=0) - seen.min(axis=0)) / np.array(self.size))
            # Aimed so that the sheet, larger at its near end, sits in the middle of the frame.
            off = (seen.max(axis=0) + seen.min(axis=0)) / 2 - (np.array(self.size) - 1) / 2
            used = place.copy()
            place[:2] -= off * place[2] / matrix[0, 0]
            place[2] *= extent / self.fill
        return homography, matrix, used

    def photograph(self, printed, page, path, rng, quality=90):
        homography, matrix, place = self.frame(page.size_mm)
        width_mm, height_mm = page.size_mm
        self.corners = self.seen(np.array([[0, 0], [width_mm, 0], [width_mm, height_mm], [0, height_mm]], float),
                                 page.size_mm, place)
        inverse = np.linalg.inv(homography)
        width, height = self.size
        source = MM_PER_INCH / page.dpi
        smooth = cv2.GaussianBlur(printed, (0, 0), 1.5)
        ones = np.full(printed.shape, 255, np.uint8)
        picture = np.empty((height, width), np.float32)
        back = ground((height, width), self.dark, rng)
        ys_all = np.arange(height)
        direction = rng.uniform(0, 2 * math.pi)
        # A shadow's edge, soft, across the picture a little off its middle.
        shadow_turn, shadow_at = rng.uniform(0, 2 * math.pi), rng.uniform(-0.2, 0.2)
        for first in range(0, height, 512):
            ys, xs = np.meshgrid(ys_all[first:first + 512], np.arange(width), indexing='ij')
            ux, uy = self.straighten(np.stack([xs, ys], axis=-1).astype(np.float64), matrix)
            if self.lift:
                x_mm, y_mm = self.on_sheet(ux, uy, page.size_mm, place)
                mx, my = (x_mm / source - 0.5).astype(np.float32), (y_mm / source - 0.5).astype(np.float32)
            else:
                w = inverse[2, 0] * ux + inverse[2, 1] * uy + inverse[2, 2]
                mx = ((inverse[0, 0] * ux + inverse[0, 1] * uy + inverse[0, 2]) / w / source - 0.5).astype(np.float32)
                my = ((inverse[1, 0] * ux + inverse[1, 1] * uy + inverse[1, 2]) / w / source - 0.5).astype(np.float32)
            seen = cv2.remap(smooth, mx, my, cv2.INTER_LINEAR, borderValue=0).astype(np.float32) / 255
            cover = cv2.remap(ones, mx, my, cv2.INTER_LINEAR, borderValue=0).astype(np.float32) / 255
            rx, ry = (xs - width / 2) / width, (ys - height / 2) / height
            light = 1 - self.light * (0.5 * (rx * rx + ry * ry) / 0.5 +
                                      0.5 * (0.5 + rx * math.cos(direction) + ry * math.sin(direction)))
            light = light * (1 - self.vignette * (rx * rx + ry * ry) / 0.5)
            if self.shade:
                across = rx * math.cos(shadow_turn) + ry * math.sin(shadow_turn) - shadow_at
                light = light * (1 - self.shade / (1 + np.exp(-across / 0.02)))
            rows = slice(first, first + len(ys))
            picture[rows] = light * (back[rows] * (1 - cover) + PAPER * (INK * cover + (1 - INK) * seen))
        exif = Image.Exif()
        exif[0x011A], exif[0x011B], exif[0x0128] = 72.0, 72.0, 2
        exif[EXIF_IFD] = {FOCAL_35: round(self.focal35), 0x829A: 1 / 60, 0x829D: 1.8, 0x920A: 4.2}
        taken = finish(picture, self.blur, self.noise, True, rng)
        return saved(phone_processed(taken) if self.phone else taken, path, quality=quality, exif=exif)
