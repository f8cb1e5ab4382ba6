"""The checks of a printed page, each with the figure it measured and a verdict."""
import re

from .measurement import LINE_EMS, TEXT_POINTS
from ..core.errors import NotPrinted
from ..core.units import MM_PER_INCH, mm

# The least tolerance: a pixel each way for where an edge's pixel falls, on either side; pixels of
# the resolution the page was drawn at, where the printer's driver made it coarser.
MIN_PIXELS = 2
# The diagonals and the ellipse lie up to two pixels further off than the border's edges: one for
# GDI placing a wide pen around pixel centres where PostScript uses pixel edges, one for the
# ellipse's box and the diagonals' ends rounded to whole pixels in the page bitmap.
LINE_EXTRA_PIXELS = 2
# The text line is centred by its advance widths, its ink is measured: the two differ by the
# side bearings of its first and last letter, some 0.03 em, and by how the printer's fonts and
# Ghostscript's place glyphs. A text centred between the sheet's edges instead of the margins
# is off by far more whenever the left and right margins differ. A line wider than the page
# starts at its left edge: its ink, after the first letter's side bearing (about 0.05 inch), within
# as much again.
TEXT_SLACK_INCH = 1 / 16
# Cap height of the text face, in ems: a 48-point line is about a third of an inch tall.
CAP_HEIGHT_EM = 0.716
TEXT_HEIGHT_SLACK = 0.05

ONE_PAGE = 'exactly one page'
TITLED = 'titled with the mode'
EDGES = 'border at the margins'
STROKES = 'border 1/16 inch wide'
DIAGONALS = 'diagonals join the corners'
ELLIPSE = 'ellipse spans the middle half'
TEXT = 'text line 48 pt, centred'
AGREE = 'Direct and Bitmap agree'
SIDES = ('left', 'top', 'right', 'bottom')
DRIVER = 'driver kept the page it was handed'
PAGE_CHECKS = (ONE_PAGE, TITLED, EDGES, STROKES, DIAGONALS, ELLIPSE, TEXT, DRIVER)
# Only a raster driver's page has the last check.
DRIVER_AT = PAGE_CHECKS.index(DRIVER)


class Check:
    """passed is True, False, or None for a page that could not be measured (never a pass)."""

    def __init__(self, name, passed, figure):
        self.name = name
        self.passed = passed
        self.figure = figure


class Tolerance:
    """The tolerance in printer pixels along x and y: the millimetres asked for, never less than
    MIN_PIXELS of the page's drawing (grain printer pixels each); line, that of the diagonals and
    the ellipse."""

    def __init__(self, mm, dpi, grain=(1, 1)):
        self.x, self.y = (max(mm / MM_PER_INCH * dots, MIN_PIXELS * max(1, size)) for dots, size in zip(dpi, grain))
        self.line = max(self.x, self.y) + LINE_EXTRA_PIXELS * max(1, *grain)
        self.dpi = dpi


def signed(pixels, dots):
    return f'{pixels:+.1f} px ({mm(pixels, dots):+.2f} mm)'


def edge_dots(lay, edge):
    """The resolution along which an edge's place is measured."""
    return lay.dpi_x if edge in ('left', 'right') else lay.dpi_y


def edge_offsets(m):
    """Each edge's crossing furthest from where it belongs, in printer pixels along the page's own
    axes, measured less expected (+ is right or down); None where the edge was not found."""
    lay = m.placement
    expected = {'left': lay.left, 'top': lay.top, 'right': lay.right, 'bottom': lay.bottom}
    return {edge: max((position - expected[edge] for position in measured), key=abs)
            if len(measured) == len(m.FRACTIONS) else None for edge, measured in m.edges().items()}


def moved_edges(check):
    """The edges a failed border check names as moved, in the order left, top, right, bottom;
    none for any other check."""
    if check.passed is not False or check.name != EDGES:
        return ()
    named = check.figure.split(';', 1)[0]
    return tuple(edge for edge in SIDES if re.search(rf'\b{edge}\b', named))


def judge_edges(m, tolerance):
    """Each edge by its crossing furthest from where it belongs."""
    lay = m.placement
    figures, moved = [], []
    for edge, error in edge_offsets(m).items():
        allowed = tolerance.x if edge in ('left', 'right') else tolerance.y
        if error is None:
            figures.append(f'{edge} not found')
            moved.append(edge)
            continue
        figures.append(f'{edge} {signed(error, edge_dots(lay, edge))}')
        if abs(error) > allowed:
            moved.append(edge)
    figure = '; '.join(figures)
    if moved:
        figure = f'moved: {", ".join(moved)}; {figure}'
    return Check(EDGES, not moved, figure)


def stroke_widths(m):
    """The border's stroke widths, in mm."""
    lay = m.placement
    return [mm(w, lay.dpi_x) for w in m.strokes_x] + [mm(w, lay.dpi_y) for w in m.strokes_y]


def judge_strokes(m, tolerance):
    lay = m.placement
    widths = stroke_widths(m)
    good = bool(m.strokes_x and m.strokes_y) and \
        all(abs(w - 2 * lay.inset_x) <= tolerance.x for w in m.strokes_x) and \
        all(abs(w - 2 * lay.inset_y) <= tolerance.y for w in m.strokes_y)
    figure = f'{min(widths):.2f} to {max(widths):.2f} mm' if widths else 'no border'
    return Check(STROKES, good, f'{figure} (1/16 inch is {MM_PER_INCH / 16:.2f} mm)')


def judge_line(name, errors, tolerance, dots):
    if not errors:
        return Check(name, None, "hidden by the text line's white box, as drawn on a page this low: not measured")
    worst = max(errors)
    if worst == float('inf'):
        return Check(name, False, 'not found')
    return Check(name, worst <= tolerance.line, f'off by up to {worst:.1f} px ({mm(worst, dots):.2f} mm)')


def text_place(m):
    """The text line's height in points, its centre's offset from the ellipse's (across, down) and
    its start from the page's left edge, in printer pixels."""
    lay = m.placement
    left, top, right, bottom = m.text
    cx, cy, _, _ = m.ellipse
    return (bottom - top) / lay.dpi_y * 72 / CAP_HEIGHT_EM, (left + right) / 2 - cx, (top + bottom) / 2 - cy, \
        left - lay.left


def judge_text(m):
    lay = m.placement
    if not m.text:
        return Check(TEXT, False, 'no text across the middle of the page')
    left, top, right, bottom = m.text
    a = m.ellipse[2]
    points, off_x, off_y, start = text_place(m)
    good = abs(points - TEXT_POINTS) <= TEXT_HEIGHT_SLACK * TEXT_POINTS and \
        abs(off_y) <= TEXT_SLACK_INCH * lay.dpi_y and right - left > min(2 * a, LINE_EMS * TEXT_POINTS / 72 * lay.dpi_x)
    # A line wider than the page starts at its left edge and is cut at its right one: its height,
    # its place down the page and where it starts tell.
    if m.text_cut:
        across = f'wider than the page: starts {mm(start, lay.dpi_x):.2f} mm from its left edge, cut at its right one'
        good = good and start <= 2 * TEXT_SLACK_INCH * lay.dpi_x
    else:
        across = f'{mm(off_x, lay.dpi_x):+.2f} mm across'
        good = good and abs(off_x) <= TEXT_SLACK_INCH * lay.dpi_x
    return Check(TEXT, good, f'{points:.1f} pt; centre off by {mm(off_y, lay.dpi_y):+.2f} mm down; {across}')


def judge_page(page, caption, tolerance_mm):
    """The checks of one print: a MeasuredPage, or the NotPrinted that stood in its place."""
    if isinstance(page, NotPrinted):
        return [Check(ONE_PAGE, False, f'never printed: {page}')] + \
            [Check(name, None, 'not measured') for name in PAGE_CHECKS[1:DRIVER_AT]]
    if page.pages is None or page.unreadable:
        # The job's name is all there is to judge when the document cannot be read for its own, and
        # a driver may name a job as it likes: a name that is not the mode's leaves it not measured.
        language = page.language or 'a language'
        said = f'title "{page.title}", ' if page.title is not None else ''
        unread = f'the document is in {language}, which the check does not read'
        named = page.job.name == caption and page.title in (None, caption)
        titled = Check(TITLED, named or None, f'{said}job "{page.job.name}"; {page.unreadable or unread}')
        counted = Check(ONE_PAGE, None, page.unreadable if page.unreadable else
                        f'printed in {language}, which the check does not read: not measured')
        return [counted, titled] + [Check(name, None, 'not measured') for name in PAGE_CHECKS[2:DRIVER_AT]]
    if getattr(page, 'untitled', False):
        titled = Check(TITLED, page.job.name == caption, f'job "{page.job.name}"; the {page.kind} carries no title')
    else:
        titled = Check(TITLED, page.title == caption and page.job.name == caption,
                       f'title "{page.title}", job "{page.job.name}"')
    pages = f'{page.pages} page(s) of {page.kind}'
    m = page.measurement
    if m and m.placement.grain != (1, 1):
        layout = [round(dots / size) for dots, size in zip(page.dpi, m.placement.grain)]
        pages += f', drawn at {layout[0]}x{layout[1]} dpi'
    checks = [Check(ONE_PAGE, page.pages == 1, pages), titled]
    if not m:
        return checks + [Check(name, False, 'no page') for name in PAGE_CHECKS[2:DRIVER_AT]]
    tolerance = Tolerance(tolerance_mm, page.dpi, m.placement.grain)
    return checks + [judge_edges(m, tolerance), judge_strokes(m, tolerance),
                     judge_line(DIAGONALS, m.diagonal_errors, tolerance, page.dpi[0]),
                     judge_line(ELLIPSE, m.ellipse_errors, tolerance, page.dpi[0]), judge_text(m)]


def driver_gaps(page):
    """Each edge found in the raster a driver was handed: the largest gap, in pixels of what the
    driver wrote, from there to where the driver put it (+ right or down), or None where the
    driver cut it."""
    (before, was), (after, now) = [(source.measurement.edges(), source.measurement.placement)
                                   for source in (page.handed, page)]
    gaps = {}
    for edge in before:
        if len(before[edge]) != len(page.measurement.FRACTIONS):
            continue
        if len(after[edge]) != len(before[edge]):
            gaps[edge] = None
            continue
        # In the pixels of what the driver wrote, so that a gap of the tolerance's own pixels passes.
        scale = edge_dots(now, edge) / edge_dots(was, edge)
        gaps[edge] = max((b - a * scale for a, b in zip(before[edge], after[edge])), key=abs)
    return gaps


def judge_driver(page, tolerance_mm):
    """Whether a raster driver put the border where it lay in the raster it was handed: each edge
    moved by more than the tolerance, or found there and not in what the driver wrote (cut)."""
    handed = page.handed
    if not (getattr(page, 'measurement', None) and getattr(handed, 'measurement', None)):
        return Check(DRIVER, None, 'not both measured')
    moved, cut, worst = [], [], 0.0
    was, now = handed.measurement.placement, page.measurement.placement
    loose, tight = Tolerance(tolerance_mm, handed.dpi, was.grain), Tolerance(tolerance_mm, page.dpi, now.grain)
    gaps = driver_gaps(page)
    if not gaps:
        # Nothing compared is no evidence the driver kept the page.
        return Check(DRIVER, None, 'the border not found in the raster it was handed')
    for edge, gap in gaps.items():
        across = edge in ('left', 'right')
        if gap is None:
            cut.append(edge)
            continue
        dots_was, dots_now = edge_dots(was, edge), edge_dots(now, edge)
        allowed = max((loose.x if across else loose.y) * dots_now / dots_was, tight.x if across else tight.y)
        worst = max(worst, mm(abs(gap), dots_now))
        if abs(gap) > allowed + 1e-9:
            moved.append(f'{edge} {mm(gap, dots_now):+.2f} mm')
    figure = f'edges at most {worst:.2f} mm from where the raster it was handed has them'
    if cut:
        figure = f'cut: {", ".join(cut)}; {figure}'
    if moved:
        figure = f'moved: {", ".join(moved)}; {figure}'
    return Check(DRIVER, not (moved or cut), figure)


def judge_agreement(direct, bitmap, tolerance_mm, differing=None):
    """Whether the two modes' borders lie in the same place; differing is the share of the
    sheet's pixels inked in one page only."""
    if not all(getattr(page, 'measurement', None) for page in (direct, bitmap)):
        return Check(AGREE, None, 'not both measured')
    tolerance = Tolerance(tolerance_mm, direct.dpi, direct.measurement.placement.grain)
    worst, apart = 0.0, []
    one, other = direct.measurement.edges(), bitmap.measurement.edges()
    for edge in one:
        allowed = tolerance.x if edge in ('left', 'right') else tolerance.y
        gaps = [b - a for a, b in zip(one[edge], other[edge])]
        if len(gaps) != len(direct.measurement.FRACTIONS) or max(map(abs, gaps)) > allowed:
            apart.append(edge)
        worst = max([worst] + [abs(gap) for gap in gaps])
    figure = f'edges at most {worst:.1f} px apart'
    if apart:
        figure = f'apart: {", ".join(apart)}; {figure}'
    if differing is not None:
        figure += f'; {100 * differing:.2f} % of the pixels differ'
    return Check(AGREE, not apart, figure)
