"""The foo2zjs family's reader: tiny ZjStream, XQX, QPDL, HBPL, HIPERC and LAVAFLOW jobs written at
run time by the foo2zjs package's own foo2* programs from a small bitmap, and splix' QPDL built here, are
placed on their sheet where their headers (or the PPD) put them; a bad or cut-short stream gives
one clear error, whatever its bytes."""
import os
import struct
import subprocess
import tempfile
import unittest
from unittest import mock

from PIL import Image, ImageDraw

from pagecheck.readers import foo2
from pagecheck.readers.base import Media, StreamError
from pagecheck.readers.foo2 import HBPL, HIPERC, LAVAFLOW, QPDL, SLX, XQX, ZJSTREAM, language, paper, read, sniff
from pagecheck.readers.pjl import job_parts
from mutations import read_or_refused

# A bitmap of 96 x 64 pixels at 600 dpi with a box of ink from (24, 12) to (40, 20).
SIZE, BOX = (96, 64), (24, 12, 40, 20)
# The sheet's origin the PPD gives: 50 and 30 pixels at 600 dpi.
MEDIA = Media(sheet_points=(595, 842), origin_points=(6, 3.6))
A4_PIXELS = (4961, 7016)


def driven(program, *options, across=1, planes=1):
    """What the foo2zjs package's program writes for the bitmap, at 600 dpi, or at across times
    600 dpi across (each pixel that many dots wide); for planes 4, as the first of four colour
    planes, the others blank."""
    image = Image.new('1', (SIZE[0] * across, SIZE[1]), 1)
    ImageDraw.Draw(image).rectangle((BOX[0] * across, BOX[1], BOX[2] * across + across - 1, BOX[3]), fill=0)
    with tempfile.TemporaryDirectory() as folder:
        path, blank = os.path.join(folder, 'page.pbm'), os.path.join(folder, 'blank.pbm')
        image.save(path)
        Image.new('1', image.size, 1).save(blank)
        with open(path, 'ab') as bitmap:
            for _ in range(planes - 1):
                with open(blank, 'rb') as other:
                    bitmap.write(other.read())
        with open(path, 'rb') as bitmap:
            return subprocess.run([program, f'-r{600 * across}x600', f'-g{image.width}x{image.height}', *options],
                                  stdin=bitmap, capture_output=True, check=True).stdout


def ink_box(page):
    box = page.image.point(lambda value: 255 - value).getbbox()
    return box and (box[0], box[1], box[2] - 1, box[3] - 1)


def moved(box, dx, dy):
    return box[0] + dx, box[1] + dy, box[2] + dx, box[3] + dy


def splix_band(number, columns, width=16):
    """A band of splix' compression 0x11, 4 lines high: its columns of stored bytes (1 is paper)
    packed as a run of bytes as they are and, where a column repeats the one before, a copy."""
    table = struct.pack('<64H', *range(1, 65))
    codes = bytearray()
    for index, column in enumerate(columns):
        if index and column == columns[index - 1]:
            codes += bytes([0x80 | (len(column) - 3), 3])
        else:
            codes += bytes([len(column) - 1]) + column
    packed = struct.pack('<I', 0) + table + codes
    body = bytes.fromhex('efcdab09') + packed + bytes(4)
    return bytes([0x0c, number]) + struct.pack('>HH', width, 4) + bytes([0x11]) + struct.pack('>I', len(body)) + body


def splix_job(bands, raster=(16, 12)):
    """splix' QPDL for a monochrome printer: the page header (600 dpi, A4, QPDL version 1), its
    bands, the page's and the job's ends."""
    header = bytes([0, 6, 0, 1, 2]) + struct.pack('>HH', *raster) + bytes([1, 0, 1, 0, 0, 1, 0, 6])
    return header + b''.join(bands) + bytes([1, 0, 1, 9])


# Column 0 has ink across its first byte on line 1; column 1 repeats it.
INKED = b'\xff\x0f\xff\xff'
SPLIX = splix_job([splix_band(1, [INKED, INKED])])
ZJS = driven('foo2zjs', '-p9', '-u16x8', '-l16x8')
SLX_JOB = driven('foo2slx', '-p2', '-u16x8', '-l16x8')
XQX_JOB = driven('foo2xqx', '-p9')
QPDL_JOB = driven('foo2qpdl', '-p2')
HBPL_JOB = driven('foo2hbpl2', '-p1')
HIPERC_JOB = driven('foo2hiperc')
LAVA_JOB = driven('foo2lava', '-p26')


def body(job):
    """The language's own part of a job, as a PJL job hands it to the printer."""
    return next(data for _, data in job_parts(job) if sniff(data))


class Foo2Test(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.folder.cleanup()

    def read(self, data, media=MEDIA):
        return read(data, media, self.folder.name)

    def test_zjstream_and_slx_offsets_place_the_raster_on_the_sheet(self):
        for job in (ZJS, SLX_JOB):
            (page,) = self.read(body(job))
            self.assertEqual((page.image.size, page.dpi, page.sheet_points[0] // 1, page.assumed),
                             (A4_PIXELS, (600, 600), 595, None))
            self.assertEqual(ink_box(page), BOX)

    def test_without_offsets_the_raster_lies_at_the_ppd_origin(self):
        (page,) = self.read(body(driven('foo2zjs', '-p1', '-u16x8', '-l16x8', '-L0')))
        self.assertEqual(page.image.size, (5100, 6600))
        self.assertEqual(ink_box(page), moved(BOX, 50 - 16, 30 - 8))
        self.assertIn('from the PPD', page.assumed)
        # foo2qpdl -z2 sends the CLP-310's bands each a JBIG image, which qpdldecode heads with the
        # rows above the last band: none here.
        for job in (XQX_JOB, QPDL_JOB, HBPL_JOB, driven('foo2qpdl', '-p2', '-z2')):
            (page,) = self.read(body(job))
            self.assertEqual((page.image.size, ink_box(page)), (A4_PIXELS, moved(BOX, 50, 30)))
        # HIPERC names no sheet: the media's is taken. Its planes come as they are (the wrapper's
        # way), or as four colour planes.
        for job in (HIPERC_JOB, driven('foo2hiperc', '-c', planes=4)):
            (page,) = self.read(body(job))
            self.assertEqual((page.image.size, ink_box(page)), ((4958, 7017), moved(BOX, 50, 30)))
            self.assertIn('sheet from the media', page.assumed)

    def test_lavaflow_cursor_places_the_raster(self):
        # foo2lava sets the cursor 1/6 inch in and down, in units of its x resolution.
        for across in (1, 2):
            (page,) = self.read(body(driven('foo2lava', '-p26', across=across)))
            self.assertEqual((page.dpi, page.assumed), ((600 * across, 600), None))
            self.assertEqual(ink_box(page), (BOX[0] * across + 100 * across, BOX[1] + 100,
                                             BOX[2] * across + across - 1 + 100 * across, BOX[3] + 100))

    def test_1200_by_600_dpi_in_2_bit_video_pixels_is_read_at_600_dpi(self):
        for job in (driven('foo2zjs', '-z1', '-p9', '-L0', across=2), driven('foo2xqx', '-p9', across=2)):
            (page,) = self.read(body(job))
            self.assertEqual((page.dpi, page.image.size, ink_box(page)), ((600, 600), A4_PIXELS, moved(BOX, 50, 30)))

    def test_splix_bands_are_unpacked_and_laid_by_their_numbers(self):
        (page,) = self.read(SPLIX)
        self.assertEqual(page.image.size, A4_PIXELS)
        self.assertEqual(ink_box(page), (50, 30 + 4 + 1, 50 + 11, 30 + 4 + 1))
        self.assertEqual(page.image.getpixel((50 + 5, 35)), 255)

    def test_sniff_language_and_paper(self):
        for data, name in ((body(ZJS), ZJSTREAM), (body(XQX_JOB), XQX), (body(QPDL_JOB), QPDL), (SPLIX, QPDL),
                           (body(HBPL_JOB), HBPL), (body(LAVA_JOB), LAVAFLOW),
                           (SLX_JOB, SLX)):
            self.assertTrue(sniff(data))
            self.assertEqual((language(data), paper(data)[0]), (name, 'A4'))
        self.assertEqual((language(body(HIPERC_JOB)), paper(body(HIPERC_JOB))), (HIPERC, None))
        for other in (b'\x1bE\x1b&l0O', b'%!PS', b'\x00\x00\x00\x34\x00', bytes(40)):
            self.assertFalse(sniff(other))

    def test_a_bad_or_cut_short_stream_says_what_is_wrong_and_where(self):
        zjs, xqx, qpdl, hbpl = body(ZJS), body(XQX_JOB), body(QPDL_JOB), body(HBPL_JOB)
        hiperc, lava = body(HIPERC_JOB), body(LAVA_JOB)
        data_at, lava_data_at = len(hiperc) - 8 - 4116, lava.index(b'\x1b*b32W')
        page_at, end_page_at = hbpl.index(b'\x1bPS'), hbpl.index(b'\x1bPE')
        band_at, end_at = 17, len(SPLIX) - 4
        bih_at = zjs.index(struct.pack('>2I', 36, 4))
        cases = {
            'ZjStream stream ends before its end of document at byte 4$': zjs[:4],
            'ZjStream record of 64 bytes cut off at byte 4$': zjs[:40],
            'ZjStream record of type 12 \\(colour bitmap\\) at byte 4 is not read': zjs[:8] + b'\0\0\0\x0c' + zjs[12:],
            'ZjStream record without its signature at byte 4$': zjs[:18] + b'ZY' + zjs[20:],
            'SLX record of type 12 \\(colour bitmap\\) at byte 4 is not read':
                SLX_JOB[:8] + b'\0\0\0\x0c' + SLX_JOB[12:],
            'XQX stream cut off inside a record header at byte 4$': xqx[:10],
            'XQX record of type 9 at byte 4 is not read': xqx[:4] + b'\0\0\0\x09' + xqx[8:],
            f'QPDL stream ends before its end of job at byte {len(qpdl) - qpdl[::-1].index(9) - 1}$':
                qpdl[:len(qpdl) - qpdl[::-1].index(9) - 1],
            f'QPDL stream cut off inside a band at byte {band_at}$': SPLIX[:band_at + 20],
            f'QPDL record of type 0x07 at byte {end_at} is not read': SPLIX[:end_at] + b'\x07' + SPLIX[end_at:],
            f'QPDL band in compression 0x0d at byte {band_at} is not read': SPLIX.replace(b'\x04\x11', b'\x04\x0d'),
            'unpacks to 4 bytes where its 16x4 pixels are 8': splix_job([splix_band(1, [INKED])]),
            'a copy from before the band\'s start': splix_job([splix_band(1, [INKED, INKED]).replace(
                b'\x81\x03', b'\x81\x3f')]),
            # A JBIG header with a stripe width (MX) past what the decoder takes.
            'ZjStream stream: zjsdecode crashed': zjs[:bih_at + 32] + b'\xc8' + zjs[bih_at + 33:],
            'does not place its raster, and the media gives no origin': body(XQX_JOB),
            'ZjStream page at byte 56 is offset on its sheet in 2-bit pixels':
                body(driven('foo2zjs', '-z1', '-p9', '-u16x8', across=2)),
            f'HBPL stream cut off inside a page\'s bitmaps at byte {page_at + 64}$': hbpl[:page_at + 80],
            f'HBPL stream ends inside a page at byte {end_page_at}$': hbpl[:end_page_at],
            f'HBPL record .*XY.* at byte {page_at} is not read': hbpl.replace(b'\x1bPS', b'\x1bXY'),
            # The page start's width half the JBIG header's.
            'HBPL page at byte .* packs 2 bits a pixel': hbpl[:page_at + 4] + bytes([SIZE[0] // 2]) +
                hbpl[page_at + 5:],
            'HIPERC record of 52 bytes cut off at byte 0$': hiperc[:40],
            'HIPERC record of type 7 at byte 52 is not read': hiperc[:59] + b'\x07' + hiperc[60:],
            # foo2hiperc.c:441 gives its JBIG header the height rounded up to 256 rows, and sends
            # the rows there are: hipercdecode finds the image unfinished.
            'HIPERC page 1 at byte 0: hipercdecode wrote 0 of its 1 planes': body(driven('foo2hiperc', '-Z1')),
            f'HIPERC stream ends inside a page at byte {len(hiperc) - 8}$': hiperc[:-8],
            # A data record one byte short of the plane's.
            f'HIPERC page ends at byte {len(hiperc) - 9} with 4095 bytes of plane 3\'s 4096':
                hiperc[:data_at] + b'\0\0\x10\x13' + hiperc[data_at + 4:data_at + 16] + b'\0\0\x0f\xff' +
                hiperc[data_at + 20:-9] + hiperc[-8:],
            f'LAVAFLOW stream cut off inside a command\'s data at byte {lava_data_at}$': lava[:lava_data_at + 20],
            'LAVAFLOW command &l5E at byte .* is not read': lava.replace(b'\x1b&l0E', b'\x1b&l5E'),
            'LAVAFLOW page starts at byte .* without its resolution': lava.replace(b'\x1b*p100Y', b''),
            f'LAVAFLOW byte 0x0c at byte {lava_data_at}': lava[:lava_data_at] + b'\x0c' + lava[lava_data_at:],
        }
        media = {'does not place its raster, and the media gives no origin': Media(sheet_points=(595, 842))}
        for message, data in cases.items():
            with self.subTest(message), self.assertRaisesRegex(StreamError, message):
                self.read(data, media.get(message, MEDIA))

    def test_any_mutation_is_read_or_refused_with_one_error(self):
        jobs = (body(ZJS), body(XQX_JOB), body(QPDL_JOB), SPLIX, body(HBPL_JOB), body(HIPERC_JOB), body(LAVA_JOB),
                SLX_JOB)
        # qpdldecode spins on one of these until the reader stops it: a shorter wait keeps the
        # test quick, and the refusal is the same.
        with mock.patch.object(foo2, 'TIMEOUT', 5):
            read_or_refused(self, self.read, jobs, 400, 2317)


if __name__ == '__main__':
    unittest.main()
