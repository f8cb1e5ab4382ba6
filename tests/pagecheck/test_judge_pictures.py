"""judge-page.sh on pictures of real pages, as a user runs it: the program's page printed through
hpcups's DeskJet 5550 driver (kept in tests/pagecheck/data), put on paper by the model printer and
scanned or photographed by the model scanner or camera. A right scan passes and one of a page
moved along the feed fails naming the edges, their registration as printed; a blurred scan is
refused; a right photo tilted by 30 degrees through a distorting lens passes."""
import json
import os
import subprocess
import tempfile
import unittest

import numpy as np

from pagecheck.commands import sheet_model as model

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
JUDGE = os.path.join(ROOT, 'scripts', 'judge-page.sh')


def judged(*arguments):
    return subprocess.run([JUDGE, *arguments], capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=300)


class JudgedPictures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.workdir = cls.folder.name
        cls.pages = {mode: model.real_page(mode, cls.workdir) for mode in model.PAGES}

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def path(self, name):
        return os.path.join(self.workdir, name)

    def results(self, out):
        with open(os.path.join(out, 'results.json')) as saved:
            return json.load(saved)

    def test_scans_of_a_right_page_and_a_moved_one_and_a_blurred_one(self):
        rng = np.random.default_rng(3)
        direct, bitmap = self.pages['direct'], self.pages['bitmap']
        right = model.Scanner(angle=181.5, place=(0.2, 0.9), scale=(0.15, -0.1), colour=True)
        moved = model.ModelPrinter(offset=(0.1, 0.6), skew=0.05)
        shadowed = model.Scanner(angle=-2.5, place=(0.7, 0.3), shadow='left')
        blurred = model.Scanner(angle=1, blur=10)
        files = [right.scan(direct.grey, direct, self.path('direct.jpg'), rng, quality=85),
                 shadowed.scan(moved.print(bitmap), bitmap, self.path('bitmap.png'), rng),
                 blurred.scan(direct.grey, direct, self.path('blurred.png'), rng)]
        out = self.path('scans')
        done = judged('--out', out, *files)
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        lines = done.stdout.splitlines()
        self.assertRegex(lines[0], r'direct\.jpg: Letter portrait Direct Print: pass; leading edge ')
        self.assertRegex(lines[1], r'bitmap\.png: Letter portrait Bitmap Print: FAIL \(border at the margins')
        self.assertRegex(lines[2], r"blurred\.png: not judged: too blurred: the border's edges are spread over")
        self.assertEqual(sum('blurred.png' in line for line in lines), 2, 'said when met and in the summary')
        row = self.results(out)['rows'][0]
        self.assertEqual([page['mode'] for page in row['pages']], ['direct', 'bitmap'])
        edges = row['pages'][1]['checks'][2]
        self.assertTrue(edges['figure'].startswith('moved: top, bottom;'), edges['figure'])
        self.assertEqual(row['pages'][0]['picture']['kind'], 'scan')
        for page, printer in zip(row['pages'], (model.ModelPrinter(), moved)):
            truth = printer.truth(self.pages[page['mode']]).record()
            for name, value in page['registration'].items():
                self.assertAlmostEqual(value, truth[name], delta=0.05 if name.endswith('pct') else 0.2, msg=name)
        self.assertAlmostEqual(row['registration_bitmap_less_direct']['leading_edge_mm'], 0.6, delta=0.2)
        self.assertIn('Bitmap less Direct: leading edge +0.', row['agreement']['figure'])

    def test_a_photo_tilted_by_30_degrees(self):
        rng = np.random.default_rng(4)
        page = self.pages['direct']
        camera = model.Camera(tilt=30, azimuth=120, roll=-7, k1=-0.05, light=0.35)
        out = self.path('photo')
        done = judged('--out', out, camera.photograph(page.grey, page, self.path('photo.jpg'), rng))
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn('photo.jpg: Letter portrait Direct Print: pass', done.stdout)
        record = self.results(out)['rows'][0]['pages'][0]
        self.assertEqual(record['picture']['kind'], 'photo')
        for name in ('leading_edge_mm', 'side_mm'):
            self.assertLess(abs(record['registration'][name]), 0.5, name)


if __name__ == '__main__':
    unittest.main()
