"""The readers of printers' own languages, one module each, tried in turn on the part of a job a
printer would hand its interpreter; and the languages none of them reads, named so that a page in
one is reported as such rather than as an unknown stream."""
import os
import re

from PIL import ImageFilter

from . import canon, escp2, pcl, pcl3
from .decoded import StreamError

# PCL 3 GUI before PCL 5: GhostPCL would take a PCL 3 GUI stream's raster for text.
READERS = (pcl3, escp2, canon, pcl)
# Languages no reader decodes: by the name a PJL job's ENTER LANGUAGE gives them, and by the first
# bytes of a stream that carries none.
UNREAD = {'LIDIL': 'LIDIL', 'ZJS': 'ZjStream', 'ZJSTREAM': 'ZjStream', 'ZXS': 'ZjStream', 'JETREADY': 'JetReady',
          'QUICKCONNECT': 'QuickConnect'}
UNREAD_STARTS = ((b'JZJZ', 'ZjStream'), (b'ZJZJ', 'ZjStream'), (b'$\x00', 'LIDIL'))
ENTERED = re.compile(r'[^A-Z0-9]')


def reader(data):
    """The module that reads data, or None."""
    return next((module for module in READERS if module.sniff(data)), None)


def language(module, data):
    """The name of data's language as its reader tells it apart."""
    return module.language(data) if hasattr(module, 'language') else module.LANGUAGE


def unread_language(entered, data):
    """The name of a language no reader decodes, from a PJL job's ENTER LANGUAGE or the stream's
    first bytes, or None."""
    named = UNREAD.get(ENTERED.sub('', entered.upper())) if entered else None
    return named or next((name for start, name in UNREAD_STARTS if data.startswith(start)), None)


def spread(module, image):
    """The sheet as the ink lies on paper. An inkjet's drops spread over the dots around them, so
    the black a driver dithers prints solid: closing the ink by one dot fills the holes between
    inked dots and leaves the edges of what is inked where they are."""
    if not getattr(module, 'DITHERED', False):
        return image
    return image.filter(ImageFilter.MinFilter(3)).filter(ImageFilter.MaxFilter(3))


def render(module, data, media, workdir):
    """Writes each page the reader finds in data as an 8-bit grey PGM, one file per page, as
    Ghostscript's pages are written; returns the files in page order and the first DecodedPage,
    its pixels let go."""
    pages = module.read(data, media)
    if not pages:
        raise StreamError(f'no page in the {language(module, data)} stream')
    files = []
    for number, page in enumerate(pages, 1):
        files.append(os.path.join(workdir, f'page-{number:03d}.pgm'))
        spread(module, page.image).save(files[-1])
        page.image = None
    return files, pages[0]
