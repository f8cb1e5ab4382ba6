"""A printed document read and measured as one page: what the report and the checks know of it."""
import os
from dataclasses import dataclass

from .measurement import Measurement
from .placement import Placement
from .sheet import View, load_sheet
from ..core.stopwatch import Stopwatch
from ..core.units import POINTS_PER_INCH
from ..readers.base import Media, StreamError
from ..readers.document import Document

UNREAD = 'a language the check does not read'


@dataclass(frozen=True)
class NamedJob:
    """A job known by its name alone: what a file or a picture says of the job it was printed in."""
    name: str


@dataclass
class Printed:
    """A document as it was received, to be read and measured: its file; the job it came in (its
    name is judged) and the title that job was handed on with, where the document carries none of its
    own; what the printer's model tells a reader of its own language (a Media, or None); what the
    document is, for the report (source), and what comes between that and the language it is in
    where that is said (', in ', say); and whether it is known to be black on white, as the
    program's pages are, and so rendered a bit a pixel (grey would be dithered); the file read as
    a Document, where it was read already."""
    path: str
    job: object = None
    title: str = None
    media: Media = None
    source: str = 'the document the queue wrote'
    before_language: str = None
    black_on_white: bool = False
    document: Document = None


@dataclass
class MeasuredPage:
    """One document read and measured: its job (a CUPS job, or what a file says of the job it was
    printed in: its name is judged); its language (kind, as its reader names
    it; language, as its job names it), title and page count (None where it was not read);
    untitled for a printer's language that carries no title and came with none; the (x, y)
    resolution along the page; why it could not be read, or what its reader took from the printer's
    model to place it; described, what it was measured on; its first page seen upright (view) and
    measured (measurement, where the margins leave room); and for a raster driver's page, the page
    the driver was handed and the file the driver wrote."""
    job: object
    kind: str = None
    language: str = None
    title: str = None
    untitled: bool = False
    pages: int = None
    dpi: tuple = None
    unreadable: str = None
    assumed: str = None
    described: str = ''
    view: View = None
    measurement: Measurement = None
    sheet_size: tuple = None
    handed: 'MeasuredPage' = None
    driver_output: str = None
    document: str = None

    def written_in(self):
        """The language the document is in, as the report names it."""
        return self.language or self.kind or UNREAD


def measure_document(printed, setup, workdir, stopwatch=None):
    """The Printed document read onto its sheet and measured against where the PageSetup puts the
    page (where it is measurable): rendered at the set-up's resolution where
    the document does not give its own, turned back upright where the set-up says it was turned.
    The time of rendering and measuring goes to stopwatch."""
    stopwatch = stopwatch or Stopwatch()
    document = printed.document or Document(printed.path)
    dpi, turn = setup.dpi, setup.turn
    page = MeasuredPage(printed.job, kind=document.kind, language=document.language,
                        title=document.title if document.title is not None else printed.title,
                        # Along a landscape page, x runs down the sheet.
                        dpi=dpi[::-1] if turn else dpi, document=printed.path)
    if not document.reader:
        page.described = describe(page, printed)
        return page
    page.untitled = document.in_printer_language and page.title is None
    try:
        rendered = document.render(printed.media or Media(setup.sheet, dpi=dpi), workdir, printed.black_on_white)
        files, dpi, page.assumed = rendered.files, rendered.dpi, rendered.assumed
    except StreamError as problem:
        files, page.unreadable = [], str(problem)
    page.dpi = dpi[::-1] if turn else dpi
    page.pages = len(files)
    if files:
        sheet = load_sheet(files[0])
        stopwatch.lap('render')
        page.sheet_size = (sheet.width, sheet.height)
        page.view = View(sheet, turn)
        width, height = page.view.width, page.view.height
        if setup.sheet:
            # The sheet's own size: A4 is no whole number of pixels.
            width, height = (points * dots / POINTS_PER_INCH for points, dots in zip(setup.sheet, dpi))
            if turn:
                width, height = height, width
        if setup.measurable():
            page.measurement = Measurement(page.view, Placement(page.dpi, setup.margins, width, height, setup.layout))
        for file in files:
            os.remove(file)
    stopwatch.lap('measure')
    page.described = describe(page, printed)
    return page


def describe(page, printed):
    """What the page was measured on: the document, in which language where asked, and what its
    reader took from the printer's model."""
    said = printed.source + printed.before_language + page.written_in() if printed.before_language else printed.source
    return f'{said} ({page.assumed})' if page.assumed else said
