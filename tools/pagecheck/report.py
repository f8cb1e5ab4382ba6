"""The report of a check: one row per printer, paper and orientation, both modes side by side,
written as report.html, report.md and junit.xml."""
import html
import os
import re
from xml.sax.saxutils import quoteattr, escape

from .verdict import AGREE, PAGE_CHECKS
from .wine import mode_name

VERDICTS = {True: 'pass', False: 'FAIL', None: 'not measured'}


class Row:
    def __init__(self, printer, paper, orientation):
        self.printer = printer
        self.paper = paper
        self.orientation = orientation
        self.pages = {}
        self.checks = {}
        self.pictures = {}
        self.agreement = None

    @property
    def title(self):
        return f'{self.printer.name} ({self.printer.model}), {self.paper}, {self.orientation}'

    def stem(self, what):
        return re.sub(r'[^\w.-]', '_', f'{self.printer.name}-{self.paper}-{self.orientation}-{what}')

    def add(self, caption, page, checks):
        self.pages[caption] = page
        self.checks[caption] = checks

    def summary(self, caption):
        failed = [check.name for check in self.checks[caption] if check.passed is not True]
        return f'FAIL ({", ".join(failed)})' if failed else 'pass'

    def all_checks(self):
        """(mode, check) for every check of the row."""
        found = [(mode_name(caption), check) for caption, checks in self.checks.items() for check in checks]
        return found + ([('both', self.agreement)] if self.agreement else [])

    def passed(self):
        return all(check.passed is True for _, check in self.all_checks())

    def release(self):
        """Lets the pages' pixels go once their pictures are made."""
        for page in self.pages.values():
            if getattr(page, 'measurement', None):
                page.view = page.measurement.view = None


def cell_html(check):
    if not check:
        return '<td></td>'
    return f'<td class="{VERDICTS[check.passed].split()[0]}"><b>{VERDICTS[check.passed]}</b><br>{html.escape(check.figure)}</td>'


def picture_html(name):
    return f'<a href="{html.escape(name)}"><img src="{html.escape(name)}" width="240"></a>' if name else 'no page'


STYLE = """body { font-family: sans-serif; } table { border-collapse: collapse; margin-bottom: 2em; }
td, th { border: 1px solid #aaa; padding: 4px 6px; vertical-align: top; font-size: 90%; }
.pass { background: #e4f5e4; } .FAIL { background: #f8dcdc; } .not { background: #f3ecd0; }"""


def write_html(rows, path, heading):
    parts = [f'<!DOCTYPE html><html><head><meta charset="utf-8"><title>Printer check</title><style>{STYLE}</style>'
             f'</head><body><h1>Printer check</h1><p>{html.escape(heading)}. The red frame on each page is where the '
             f'border\'s outer edges belong; on the difference picture, red marks ink on one page only.</p>']
    for row in rows:
        modes = list(row.checks)
        parts.append(f'<h2>{html.escape(row.title)}: {"pass" if row.passed() else "FAIL"}</h2><table><tr><th></th>')
        parts += [f'<th>{html.escape(caption)}</th>' for caption in modes]
        if row.agreement:
            parts.append('<th>Where they differ</th>')
        parts.append('</tr><tr><td></td>')
        parts += [f'<td>{picture_html(row.pictures.get(caption))}</td>' for caption in modes]
        if row.agreement:
            parts.append(f'<td>{picture_html(row.pictures.get("difference"))}</td>')
        parts.append('</tr>')
        for index, name in enumerate(PAGE_CHECKS):
            parts.append(f'<tr><th>{html.escape(name)}</th>')
            parts += [cell_html(row.checks[caption][index]) for caption in modes]
            if row.agreement:
                parts.append(cell_html(row.agreement) if index == 0 else '<td></td>')
            parts.append('</tr>')
        parts.append('</table>')
    parts.append('</body></html>')
    with open(path, 'w') as page:
        page.write('\n'.join(parts))


def write_md(rows, path, heading):
    lines = ['# Printer check', '', heading + '.', '',
             '| Printer | Paper | Orientation | Mode | Verdict | ' + ' | '.join(PAGE_CHECKS) + f' | {AGREE} | Page |',
             '|' + '---|' * (len(PAGE_CHECKS) + 7)]
    for row in rows:
        for number, (caption, checks) in enumerate(row.checks.items()):
            mode = mode_name(caption)
            agreement = row.agreement if number == 0 else None
            links = [f'[{mode}]({row.pictures[caption]})'] if row.pictures.get(caption) else []
            if agreement and row.pictures.get('difference'):
                links.append(f'[difference]({row.pictures["difference"]})')
            cells = [row.printer.name, row.paper, row.orientation, mode, 'pass' if row.summary(caption) == 'pass' else 'FAIL']
            cells += [f'{VERDICTS[check.passed]}: {check.figure}' for check in checks]
            cells += [f'{VERDICTS[agreement.passed]}: {agreement.figure}' if agreement else '', ' '.join(links)]
            lines.append('| ' + ' | '.join(cell.replace('|', '\\|') for cell in cells) + ' |')
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


def write_reports(rows, options, folder):
    """Writes the three reports; returns whether every check of every row passed."""
    units = 'mm' if options.mm else 'inches'
    heading = (f'Margins {",".join(options.margins)} {units} (left, top, right, bottom), tolerance '
               f'{options.tolerance} mm (at least 2 printer pixels)')
    write_html(rows, os.path.join(folder, 'report.html'), heading)
    write_md(rows, os.path.join(folder, 'report.md'), heading)
    write_junit(rows, os.path.join(folder, 'junit.xml'))
    return all(row.passed() for row in rows)
