"""The report's rows: one per printer, paper and orientation, both modes side by side, with the
verdicts of their checks."""
import os
import re

from . import findings
from .figures import page_figures
from ..core.modes import MODES, mode_name
from ..measure.checks import Check

VERDICTS = {True: 'pass', False: 'FAIL', None: 'not measured'}
# A page's steps in the order they come, whichever a run met first: a printer that could not be
# set up has its start timed before any page.
STEPS = ('start', 'driving', 'dialog', 'job', 'filters', 'render', 'measure', 'pictures')
# A mode's picture of the raster a driver was handed, shown where the driver did not keep the page.
HANDED_PICTURE = ' handed'
SET_UP = 'set up'


def verdict_of(checks):
    """pass, FAIL where a check failed, or not measured where one could not be judged and none failed."""
    found = {check.passed for check in checks}
    return VERDICTS[False if False in found else None if None in found else True]


class Named:
    """A row's printer where no PPD was read: a file judged on its own, or a printer of a stored
    run; name is what the report calls it, model what it was, source the PPD as it was given and
    driver the raster driver its filters end in, where known."""

    def __init__(self, name, model, source=None, driver=None):
        self.name = name
        self.model = model
        self.source = source
        self.driver = driver


class Row:
    """A printer's pages on one paper and orientation, each by its mode's caption with its checks,
    what it was measured on and the seconds each step of it took; the row's pictures; the check
    that the two modes agree; problem says why none could be printed. steps holds the seconds each
    step of its pages took, added up."""

    def __init__(self, printer, paper, orientation, options=None):
        self.printer = printer
        self.paper = paper
        self.orientation = orientation
        # The PPD options the queue was set to for this row, as --option asked.
        self.options = dict(options or {})
        self.pages = {}
        self.checks = {}
        self.findings = {}
        self.measured = {}
        self.page_steps = {}
        self.pictures = {}
        self.closeups = {}
        self.figures = {}
        self.agreement = None
        self.problem = None
        self.steps = {}

    @property
    def setting(self):
        """The row's options as NAME=VALUE words; empty where it has none."""
        return ' '.join(f'{name}={value}' for name, value in self.options.items())

    @property
    def paper_setting(self):
        """The paper, with the options the row was printed with."""
        return ' '.join(filter(None, (self.paper, self.setting)))

    @property
    def title(self):
        return ', '.join(filter(None, (f'{self.printer.name} ({self.printer.model})', self.paper_setting,
                                       self.orientation)))

    def fail(self, problem):
        self.problem = problem

    def time(self, steps):
        for step, seconds in steps.items():
            self.steps[step] = self.steps.get(step, 0.0) + seconds

    def stem(self, what):
        setting = ''.join(f'{name}={value}-' for name, value in self.options.items())
        return re.sub(r'[^\w.=-]', '_', f'{self.printer.name}-{self.paper}-{setting}{self.orientation}-{what}')

    def add(self, caption, page, checks, measured):
        """A page (a measured one, the NotPrinted in its place, or one an earlier run stored) and
        its checks; measured says what it was measured on."""
        self.pages[caption] = page
        self.checks[caption] = checks
        self.measured[caption] = measured
        # A stored page keeps its figures; a measured one has them worked out.
        self.figures[caption] = page.record['figures'] if hasattr(page, 'record') else page_figures(page)
        self.findings[caption] = self.explain(caption)

    def explain(self, caption):
        """The page's finding where it failed: None where it matches none."""
        checks = self.checks[caption]
        if verdict_of(checks) != 'FAIL':
            return None
        driver = ' '.join(filter(None, (getattr(self.printer, 'source', None), getattr(self.printer, 'driver', None))))
        record = {'figures': self.figures[caption], 'language': self.language(caption), 'mode': MODES[caption],
                  'checks': [{'name': check.name, 'verdict': VERDICTS[check.passed], 'figure': check.figure}
                             for check in checks]}
        return findings.explain(findings.match_page(driver, self.paper, record))

    def language(self, caption):
        """The language the page was printed in; a page in a document language (PostScript, PDF)
        has it as its kind."""
        page = self.pages[caption]
        stored = getattr(page, 'record', {})
        return getattr(page, 'language', None) or getattr(page, 'kind', None) or stored.get('language') or \
            stored.get('kind')

    def finding(self, caption):
        """The id of a failing page's finding, unexplained where it has none; None for a page
        that did not fail."""
        if verdict_of(self.checks[caption]) != 'FAIL':
            return None
        found = self.findings.get(caption)
        return found.id if found else findings.UNEXPLAINED

    def page_verdict(self, caption):
        """pass, FAIL, not measured, or disputed for a failing page whose finding is disputed."""
        found = self.findings.get(caption)
        verdict = verdict_of(self.checks[caption])
        return findings.DISPUTED if verdict == 'FAIL' and found and found.confidence == findings.DISPUTED else verdict

    def summary(self, caption):
        """pass, FAIL naming the checks that failed (or disputed), or not measured naming those that
        could not be judged when none failed."""
        for verdict, word in ((False, self.page_verdict(caption)), (None, 'not measured')):
            names = [check.name for check in self.checks[caption] if check.passed is verdict]
            if names:
                return f'{word} ({", ".join(names)})'
        return 'pass'

    def line_verdict(self):
        """The row's verdict over its pages: FAIL where it could not be set up, a page failed or
        the modes disagree; else disputed where a page is; else not measured where one is."""
        if self.problem:
            return 'FAIL'
        found = {self.page_verdict(caption) for caption in self.checks}
        if self.agreement:
            found.add(VERDICTS[self.agreement.passed])
        return next((verdict for verdict in ('FAIL', findings.DISPUTED, 'not measured') if verdict in found), 'pass')

    def largest_shift(self):
        """(mm, edge) of the edge furthest from where it belongs over the row's pages, or None where
        no edge was found."""
        shifts = [(abs(moved['mm']), edge) for figures in self.figures.values()
                  for edge, moved in ((figures or {}).get('edges') or {}).items() if moved]
        return max(shifts, default=None)

    def all_checks(self):
        """(mode, check) for every check of the row."""
        if self.problem:
            return [('printer', Check(SET_UP, False, self.problem))]
        found = [(mode_name(caption), check) for caption, checks in self.checks.items() for check in checks]
        return found + ([('both', self.agreement)] if self.agreement else [])

    def passed(self):
        return all(check.passed is True for _, check in self.all_checks())

    def verdict(self):
        return verdict_of(check for _, check in self.all_checks())

    def release(self):
        """Lets the pages' pixels go once their pictures are made."""
        for page in self.pages.values():
            for source in (page, getattr(page, 'handed', None)):
                if getattr(source, 'measurement', None):
                    source.view = source.measurement.view = None


def findings_of(rows):
    """[(finding or None for unexplained, pages)] of the rows' failing pages, most pages first."""
    counts = {}
    for row in rows:
        for caption in row.checks:
            # By id: rows judged in other processes hold copies of the findings.
            name = row.finding(caption)
            if name:
                counts[name] = counts.get(name, 0) + 1
    return sorted(((findings.BY_ID.get(name), count) for name, count in counts.items()),
                  key=lambda item: (item[0] is None, -item[1], item[0] and item[0].id))


FINDING_COLUMNS = ('Finding', 'Pages', 'Cause', 'Where it comes from', 'Confidence', 'Option')


def finding_cells(finding, pages):
    """A line of the reports' table of findings, for a finding or None for the unexplained pages."""
    if not finding:
        return ['unexplained', str(pages), 'no finding matches these pages', '', '', '']
    return [f'{finding.id}: {finding.name}', str(pages), finding.cause, finding.source, finding.confidence,
            finding.option]


def driver_of(ppd, driver):
    """What a printer's pages were written by: its raster driver, else its PPD's driver program
    (the PPD's name as CUPS gives it) or folder."""
    if driver:
        return driver
    ppd = ppd or ''
    return ppd.split(':', 1)[0] if re.match(r'[\w.+-]+:', ppd) else os.path.dirname(ppd)


def by_paper(rows):
    """The rows grouped by paper size, in the order the sizes first come; rows of printers that
    could not be set up on any paper last."""
    groups = {}
    for row in sorted(rows, key=lambda row: not row.paper):
        groups.setdefault(row.paper or 'No paper: the printer could not be set up', []).append(row)
    return groups.items()
