"""Pictures of a printed sheet where their finding can break: a scanned sheet turned and shadowed,
a photographed one tilted through a distorting lens, found to a fraction of a pixel; the paper told
from a sheet's size or proportions; the registration's signs and units; and each picture that
cannot be judged refused with its reason."""
import os
import tempfile
import unittest

import numpy as np
from PIL import Image

from pagecheck.commands import sheet_model as model
from pagecheck.core.setup import Margins
from pagecheck.sheets.geometry import fit_lens, photo_proportions
from pagecheck.sheets.outline import coarse_outline, crossing, find_sides
from pagecheck.sheets.picture import PictureError, read_picture
from pagecheck.sheets.pictured import Asked, paper_of, read_pictured

LETTER = (215.9, 279.4)
A5 = (148.0, 210.0)


def blank(size_mm, dpi=100):
    """A sheet with nothing printed on it."""
    width, height = (round(size / 25.4 * dpi) for size in size_mm)
    return model.RealPage(np.full((height, width), 255, np.uint8), dpi, None, size_mm, None)


class Pictures(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.workdir = self.folder.name
        self.rng = np.random.default_rng(7)

    def tearDown(self):
        self.folder.cleanup()

    def path(self, name):
        return os.path.join(self.workdir, name)

    def test_a_sheet_is_found_to_a_fraction_of_a_pixel_in_a_scan_and_a_photo(self):
        page = blank(LETTER)
        scanner = model.Scanner(dpi=150, angle=93.5, place=(0.8, 0.1), blur=1.2, noise=3, colour=True, shadow='top')
        picture = read_picture(scanner.scan(page.grey, page, self.path('scan.jpg'), self.rng), self.workdir)
        self.assertEqual(picture.dpi, (150, 150))
        corners, step, paper, ground = coarse_outline(picture.grey)
        _, found = find_sides(picture.grey, corners, step, paper - ground)
        # Clockwise from the one nearest the picture's top left: the sheet's bottom left, turned a quarter.
        self.assertLess(np.abs(found - np.roll(scanner.corners, 1, axis=0)).max(), 0.15)

        camera = model.Camera(tilt=30, azimuth=35, roll=-5, k1=-0.06, light=0.35, size=(1200, 1600))
        picture = read_picture(camera.photograph(page.grey, page, self.path('photo.jpg'), self.rng), self.workdir)
        self.assertIsNone(picture.dpi, 'a camera writes 72 dpi, which is no resolution on the sheet')
        corners, step, paper, ground = coarse_outline(picture.grey)
        sides, _ = find_sides(picture.grey, corners, step, paper - ground)
        lens = fit_lens(sides, (1200, 1600), picture.focal)
        straight = [side.fit(lens.straighten(side.points)) for side in sides]
        corners = np.array([crossing(straight[index - 1], straight[index]) for index in range(4)])
        self.assertLess(np.abs(lens.bend(corners) - camera.corners).max(), 0.5)
        self.assertAlmostEqual(photo_proportions(corners, lens), LETTER[1] / LETTER[0], delta=0.01)

    def test_the_paper_is_told_by_a_scans_size_and_a_photos_proportions(self):
        self.assertEqual(paper_of((215.7, 279.9), False), 'Letter')
        self.assertEqual(paper_of((148.3, 209.6), False), 'A5')
        self.assertIsNone(paper_of((200.0, 279.4), False))
        self.assertEqual(paper_of((1, 1.30), True), 'Letter')
        # A3, A5 and B5 have A4's proportions: A4 it is.
        self.assertEqual(paper_of((1, 1.413), True), 'A4')
        self.assertEqual(paper_of((1, 1.45), True), 'Executive')
        self.assertIsNone(paper_of((1, 1.36), True))

    def test_registration_is_the_borders_offset_turn_and_stretch_along_and_across_the_feed(self):
        lay = model.placement(LETTER)
        corners = [(lay.left, lay.top), (lay.right, lay.top), (lay.right, lay.bottom), (lay.left, lay.bottom)]
        points = {side: [tuple(np.array(corners[a]) + t * (np.array(corners[b]) - corners[a])) for t in (0.1, 0.9)]
                  for side, a, b in (('top', 0, 1), ('right', 1, 2), ('bottom', 3, 2), ('left', 0, 3))}
        page = model.RealPage(None, model.SHEET_DPI, 'Letter', LETTER, points)
        for printer, expected in ((model.ModelPrinter(offset=(0.3, -0.2)), (-0.2, 0.3, 0, 0, 0)),
                                  (model.ModelPrinter(skew=0.2), (0, 0, 0.2, 0, 0)),
                                  (model.ModelPrinter(scale=(0.1, -0.2)), (0.2 / 100 * 114.3, -0.1 / 100 * 82.55, 0, -0.2, 0.1))):
            truth = printer.truth(page)
            for name, value in zip(truth.NAMES, expected):
                self.assertAlmostEqual(getattr(truth, name), value, delta=0.002, msg=f'{name} of {truth.text()}')

    def test_a_picture_that_cannot_be_judged_says_why(self):
        page = blank(A5, 150)
        scanner = model.Scanner(dpi=300, angle=1)
        scan = scanner.scan(page.grey, page, self.path('blank.png'), self.rng)
        with Image.open(scan) as whole:
            edge = round(scanner.corners[:, 0].min())
            whole.crop((edge + 30, 0, whole.width, whole.height)).save(self.path('cut.png'), dpi=(300, 300))
            Image.new('L', whole.size, 230).save(self.path('lid.png'), dpi=(300, 300))
            Image.new('L', whole.size, 30).save(self.path('dark.png'), dpi=(300, 300))
        coarse = model.Scanner(dpi=100).scan(page.grey, page, self.path('coarse.png'), self.rng)
        for name, reason in (('lid.png', 'no sheet found against the background'),
                             ('dark.png', 'no sheet found: nothing in the picture stands out'),
                             ('cut.png', "the sheet is cut off at the picture's left edge"),
                             (coarse, 'too small a resolution: a pixel of the picture is 0.25 mm'),
                             (scan, 'not the test page')):
            with self.subTest(name), self.assertRaisesRegex(PictureError, '^' + reason):
                read_pictured(self.path(name), Asked(Margins(('1', '1', '1', '1')), 0.1), self.workdir)


if __name__ == '__main__':
    unittest.main()
