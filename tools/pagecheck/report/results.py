"""results.json: a check's rows as a program reads them, with what made them; the comparison of a
run's pages with an earlier run's (--baseline), and the reports of several runs (shards) put back
together as one (--merge)."""
import json
import os
import re
import shutil

from .rows import HANDED_PICTURE, VERDICTS, Named, Row
from .summary import report_run
from ..core.modes import CAPTIONS, MODES
from ..core.setup import Margins, Run
from ..core.units import MM_PER_INCH
from ..measure.checks import Check

FORMAT = 'printtest-check'
# Fields are only ever added within a version; one renamed, removed or changed in meaning makes the next.
VERSION = 1
RESULTS = 'results.json'
CHANGES = 'changes.md'
PASSED = {word: passed for passed, word in VERDICTS.items()}


class ResultsError(Exception):
    pass


def check_record(check):
    return {'name': check.name, 'verdict': VERDICTS[check.passed], 'figure': check.figure}


def page_record(row, caption):
    """A page as results.json holds it: a page never printed has no resolution, figures or
    language."""
    page, checks = row.pages[caption], row.checks[caption]
    if isinstance(page, StoredPage):
        return dict(page.record, verdict=row.page_verdict(caption), finding=row.finding(caption))
    return {
        'mode': MODES[caption],
        'verdict': row.page_verdict(caption),
        'finding': row.finding(caption),
        'checks': [check_record(check) for check in checks],
        'dpi': list(page.dpi) if getattr(page, 'dpi', None) else None,
        'figures': row.figures[caption],
        'language': getattr(page, 'language', None),
        'kind': getattr(page, 'kind', None),
        'measured_on': row.measured[caption],
        'pictures': {'page': row.pictures.get(caption), 'handed': row.pictures.get(caption + HANDED_PICTURE),
                     'closeups': row.closeups.get(caption, [])},
        'steps': dict(row.page_steps.get(caption, {})),
    }


def row_records(rows):
    """Each row as results.json holds it; printer is the printer's place among the run's printers."""
    records, number, last = [], -1, None
    for row in rows:
        if row.printer is not last:
            number, last = number + 1, row.printer
        records.append({
            'printer': row.printer.name, 'model': row.printer.model, 'printer_number': number,
            'ppd': getattr(row.printer, 'source', None), 'driver': getattr(row.printer, 'driver', None),
            'paper': row.paper, 'orientation': row.orientation, 'options': row.options, 'problem': row.problem,
            'agreement': check_record(row.agreement) if row.agreement else None,
            'difference_picture': row.pictures.get('difference'),
            'pages': [page_record(row, caption) for caption in row.pages],
            'steps': dict(row.steps),
        })
    return records


def document(rows, run):
    """results.json of the rows; run is what made them (the stack's run_record)."""
    return {'format': FORMAT, 'version': VERSION, 'run': run, 'rows': row_records(rows)}


def save(results, folder):
    with open(os.path.join(folder, RESULTS), 'w') as saved:
        json.dump(results, saved, indent=1)
        saved.write('\n')


def read(folder):
    """The results.json of a run's folder; ResultsError says why there is none to use."""
    path = os.path.join(folder, RESULTS)
    if not os.path.isdir(folder):
        raise ResultsError(f'{folder}: no such folder')
    if not os.path.isfile(path):
        raise ResultsError(f'{folder}: no {RESULTS}')
    try:
        with open(path) as saved:
            results = json.load(saved)
    except (ValueError, UnicodeDecodeError) as problem:
        raise ResultsError(f'{path}: cut short or not JSON ({problem})') from None
    if not isinstance(results, dict) or results.get('format') != FORMAT or not isinstance(results.get('rows'), list):
        raise ResultsError(f'{path}: not the results of a check')
    if results.get('version') != VERSION:
        raise ResultsError(f'{path}: version {results.get("version")}, this check reads {VERSION}')
    return results


class StoredPage:
    """A page as results.json holds it: what the report shows of it, and its record."""

    def __init__(self, record):
        self.record = record


def stored_check(record):
    return Check(record['name'], PASSED[record['verdict']], record['figure'])


def rows_of(results, where=''):
    """The rows of a results.json, as the report's writers take them; where tells apart printers
    of different runs."""
    printers, rows = {}, []
    for record in results['rows']:
        key = (where, record['printer_number'])
        printer = printers.setdefault(key, Named(record['printer'], record['model'], record.get('ppd'),
                                                 record.get('driver')))
        row = Row(printer, record['paper'], record['orientation'], record.get('options'))
        if record['problem']:
            row.fail(record['problem'])
        for page in record['pages']:
            caption = CAPTIONS[page['mode']]
            row.add(caption, StoredPage(page), [stored_check(check) for check in page['checks']], page['measured_on'])
            row.pictures[caption] = page['pictures']['page']
            if page['pictures']['handed']:
                row.pictures[caption + HANDED_PICTURE] = page['pictures']['handed']
            if page['pictures'].get('closeups'):
                row.closeups[caption] = page['pictures']['closeups']
        if record['agreement']:
            row.agreement = stored_check(record['agreement'])
        if record['difference_picture']:
            row.pictures['difference'] = record['difference_picture']
        row.time(record['steps'])
        rows.append(row)
    return rows


def comparable(page):
    """A page's figures in printer pixels, named: {name: (pixels, figure, unit)}; mm and points
    turned into pixels at the page's resolution, across (x) or down (y) the page."""
    figures, dpi = page['figures'] or {}, page['dpi'] or (1, 1)
    found = {}

    def add(name, value, unit, dots=None):
        pixels = value if unit == 'px' or value is None else value / {'mm': MM_PER_INCH, 'pt': 72}[unit] * dots
        found[name] = (pixels, value, unit)

    for edge, moved in (figures.get('edges') or {}).items():
        add(f'{edge} edge', moved and moved['px'], 'px')
    for end, width in (figures.get('strokes_mm') or {}).items():
        add(f'stroke width {end}', width, 'mm', dpi[0])
    for name in ('diagonals', 'ellipse'):
        if name in figures:
            add(name, figures[name] and figures[name]['px'], 'px')
    text = figures.get('text') or {}
    for name, unit, dots in (('height_pt', 'pt', dpi[1]), ('down_mm', 'mm', dpi[1]), ('across_mm', 'mm', dpi[0]),
                             ('start_mm', 'mm', dpi[0])):
        if name in text:
            add(f'text {name.split("_")[0]}', text[name], unit, dots)
    for edge, gap in (figures.get('driver_gaps') or {}).items():
        add(f'driver gap {edge}', gap and gap['px'], 'px')
    return found


def pages_of(results):
    """{(printer, paper, orientation, NAME=VALUE of each option, mode): page}"""
    return {(row['printer'], row['paper'], row['orientation'],
             *(f'{name}={value}' for name, value in (row.get('options') or {}).items()), page['mode']): page
            for row in results['rows'] for page in row['pages']}


def moves(before, after, tolerance):
    """What moved by more than tolerance pixels from one page's record to the other's."""
    old, new = comparable(before), comparable(after)
    found = []
    for name in dict.fromkeys([*old, *new]):
        was_px, was, unit = old.get(name) or (None, None, new[name][2])
        now_px, now, _ = new.get(name) or (None, None, unit)
        if was_px is None and now_px is None:
            continue
        if was_px is None or now_px is None or abs(now_px - was_px) > tolerance:
            found.append({'figure': name, 'was': was, 'now': now, 'unit': unit,
                          'px': None if was_px is None or now_px is None else now_px - was_px})
    return found


def compare(baseline, results, tolerance, where):
    """The pages changed since the baseline: a verdict changed or a figure moved by more than
    tolerance printer pixels; and the pages new or gone."""
    old, new = pages_of(baseline), pages_of(results)
    changed = []
    for key in new:
        if key not in old:
            continue
        verdicts = [old[key]['verdict'], new[key]['verdict']]
        moved = moves(old[key], new[key], tolerance)
        if verdicts[0] != verdicts[1] or moved:
            changed.append({'page': list(key), 'verdict': verdicts if verdicts[0] != verdicts[1] else None,
                            'moved': moved})
    return {'dir': where, 'tolerance_px': tolerance, 'changed': changed,
            'new': [list(key) for key in new if key not in old], 'gone': [list(key) for key in old if key not in new]}


def amount(value, unit):
    return 'not found' if value is None else f'{value:+.2f} {unit}'


def change_lines(changes):
    """The comparison's line, and one for each page changed, new or gone."""
    lines = [f'Compared with {changes["dir"]}: {len(changes["changed"])} pages changed, {len(changes["new"])} new, '
             f'{len(changes["gone"])} gone']
    for change in changes['changed']:
        said = [f'verdict {change["verdict"][0]} -> {change["verdict"][1]}'] if change['verdict'] else []
        said += [f'{move["figure"]} {amount(move["was"], move["unit"])} -> {amount(move["now"], move["unit"])}' +
                 (f' ({move["px"]:+.1f} px)' if move['px'] is not None else '') for move in change['moved']]
        lines.append(f'changed: {" ".join(change["page"])}: {"; ".join(said)}')
    lines += [f'new: {" ".join(key)}' for key in changes['new']]
    lines += [f'gone: {" ".join(key)}' for key in changes['gone']]
    return lines


def write_changes(lines, folder):
    with open(os.path.join(folder, CHANGES), 'w') as report:
        report.write('# Changes\n\n' + lines[0] + '.\n\n' + ''.join(f'- {line}\n' for line in lines[1:]))


def save_run(results, run, say, status):
    """Writes results.json into the run's folder and, where the run names a baseline, compares the
    run with it; returns the exit status, 1 where a page changed, is new or gone."""
    if run.baseline:
        results['baseline'] = compare(read(run.baseline), results, run.baseline_tolerance, run.baseline)
        lines = change_lines(results['baseline'])
        write_changes(lines, run.out)
        for line in lines:
            say(line)
        if len(lines) > 1:
            status = 1
    save(results, run.out)
    return status


def given(number, run):
    """Where a shard's printer came among the printers the runs were given: shards take them in
    turn, so that printer n (from 0) of shard i of N was printer n * N + i - 1."""
    shard, shards = map(int, re.fullmatch(r'(\d+)/(\d+)', run.get('shard') or '1/1').groups())
    return number * shards + shard - 1


def stored_run(record, out):
    """The Run a results.json's run record was judged with, its reports going to out."""
    return Run(Margins(tuple(record['margins']), record['unit'] == 'mm'), record['tolerance_mm'], out)


def picture_files(record):
    """The files of a row record's pictures."""
    names = [record['difference_picture']]
    for page in record['pages']:
        pictures = page['pictures']
        names += [pictures['page'], pictures['handed']] + [closeup['file'] for closeup in pictures.get('closeups', [])]
    return [name for name in names if name]


def merge(folders, out, say):
    """Writes one report of the runs in folders into out, pictures copied, as one run would have;
    returns the exit status: 1 where a folder has no results to merge or a check failed."""
    os.makedirs(out, exist_ok=True)
    rows, notes, runs = [], [], []
    for folder in folders:
        try:
            results = read(folder)
        except ResultsError as problem:
            notes.append(f'Not merged: {problem}')
            say(notes[-1])
            continue
        found = rows_of(results, folder)
        say(f'{folder}: {len(found)} rows of shard {results["run"].get("shard")}')
        if os.path.abspath(folder) != os.path.abspath(out):
            for record in results['rows']:
                for picture in picture_files(record):
                    shutil.copyfile(os.path.join(folder, picture), os.path.join(out, picture))
        runs.append((folder, results, found))
    if not runs:
        say('FAIL: no results to merge')
        return 1
    first = runs[0][1]['run']
    for _, results, _ in runs[1:]:
        if [results['run'][key] for key in ('margins', 'unit', 'tolerance_mm')] != \
                [first[key] for key in ('margins', 'unit', 'tolerance_mm')]:
            notes.append(f'Merged with other margins, unit or tolerance: shard {results["run"].get("shard")}')
    ordered = sorted(((given(record['printer_number'], results['run']), number, index, row)
                      for number, (_, results, found) in enumerate(runs)
                      for index, (record, row) in enumerate(zip(results['rows'], found))), key=lambda item: item[:3])
    rows = [item[-1] for item in ordered]
    run = dict(first, shard='1/1', merged=[{'dir': folder, 'shard': results['run'].get('shard'),
                                            'argv': results['run'].get('argv')}
                                           for folder, results, _ in runs])
    status = report_run(rows, stored_run(first, out), say, run, notes)
    save(document(rows, run), out)
    return status
