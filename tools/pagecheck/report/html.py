"""report.html: each row's pages with the border's expected outer edges drawn over them, where the
modes differ, what each page was measured on and a verdict per check."""
import html

from .rows import FINDING_COLUMNS, HANDED_PICTURE, VERDICTS, by_paper, finding_cells, findings_of


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
.pass { background: #e4f5e4; } .FAIL { background: #f8dcdc; } .not { background: #f3ecd0; }
.disputed { background: #e8e0f4; }"""


def findings_html(rows):
    """The findings the failing pages match, before the pages."""
    found = findings_of(rows)
    if not found:
        return []
    parts = ['<h2>Findings</h2><table><tr>' + ''.join(f'<th>{column}</th>' for column in FINDING_COLUMNS) + '</tr>']
    for finding, pages in found:
        parts.append('<tr>' + ''.join(f'<td>{html.escape(cell)}</td>' for cell in finding_cells(finding, pages)) +
                     '</tr>')
    return parts + ['</table>']


def verdict_html(row, caption):
    found = row.finding(caption)
    verdict = row.page_verdict(caption)
    return f'<td class="{verdict.split()[0]}">{html.escape(verdict)}{f" ({html.escape(found)})" if found else ""}</td>'


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
    parts.append('</tr><tr><th>verdict</th>')
    parts += [verdict_html(row, caption) for caption in modes]
    parts.append('<td></td></tr>' if row.agreement else '</tr>')
    parts.append('<tr><th>measured on</th>')
    parts += [f'<td>{html.escape(row.measured[caption])}</td>' for caption in modes]
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
    parts += findings_html(rows)
    for paper, group in by_paper(rows):
        parts.append(f'<h2>{html.escape(paper)}</h2>')
        for row in group:
            parts += row_html(row)
    parts.append('<h2>Summary</h2>' + ''.join(f'<p>{html.escape(line)}</p>' for line in ending))
    parts.append('</body></html>')
    with open(path, 'w') as page:
        page.write('\n'.join(parts))
