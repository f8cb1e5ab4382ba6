"""The records a page and a run are described by, from the command line to the report: the
margins as typed into Page Setup, one page's set-up, and what a whole run shares."""
import re
from dataclasses import dataclass

from .errors import UsageError
from .modes import CAPTIONS
from .units import MM_PER_INCH, POINTS_PER_INCH

MARGINS = re.compile(r'\s*\d+(\.\d+)?\s*(,\s*\d+(\.\d+)?\s*){3}')
ORIENTATIONS = ('portrait', 'landscape')
# The installed filters, backends and drivers; a run may print with another folder laid out alike.
SERVERBIN = '/usr/lib/cups'


@dataclass(frozen=True)
class Margins:
    """Left, top, right and bottom margins as typed into Page Setup: inches, or millimetres where
    metric."""
    texts: tuple
    metric: bool = False

    @classmethod
    def parse(cls, text, metric=False):
        """The margins of --margins L,T,R,B; a UsageError for anything else."""
        if not MARGINS.fullmatch(text):
            raise UsageError(f'--margins: {text} is not four numbers L,T,R,B')
        return cls(tuple(part.strip() for part in text.split(',')), metric)

    @property
    def unit(self):
        return 'mm' if self.metric else 'inches'

    def points(self):
        return [float(text) / (MM_PER_INCH if self.metric else 1) * POINTS_PER_INCH for text in self.texts]

    def mm(self):
        return [float(text) * MM_PER_INCH / (MM_PER_INCH if self.metric else 1) for text in self.texts]

    def page_setup_values(self):
        """The margins as Page Setup hands them to the program, in thousandths of an inch or
        hundredths of a millimetre, and how many of those make an inch."""
        scale = 100 if self.metric else 1000
        return [round(float(text) * scale) for text in self.texts], (2540.0 if self.metric else 1000.0)


@dataclass(frozen=True)
class PageSetup:
    """One page as the program is asked to print it and as it is measured: the paper and its sheet
    (width, height) in points, the margins, the orientation and the mode ('direct' or 'bitmap').
    Once its job is taken: the printer's (x, y) resolution across the sheet (dpi), the one Wine's
    driver laid the page out at where that differs (layout), and which way a landscape page was
    turned on the sheet (turn: Plus90 puts its left edge at the sheet's bottom, Minus90 at its top)."""
    paper: str
    sheet: tuple
    margins: Margins
    orientation: str = 'portrait'
    mode: str = None
    dpi: tuple = None
    layout: tuple = None
    turn: str = None

    @property
    def caption(self):
        return CAPTIONS[self.mode]

    @property
    def landscape(self):
        return self.orientation == 'landscape'

    def has_room(self):
        """Whether the margins leave room for the page on the sheet."""
        left, top, right, bottom = self.margins.points()
        across, down = self.sheet[::-1] if self.landscape else self.sheet
        return left + right < across and top + bottom < down

    def measurable(self):
        """Whether the page can be measured: margins given that leave it room on the sheet, or on
        a sheet the set-up does not know (a print of the tests')."""
        return self.margins is not None and (self.sheet is None or self.has_room())


@dataclass(frozen=True)
class Run:
    """What every page of a run shares: the margins and the tolerance in mm it is judged to, where
    its report goes, its command line and shard, the CUPS ServerBin it printed with, and the
    earlier run it is compared with (its folder, and how many printer pixels a figure may move)."""
    margins: Margins
    tolerance: float
    out: str
    argv: tuple = ()
    shard: str = '1/1'
    serverbin: str = SERVERBIN
    baseline: str = None
    baseline_tolerance: float = 1.0
