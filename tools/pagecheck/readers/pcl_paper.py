"""The page sizes PCL names in its page size command, ESC & l # A (PCL 5 and PCL 3 alike)."""
from ..core.papers import sheet

PAGE_SIZES = {1: 'Executive', 2: 'Letter', 3: 'Legal', 6: 'Tabloid', 25: 'A5', 26: 'A4', 27: 'A3', 45: 'B5',
              46: 'B4', 71: 'Postcard', 72: 'DoublePostcard', 80: 'Monarch', 81: 'Env10', 90: 'DL', 91: 'C5',
              100: 'ISOB5'}


def page_size(code):
    """The (name, (width, height) in points) of a page size code, or None for one not listed (101,
    custom, among them: its size comes in other commands)."""
    return sheet(PAGE_SIZES[code]) if code in PAGE_SIZES else None
