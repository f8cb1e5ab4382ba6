"""The Brother laser raster reader: jobs written at run time by printer-driver-brlaser's own
rastertobrlaser from small CUPS rasters are read back dot for dot, laid at the PPD's printable
origin at the resolution and on the sheet their PJL gives; brlaser's jobs and PCL's are told
apart; a bad or cut-short job gives one clear error, whatever its bytes."""
import os
import random
import subprocess
import tempfile
import unittest

from PIL import Image, ImageChops, ImageDraw

from pagecheck.readers import brlaser, pcl, pcl3
from pagecheck.readers.base import Media, StreamError
from pagecheck.readers.brlaser import LANGUAGE, paper, read, sniff
from pagecheck.readers.document import Document
from pagecheck.readers.registry import printer_language
from cups_raster import BIG_ENDIAN_3, K, page_header
from mutations import read_or_refused

FILTER = '/usr/lib/cups/filter/rastertobrlaser'
# The printable origin brlaser's PPDs give every sheet (brlaser.drv's HWMargins 8 8 8 16).
ORIGIN = (8, 16)
MEDIA = Media(origin_points=ORIGIN)


def bitmap(width, height):
    """A 1-bit raster that works every part of the compression: a box, a run of one byte longer than
    a repeat's count holds, bytes of noise longer than a substitution's count holds, a dot far
    right of the last edit, and rows changed at more places than a line has edits."""
    image = Image.new('1', (width, height), 1)
    draw = ImageDraw.Draw(image)
    draw.rectangle((24, 12, 40, 20), fill=0)
    draw.line((8, 24, width - 9, 24), fill=0)
    noise = random.Random(5)
    for x in range(64, 64 + 8 * 300):
        if noise.random() < 0.5:
            image.putpixel((x, 28), 0)
    image.putpixel((width - 1, 30), 0)
    for y in (33, 34):
        for x in range(y - 33, width, 24):
            image.putpixel((x, y), 0)
    return image


def page(image, dpi, size_name, points, duplex=0):
    # A '1' image's raw bits are 1 for white; the raster's (colour space K) 1 for ink.
    return page_header('>', image.size, (dpi, dpi), points, 1, 1, K, NumCopies=1, Duplex=duplex,
                       cupsPageSizeName=size_name.encode()) + image.tobytes('raw', '1;I')


def driven(*pages):
    """What rastertobrlaser writes for the CUPS raster (version 3, uncompressed) of pages."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, 'page.ras')
        with open(path, 'wb') as raster:
            raster.write(BIG_ENDIAN_3 + b''.join(pages))
        return subprocess.run([FILTER, '1', 'user', 'title', '1', '', path], capture_output=True, check=True).stdout


SMALL = bitmap(2560, 40)
WIDE = bitmap(9600, 40)
JOB = driven(page(SMALL, 600, 'A4', (595, 842)), page(SMALL, 600, 'A4', (595, 842)),
             page(WIDE, 1200, 'Letter', (612, 792)), page(SMALL, 300, 'A6', (297, 420)))
# A page at 300 dpi on A6: small enough to read hundreds of times.
A6_JOB = driven(page(SMALL, 300, 'A6', (297, 420)))


def placed(sheet, image, dpi):
    """Where the raster lies on the sheet, at the origin and cut at the sheet's right edge, as 'L'
    ink 0; what it should show there; and the box of the sheet's ink outside it."""
    left, top = (round(side * dpi / 72) for side in ORIGIN)
    box = (left, top, min(sheet.width, left + image.width), top + image.height)
    outside = sheet.copy()
    outside.paste(255, box)
    shown = image.convert('L').crop((0, 0, box[2] - left, image.height))
    return sheet.crop(box), shown, outside.point(lambda value: 255 - value).getbbox()


def grown_block(job):
    """job with a byte more in its first block than the block's lines hold."""
    start = job.index(b'1030m') + 5
    end = job.index(b'w', start)
    size = int(job[start:end])
    return job[:start] + str(size + 1).encode() + job[end:end + 1 + size] + b'\xff' + job[end + 1 + size:]


class BrlaserTest(unittest.TestCase):
    def test_every_dot_lands_at_the_ppd_origin_at_the_resolution_and_on_the_sheet_pjl_gives(self):
        pages = read(JOB, MEDIA)
        self.assertEqual([(got.dpi, got.image.size) for got in pages],
                         [((600, 600), (4961, 7016))] * 2 +
                         [((1200, 1200), (10200, 13200)), ((300, 300), (1240, 1748))])
        for got, image in zip(pages, (SMALL, SMALL, WIDE, SMALL)):
            raster, shown, outside = placed(got.image, image, got.dpi[0])
            self.assertIsNone(outside)
            self.assertIsNone(ImageChops.difference(raster, shown).getbbox())
            self.assertEqual(got.assumed, 'printable area 8 pt from the left and 16 pt from the top, from the PPD')
        self.assertEqual(pages[3].sheet_points, paper(A6_JOB)[1])

    def test_a_brlaser_job_is_told_from_pcl_and_named_and_titled_as_its_pjl_says(self):
        self.assertIs(printer_language(JOB), brlaser)
        self.assertEqual(paper(JOB)[0], 'A4')
        self.assertFalse(pcl.sniff(JOB) or pcl3.sniff(JOB))
        # Even the PCL part alone, as a PJL job hands it on, is the reader's, and refused.
        part = JOB[JOB.index(b'\x1bE'):]
        self.assertTrue(sniff(part))
        with self.assertRaisesRegex(StreamError, f'page at byte {part.index(b"1030m") + 5} has no resolution that is '
                                                 'read from its PJL'):
            read(part, MEDIA)
        pcl5, pcl3_gui = b'\x1bE\x1b&l26A\x1b*t600R\x1b*r1A\x1b*b2M', b'\x1b%-12345X@PJL\n\x1bE\x1b*g20W'
        for other in (pcl5, pcl3_gui):
            self.assertFalse(sniff(other))
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, 'job.prn')
            with open(path, 'wb') as job:
                job.write(JOB)
            document = Document(path)
        self.assertEqual((document.kind, document.title), (LANGUAGE, 'title'))

    def test_a_bad_or_cut_short_job_says_what_is_wrong_and_where(self):
        raster = A6_JOB.index(b'\x1b*b1030m')
        block = raster + 8
        feed = A6_JOB.index(b'1030M\x0c') + 5
        cases = {
            f'cut off inside the {int(A6_JOB[block:A6_JOB.index(b"w", block)])} bytes of a block at byte {block}$':
                A6_JOB[:block + 40],
            f'stream ends inside a page at byte {feed}$': A6_JOB[:feed],
            f'cut off before its end of job \\(@PJL EOJ\\) at byte {feed + 1}$': A6_JOB[:feed + 1],
            f'raster compression mode 1031 at byte {raster} is not read': A6_JOB.replace(b'1030m', b'1031m'),
            'PJL orientation LANDSCAPE at byte .* is not read': A6_JOB.replace(b'PORTRAIT', b'LANDSCAPE'),
            f'PJL resolution 1200 at byte {A6_JOB.index(b"@PJL SET RESOLUTION")} is not read':
                A6_JOB.replace(b'RESOLUTION = 300', b'RESOLUTION = 1200'),
            f'duplex printing \\(ESC&l2S at byte {A6_JOB.index(b"1X") + 2}\\) is not read':
                driven(page(SMALL, 300, 'A6', (297, 420), duplex=1)),
            f'PCL command ESC&l#A at byte {raster} is not read': A6_JOB.replace(b'1X\x1b*b', b'1X\x1b&l26A\x1b*b'),
            f'raster block at byte {block} holds 1 bytes after its 40 lines': grown_block(A6_JOB),
            'printable origin is not known': A6_JOB,
        }
        for message, data in cases.items():
            with self.subTest(message), self.assertRaisesRegex(StreamError, message):
                read(data, Media() if 'origin' in message else MEDIA)

    def test_any_mutation_is_read_or_refused_with_one_error(self):
        read_or_refused(self, lambda data: read(data, MEDIA), [A6_JOB], 300, 1030)


if __name__ == '__main__':
    unittest.main()
