"""A picture of a printed sheet read and brought onto the sheet as the readers hand a page back:
the whole sheet in 8-bit grey at SHEET_DPI, paper 255 and ink 0, measured by the project's one
measuring code; the paper told from the sheet, the tolerance it is judged to, its registration
and the mode its text line reads."""
import math
import os
from dataclasses import dataclass, field

import cv2
import numpy as np
from PIL import Image, ImageDraw

from .geometry import Mapping, bring_on, fit_lens, flattened, is_rectangle, photo_proportions, upside_down
from .outline import coarse_outline, crossing, find_sides
from .picture import FILM_DIAGONAL_MM, PHOTO, SCAN, PictureError, read_picture
from ..core.errors import UsageError
from ..core.modes import CAPTIONS, mode_name
from ..core.papers import sheet_mm
from ..core.setup import Margins
from ..core.units import MM_PER_INCH, POINTS_PER_INCH
from ..measure.checks import TITLED, Check, judge_page
from ..measure.measurement import Measurement
from ..measure.page import MeasuredPage, NamedJob
from ..measure.placement import Placement
from ..measure.registration import Registration, registration, told_mode
from ..measure.sheet import View, ink_sheet

# Fine enough that the interpolated picture, thresholded, puts an edge within a fraction of a
# 300-dpi pixel; and one resolution for every picture, so that a Direct and a Bitmap picture
# compare pixel for pixel.
SHEET_DPI = 600
# The papers a sheet is told as, in the order a tie in proportions is settled: A5, A3 and B5 have
# A4's.
PAPERS = ('Letter', 'A4', 'Legal', 'Tabloid', 'Executive', 'A3', 'A5', 'B5')
# How far a scan's measured size, or a photo's proportions, may lie from a paper's.
SIZE_SLACK = 0.015
SAME_PROPORTIONS = 0.005
# A phone's main camera is some 26 mm in 35 mm terms, where the file does not say.
DEFAULT_FOCAL_35 = 26
# The least tolerance a picture is judged to: what the sheet's finding and bringing on allow, as
# measured by sheet-accuracy.sh, with room for the printer's own pixel.
SCAN_TOLERANCE_MM = 0.25
PHOTO_TOLERANCE_MM = 0.75
# A picture's pixel on the sheet may be at most this share of the tolerance.
PIXEL_SHARE = 0.4
# How far a side of the sheet, or a line of the border, may bow before the sheet is taken for not
# flat: a flat sheet's sides are found straight to some 0.1 mm, its border's lines to a few
# hundredths. A sheet whose edges curl up bows them, and moves the border, in a photo at 20
# degrees, by some 2.5 times the bow of its lines: past these, a right page could fail.
SIDE_BOW_MM = 0.3
BORDER_BOW_MM = 0.15
# A side's edge points are taken this many at a time, by their median, for its bow.
BOW_RUN = 7
# The sides of the sheet as the picture shows it, clockwise from its top.
PICTURE_SIDES = ('top', 'right', 'bottom', 'left')
# An edge spread wider than this (10 to 90 % of its rise) is too blurred to judge.
BLUR_MM = 1.0
RISE = 2.563
GAP = 8


@dataclass(frozen=True)
class Asked:
    """What the command line says of a picture: the margins and the tolerance the page is judged
    with, whether it is a scan or a photo (None: told from the file), a scan's resolution where
    its file gives none or a wrong one, and its paper as (name, (width, height) in points) where
    it is not to be told from the sheet."""
    margins: Margins
    tolerance: float
    kind: str = None
    dpi: float = None
    paper: tuple = None


@dataclass
class PicturedPage(MeasuredPage):
    """A picture of a printed sheet brought onto the sheet and measured, as the report takes a
    printed page: the picture's kind (scan or photo), the paper, the tolerance it is judged to, the
    Registration, the mode its text line reads and the widths of its words in ems, a small picture
    of the sheet as found, and what was said of the sheet's size or proportions."""
    picture: str = None
    paper: tuple = None
    tolerance: float = None
    registration: Registration = None
    mode: str = None
    words: list = field(default_factory=list)
    found: Image.Image = None
    said: str = ''


@dataclass
class Found:
    """The sheet found in a picture: whether it is a scan or a photo, its corners clockwise from
    the one nearest the picture's top left (on the lens's straight lines, for a photo), and the
    Lens of a photo."""
    kind: str
    corners: np.ndarray
    lens: object = None


def paper_of(size_mm, proportions_only):
    """The common paper a sheet of size_mm is (a photo's: of its proportions), or None."""
    def off(paper):
        width, height = sheet_mm(paper)
        if proportions_only:
            return abs(size_mm[1] / size_mm[0] / (height / width) - 1)
        return max(abs(size_mm[0] / width - 1), abs(size_mm[1] / height - 1))
    near = [paper for paper in PAPERS if off(paper) <= SIZE_SLACK]
    if not near:
        return None
    best = min(off(paper) for paper in near)
    return next(paper for paper in near if off(paper) <= best + SAME_PROPORTIONS)


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


def border_bow(m):
    """(mm, edge) of the border line furthest from straight: the largest distance of one of its
    crossings from the straight line fitted through them. Moved, turned or scaled by a printer, a
    line stays straight; on a sheet that is not flat it bows."""
    lay = m.placement
    bows = []
    for edge, crossings in m.edges().items():
        if len(crossings) != len(m.FRACTIONS):
            continue
        across = edge in ('left', 'right')
        start, end = (lay.top, lay.bottom) if across else (lay.left, lay.right)
        along = np.array([start + fraction * (end - start) for fraction in m.FRACTIONS])
        found = np.array(crossings, float)
        residue = found - np.polyval(np.polyfit(along, found, 1), along)
        bows.append((float(np.abs(residue).max()) / (lay.dpi_x if across else lay.dpi_y) * MM_PER_INCH, edge))
    return max(bows, default=(0.0, None))


def side_bows(picture, sides, lens):
    """How far each side of the sheet found bows, in mm (a photo's, by a sheet's long side of some
    280 mm): the largest distance from the straight line through its edge points of their running
    median (a stray point, a speck or a shadow's edge, is not a bow), on a lens that puts straight
    lines straight."""
    bows, lengths = [], []
    for side in sides:
        points = lens.straighten(side.points) if lens else side.points
        centre = points.mean(axis=0)
        _, _, axes = np.linalg.svd(points - centre)
        along, off = (points - centre) @ axes[0], (points - centre) @ axes[1]
        off = off[np.argsort(along)]
        if len(off) >= BOW_RUN:
            off = np.median(np.lib.stride_tricks.sliding_window_view(off, BOW_RUN), axis=1)
        bows.append(float(np.abs(off).max()))
        lengths.append(float(np.ptp(along)))
    mm = MM_PER_INCH / picture.dpi[0] if picture.dpi and not lens else 280 / max(lengths)
    return [bow * mm for bow in bows]


def not_flat(what, bow):
    return PictureError(f'the sheet is not flat: {what} bows {bow:.2f} mm; lay it flat (or scan it) and take '
                        'the picture again')


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


def found_sheet(picture, asked):
    """The sheet Found in the Picture, and the small picture of it as found."""
    corners, step, level, ground = coarse_outline(picture.grey)
    sides, corners = find_sides(picture.grey, corners, step, level - ground)
    kind = picture_kind(picture, corners, asked.kind)
    if kind == SCAN and not picture.dpi:
        raise UsageError(f'{picture.path}: a scan whose file gives no resolution: give --dpi')
    lens = None
    if kind == PHOTO:
        size = picture.grey.shape[::-1]
        focal = picture.focal or DEFAULT_FOCAL_35 / FILM_DIAGONAL_MM * math.hypot(*size)
        lens = fit_lens(sides, size, focal)
        straight = [side.fit(lens.straighten(side.points)) for side in sides]
        corners = np.array([crossing(straight[index - 1], straight[index]) for index in range(4)])
    bows = side_bows(picture, sides, lens)
    worst = int(np.argmax(bows))
    if bows[worst] > SIDE_BOW_MM:
        raise not_flat(f'its side at the picture\'s {PICTURE_SIDES[worst]}', bows[worst])
    return Found(kind, corners, lens), found_picture(picture, lens.bend(corners) if lens else corners)


def upright(found, picture, asked):
    """The sheet turned upright, its top one of its shorter sides: its size in mm (a photo's: 1 by
    its proportions), and what was said of it."""
    corners = found.corners
    if found.kind == SCAN:
        measured = [np.linalg.norm(corners[(i + 1) % 4] - corners[i]) / picture.dpi[0] * MM_PER_INCH for i in range(4)]
        turn = 0 if measured[0] + measured[2] <= measured[1] + measured[3] else 1
        found.corners = np.roll(corners, -turn, axis=0)
        measured = np.roll(measured, -turn)
        size_mm = ((measured[0] + measured[2]) / 2, (measured[1] + measured[3]) / 2)
        said = f'{size_mm[0]:.1f} x {size_mm[1]:.1f} mm at the {"file" if not asked.dpi else "given"}\'s ' \
               f'{picture.dpi[0]:g} dpi'
        return size_mm, said
    proportions = photo_proportions(corners, found.lens)
    turn = 0 if proportions >= 1 else 1
    found.corners = np.roll(corners, -turn, axis=0)
    proportions = proportions if turn == 0 else 1 / proportions
    return (1.0, proportions), f'proportions {proportions:.3f}'


def sheet_paper(path, found, size_mm, said, asked):
    """The paper of the sheet, as (name, (width, height) in points), and its size in mm: the one
    asked for, else the common paper the sheet measures (a photo's: the one of its proportions)."""
    if asked.paper:
        name, points = asked.paper
        paper_mm = tuple(value / POINTS_PER_INCH * MM_PER_INCH for value in points)
        if found.kind == SCAN and max(abs(a / b - 1) for a, b in zip(size_mm, paper_mm)) > 3 * SIZE_SLACK:
            raise UsageError(f'{path}: the sheet measures {said}, not {name} ({paper_mm[0]:g} x {paper_mm[1]:g} mm): '
                             'check --paper and --dpi')
        return asked.paper, paper_mm
    name = paper_of(size_mm, found.kind == PHOTO)
    if not name:
        raise UsageError(f'{path}: the sheet ({said}) is no common paper: give --paper')
    paper_mm = sheet_mm(name)
    return (name, tuple(value / MM_PER_INCH * POINTS_PER_INCH for value in paper_mm)), paper_mm


def brought_on(picture, found, paper_mm, page, asked):
    """The sheet as the picture shows it, upright at SHEET_DPI, grey; PictureError where a pixel of
    the picture is too coarse for the page's tolerance."""
    mapping = Mapping(found.corners, paper_mm, found.kind, found.lens)
    picture_mm = mapping.pixel_mm()
    if picture_mm > PIXEL_SHARE * page.tolerance:
        raise PictureError(f'too small a resolution: a pixel of the picture is {picture_mm:.2f} mm on the sheet, '
                           f'too coarse for a {page.tolerance:g} mm tolerance '
                           f'({"scan at 300 dpi" if found.kind == SCAN else "come closer"}, '
                           f'or give --tolerance {picture_mm / PIXEL_SHARE:.2f})')
    flat = flattened(picture.grey, found.lens.bend(found.corners) if found.lens else found.corners, picture_mm)
    if upside_down(flat, mapping, paper_mm, asked.margins.mm()):
        found.corners = np.roll(found.corners, 2, axis=0)
        mapping = Mapping(found.corners, paper_mm, found.kind, found.lens)
    return bring_on(flat, mapping, paper_mm, SHEET_DPI, picture_mm)


def read_pictured(path, asked, workdir):
    """The picture in path brought onto its sheet and measured, as a PicturedPage; PictureError
    says why it cannot be judged, UsageError what to give where the picture does not say it."""
    picture = read_picture(path, workdir)
    if asked.dpi:
        picture.dpi = (asked.dpi, asked.dpi)
    if picture.dpi and picture.dpi[0] != picture.dpi[1]:
        height, width = picture.grey.shape
        picture.grey = cv2.resize(picture.grey, (width, round(height * picture.dpi[0] / picture.dpi[1])),
                                  interpolation=cv2.INTER_LINEAR)
        picture.dpi = (picture.dpi[0], picture.dpi[0])
    found, small = found_sheet(picture, asked)
    size_mm, said = upright(found, picture, asked)
    paper, paper_mm = sheet_paper(path, found, size_mm, said, asked)
    page = PicturedPage(None, kind=f'{picture.form} {found.kind}', untitled=True, pages=1, dpi=(SHEET_DPI, SHEET_DPI),
                        document=path, picture=found.kind, paper=paper, found=small,
                        tolerance=max(asked.tolerance, SCAN_TOLERANCE_MM if found.kind == SCAN else PHOTO_TOLERANCE_MM))
    sheet = brought_on(picture, found, paper_mm, page, asked)
    page.view = View(ink_sheet(sheet.shape[1], sheet.shape[0], sheet < 128))
    page.sheet_size = (page.view.width, page.view.height)
    width, height = (value * SHEET_DPI / POINTS_PER_INCH for value in paper[1])
    m = Measurement(page.view, Placement(page.dpi, asked.margins, width, height))
    page.measurement = m
    spread = blur_mm(sheet, m)
    if spread > BLUR_MM:
        raise PictureError(f'too blurred: the border\'s edges are spread over {spread:.1f} mm (hold the camera still, '
                           'focus on the sheet, keep it flat on the glass)')
    if sum(len(crossings) == len(m.FRACTIONS) for crossings in m.edges().values()) < 3 or not m.text:
        raise PictureError('not the test page: no border at the sheet\'s margins and text line across its middle')
    bow, edge = border_bow(m)
    if bow > BORDER_BOW_MM:
        raise not_flat(f'the border\'s {edge} line', bow)
    page.registration = registration(m)
    page.mode, page.words = told_mode(m)
    # A picture carries no title: its job is known by the caption its text line reads.
    page.job = NamedJob(CAPTIONS.get(page.mode, ''))
    page.said = said
    return page


def described(page, asked):
    """What a pictured page was measured on: the picture, the sheet found and its paper, the
    tolerance and the registration."""
    how = 'by --paper' if asked.paper else 'by its size' if page.picture != PHOTO else 'by its proportions'
    return (f'{os.path.basename(page.document)}, a {page.picture}: sheet {page.said}, {page.paper[0]} {how}; judged '
            f'to {page.tolerance:g} mm; {page.registration.text() if page.registration else "no registration"}')


def picture_checks(page, caption, by_option):
    """The checks of a pictured page: a picture carries no title, so its mode is the one its text
    line reads, or the one given (by_option)."""
    checks = judge_page(page, caption, page.tolerance)
    read = CAPTIONS.get(page.mode)
    said = f'the text line reads {mode_name(read)}' if read else 'the text line does not read as a caption'
    checks[1] = Check(TITLED, read in (None, caption), f'a picture carries no title; {said}' +
                      (f', {mode_name(caption)} by --mode' if by_option else ''))
    return checks


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
