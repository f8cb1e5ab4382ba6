"""PDF, as the PDF filters and driverless printers' queues send it, and PCLm (hpcups' hbpl1
printers: a PDF of raster strips): rendered by Ghostscript like PostScript; its title and the page
size it asks for."""
import re

from . import postscript
from .base import unchanged

LANGUAGE = 'PDF'
PCLM = 'PCLm'
LANGUAGES = (LANGUAGE, PCLM)
PPD_KEYWORDS = ()
# The entry points it takes as readers.base has them.
device_code = unchanged
TITLE = re.compile(rb'/Title\s*\(')
MEDIA_BOX = re.compile(rb'/MediaBox\s*\[\s*-?[\d.]+\s+-?[\d.]+\s+(\d+(?:\.\d+)?)\s+(\d+(?:\.\d+)?)\s*\]')


def sniff(data):
    return data.startswith(b'%PDF')


def language(data):
    return LANGUAGE


def title(data):
    """The document's /Title string, decoded, or None."""
    found = TITLE.search(data)
    return postscript.literal_string(data, found.end() - 1).decode('latin-1') if found else None


def paper(data):
    """The first page's MediaBox, or None."""
    return postscript.sized(MEDIA_BOX.search(data))


def render(document, media, workdir, bits=False):
    return postscript.render(document, media, workdir, bits)
