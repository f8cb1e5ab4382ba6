"""PDF, as the PDF filters and driverless printers' queues send it, and PCLm (hpcups' hbpl1
printers: a PDF of raster strips): rendered by Ghostscript like PostScript; its title and the page
size it asks for."""
import re

from . import postscript
from .base import StreamError

LANGUAGE = 'PDF'
PCLM = 'PCLm'
LANGUAGES = (LANGUAGE, PCLM)
PPD_KEYWORDS = ()
TITLE = re.compile(rb'/Title\s*\(')
MEDIA_BOX = re.compile(rb'/MediaBox\s*\[\s*-?[\d.]+\s+-?[\d.]+\s+(\d+(?:\.\d+)?)\s+(\d+(?:\.\d+)?)\s*\]')
# A PDF ends with its trailer: where its cross-reference starts, then %%EOF, in its last 1024 bytes.
TRAILER_END = re.compile(rb'startxref\s+\d+\s+%%EOF')
END_BYTES = 1024


def sniff(data):
    return data.startswith(b'%PDF')


def language(data):
    return LANGUAGE


def device_code(data):
    """The document, whole: StreamError for one cut short, which Ghostscript would silently rebuild
    from the objects it finds and draw what is left of."""
    if not TRAILER_END.search(data[-END_BYTES:]):
        raise StreamError(f'PDF ends at byte {len(data)} without its trailer (startxref, %%EOF): cut short?')
    return data


def title(data):
    """The document's /Title string, decoded, or None."""
    found = TITLE.search(data)
    return postscript.literal_string(data, found.end() - 1).decode('latin-1') if found else None


def paper(data):
    """The first page's MediaBox, or None."""
    return postscript.sized(MEDIA_BOX.search(data))


def render(document, media, workdir, bits=False):
    return postscript.render(document, media, workdir, bits)
