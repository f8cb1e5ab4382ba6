"""judge-page.sh on pictures of real pages, as a user runs it: the program's page printed through
hpcups's DeskJet 5550 driver (kept in tests/pagecheck/data), put on paper by the model printer and
scanned or photographed by the model scanner or camera. A right scan passes and one of a page
moved along the feed fails naming the edges, their registration as printed; a blurred scan is
refused; a right photo tilted by 30 degrees through a distorting lens passes, and so does its
HEIC twin, with the same figures; a photo of a sheet that is not flat is refused saying how far it
bows, or judged rightly, and one tilted by 35 degrees in poor light passes. Files damaged as a user's are, each gets one line saying what is
wrong with it and no verdict."""
import io
import json
import lzma
import os
import re
import subprocess
import tempfile
import unittest
import zipfile

import numpy as np
from PIL import Image

from pagecheck.commands import sheet_model as model
from pagecheck.core.modes import DIRECT_CAPTION

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

    def test_a_photo_tilted_by_30_degrees_and_its_heic_twin(self):
        rng = np.random.default_rng(4)
        page = self.pages['direct']
        camera = model.Camera(tilt=30, azimuth=120, roll=-7, k1=-0.05, light=0.35)
        out = self.path('photo')
        photo = camera.photograph(page.grey, page, self.path('photo.jpg'), rng)
        # As a phone stores it: HEVC-coded, its EXIF carried over. x265's fastest preset: its
        # default spends half a minute of processor time on a 12-megapixel picture.
        subprocess.run(['heif-enc', '--quality', '90', '-p', 'preset=ultrafast', '--output', self.path('photo.heic'),
                        photo], check=True, capture_output=True)
        done = judged('--out', out, photo, self.path('photo.heic'))
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn('photo.jpg: Letter portrait Direct Print: pass', done.stdout)
        self.assertIn('photo.heic: Letter portrait Direct Print: pass', done.stdout)
        jpeg, heic = (row['pages'][0] for row in self.results(out)['rows'])
        self.assertEqual([jpeg['picture']['kind'], heic['picture']['kind']], ['photo', 'photo'])
        for name in ('leading_edge_mm', 'side_mm'):
            self.assertLess(abs(jpeg['registration'][name]), 0.5, name)
        for name, value in jpeg['registration'].items():
            if name.endswith('_mm'):
                self.assertAlmostEqual(heic['registration'][name], value, delta=0.05, msg=name)

    def test_photos_of_a_sheet_not_flat_or_in_poor_light_never_misjudge_it(self):
        rng = np.random.default_rng(5)
        direct = self.pages['direct']
        moved = model.ModelPrinter(offset=(0.0, 1.5)).print(direct)
        size = (2268, 3024)
        photos = {
            # Curled as paper from a printer is: refused, saying how far a side bows, or passed.
            'curled.jpg': (direct.grey, model.Camera(tilt=20, azimuth=60, roll=3, curl='edges', lift=6, size=size)),
            'folded.jpg': (moved, model.Camera(tilt=25, azimuth=200, roll=-4, curl='fold', lift=3, size=size)),
            'corner.jpg': (direct.grey, model.Camera(tilt=15, azimuth=300, curl='corner', lift=1, size=size)),
            # Steep, dark in the corners, half in a light shadow, smoothed and sharpened by the phone.
            'steep.jpg': (direct.grey, model.Camera(tilt=35, azimuth=100, k1=-0.04, vignette=0.5, shade=0.3,
                                                    phone=True, size=size)),
        }
        files = [camera.photograph(printed, direct, self.path(name), rng) for name, (printed, camera) in photos.items()]
        done = judged('--mode', 'direct', '--out', self.path('not-flat'), *files)
        said = dict(zip(photos, done.stdout.splitlines()))
        self.assertRegex(said['curled.jpg'], r'not judged: the sheet is not flat: its side at the picture\'s \w+ '
                                             r'bows \d\.\d\d mm|: pass')
        self.assertRegex(said['folded.jpg'], r'not judged: the sheet is not flat: .* bows \d\.\d\d mm|'
                                             r'FAIL \(border at the margins')
        self.assertIn('corner.jpg: Letter portrait Direct Print: pass', said['corner.jpg'])
        self.assertIn('steep.jpg: Letter portrait Direct Print: pass', said['steep.jpg'])
        self.assertNotRegex(done.stdout, r'(curled|corner|steep)\.jpg: Letter portrait Direct Print: FAIL')

    def test_a_damaged_file_gets_one_line_saying_what_is_wrong_and_no_verdict(self):
        picture = Image.fromarray(self.pages['direct'].grey).reduce(4)

        def saved(form):
            data = io.BytesIO()
            picture.save(data, form)
            return data.getvalue()

        def cut(data):
            return data[:len(data) // 2]

        def uncatalogued(data):
            return re.sub(rb'\d+ 0 obj\s*<<\s*/Type\s*/Catalog.*?endobj\s*', b'', data, 1, re.S)

        jpeg, png, scan = map(saved, ('JPEG', 'PNG', 'PDF'))
        with open(self.path('whole.jpg'), 'wb') as whole:
            whole.write(jpeg)
        subprocess.run(['heif-enc', '--output', self.path('whole.heic'), self.path('whole.jpg')], capture_output=True,
                       check=True)
        with open(self.path('whole.heic'), 'rb') as whole:
            heic = whole.read()
        postscript = (f'%!PS-Adobe-3.0\n%%Title: {DIRECT_CAPTION}\n[ /Title ({DIRECT_CAPTION}) /DOCINFO pdfmark\n'
                      '/frame { 72 72 468 648 rectstroke } def\nframe showpage\n%%EOF\n').encode()
        pdf = subprocess.run(['gs', '-q', '-dSAFER', '-dBATCH', '-dNOPAUSE', '-sDEVICE=pdfwrite', '-o', '-', '-'],
                             input=postscript, capture_output=True, check=True).stdout
        with lzma.open(os.path.join(model.DATA, model.PAGES['direct'])) as packed:
            prn = packed.read()
        zipped = io.BytesIO()
        with zipfile.ZipFile(zipped, 'w', zipfile.ZIP_DEFLATED) as archive:
            archive.writestr('page.prn', prn)
        unread = 'not judged: neither a picture of the sheet nor a page in a language the check reads'
        not_pdf = 'not a readable PDF document: Ghostscript says "Couldn\'t initialise file."'
        damaged = {
            'cut.jpg': (cut(jpeg), 'not judged: the JPEG picture is cut short or damaged: image file is truncated'),
            'cut.png': (cut(png), 'not judged: the PNG picture is cut short or damaged: image file is truncated'),
            'cut.pdf': (cut(pdf), f'not judged: PDF ends at byte {len(cut(pdf))} without its trailer'),
            'uncatalogued.pdf': (uncatalogued(pdf), 'Letter portrait Direct Print: not measured: ' + not_pdf),
            'uncatalogued-scan.pdf': (uncatalogued(scan), 'not judged: ' + not_pdf.replace(' document', '')),
            'cut.ps': (postscript[:postscript.index(b'rectstroke')], 'Letter portrait Direct Print: not measured: '
                       'not a readable PostScript document: Ghostscript says "/syntaxerror'),
            'cut.prn': (cut(prn), 'Letter portrait Direct Print: not measured: PCL 3 GUI stream cut off'),
            'empty.pdf': (b'', 'not judged: the file is empty'),
            'cut.heic': (cut(heic), "not judged: HEIC picture could not be decoded: Could not read HEIF/AVIF file"),
            'text.jpg': (b'the photo is on my phone\n', unread),
            'pages.zip': (zipped.getvalue(), unread)}
        for name, (data, _) in damaged.items():
            with open(self.path(name), 'wb') as file:
                file.write(data)
        done = judged('--printer', model.PRINTER, '--paper', 'Letter', '--out', self.path('damaged'),
                      *map(self.path, damaged))
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        for line, (name, (_, said)) in zip(done.stdout.splitlines(), damaged.items()):
            self.assertTrue(line.startswith(f'{self.path(name)}: {said}'), line)
        self.assertIn('3 page(s): 0 passed every check, 0 failed one, 3 could not be measured', done.stdout)


if __name__ == '__main__':
    unittest.main()
