"""The Kodak ESP raster reader: jobs written at run time by printer-driver-c2esp's own c2esp and
c2espC from a small CUPS raster are placed on their sheet where the stream's origin puts them,
their ink where the raster had it; a bad or cut-short stream gives one clear error, whatever its
bytes."""
import os
import subprocess
import tempfile
import unittest

from pagecheck.readers.base import StreamError
from pagecheck.readers.c2esp import language, paper, read, sniff
from cups_raster import BIG_ENDIAN_3, CMY, K, RGB, page_header
from mutations import read_or_refused

DRIVERD = '/usr/lib/cups/daemon/cups-driverd'
FILTERS = '/usr/lib/cups/filter'
PPDS = {'c2esp': 'drv:///c2esp.drv/Kodak_ESP_5.ppd', 'c2espC': 'drv:///c2espC.drv/Kodak_ESP_C11x_Series.ppd'}
# A box of ink from (24, 12) to (40, 20) on a raster of 96 x 64 pixels.
SIZE, BOX = (96, 64), (24, 12, 40, 20)
A4, A6, LETTER = (595, 842), (297, 421), (612, 792)


def cups_raster(pages):
    """A CUPS raster (version 3, big-endian, uncompressed) of pages, each (size, (x, y) dpi, colour
    space, sheet in points, boxes of ink)."""
    data = BIG_ENDIAN_3
    for (width, height), dpi, space, sheet, boxes in pages:
        channels = 1 if space == K else 3
        paper, ink = (255, 0) if space == RGB else (0, 255)
        rows = [bytearray([paper]) * (width * channels) for _ in range(height)]
        for left, top, right, bottom in boxes:
            for row in rows[top:bottom + 1]:
                row[left * channels:(right + 1) * channels] = bytes([ink]) * ((right + 1 - left) * channels)
        data += page_header('>', (width, height), dpi, sheet, 8, channels, space) + b''.join(rows)
    return data


def driven(jobs):
    """What c2esp or c2espC writes for each (filter, pages) of jobs, run side by side: each spends
    two seconds waiting on a printer that does not answer."""
    with tempfile.TemporaryDirectory() as folder:
        ppds = {}
        for name, uri in PPDS.items():
            ppds[name] = os.path.join(folder, f'{name}.ppd')
            with open(ppds[name], 'wb') as ppd:
                ppd.write(subprocess.run([DRIVERD, 'cat', uri], capture_output=True, check=True).stdout)
        running = []
        for number, (program, pages) in enumerate(jobs):
            path = os.path.join(folder, f'{number}.ras')
            with open(path, 'wb') as raster:
                raster.write(cups_raster(pages))
            running.append(subprocess.Popen([os.path.join(FILTERS, program), '1', 'user', 'title', '1', '', path],
                                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                            env=dict(os.environ, PPD=ppds[program])))
        return [process.communicate()[0] for process in running]


# c2esp: one page in black at 600 x 1200 dpi and a blank one; a tall one in colour, whose middle
# band of 1280 rows has no ink; one in black at 300 x 1200 dpi. c2espC, which waits twelve seconds
# more for the printer to find its paper (c2espC.c:148): colour at 600 dpi and black at 300 dpi on
# Letter. Small sheets keep the reading quick.
K600, RGB_TALL, K300, CMY600, K_LETTER = driven([
    ('c2esp', [(SIZE, (600, 1200), K, A6, [BOX]), (SIZE, (600, 1200), K, A6, [])]),
    ('c2esp', [((96, 3000), (600, 1200), RGB, A4, [BOX, (30, 2900, 50, 2950)])]),
    ('c2esp', [(SIZE, (300, 1200), K, LETTER, [BOX])]),
    ('c2espC', [(SIZE, (600, 600), CMY, A6, [BOX])]),
    ('c2espC', [(SIZE, (300, 300), K, LETTER, [BOX])]),
])
A6_600_1200 = (2480, 6992)


def ink_box(page):
    box = page.image.point(lambda value: 255 - value).getbbox()
    return box and (box[0], box[1], box[2] - 1, box[3] - 1)


def moved(box, dx, dy):
    return box[0] + dx, box[1] + dy, box[2] + dx, box[3] + dy


class KodakEspTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.folder.cleanup()

    def read(self, data):
        return read(data, self.folder.name)[0]

    def test_c2esp_dots_lie_at_the_streams_origin_of_1_mm(self):
        # 1 mm: 24 dots across at 600 dpi, 12 at 300, 47 down at 1200.
        first, blank = self.read(K600)
        self.assertEqual((first.image.size, first.dpi, first.assumed), (A6_600_1200, (600, 1200), None))
        self.assertEqual((ink_box(first), ink_box(blank)), (moved(BOX, 24, 47), None))
        (page,) = self.read(K300)
        self.assertEqual((page.image.size, ink_box(page)), ((2550, 13200), moved(BOX, 12, 47)))
        self.assertTrue(read(K300, self.folder.name)[1])

    def test_bands_skipped_leave_their_rows_blank_and_the_next_band_below_them(self):
        (page,) = self.read(RGB_TALL)
        self.assertEqual(ink_box(page), (24 + 24, 12 + 47, 50 + 24, 2950 + 47))
        self.assertEqual(page.image.getpixel((40 + 24, 1000)), 255)
        self.assertEqual(page.image.getpixel((40 + 24, 2920 + 47)), 0)

    def test_c2espc_amounts_lie_at_the_sheets_corner(self):
        (page,) = self.read(CMY600)
        self.assertEqual((page.image.size, page.dpi, ink_box(page)), ((2480, 3496), (600, 600), BOX))
        self.assertLess(page.image.getpixel((30, 15)), 64)
        pages, dotted = read(K_LETTER, self.folder.name)
        self.assertEqual((pages[0].image.size, ink_box(pages[0]), dotted), ((2550, 3300), BOX, False))

    def test_sniff_language_and_paper(self):
        for data, name in ((K600, 'A6'), (CMY600, 'A6'), (K300, 'Letter'), (K_LETTER, 'Letter')):
            self.assertTrue(sniff(data))
            self.assertEqual((language(data), paper(data)[0]), ('Kodak ESP raster', name))
        for other in (b'\x1bE\x1b&l0O', b'%!PS', b'JZJZ', b'Event=StartOfJob;'):
            self.assertFalse(sniff(other))

    def test_a_bad_or_cut_short_stream_says_what_is_wrong_and_where(self):
        page_at, data_at = K600.index(b'Event=StartOfPage'), K600.index(b'RasterObject.Data#')
        jbig_at = data_at + len(b'RasterObject.Data#31=')
        gzip_at = CMY600.index(b'RasterObject.Data#') + len(b'RasterObject.Data#35=')
        cases = {
            f'cut off inside command RasterObject.Data at byte {data_at}$': K600[:data_at + 30],
            f'Kodak ESP stream ends before its end of job at byte {page_at}$': K600[:page_at],
            f'no Kodak ESP command at byte {page_at}': K600[:page_at] + b'\x1b' + K600[page_at:],
            'command RasterObject.Mirror at byte .* is not read': K600.replace(b'RasterObject.Width',
                                                                              b'RasterObject.Mirror', 1),
            'Sides=TwoSided at byte .* is not read': K600.replace(b'OneSided', b'TwoSided'),
            f'page at byte {page_at}: its bands cover 64 of its 65 rows': K600.replace(b'Height=64;', b'Height=65;', 1),
            f'page at byte {page_at}: its JBIG image refused by jbgtopbm85':
                K600[:jbig_at + 2] + b'\x07' + K600[jbig_at + 3:],
            'compression LZW at byte .* is not read': K600.replace(b'Compression=JBIG', b'Compression=LZW', 1),
            'its GZIPTok data is bad': CMY600[:gzip_at + 5] + bytes([CMY600[gzip_at + 5] ^ 0xff]) +
                CMY600[gzip_at + 6:],
            'does not give its Origin.Top': CMY600.replace(b'Origin.Top=0.0mm;', b''),
        }
        for message, data in cases.items():
            with self.subTest(message), self.assertRaisesRegex(StreamError, message):
                self.read(data)

    def test_any_mutation_is_read_or_refused_with_one_error(self):
        read_or_refused(self, self.read, (K600, K300, CMY600, K_LETTER), 300, 2061)


if __name__ == '__main__':
    unittest.main()
