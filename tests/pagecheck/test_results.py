"""results.json on hand-made rows: its figures are the report's, the rows it holds make the same
report again, a baseline names what moved by more than its tolerance and what changed its
verdict, and shards merged make the report of the whole run, naming a shard cut short."""
import copy
import json
import os
import re
import shutil
import tempfile
import types
import unittest

from dataclasses import replace

import numpy
from PIL import Image

from pagecheck.core.modes import BITMAP_CAPTION, DIRECT_CAPTION, mode_name
from pagecheck.core.setup import Margins, Run
from pagecheck.measure.checks import (DIAGONALS, ELLIPSE, Check, Tolerance, judge_edges, judge_line, judge_strokes,
                                      judge_text)
from pagecheck.measure.checks import moved_edges
from pagecheck.report import results
from pagecheck.report.closeups import SIZE, closeups
from pagecheck.report.pictures import EXPECTED
from pagecheck.report.rows import Row
from pagecheck.report.summary import report_run
from pagecheck.stack.versions import run_record
from test_verdict import LETTER, measured

# Four printers: a Direct and a Bitmap page each (no diagonals drawn: they fail), the Bitmap page
# judged with a left margin a pixel wider than it was drawn with; the last printer could not be set up.
PRINTERS = 4


def page(box, first, last, margins=LETTER):
    m = measured(box, first, last, margins)
    tolerance = Tolerance(0.1, (100, 100))
    checks = [judge_edges(m, tolerance), judge_strokes(m, tolerance), judge_line(DIAGONALS, m.diagonal_errors, tolerance, 100),
              judge_line(ELLIPSE, m.ellipse_errors, tolerance, 100), judge_text(m)]
    return types.SimpleNamespace(measurement=m, dpi=(100, 100), language='POSTSCRIPT', kind='PostScript'), checks


def make_rows():
    rows = []
    for number in range(PRINTERS):
        printer = types.SimpleNamespace(name=f'P{number}', model=f'Model {number}', driver=None)
        row = Row(printer, 'Letter', 'portrait')
        if number == PRINTERS - 1:
            row.fail('cannot be used: no page size')
        else:
            for caption, margins in ((DIRECT_CAPTION, LETTER), (BITMAP_CAPTION, ('0.81', '0.7', '0.7', '0.7'))):
                row.add(caption, *page((230, 516, 630, 584), 235, 625, margins), 'the document the queue wrote')
                row.pictures[caption] = row.stem(mode_name(caption).split()[0].lower()) + '.png'
                row.page_steps[caption] = {'dialog': 0.5, 'render': 1.25}
                row.time(row.page_steps[caption])
            row.agreement = Check('Direct and Bitmap agree', True, 'edges at most 1.0 px apart')
        row.time({'start': 2.0})
        rows.append(row)
    return rows


def options(out, shard='1/1'):
    return Run(Margins(('0.8', '0.7', '0.7', '0.7')), 0.1, out, ('check-printer.sh', 'P0'), shard)


def conclude(rows, run, say, status, record):
    """results.json and the comparison with a baseline, as a check ends its run."""
    return results.save_run(results.document(rows, record), run, say, status)


def run(rows, out, shard='1/1'):
    """The reports and results.json of rows, as a check writes them; returns its exit status."""
    os.makedirs(out)
    for row in rows:
        for picture in row.pictures.values():
            open(os.path.join(out, picture), 'w').close()
    said = []
    record = run_record(rows, options(out, shard))
    status = conclude(rows, options(out, shard), said.append, report_run(rows, options(out, shard), said.append, record),
                      record)
    return status, said


def read(path):
    with open(path) as text:
        return text.read()


def reports(folder):
    """A run's reports by name, each printer's page among them, but for the overview's line on
    when the run was made and from what."""
    names = ['report.md', 'report.html', 'junit.xml'] + [os.path.join('printers', name)
                                                         for name in sorted(os.listdir(os.path.join(folder, 'printers')))]
    return {name: re.sub(r'<p class="run">.*?</p>', '', read(os.path.join(folder, name))) for name in names}


class ResultsTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.whole = os.path.join(self.work, 'whole')
        self.rows = make_rows()
        run(self.rows, self.whole)
        self.results = results.read(self.whole)

    def tearDown(self):
        shutil.rmtree(self.work)

    def test_its_figures_are_the_reports(self):
        self.assertEqual((self.results['format'], self.results['version']), ('printtest-check', 1))
        self.assertEqual(self.results['run']['versions']['printtest'], '1.0.0')
        markdown = read(os.path.join(self.whole, 'report.md'))
        pages = [page for row in self.results['rows'] for page in row['pages']]
        self.assertEqual(len(pages), 2 * (PRINTERS - 1))
        for page in pages:
            figures = page['figures']
            for edge, moved in figures['edges'].items():
                self.assertIn(f'{edge} {moved["px"]:+.1f} px ({moved["mm"]:+.2f} mm)', markdown)
            self.assertIn(f'{figures["strokes_mm"]["min"]:.2f} to {figures["strokes_mm"]["max"]:.2f} mm', markdown)
            for name in ('diagonals', 'ellipse'):
                self.assertIn(f'off by up to {figures[name]["px"]:.1f} px ({figures[name]["mm"]:.2f} mm)', markdown)
            text = figures['text']
            self.assertIn(f'{text["height_pt"]:.1f} pt; centre off by {text["down_mm"]:+.2f} mm down; '
                          f'{text["across_mm"]:+.2f} mm across', markdown)
        # The Bitmap pages' margin is 0.01 inch wider than the page drawn: a pixel at 100 dpi.
        self.assertAlmostEqual(pages[1]['figures']['edges']['left']['px'], -1.0)
        self.assertEqual(self.results['rows'][-1]['problem'], 'cannot be used: no page size')

    def test_the_rows_it_holds_make_the_same_report(self):
        again = os.path.join(self.work, 'again')
        run(results.rows_of(self.results), again)
        self.assertEqual(reports(again), reports(self.whole))
        self.assertEqual(results.read(again)['rows'], self.results['rows'])

    def test_a_baseline_names_what_moved_past_its_tolerance_and_what_changed_its_verdict(self):
        baseline = copy.deepcopy(self.results)
        first, second = baseline['rows'][0]['pages'][0], baseline['rows'][1]['pages'][1]
        first['figures']['edges']['top']['px'] -= 2
        first['figures']['text']['down_mm'] += 0.5 * 25.4 / 100
        second['verdict'] = 'pass'
        del baseline['rows'][2]
        changes = results.compare(baseline, self.results, 1.0, 'before')
        lines = results.change_lines(changes)
        self.assertEqual(lines[0], 'Compared with before: 2 pages changed, 2 new, 0 gone')
        self.assertEqual([move['figure'] for move in changes['changed'][0]['moved']], ['top edge'])
        self.assertAlmostEqual(changes['changed'][0]['moved'][0]['px'], 2.0)
        self.assertEqual(changes['changed'][1]['verdict'], ['pass', 'FAIL'])
        self.assertIn('changed: P0 Letter portrait direct: top edge', lines[1])
        self.assertEqual(results.compare(self.results, self.results, 1.0, 'before')['changed'], [])

    def test_a_run_against_its_own_baseline_has_no_change_and_another_exits_1(self):
        again = os.path.join(self.work, 'again')
        os.makedirs(again)
        same = replace(options(again), baseline=self.whole)
        said = []
        self.assertEqual(conclude(self.rows, same, said.append, 0, {}), 0)
        self.assertIn('Compared with', said[0])
        self.assertIn('0 pages changed, 0 new, 0 gone', read(os.path.join(again, 'changes.md')))
        self.assertEqual(results.read(again)['baseline']['changed'], [])
        self.assertEqual(conclude(self.rows[:1], same, said.append, 0, {}), 1, 'two rows gone')

    def test_shards_merged_make_the_whole_runs_report(self):
        # Shards deal the printers in turn: 1/2 has P0 and P2, 2/2 P1 and P3.
        halves = [os.path.join(self.work, name) for name in ('one', 'two')]
        rows = make_rows()
        run(rows[0::2], halves[0], '1/2')
        run(rows[1::2], halves[1], '2/2')
        merged = os.path.join(self.work, 'merged')
        said = []
        self.assertEqual(results.merge(halves, merged, said.append), 1, 'P3 could not be set up')
        self.assertEqual(reports(merged), reports(self.whole))
        self.assertEqual(len(os.listdir(os.path.join(merged, 'printers'))), PRINTERS)
        self.assertIn('merged from 2 runs', read(os.path.join(merged, 'report.html')))
        self.assertEqual(results.read(merged)['rows'], self.results['rows'])
        self.assertTrue(os.path.exists(os.path.join(merged, 'P2-Letter-portrait-bitmap.png')))
        self.assertIn('Time per page: 3.08 s, of it start 1.33 s, dialog 0.50 s, render 1.25 s', said)

    def test_a_shard_cut_short_or_missing_is_named_and_fails(self):
        halves = [os.path.join(self.work, name) for name in ('one', 'two')]
        rows = make_rows()
        run(rows[0:2], halves[0], '1/2')
        run(rows[2:3], halves[1], '2/2')
        path = os.path.join(halves[1], 'results.json')
        text = read(path)
        with open(path, 'w') as cut:
            cut.write(text[:len(text) // 2])
        merged = os.path.join(self.work, 'merged')
        said = []
        self.assertEqual(results.merge([*halves, os.path.join(self.work, 'three')], merged, said.append), 1)
        summary = read(os.path.join(merged, 'report.md')).split('## Summary')[1]
        self.assertRegex(summary, rf'Not merged: {re.escape(path)}: cut short')
        self.assertIn(f'Not merged: {os.path.join(self.work, "three")}: no such folder', summary)
        self.assertEqual(len(json.loads(read(os.path.join(merged, 'results.json')))['rows']), 2)


class CloseupTest(unittest.TestCase):
    def test_a_moved_edges_closeups_show_its_ink_off_the_red_line_by_the_shift(self):
        # Judged with 0.7 inch margins all round, the border drawn at 0.8 on the left: moved 2.54 mm right.
        m = measured((230, 516, 630, 584), 235, 625, ('0.7', '0.7', '0.7', '0.7'))
        check = judge_edges(m, Tolerance(0.1, (100, 100)))
        moved = moved_edges(check)
        self.assertEqual(moved, ('left',))
        with tempfile.TemporaryDirectory() as folder:
            made = closeups(types.SimpleNamespace(measurement=m, view=m.view), moved, folder, 'P')
            self.assertEqual([(closeup['spot'], closeup['figure']) for closeup in made],
                             [('top left corner', 'left +2.54 mm; top +0.00 mm'), ('left edge', 'left +2.54 mm'),
                              ('bottom left corner', 'left +2.54 mm; bottom +0.00 mm')])
            with Image.open(os.path.join(folder, made[1]['file'])) as picture:
                row = numpy.asarray(picture.convert('RGB'))[SIZE // 2]
        red = [x for x, pixel in enumerate(row) if tuple(pixel) == EXPECTED]
        ink = [x for x, pixel in enumerate(row) if tuple(pixel) == (0, 0, 0)]
        # 11 mm of the sheet shown over 320 pixels: the red line in the middle, the ink 2.54 mm right of it.
        self.assertEqual(round(sum(red) / len(red)), SIZE // 2)
        self.assertAlmostEqual(ink[0] - SIZE // 2, 2.54 * SIZE / (2 * (2.54 + 3)), delta=4)


if __name__ == '__main__':
    unittest.main()
