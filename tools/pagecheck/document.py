"""The document a queue wrote, read as the device would get it: the PostScript or PDF inside
any PJL wrapping, without the printer-resident feature code Ghostscript cannot run."""
import re

POSTSCRIPT = 'PostScript'
PDF = 'PDF'
# The Universal Exit Language command that opens and closes a PJL job.
UEL = b'\x1b%-12345X'
FEATURE = re.compile(rb'^%%BeginFeature:\s*\*(\S+).*?^%%EndFeature[^\n]*\n', re.M | re.S)
# Feature code Ghostscript can run and the page needs: the size of the sheet.
KEPT_FEATURES = (b'PageSize', b'PageRegion')


class Document:
    """kind is POSTSCRIPT, PDF or None for a device language Ghostscript cannot read; title the
    document's title; data what Ghostscript is given."""

    def __init__(self, path):
        with open(path, 'rb') as source:
            raw = source.read()
        body = raw
        if body.startswith(UEL):
            # PJL commands, one a line, then the job in its language up to the closing UEL.
            at = len(UEL)
            while body.startswith(b'@PJL', at) and body.find(b'\n', at) >= 0:
                at = body.find(b'\n', at) + 1
            end = body.find(UEL, at)
            body = body[at:end if end >= 0 else len(body)]
        self.kind = POSTSCRIPT if body.startswith(b'%!') else PDF if body.startswith(b'%PDF') else None
        self.data = body
        if self.kind == POSTSCRIPT:
            self.data = FEATURE.sub(lambda m: m.group(0) if m.group(1) in KEPT_FEATURES else b'', self.data)
            title = re.search(rb'^%%Title:[ \t]*([^\r\n]*)', self.data, re.M)
        elif self.kind == PDF:
            title = re.search(rb'/Title\s*\(([^)]*)\)', self.data)
        else:
            title = None
        self.title = title.group(1).strip().decode('latin-1') if title else None

    def save(self, path):
        with open(path, 'wb') as target:
            target.write(self.data)
