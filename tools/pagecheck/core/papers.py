"""The sheets of paper the check knows by name, as the report names them, in points (width,
height): ISO and JIS sizes from their whole millimetres, the others in points. Each printer
language's codes for them live with its reader."""
from .units import MM_PER_INCH, POINTS_PER_INCH, POINTS_PER_MM

SHEETS = {
    'Letter': (612, 792),
    'Legal': (612, 1008),
    'Executive': (522, 756),
    'Tabloid': (792, 1224),
    'Monarch': (279, 540),
    'Env10': (297, 684),
    '4x6': (288, 432),
    '5x7': (360, 504),
    'A3': (297 * POINTS_PER_MM, 420 * POINTS_PER_MM),
    'A4': (210 * POINTS_PER_MM, 297 * POINTS_PER_MM),
    'A5': (148 * POINTS_PER_MM, 210 * POINTS_PER_MM),
    'A6': (105 * POINTS_PER_MM, 148 * POINTS_PER_MM),
    # JIS B sizes: what PPDs and drivers call B4 and B5.
    'B4': (257 * POINTS_PER_MM, 364 * POINTS_PER_MM),
    'B5': (182 * POINTS_PER_MM, 257 * POINTS_PER_MM),
    'B6': (128 * POINTS_PER_MM, 182 * POINTS_PER_MM),
    'ISOB5': (176 * POINTS_PER_MM, 250 * POINTS_PER_MM),
    'Postcard': (100 * POINTS_PER_MM, 148 * POINTS_PER_MM),
    'DoublePostcard': (148 * POINTS_PER_MM, 200 * POINTS_PER_MM),
    'DL': (110 * POINTS_PER_MM, 220 * POINTS_PER_MM),
    'C5': (162 * POINTS_PER_MM, 229 * POINTS_PER_MM),
}


def sheet(name, turned=False):
    """(name, (width, height) in points) of a sheet the table holds; turned, lying across."""
    width, height = SHEETS[name]
    return name, ((height, width) if turned else (width, height))


def sheet_mm(name):
    """A sheet's (width, height) in millimetres, to the hundredth every size is given to."""
    return tuple(round(points / POINTS_PER_INCH * MM_PER_INCH, 2) for points in SHEETS[name])
