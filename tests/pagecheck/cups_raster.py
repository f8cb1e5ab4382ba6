"""CUPS rasters for the drivers' own filters in the readers' tests: each page's header written by
its fields' names (cups_page_header2_t of CUPS' raster.h), then the page's lines as the test has
them."""
import struct

# Each field used: its byte offset in the 1,796-byte header and its struct format.
FIELDS = {
    'OutputType': (192, '64s'), 'Duplex': (272, 'I'), 'HWResolution': (276, '2I'),
    'ImagingBoundingBox': (284, '4I'), 'Margins': (312, '2I'), 'NumCopies': (340, 'I'), 'PageSize': (352, '2I'),
    'cupsWidth': (372, 'I'), 'cupsHeight': (376, 'I'), 'cupsBitsPerColor': (384, 'I'), 'cupsBitsPerPixel': (388, 'I'),
    'cupsBytesPerLine': (392, 'I'), 'cupsColorSpace': (400, 'I'), 'cupsRowStep': (416, 'I'),
    'cupsNumColors': (420, 'I'), 'cupsPageSize': (428, '2f'), 'cupsInteger': (452, '3i'),
    'cupsPageSizeName': (1732, '64s'),
}
HEADER = 1796
# The colour spaces used: RGB, K (1 is ink), CMY.
RGB, K, CMY = 1, 3, 4
# Each version's synchronisation word, as a big-endian (version 3) and a little-endian (version 2,
# its lines run-length coded) writer start their rasters.
BIG_ENDIAN_3, LITTLE_ENDIAN_2 = b'RaS3', b'2SaR'


def header(order='>', **fields):
    """A page header in byte order order ('>' or '<') holding fields, every other one 0: a number,
    a tuple of numbers or bytes each."""
    data = bytearray(HEADER)
    for name, value in fields.items():
        offset, form = FIELDS[name]
        struct.pack_into(order + form, data, offset, *(value if isinstance(value, tuple) else (value,)))
    return bytes(data)


def page_header(order, size, dpi, sheet, bits, colours, space, **fields):
    """The header of a chunky page of size (width, height) pixels at dpi (x, y), on sheet (width,
    height) in points, of bits a colour and colours a pixel, in colour space space."""
    return header(order, HWResolution=dpi, PageSize=sheet, cupsWidth=size[0], cupsHeight=size[1],
                  cupsBitsPerColor=bits, cupsBitsPerPixel=bits * colours,
                  cupsBytesPerLine=(size[0] * bits * colours + 7) // 8, cupsColorSpace=space, cupsNumColors=colours,
                  **fields)
