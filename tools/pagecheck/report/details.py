"""The report's page of each printer: its pages with the border's expected outer edges drawn over
them, close-ups of a moved border, where the modes differ, what each page was measured on and a
verdict per check. The pictures sit beside report.html, a folder above."""
import html
import os
import re

from . import findings
from .rows import HANDED_PICTURE, VERDICTS
from ..core.modes import mode_name

FOLDER = 'printers'
SAFE = re.compile(r'[^\w.-]')
STYLE = """body { font-family: sans-serif; } table { border-collapse: collapse; margin-bottom: 2em; }
td, th { border: 1px solid #aaa; padding: 4px 6px; vertical-align: top; font-size: 90%; text-align: left; }
.pass { background: #e4f5e4; } .FAIL { background: #f8dcdc; } .not { background: #f3ecd0; }
.disputed { background: #e8e0f4; } figure { display: inline-block; margin: 0 1em 1em 0; }"""


def picture_file(name):
    return html.escape(f'../{name}')


def cell_html(check):
    if not check:
        return '<td></td>'
    return f'<td class="{VERDICTS[check.passed].split()[0]}"><b>{VERDICTS[check.passed]}</b><br>{html.escape(check.figure)}</td>'


def picture_html(name):
    return f'<a href="{picture_file(name)}"><img src="{picture_file(name)}" width="240"></a>' if name else 'no picture'


def handed_html(name):
    return f'<br>the raster the driver was handed:<br>{picture_html(name)}' if name else ''


def verdict_html(row, caption):
    found = row.finding(caption)
    verdict = row.page_verdict(caption)
    return f'<td class="{verdict.split()[0]}">{html.escape(verdict)}{f" ({html.escape(found)})" if found else ""}</td>'


def finding_html(row, caption):
    """What a failing page's finding says: its cause, where it comes from, how sure the check is."""
    found = row.findings.get(caption)
    if row.finding(caption) is None:
        return ''
    if not found:
        return f'<p><b>{mode_name(caption)}</b>: {findings.UNEXPLAINED}: no finding matches this page.</p>'
    return (f'<p><b>{mode_name(caption)}</b>: {html.escape(found.id)}, {html.escape(found.name)} '
            f'({html.escape(found.confidence)}): {html.escape(found.cause)} From {html.escape(found.source)}'
            f'{f" Option: {html.escape(found.option)}" if found.option else ""}</p>')


def closeups_html(row, caption):
    made = row.closeups.get(caption)
    if not made:
        return ''
    return (f'<p><b>{mode_name(caption)}</b>: the border where it moved, the red line where its outer edge '
            'belongs</p>' + ''.join(f'<figure><img src="{picture_file(closeup["file"])}" '
                                    f'alt="{html.escape(closeup["spot"])}: {html.escape(closeup["figure"])}">'
                                    f'<figcaption>{html.escape(closeup["spot"])}: {html.escape(closeup["figure"])}'
                                    '</figcaption></figure>' for closeup in made))


def row_html(row):
    heading = ', '.join(filter(None, (row.paper_setting, row.orientation)))
    if row.problem:
        return [f'<h2>{html.escape(heading)}: FAIL</h2><p class="FAIL">{html.escape(row.problem)}</p>']
    modes = list(row.checks)
    parts = [f'<h2>{html.escape(heading)}: {row.line_verdict()}</h2><table><tr><th></th>']
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
    parts += [finding_html(row, caption) + closeups_html(row, caption) for caption in modes]
    return parts


def by_printer(rows):
    """The rows of each printer, in the order the printers come."""
    printers = {}
    for row in rows:
        printers.setdefault(id(row.printer), []).append(row)
    return list(printers.values())


def write_details(rows, folder, heading):
    """Writes each printer's page into folder's FOLDER; returns each row's link to its printer's
    page, by id(row)."""
    os.makedirs(os.path.join(folder, FOLDER), exist_ok=True)
    links = {}
    for number, group in enumerate(by_printer(rows), 1):
        printer = group[0].printer
        name = f'{number:05d}-{SAFE.sub("_", printer.name)[:80]}.html'
        said = [f'PPD: {printer.source}' if getattr(printer, 'source', None) else '',
                f'raster driver: {printer.driver}' if getattr(printer, 'driver', None) else '']
        parts = [f'<!DOCTYPE html><html><head><meta charset="utf-8"><title>{html.escape(printer.name)}</title>'
                 f'<style>{STYLE}</style></head><body><p><a href="../report.html">All printers</a></p>'
                 f'<h1>{html.escape(printer.name)} ({html.escape(printer.model)})</h1>'
                 f'<p>{html.escape("; ".join(filter(None, said)))}</p><p>{html.escape(heading)}. The red frame on '
                 'each page is where the border\'s outer edges belong; on the difference picture, red marks ink on '
                 'one page only.</p>']
        for row in group:
            parts += row_html(row)
            links[id(row)] = f'{FOLDER}/{name}'
        parts.append('</body></html>')
        with open(os.path.join(folder, FOLDER, name), 'w') as page:
            page.write('\n'.join(parts))
    return links
