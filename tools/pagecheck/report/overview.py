"""report.html: the run, its counts and findings, and one line per printer and paper, sortable and
filtered in the browser (no server, nothing loaded from elsewhere), each linking to its printer's
page."""
import html

from . import findings
from .rows import driver_of, finding_cells, findings_of
from ..core.modes import BITMAP_CAPTION, DIRECT_CAPTION

STYLE = """body { font-family: sans-serif; margin: 1em 2em; } table { border-collapse: collapse; margin-bottom: 1.5em; }
td, th { border: 1px solid #aaa; padding: 3px 6px; vertical-align: top; font-size: 90%; text-align: left; }
.pass { background: #e4f5e4; } .FAIL { background: #f8dcdc; } .not { background: #f3ecd0; }
.disputed { background: #e8e0f4; } #lines th { cursor: pointer; position: sticky; top: 0; background: #eee; }
#lines th.up::after { content: " \\25B2"; } #lines th.down::after { content: " \\25BC"; }
#filters { margin: 0.5em 0; } #filters label { margin-right: 1em; } td.number { text-align: right; }
.run { color: #444; }
#lines { table-layout: fixed; width: 100%; } #lines td { overflow-wrap: anywhere; }
#lines col.printer { width: 24%; } #lines col.driver { width: 14%; } #lines col.finding { width: 20%; }
#lines col.short { width: 7%; }"""

# The lines' columns, each with whether it sorts as a number and whether it is filtered by a list
# of its values.
COLUMNS = (('Printer', False, False), ('Driver', False, True), ('Language', False, True), ('Paper', False, True),
           ('Verdict', False, True), ('Direct', False, False), ('Bitmap', False, False),
           ('Largest shift (mm)', True, False), ('Finding', False, True))
# The lines' columns are as wide as these classes say, so that the browser lays the table out
# without measuring every line first.
COLUMN_WIDTHS = ('printer', 'driver', 'short', 'short', 'short', 'short', 'short', 'short', 'finding')
VERDICT_ORDER = ('pass', 'FAIL', findings.DISPUTED, 'not measured')

SCRIPT = """(() => {
  const body = document.querySelector('#lines tbody');
  const lines = Array.from(body.rows);
  const selects = Array.from(document.querySelectorAll('#filters select'));
  const search = document.getElementById('search');
  const shown = document.getElementById('shown');
  let cells = null;
  const texts = () => cells || (cells = lines.map(line => Array.from(line.cells, cell => cell.textContent)));
  function apply() {
    const wanted = selects.map(select => [Number(select.dataset.column), select.value]).filter(pair => pair[1]);
    const words = search.value.toLowerCase().split(/\\s+/).filter(Boolean);
    let count = 0;
    texts().forEach((text, index) => {
      const whole = words.length ? text.join(' ').toLowerCase() : '';
      const show = wanted.every(([column, value]) => text[column].split(', ').includes(value)) &&
        words.every(word => whole.includes(word));
      lines[index].hidden = !show;
      count += show;
    });
    shown.textContent = `${count} of ${lines.length} lines`;
  }
  selects.forEach(select => select.addEventListener('change', apply));
  document.querySelectorAll('#findings a').forEach(link => link.addEventListener('click', () => {
    const select = document.getElementById('filter-finding');
    select.value = link.dataset.finding;
    apply();
  }));
  search.addEventListener('input', apply);
  document.querySelectorAll('#lines th').forEach((heading, column) => heading.addEventListener('click', () => {
    const up = !heading.classList.contains('up');
    document.querySelectorAll('#lines th').forEach(other => other.classList.remove('up', 'down'));
    heading.classList.add(up ? 'up' : 'down');
    const numeric = heading.dataset.numeric !== undefined;
    const key = index => texts()[index][column];
    const order = lines.map((line, index) => index);
    order.sort((a, b) => {
      const one = key(a), other = key(b);
      const found = numeric ? (parseFloat(one) || 0) - (parseFloat(other) || 0) : one.localeCompare(other);
      return (up ? found : -found) || a - b;
    });
    const rows = order.map(index => lines[index]);
    body.append(...rows);
  }));
  shown.textContent = `${lines.length} lines`;
})();"""


def run_html(record):
    """The run: when and where, the stack under test and its versions, shards merged."""
    versions = record.get('versions') or {}
    packages = ', '.join(f'{name} {version}' for name, version in (versions.get('packages') or {}).items())
    said = [f'Run {record.get("date")} on {(record.get("machine") or {}).get("host")}',
            f'Print Test {versions.get("printtest")} ({versions.get("git")})',
            f'{versions.get("wine")}', f'CUPS ServerBin {record.get("cups_serverbin")}',
            f'packages: {packages}' if packages else '',
            f'the check\'s Ghostscript {versions.get("ghostscript")} and GhostPCL {versions.get("ghostpcl")}']
    if record.get('merged'):
        said.append(f'merged from {len(record["merged"])} runs')
    return f'<p class="run">{html.escape("; ".join(filter(None, said)))}.</p>'


def counts(rows):
    """{name: count} of the overview's counts."""
    pages = [(row, caption) for row in rows for caption in row.checks]
    verdicts = [row.page_verdict(caption) for row, caption in pages]
    found = {'printers': len({id(row.printer) for row in rows}), 'pages': len(pages)}
    found.update((verdict, verdicts.count(verdict)) for verdict in VERDICT_ORDER)
    found[findings.UNEXPLAINED] = sum(row.finding(caption) == findings.UNEXPLAINED for row, caption in pages)
    found['not set up'] = sum(1 for row in rows if row.problem)
    return found


def findings_html(rows):
    """The findings the failing pages match, with their page counts; a finding's name shows its
    lines. Where each comes from and what an option does is on its pages' printer pages."""
    found = findings_of(rows)
    if not found:
        return ''
    parts = ['<h2>Findings</h2><table id="findings"><tr><th>Finding</th><th>Pages</th><th>Confidence</th>'
             '<th>Cause</th></tr>']
    for finding, pages in found:
        name, count, cause, _, confidence, _ = finding_cells(finding, pages)
        key = finding.id if finding else findings.UNEXPLAINED
        parts.append(f'<tr><td><a href="#lines" data-finding="{html.escape(key)}">{html.escape(name)}</a></td>'
                     f'<td>{count}</td><td>{html.escape(confidence)}</td><td>{html.escape(cause)}</td></tr>')
    return ''.join(parts) + '</table>'


def language_of(row, caption):
    """The page's language as the lines show it: as its reader names it (PostScript), where a PJL
    job names the same in capitals (POSTSCRIPT), so that the list of languages holds it once."""
    page = row.pages[caption]
    kind = getattr(page, 'kind', None) or getattr(page, 'record', {}).get('kind')
    language = row.language(caption)
    return kind if kind and language and kind.upper() == language.upper() else language


def line_cells(row):
    """The texts of a row's line, in the order of COLUMNS but the first."""
    languages = [language_of(row, caption) for caption in row.checks]
    shift = row.largest_shift()
    found = dict.fromkeys(name for name in (row.finding(caption) for caption in row.checks) if name)
    paper = ' '.join(filter(None, (row.paper_setting, row.orientation if row.orientation != 'portrait' else None)))
    return [driver_of(getattr(row.printer, 'source', None), getattr(row.printer, 'driver', None)) or '',
            next(filter(None, languages), '') or '', paper or '', row.line_verdict()] + \
        [row.page_verdict(caption) if caption in row.checks else '' for caption in (DIRECT_CAPTION, BITMAP_CAPTION)] + \
        [f'{shift[0]:.2f} {shift[1]}' if shift else '', ', '.join(found)]


def line_html(row, cells, link):
    """A row's line: cells are its line_cells."""
    printer = f'<a href="{html.escape(link)}">{html.escape(row.printer.name)}</a> {html.escape(row.printer.model)}'
    out = [f'<td>{printer}</td>']
    for (_, numeric, _), text in zip(COLUMNS[1:], cells):
        kind = 'number' if numeric else text.split(' ')[0] if text in VERDICT_ORDER else ''
        out.append(f'<td class="{kind}">{html.escape(text)}</td>' if kind else f'<td>{html.escape(text)}</td>')
    return '<tr>' + ''.join(out) + '</tr>'


def filters_html(lines):
    """A list of each filtered column's values, and the search box."""
    parts = ['<div id="filters">']
    for column, (name, _, listed) in enumerate(COLUMNS):
        if not listed:
            continue
        values = sorted({value for cells in lines for value in cells[column].split(', ') if value},
                        key=lambda value: (VERDICT_ORDER.index(value) if value in VERDICT_ORDER else 9, value))
        options = ''.join(f'<option>{html.escape(value)}</option>' for value in values)
        parts.append(f'<label>{name} <select id="filter-{name.lower()}" data-column="{column}"><option value="">any'
                     f'</option>{options}</select></label>')
    parts.append('<label>Search <input id="search" type="search"></label> <span id="shown"></span></div>')
    return ''.join(parts)


def write_overview(rows, links, path, heading, ending, record):
    """Writes report.html; links gives each row's printer page, by id(row)."""
    found = counts(rows)
    cells = [line_cells(row) for row in rows]
    lines = [[row.printer.name] + texts for row, texts in zip(rows, cells)]
    parts = [f'<!DOCTYPE html><html><head><meta charset="utf-8"><title>Printer check</title><style>{STYLE}</style>'
             f'</head><body><h1>Printer check</h1>{run_html(record)}<p>{html.escape(heading)}.</p>',
             '<table id="counts"><tr>' + ''.join(f'<th>{html.escape(name)}</th>' for name in found) + '</tr><tr>' +
             ''.join(f'<td>{count}</td>' for count in found.values()) + '</tr></table>',
             findings_html(rows), '<h2>Printers</h2>', filters_html(lines),
             '<table id="lines"><colgroup>' + ''.join(f'<col class="{kind}">' for kind in COLUMN_WIDTHS) +
             '</colgroup><thead><tr>' +
             ''.join(f'<th{" data-numeric" if numeric else ""}>{html.escape(name)}</th>' for name, numeric, _ in COLUMNS) +
             '</tr></thead><tbody>']
    parts += [line_html(row, texts, links[id(row)]) for row, texts in zip(rows, cells)]
    parts.append('</tbody></table><h2>Summary</h2>' + ''.join(f'<p>{html.escape(line)}</p>' for line in ending))
    parts.append(f'<script>{SCRIPT}</script></body></html>')
    with open(path, 'w') as page:
        page.write('\n'.join(parts))
