"""The sheet found in a picture: its outline against a darker background, roughly, then each of
its sides fitted to the points where the grey falls from paper to background, to a fraction of a
pixel."""
import math

import cv2
import numpy as np

from .picture import PictureError

# The sheet is first found on a picture this many pixels along its longer side.
COARSE = 1000
MIN_CONTRAST = 25
MIN_SHARE = 0.05
SAMPLES = 120
LIGHT = ('no sheet found against the background: the picture is as light as paper to its edges (scan with the lid '
         'open or a dark sheet behind the page; photograph it on a darker surface)')
NOTHING = 'no sheet found: nothing in the picture stands out as a light sheet on a darker ground'
FOLDED = 'no sheet found: the light area is not four-sided (a corner folded or covered?)'


class Side:
    """A side of the sheet: the edge points found along it and the line fitted to them, as a
    point on it, its unit direction and the unit normal across it."""

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
        self.centre, self.direction, self.normal = centre, axes[0], axes[1]
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
    # Split on the logarithm of the grey: a shadow darkens paper and ground by the same factor, so
    # that shaded paper stays above the ground in the light there, as it does not in plain grey.
    logged = np.log(np.clip(small, 1, 255)) * (255 / math.log(255))
    _, bright = cv2.threshold(logged.astype(np.uint8), 0, 255, cv2.THRESH_BINARY | cv2.THRESH_OTSU)
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


def sheet_edge_points(grey, start, end, outward, reach, contrast):
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
    line, nearer: as near as its points first found lie to it, so that a side that bows (a sheet
    not flat, a lens) keeps its points, and its bow can be told."""
    smooth = cv2.GaussianBlur(grey, (0, 0), 1.0)
    centre = corners.mean(axis=0)
    first = int(6 * step) + 6
    reaches = [first] * 4
    for nearer in (False, True):
        sides = []
        for index in range(4):
            start, end = corners[index], corners[(index + 1) % 4]
            direction = (end - start) / np.linalg.norm(end - start)
            outward = np.array([direction[1], -direction[0]])
            if outward @ ((start + end) / 2 - centre) < 0:
                outward = -outward
            points = sheet_edge_points(smooth, start, end, outward, reaches[index], contrast)
            if len(points) < SAMPLES / 3:
                raise PictureError('no sheet found: its edges are lost in the background along a side')
            sides.append(Side(points))
        if not nearer:
            reaches = [min(first, 6 + math.ceil(np.abs((side.points - side.centre) @ side.normal).max()))
                       for side in sides]
        corners = np.array([crossing(sides[index - 1], sides[index]) for index in range(4)])
    return sides, corners
