"""Where the sheet lies in the picture: a scan's rotation, offset and scale, or a photo's
perspective and its lens's distortion; and the picture brought onto the sheet with it."""
import math

import cv2
import numpy as np

from .outline import Side
from .picture import SCAN
from ..core.units import MM_PER_INCH

# Background that bleeds in along the sheet's edges, at most a pixel and the blur, is paper.
EDGE_BAND_MM = 0.5
STRIP = 512


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
