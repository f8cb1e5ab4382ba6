"""report.md: the report's table, a line per page, with links to the pictures."""
from .rows import FINDING_COLUMNS, HANDED_PICTURE, VERDICTS, by_paper, finding_cells, findings_of
from ..core.modes import mode_name
from ..measure.checks import AGREE, PAGE_CHECKS

def check_cell(check):
    named = '' if check.name in PAGE_CHECKS else f' ({check.name})'
    return f'{VERDICTS[check.passed]}{named}: {check.figure}'


def verdict_cell(row, caption):
    found = row.finding(caption)
    return row.page_verdict(caption) + (f' ({found})' if found else '')


def findings_lines(rows):
    """The findings the failing pages match, before the pages: what went wrong, why, how sure."""
    found = findings_of(rows)
    if not found:
        return []
    lines = ['', '## Findings', '', '| ' + ' | '.join(FINDING_COLUMNS) + ' |', '|---|---:|---|---|---|---|']
    for finding, pages in found:
        lines.append('| ' + ' | '.join(cell.replace('|', '\\|') for cell in finding_cells(finding, pages)) + ' |')
    return lines


def md_lines(row):
    if row.problem:
        cells = [row.printer.name, row.paper_setting, row.orientation or '', '', 'FAIL', check_cell(row.all_checks()[0][1])]
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
        cells = [row.printer.name, row.paper_setting, row.orientation, mode, verdict_cell(row, caption)]
        cells += [check_cell(check) for check in checks] + [''] * (len(PAGE_CHECKS) - len(checks))
        lines.append(cells + [f'{VERDICTS[agreement.passed]}: {agreement.figure}' if agreement else '', ' '.join(links),
                              row.measured[caption]])
    return lines


def write_md(rows, path, heading, ending):
    lines = ['# Printer check', '', heading + '.'] + findings_lines(rows)
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
