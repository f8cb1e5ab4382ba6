"""The numbers behind a measured page's checks, as results.json and the findings take them."""
from ..core.units import mm
from ..measure.checks import driver_gaps, edge_dots, edge_offsets, stroke_widths, text_place


def offset(pixels, dots):
    return None if pixels is None else {'px': pixels, 'mm': mm(pixels, dots)}


def worst(errors, dots):
    """The largest of a line's deviations, or None where it was hidden or not found."""
    largest = max(errors) if errors else None
    return None if largest in (None, float('inf')) else offset(largest, dots)


def page_figures(page):
    """The numbers behind a measured page's checks, or None for a page not measured."""
    m = getattr(page, 'measurement', None)
    if not m:
        return None
    lay = m.placement
    widths = stroke_widths(m)
    figures = {
        'edges': {edge: offset(error, edge_dots(lay, edge)) for edge, error in edge_offsets(m).items()},
        'strokes_mm': {'min': min(widths), 'max': max(widths)} if widths else None,
        'diagonals': worst(m.diagonal_errors, page.dpi[0]),
        'ellipse': worst(m.ellipse_errors, page.dpi[0]),
        'text': None,
        'driver_gaps': None,
    }
    if m.text:
        points, across, down, start = text_place(m)
        figures['text'] = {'height_pt': points, 'down_mm': mm(down, lay.dpi_y), 'cut': m.text_cut,
                           'across_mm': None if m.text_cut else mm(across, lay.dpi_x),
                           'start_mm': mm(start, lay.dpi_x) if m.text_cut else None}
    if getattr(getattr(page, 'handed', None), 'measurement', None):
        now = m.placement
        figures['driver_gaps'] = {edge: offset(gap, edge_dots(now, edge)) for edge, gap in driver_gaps(page).items()}
    return figures
