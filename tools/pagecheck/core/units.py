"""The units pages are measured in: inches, points and millimetres; and resolutions."""
import re

MM_PER_INCH = 25.4
POINTS_PER_INCH = 72
POINTS_PER_MM = POINTS_PER_INCH / MM_PER_INCH
RESOLUTION = re.compile(r'(\d+)(?:x(\d+))?dpi')


def mm(pixels, dots):
    """A length of pixels at dots per inch, in millimetres."""
    return pixels / dots * MM_PER_INCH


def dpi_of(resolution):
    """The (x, y) dots per inch a resolution such as 600dpi or 1200x600dpi names (a PPD's); 300 dpi,
    a driver's own assumption, where none is named."""
    match = RESOLUTION.match(resolution or '300dpi')
    return int(match.group(1)), int(match.group(2) or match.group(1))
