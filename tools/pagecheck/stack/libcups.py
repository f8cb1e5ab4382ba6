"""The few calls of libcups that python3-cups does not bind: why a PPD cannot be read, its page
sizes with their imageable areas, its keyword lines read without the rest, and the sizes PWG and
PPD media names stand for."""
import ctypes
import os

LIBCUPS = ctypes.CDLL('libcups.so.2')


class PageSize(ctypes.Structure):
    """ppd_size_t: a page size in points, its imageable area measured from the sheet's lower left."""
    _fields_ = [('marked', ctypes.c_int), ('name', ctypes.c_char * 41), ('width', ctypes.c_float),
                ('length', ctypes.c_float), ('left', ctypes.c_float), ('bottom', ctypes.c_float),
                ('right', ctypes.c_float), ('top', ctypes.c_float)]


class Attribute(ctypes.Structure):
    """ppd_attr_t: a keyword line of a PPD: its keyword, option, translation text and value."""
    _fields_ = [('name', ctypes.c_char * 41), ('option', ctypes.c_char * 41), ('text', ctypes.c_char * 81),
                ('value', ctypes.c_char_p)]


class PWGMedia(ctypes.Structure):
    """pwg_media_t: a PWG media name, its legacy and PPD names, its size in hundredths of a mm."""
    _fields_ = [('pwg', ctypes.c_char_p), ('legacy', ctypes.c_char_p), ('ppd', ctypes.c_char_p),
                ('width', ctypes.c_int), ('length', ctypes.c_int)]


LIBCUPS.ppdOpenFile.restype = ctypes.c_void_p
LIBCUPS.ppdOpenFile.argtypes = [ctypes.c_char_p]
LIBCUPS.ppdClose.argtypes = [ctypes.c_void_p]
LIBCUPS.ppdPageSize.restype = ctypes.POINTER(PageSize)
LIBCUPS.ppdPageSize.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
LIBCUPS.ppdLastError.argtypes = [ctypes.POINTER(ctypes.c_int)]
LIBCUPS.ppdErrorString.restype = ctypes.c_char_p
LIBCUPS.ppdFindAttr.restype = ctypes.POINTER(Attribute)
LIBCUPS.ppdFindAttr.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p]
LIBCUPS.ppdFindNextAttr.restype = ctypes.POINTER(Attribute)
LIBCUPS.ppdFindNextAttr.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p]
LIBCUPS.pwgMediaForPWG.restype = ctypes.POINTER(PWGMedia)
LIBCUPS.pwgMediaForPWG.argtypes = [ctypes.c_char_p]
LIBCUPS.pwgMediaForPPD.restype = ctypes.POINTER(PWGMedia)
LIBCUPS.pwgMediaForPPD.argtypes = [ctypes.c_char_p]


def pwg_units(points):
    """Points in hundredths of a millimetre, rounded as CUPS rounds a PPD's sizes (PWG_FROM_POINTS)."""
    return int((points * 2540 + 36) / 72)


# libcups takes sizes within 5 points of each other for the same media (pwgMediaForSize), as
# Adobe's size matching does: a PPD's A4 of 595 x 842 points is 209.9 x 297.0 mm.
NEAR = 176


class PPDSizes:
    """A PPD opened by libcups only for its page sizes; error says why it could not be read."""

    def __init__(self, path):
        self.handle = LIBCUPS.ppdOpenFile(path.encode())
        self.error = None
        if not self.handle:
            line = ctypes.c_int()
            status = LIBCUPS.ppdLastError(ctypes.byref(line))
            self.error = f'{LIBCUPS.ppdErrorString(status).decode()} on line {line.value}'

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.handle:
            LIBCUPS.ppdClose(self.handle)

    def size(self, name):
        """(width, length, left, bottom, right, top) in points, or None for a size it lacks."""
        found = LIBCUPS.ppdPageSize(self.handle, name.encode('latin-1'))
        if not found or found.contents.width <= 0:
            return None
        size = found.contents
        return size.width, size.length, size.left, size.bottom, size.right, size.top


def pwg_media(name):
    """(width, length) in hundredths of a millimetre and the usual PPD name of a PWG media name,
    or None when it is not one."""
    found = LIBCUPS.pwgMediaForPWG(name.encode())
    if not found or not found.contents.width:
        return None
    media = found.contents
    return media.width, media.length, media.ppd.decode() if media.ppd else None


def ppd_media(name):
    """The (width, length) in points of a PPD or PWG media name (A4, Letter, iso_a4_210x297mm), or
    None when it is neither."""
    for lookup in (LIBCUPS.pwgMediaForPPD, LIBCUPS.pwgMediaForPWG):
        found = lookup(name.encode())
        if found and found.contents.width:
            return found.contents.width * 72 / 2540, found.contents.length * 72 / 2540
    return None


def keyword_values(data, keywords):
    """{keyword: the values of its lines, in order} of a PPD held in memory, for each of keywords;
    libcups reads it from a file of no name, as fast as it reads the few a check prints with. None
    for a PPD libcups cannot read."""
    descriptor = os.memfd_create('ppd')
    try:
        os.write(descriptor, data)
        handle = LIBCUPS.ppdOpenFile(f'/proc/self/fd/{descriptor}'.encode())
    finally:
        os.close(descriptor)
    if not handle:
        return None
    try:
        found = {}
        for keyword in keywords:
            name = keyword.encode()
            found[keyword] = []
            line = LIBCUPS.ppdFindAttr(handle, name, None)
            while line:
                value = line.contents.value
                found[keyword].append(value.decode('latin-1') if value is not None else '')
                line = LIBCUPS.ppdFindNextAttr(handle, name, None)
        return found
    finally:
        LIBCUPS.ppdClose(handle)
