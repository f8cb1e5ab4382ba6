"""Findings on stored pages: a failing page that moved as a finding says is named by it, one whose
finding is disputed is disputed rather than failed, one that matches none is unexplained; the
reports list the findings first and results.json carries their ids. The collection's groups:
rebadged PPDs fall together, a paper's printable area or a default option's code tells them apart;
a plan made again keeps the work planned."""
import json
import os
import subprocess
import tempfile
import unittest

from pagecheck.commands.collection import A4, LETTER, failure_groups, group_key, make_plan, papers_of, ppd_entries
from pagecheck.core.setup import Margins, Run
from pagecheck.measure.checks import EDGES, STROKES, TITLED
from pagecheck.report.findings import explain, match_page
from pagecheck.report import results
from pagecheck.report.summary import report_run

CANON = 'gutenprint.5.3://bjc-iP90-series/expert'
LASER = 'gutenprint.5.3://hp-lj_4000/expert'


def stored_page(mode, language, moved):
    """A page record whose border's edges moved by moved {edge: mm} at 600 dpi."""
    edges = {edge: {'px': moved.get(edge, 0.0) / 25.4 * 600, 'mm': moved.get(edge, 0.0)}
             for edge in ('left', 'top', 'right', 'bottom')}
    failed = [edge for edge, value in moved.items() if abs(value) > 0.1]
    figure = '; '.join(f'{edge} {value:+.2f} mm' for edge, value in moved.items())
    checks = [{'name': EDGES, 'verdict': 'FAIL' if failed else 'pass',
               'figure': f'moved: {", ".join(failed)}; {figure}' if failed else figure}]
    return {'mode': mode, 'verdict': 'FAIL' if failed else 'pass', 'checks': checks, 'dpi': [600, 600],
            'figures': {'edges': edges}, 'language': language, 'kind': language, 'measured_on': 'the driver',
            'pictures': {'page': None, 'handed': None}, 'steps': {}}


def stored_row(number, ppd, paper, language, moved):
    return {'printer': ppd.split('//')[-1].replace('/', '-'), 'model': ppd, 'printer_number': number, 'ppd': ppd,
            'driver': 'rastertogutenprint.5.3', 'paper': paper, 'orientation': 'portrait', 'problem': None,
            'agreement': None, 'difference_picture': None, 'steps': {},
            'pages': [stored_page(mode, language, moved) for mode in ('direct', 'bitmap')]}


class FindingsTest(unittest.TestCase):
    def setUp(self):
        self.out = tempfile.mkdtemp()
        stored = {'format': results.FORMAT, 'version': results.VERSION, 'run': {'shard': '1/1'}, 'rows': [
            stored_row(0, CANON, 'A4', 'Canon raster', {'left': 2.67, 'top': 2.45, 'right': -2.67, 'bottom': -4.53}),
            stored_row(1, LASER, 'A4', 'PCL 5', {'left': 2.455, 'right': 2.455}),
            # The same laser moved further than its finding says, and on Letter where it has none.
            stored_row(2, LASER, 'A4', 'PCL 5', {'left': 1.2, 'right': 1.2}),
            stored_row(3, LASER, 'Letter', 'PCL 5', {'left': 2.455, 'right': 2.455}),
            stored_row(4, LASER, 'Letter', 'PCL 5', {}),
        ]}
        self.rows = results.rows_of(stored)
        self.said = []
        self.status = report_run(self.rows, Run(Margins(('1', '1', '1', '1')), 0.1, self.out), self.said.append, {})
        results.save(results.document(self.rows, {}), self.out)

    def test_pages_name_their_findings_and_disputed_ones_are_not_failed(self):
        with open(os.path.join(self.out, 'results.json')) as saved:
            pages = [(page['verdict'], page['finding']) for row in json.load(saved)['rows'] for page in row['pages']]
        self.assertEqual(pages[::2], [('FAIL', 'gutenprint-canon-shrink'), ('disputed', 'gutenprint-pcl5-a4-10pt'),
                                      ('FAIL', 'unexplained'), ('FAIL', 'unexplained'), ('pass', None)])
        self.assertEqual(pages[::2], pages[1::2])
        self.assertEqual(self.status, 1)
        self.assertIn('Findings: gutenprint-canon-shrink 2, gutenprint-pcl5-a4-10pt 2, unexplained 4; 2 disputed, '
                      '4 unexplained', self.said)
        self.assertIn('10 page(s): 2 passed every check, 6 failed one, 2 disputed', self.said[0])
        with open(os.path.join(self.out, 'report.md')) as report:
            text = report.read()
        # The findings come before the pages, each with its cause and where it comes from.
        self.assertLess(text.index('## Findings'), text.index('## A4'))
        self.assertRegex(text, r'\| gutenprint-pcl5-a4-10pt: .* \| 2 \| .*print-pcl.c:3266.* \| disputed \|')
        self.assertIn('| disputed (gutenprint-pcl5-a4-10pt) |', text)

    def test_a_page_that_also_failed_what_its_finding_does_not_cause_is_not_explained_by_it(self):
        low = stored_page('direct', 'PCL 3 GUI', {'bottom': 0.17})
        hpcups = 'drv:///hpcups.drv/hp-deskjet_5550.ppd hpcups'
        self.assertEqual(explain(match_page(hpcups, 'A4', low)).id, 'direct-bottom-300dpi')
        low['checks'].append({'name': STROKES, 'verdict': 'FAIL', 'figure': '1.52 to 21.93 mm'})
        self.assertIsNone(explain(match_page(hpcups, 'A4', low)))
        # foo2qpdl's job name explains its pages only where their title failed; without it, their
        # few dots right are the byte clip's, and a page moved further is neither's.
        foo2 = 'foo2zjs:0/ppd/foo2zjs/Samsung-ML-1670.ppd'
        right = stored_page('direct', 'QPDL', {'left': 0.13, 'right': 0.13})
        self.assertEqual(explain(match_page(foo2, 'A4', right)).id, 'foo2-left-byte-clip')
        right['checks'].append({'name': TITLED, 'verdict': 'FAIL', 'figure': 'title "<stdin>"'})
        self.assertEqual(explain(match_page(foo2, 'A4', right)).id, 'foo2qpdl-job-name')
        far = stored_page('direct', 'QPDL', {'left': 0.6, 'right': 0.6})
        far['checks'].append(right['checks'][-1])
        self.assertIsNone(explain(match_page(foo2, 'A4', far)))
        # foo2lava's A4 pages land 8 dots of 1200 dpi left, and all are named "stdin".
        lava = 'foo2zjs:0/ppd/foo2zjs/KONICA_MINOLTA-magicolor_2530_DL.ppd'
        left = stored_page('bitmap', 'LAVAFLOW', {'left': -0.17, 'right': -0.17})
        left['checks'].append({'name': TITLED, 'verdict': 'FAIL', 'figure': 'title "stdin"'})
        self.assertEqual(explain(match_page(lava, 'A4', left)).id, 'foo2lava-job-name')

    def test_failures_are_grouped_by_driver_language_paper_and_how_the_edges_moved(self):
        with open(os.path.join(self.out, 'results.json')) as saved:
            rows = json.load(saved)['rows']
        groups = failure_groups(rows)
        # Both modes of the two lasers that moved 2.45 mm on A4 and Letter are two groups, not one.
        self.assertEqual([(group['paper'], group['pages'], group['finding']) for group in groups],
                         [('A4', 2, 'gutenprint-canon-shrink'), ('A4', 2, 'gutenprint-pcl5-a4-10pt'),
                          ('A4', 2, 'unexplained'), ('Letter', 2, 'unexplained')])
        self.assertEqual(groups[3]['edges'], {'left': 2.46, 'right': 2.46})


def written(uri):
    return subprocess.run(['/usr/lib/cups/daemon/cups-driverd', 'cat', uri], capture_output=True, check=True).stdout


class CollectionGroupTest(unittest.TestCase):
    def test_rebadged_ppds_share_a_group_that_a_papers_printable_area_splits(self):
        folder = 'openprinting-ppds:0/ppd/openprinting/Gestetner/PDF/'
        first, second = (written(f'{folder}Gestetner-{model}_PDF.ppd') for model in ('DSc1030', 'DSc1045'))
        self.assertNotEqual(first, second)
        # Letter is the default, A4 the other one of the two offered.
        self.assertEqual(papers_of(ppd_entries(first)), [(LETTER, 'Letter'), (A4, 'A4')])
        keys = [{paper: group_key(ppd_entries(text), name) for paper, name in papers_of(ppd_entries(text))}
                for text in (first, second, first.replace(b'*ImageableArea A4/A4: "12 12 583 830"',
                                                          b'*ImageableArea A4/A4: "17 12 583 830"'))]
        self.assertEqual(keys[0], keys[1])
        self.assertEqual(keys[2][LETTER], keys[0][LETTER])
        self.assertNotEqual(keys[2][A4], keys[0][A4])

    def test_a_default_options_code_splits_a_group(self):
        # Alike but for the Gestetner's default *Rimagesm Off, which calls a ProcSet of the
        # printer's own, and which the NRG does not offer.
        gestetner, nrg = (ppd_entries(written(f'openprinting-ppds:0/ppd/openprinting/{model}_PS.ppd'))
                          for model in ('Gestetner/PS/Gestetner-MP_C3002', 'NRG/PS/NRG-MP_C305'))
        self.assertIn(('Rimagesm', 'Off'), gestetner[1])
        self.assertNotEqual(group_key(gestetner, 'A4'), group_key(nrg, 'A4'))

    def test_a_plan_made_again_keeps_its_shards_and_adds_the_new_groups(self):
        models = [f'm{number:02d}' for number in range(60)]
        units = {uri: [(A4, 'same')] for uri in models}
        first = make_plan(dict.fromkeys(models, 'PostScript'), units, {})
        printed = [uri for shard in first['shards'] for uri in shard['printers']]
        sampled = [uri for _, uri in first['sampled']]
        self.assertEqual(sorted(printed), sorted(['m00'] + sampled))
        self.assertEqual(len(sampled), round(0.02 * 59))
        # The sampled member now differs from its group, and so do m10 and m11.
        for uri in [sampled[0], 'm10', 'm11']:
            units[uri] = [(A4, 'other')]
        again = make_plan(dict.fromkeys(models, 'PostScript'), units, {}, first)
        self.assertEqual(again['shards'][:len(first['shards'])], first['shards'])
        firsts = sorted(group['models'][0] for group in again['groups'])
        self.assertEqual(firsts, sorted(['m00', sampled[0]]))
        added = [uri for shard in again['shards'][len(first['shards']):] for uri in shard['printers']]
        # Only the sample's top-up is new work: both groups' first models are printed already.
        self.assertEqual(len(added), round(0.02 * 58))
        self.assertNotIn(sampled[0], [uri for _, uri in again['sampled']])


if __name__ == '__main__':
    unittest.main()
