"""PDF, as the PDF filters and driverless printers' queues send it, and PCLm (hpcups' hbpl1
printers: a PDF of raster strips): rendered by Ghostscript like PostScript; its title and the page
size it asks for."""
import re

from . import postscript
from .base import unchanged as device_code

LANGUAGE = 'PDF'
PCLM = 'PCLm'
LANGUAGES = (LANGUAGE, PCLM)
PPD_KEYWORDS = ()
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
    found = MEDIA_BOX.search(data)
    if not found:
        return None
    size = float(found.group(1)), float(found.group(2))
    return f'{size[0]:g} x {size[1]:g} points', size


def render(document, media, workdir, bits=False):
    return postscript.render(document, media, workdir, bits)
