"""The page sizes PCL names in its page size command, ESC & l # A (PCL 5 and PCL 3 alike), as
(name, (width, height) in points)."""

MM = 72 / 25.4
PAGE_SIZES = {
    1: ('Executive', (522, 756)),
    2: ('Letter', (612, 792)),
    3: ('Legal', (612, 1008)),
    6: ('Tabloid', (792, 1224)),
    25: ('A5', (148 * MM, 210 * MM)),
    26: ('A4', (210 * MM, 297 * MM)),
    27: ('A3', (297 * MM, 420 * MM)),
    45: ('B5', (182 * MM, 257 * MM)),
    46: ('B4', (257 * MM, 364 * MM)),
    71: ('Postcard', (100 * MM, 148 * MM)),
    72: ('DoublePostcard', (148 * MM, 200 * MM)),
    80: ('Monarch', (279, 540)),
    81: ('Env10', (297, 684)),
    90: ('DL', (110 * MM, 220 * MM)),
    91: ('C5', (162 * MM, 229 * MM)),
    100: ('ISOB5', (176 * MM, 250 * MM)),
}


def page_size(code):
    """The (name, (width, height)) of a page size code, or None for one not listed (101, custom,
    among them: its size comes in other commands)."""
    return PAGE_SIZES.get(code)
