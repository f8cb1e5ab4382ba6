"""The report of a check: one row per printer, paper and orientation, both modes side by side,
grouped by paper size, written as report.html, report.md and junit.xml, and its summary."""
import html
import os
import re
from xml.sax.saxutils import quoteattr, escape

from .printers import SERVERBIN
from .verdict import AGREE, PAGE_CHECKS, Check
from .wine import mode_name

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
    run; name is what the report calls it, model what it was."""

    def __init__(self, name, model):
        self.name = name
        self.model = model


class Row:
    """A printer's pages on one paper and orientation and their checks; problem says why none
    could be printed. steps holds the seconds each step of its pages took."""

    def __init__(self, printer, paper, orientation):
        self.printer = printer
        self.paper = paper
        self.orientation = orientation
        self.pages = {}
        self.checks = {}
        self.pictures = {}
        self.agreement = None
        self.problem = None
        self.steps = {}

    @property
    def title(self):
        return ', '.join(filter(None, (f'{self.printer.name} ({self.printer.model})', self.paper, self.orientation)))

    def fail(self, problem):
        self.problem = problem

    def time(self, steps):
        for step, seconds in steps.items():
            self.steps[step] = self.steps.get(step, 0.0) + seconds

    def stem(self, what):
        return re.sub(r'[^\w.-]', '_', f'{self.printer.name}-{self.paper}-{self.orientation}-{what}')

    def add(self, caption, page, checks):
        self.pages[caption] = page
        self.checks[caption] = checks

    def summary(self, caption):
        """pass, FAIL naming the checks that failed, or not measured naming those that could not
        be judged when none failed."""
        for verdict, word in ((False, 'FAIL'), (None, 'not measured')):
            names = [check.name for check in self.checks[caption] if check.passed is verdict]
            if names:
                return f'{word} ({", ".join(names)})'
        return 'pass'

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


def cell_html(check):
    if not check:
        return '<td></td>'
    return f'<td class="{VERDICTS[check.passed].split()[0]}"><b>{VERDICTS[check.passed]}</b><br>{html.escape(check.figure)}</td>'


def picture_html(name):
    return f'<a href="{html.escape(name)}"><img src="{html.escape(name)}" width="240"></a>' if name else 'no page'


def handed_html(name):
    return f'<br>the raster the driver was handed:<br>{picture_html(name)}' if name else ''


STYLE = """body { font-family: sans-serif; } table { border-collapse: collapse; margin-bottom: 2em; }
td, th { border: 1px solid #aaa; padding: 4px 6px; vertical-align: top; font-size: 90%; }
.pass { background: #e4f5e4; } .FAIL { background: #f8dcdc; } .not { background: #f3ecd0; }"""


def by_paper(rows):
    """The rows grouped by paper size, in the order the sizes first come; rows of printers that
    could not be set up on any paper last."""
    groups = {}
    for row in sorted(rows, key=lambda row: not row.paper):
        groups.setdefault(row.paper or 'No paper: the printer could not be set up', []).append(row)
    return groups.items()


def row_html(row):
    if row.problem:
        return [f'<h3>{html.escape(row.title)}: FAIL</h3><p class="FAIL">{html.escape(row.problem)}</p>']
    modes = list(row.checks)
    parts = [f'<h3>{html.escape(row.title)}: {row.verdict()}</h3><table><tr><th></th>']
    parts += [f'<th>{html.escape(caption)}</th>' for caption in modes]
    if row.agreement:
        parts.append('<th>Where they differ</th>')
    parts.append('</tr><tr><td></td>')
    parts += [f'<td>{picture_html(row.pictures.get(caption))}{handed_html(row.pictures.get(caption + HANDED_PICTURE))}'
              '</td>' for caption in modes]
    if row.agreement:
        parts.append(f'<td>{picture_html(row.pictures.get("difference"))}</td>')
    parts.append('</tr><tr><th>measured on</th>')
    parts += [f'<td>{html.escape(measured(row.pages[caption]))}</td>' for caption in modes]
    parts.append('<td></td></tr>' if row.agreement else '</tr>')
    longest = max((row.checks[caption] for caption in modes), key=len)
    for index, check in enumerate(longest):
        parts.append(f'<tr><th>{html.escape(check.name)}</th>')
        parts += [cell_html(row.checks[caption][index] if index < len(row.checks[caption]) else None)
                  for caption in modes]
        if row.agreement:
            parts.append(cell_html(row.agreement) if index == 0 else '<td></td>')
        parts.append('</tr>')
    parts.append('</table>')
    return parts


def write_html(rows, path, heading, ending):
    parts = [f'<!DOCTYPE html><html><head><meta charset="utf-8"><title>Printer check</title><style>{STYLE}</style>'
             f'</head><body><h1>Printer check</h1><p>{html.escape(heading)}. The red frame on each page is where the '
             f'border\'s outer edges belong; on the difference picture, red marks ink on one page only.</p>']
    for paper, group in by_paper(rows):
        parts.append(f'<h2>{html.escape(paper)}</h2>')
        for row in group:
            parts += row_html(row)
    parts.append('<h2>Summary</h2>' + ''.join(f'<p>{html.escape(line)}</p>' for line in ending))
    parts.append('</body></html>')
    with open(path, 'w') as page:
        page.write('\n'.join(parts))


def check_cell(check):
    named = '' if check.name in PAGE_CHECKS else f' ({check.name})'
    return f'{VERDICTS[check.passed]}{named}: {check.figure}'


def measured(page):
    """Which document a page was measured on."""
    return getattr(page, 'measured', '')


def md_lines(row):
    if row.problem:
        cells = [row.printer.name, row.paper or '', row.orientation or '', '', 'FAIL', check_cell(row.all_checks()[0][1])]
        return [cells + [''] * (len(PAGE_CHECKS) + 2)]
    lines = []
    for number, (caption, checks) in enumerate(row.checks.items()):
        mode = mode_name(caption)
        agreement = row.agreement if number == 0 else None
        links = [f'[{mode}]({row.pictures[caption]})'] if row.pictures.get(caption) else []
        if row.pictures.get(caption + HANDED_PICTURE):
            links.append(f'[handed to the driver]({row.pictures[caption + HANDED_PICTURE]})')
        if agreement and row.pictures.get('difference'):
            links.append(f'[difference]({row.pictures["difference"]})')
        cells = [row.printer.name, row.paper, row.orientation, mode, verdict_of(checks)]
        cells += [check_cell(check) for check in checks] + [''] * (len(PAGE_CHECKS) - len(checks))
        lines.append(cells + [f'{VERDICTS[agreement.passed]}: {agreement.figure}' if agreement else '', ' '.join(links),
                              measured(row.pages[caption])])
    return lines


def write_md(rows, path, heading, ending):
    lines = ['# Printer check', '', heading + '.']
    for paper, group in by_paper(rows):
        lines += ['', f'## {paper}', '',
                  '| Printer | Paper | Orientation | Mode | Verdict | ' + ' | '.join(PAGE_CHECKS) +
                  f' | {AGREE} | Page | Measured on |',
                  '|' + '---|' * (len(PAGE_CHECKS) + 8)]
        lines += ['| ' + ' | '.join(cell.replace('|', '\\|') for cell in cells) + ' |'
                  for row in group for cells in md_lines(row)]
    lines += ['', '## Summary', ''] + [line + '  ' for line in ending]
    with open(path, 'w') as report:
        report.write('\n'.join(lines) + '\n')


def write_junit(rows, path):
    suites = []
    for row in rows:
        cases = []
        for mode, check in row.all_checks():
            case = f'<testcase classname={quoteattr(row.title)} name={quoteattr(f"{mode}: {check.name}")}>'
            if check.passed is False:
                case += f'<failure message={quoteattr(check.figure)}/>'
            elif check.passed is None:
                case += f'<failure message={quoteattr("not measured: " + check.figure)} type="not measured"/>'
            else:
                case += f'<system-out>{escape(check.figure)}</system-out>'
            cases.append(case + '</testcase>')
        failures = sum(check.passed is not True for _, check in row.all_checks())
        suites.append(f'<testsuite name={quoteattr(row.title)} tests="{len(cases)}" failures="{failures}">'
                      + ''.join(cases) + '</testsuite>')
    with open(path, 'w') as report:
        report.write('<?xml version="1.0" encoding="UTF-8"?>\n<testsuites>' + '\n'.join(suites) + '</testsuites>\n')


def summary(rows):
    """Lines saying how many printers and pages were checked, how many passed, the failures by
    check, and where the pages' time went."""
    printers = {id(row.printer) for row in rows}
    pages = [(row, caption) for row in rows for caption in row.checks]
    passed = sum(row.summary(caption) == 'pass' for row, caption in pages)
    unmeasured = sum(row.summary(caption).startswith('not measured') for row, caption in pages)
    failures = {}
    for row in rows:
        for _, check in row.all_checks():
            if check.passed is False:
                failures[check.name] = failures.get(check.name, 0) + 1
    unusable = sum(1 for row in rows if row.problem)
    lines = [f'{len(printers)} printer(s), {len(pages)} page(s): {passed} passed every check, '
             f'{len(pages) - passed - unmeasured} failed one, {unmeasured} could not be measured; '
             f'{unusable} printer, paper or orientation could not be checked']
    lines.append('Failures by check: ' + (', '.join(f'{name} {count}' for name, count in failures.items()) or 'none'))
    steps = {}
    for row in rows:
        for step, seconds in row.steps.items():
            steps[step] = steps.get(step, 0.0) + seconds
    if pages and steps:
        total = sum(steps.values())
        ordered = sorted(steps, key=lambda step: STEPS.index(step) if step in STEPS else len(STEPS))
        lines.append(f'Time per page: {total / len(pages):.2f} s, of it ' +
                     ', '.join(f'{step} {steps[step] / len(pages):.2f} s' for step in ordered))
    return lines


def conclude(rows, options, say, notes=()):
    """Writes the reports into options.out and says the summary, notes at its end; returns the
    exit status."""
    passed = write_reports(rows, options, options.out, notes) and not notes
    for line in summary(rows) + list(notes):
        say(line)
    say(f'{"PASS" if passed else "FAIL"}: {os.path.join(options.out, "report.html")}')
    return 0 if passed else 1


def write_reports(rows, options, folder, notes=()):
    """Writes the three reports, notes at the summary's end; returns whether every check of every
    row passed."""
    units = 'mm' if options.mm else 'inches'
    heading = (f'Margins {",".join(options.margins)} {units} (left, top, right, bottom), tolerance '
               f'{options.tolerance} mm (at least 2 printer pixels)')
    # judge-page.sh prints through no scheduler.
    serverbin = getattr(options, 'cups_serverbin', SERVERBIN)
    if serverbin != SERVERBIN:
        heading += f'; filters, backends and drivers from {serverbin}'
    ending = summary(rows) + list(notes)
    write_html(rows, os.path.join(folder, 'report.html'), heading, ending)
    write_md(rows, os.path.join(folder, 'report.md'), heading, ending)
    write_junit(rows, os.path.join(folder, 'junit.xml'))
    return all(row.passed() for row in rows)
