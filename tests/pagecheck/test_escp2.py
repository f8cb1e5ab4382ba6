"""The ESC/P 2 reader: Gutenprint's inkjet raster jobs decoded dot for dot and placed where the printer
prints them, from the stream's moves, the PPD's printable area or Gutenprint's data for the model;
a bad or cut-short stream gives one clear error, whatever its bytes."""
import glob
import random
import struct
import unittest

from pagecheck.readers.base import Media, StreamError
from pagecheck.readers.escp2 import read, sniff
from mutations import mutated

ESC = b'\x1b'
# A sheet of 2 x 2 inches whose printable area starts 9 points in: at the streams' 72 dpi, 9 pixels.
MEDIA = Media((144, 144), (9, 0))
LEFT = 9
# The top margin the streams set, in their units of 1/72 inch.
TOP = 10


def command(name, payload):
    return ESC + b'(' + name + struct.pack('<H', len(payload)) + payload


def packbits(row):
    """A row run-length coded: runs of one byte repeated, other bytes as they are."""
    out, at = bytearray(), 0
    while at < len(row):
        run = 1
        while at + run < len(row) and run < 128 and row[at + run] == row[at]:
            run += 1
        if run > 1:
            out += bytes([257 - run, row[at]])
        else:
            out += bytes([0, row[at]])
        at += run
    return bytes(out)


def band(rows, bits=1, ink=0, coded=True):
    data = b''.join(packbits(row) if coded else row for row in rows)
    return ESC + b'i' + bytes([ink, int(coded), bits]) + struct.pack('<HH', len(rows[0]), len(rows)) + data


def old_band(rows, dots, spacing=50, coded=True):
    data = b''.join(packbits(row) if coded else row for row in rows)
    return ESC + b'.' + bytes([int(coded), 10, spacing, len(rows)]) + struct.pack('<H', dots) + data


START = b'\0\0\0' + ESC + b'\x01@EJL 1284.4\n@EJL     \n' + ESC + b'@'
# Remote mode: each command's length skips what it holds, an escape among it too.
REMOTE = command(b'R', b'\0REMOTE1') + b'PM\x02\x00\x00\x00' + b'SN\x03\x00\x00\x1b\x00' + ESC + b'\0\0\0'
# Page, vertical and horizontal units of 1/72 inch; rows and dots 1/72 inch apart.
UNITS = command(b'U', bytes([50, 50, 50]) + struct.pack('<H', 3600))
RASTER = command(b'D', struct.pack('<HBB', 3600, 50, 50))
SETUP = START + REMOTE + command(b'G', b'\x01') + UNITS + command(b'K', b'\x00\x02') + RASTER + \
    command(b'C', struct.pack('<I', 144)) + command(b'c', struct.pack('<ii', TOP, 134))
END = b'\x0c' + ESC + b'@' + command(b'R', b'\0REMOTE1') + b'LD\x00\x00' + ESC + b'\0\0\0'
# One band of two rows: a run of 8 dots, then dots 20 and 23 and the last of 40; a blank row.
ROWS = [b'\xff\x00\x09\x00\x01', b'\x00' * 5]
ROW_DOTS = [0, 1, 2, 3, 4, 5, 6, 7, 20, 23, 39]
DOWN = 3
JOB = SETUP + command(b'v', struct.pack('<i', DOWN)) + band(ROWS) + b'\r' + END


def inked(image):
    return {(x, y) for x in range(image.width) for y in range(image.height) if image.getpixel((x, y)) < 128}


def row_ink(x, y, dots=ROW_DOTS, step=1):
    return {(x + dot * step, y) for dot in dots}


class Escp2Test(unittest.TestCase):
    def test_a_job_is_known_by_its_start(self):
        self.assertTrue(sniff(JOB))
        self.assertTrue(sniff(ESC + b'@' + UNITS))
        self.assertFalse(sniff(ESC + b'E' + ESC + b'*t300R'))

    def test_a_coded_band_lands_dot_for_dot_below_the_top_margin(self):
        for coded in (True, False):
            with self.subTest(coded=coded):
                job = SETUP + command(b'v', struct.pack('<i', DOWN)) + band(ROWS, coded=coded) + b'\r' + END
                [page] = read(job, MEDIA)
                self.assertEqual((page.image.size, page.dpi, page.sheet_points), ((144, 144), (72, 72), (144, 144)))
                self.assertEqual(inked(page.image), row_ink(LEFT, TOP + DOWN))
                self.assertIn('from the PPD', page.assumed)

    def test_two_bit_dots_of_any_size_are_ink(self):
        # Dots of sizes 1, 0, 2, 3.
        job = SETUP + band([b'\x4b'], bits=2) + END
        self.assertEqual(inked(read(job, MEDIA)[0].image), {(LEFT, TOP), (LEFT + 2, TOP), (LEFT + 3, TOP)})

    def test_rows_of_a_band_lie_the_raster_pitch_apart(self):
        job = SETUP + band([b'\x80', b'\x00', b'\x80']) + END
        self.assertEqual(inked(read(job, MEDIA)[0].image), {(LEFT, TOP), (LEFT, TOP + 2)})
        # Rows 1/36 inch apart that the paper never moves between lie on a 36 dpi grid, each dot as
        # tall, though the paper's units are 1/72 inch: so 720x360 dpi pages print.
        job = SETUP + command(b'D', struct.pack('<HBB', 3600, 100, 50)) + band([b'\x80', b'\x80']) + END
        page = read(job, MEDIA)[0]
        self.assertEqual((page.dpi, inked(page.image)), ((72, 36), {(LEFT, TOP // 2), (LEFT, TOP // 2 + 1)}))
        # Rows 1/144 inch apart put the page on a 144 dpi grid down.
        job = SETUP + command(b'D', struct.pack('<HBB', 3600, 25, 50)) + band([b'\x80', b'\x80']) + END
        page = read(job, MEDIA)[0]
        self.assertEqual((page.dpi, page.image.size), ((72, 144), (144, 288)))
        self.assertEqual(inked(page.image), {(LEFT, 2 * TOP), (LEFT, 2 * TOP + 1)})

    def test_moves_absolute_and_relative_in_their_units(self):
        dot = [b'\x80']
        job = SETUP + command(b'$', struct.pack('<i', 30)) + band(dot) + b'\r' + \
            command(b'v', struct.pack('<i', 5)) + command(b'\\', struct.pack('<Hh', 36, 2)) + band(dot) + \
            ESC + b'\\' + struct.pack('<h', 3) + band(dot) + b'\r' + \
            command(b'V', struct.pack('<i', 20)) + band(dot) + END
        # The third band starts where the second ended, 8 dots on, and 3 more.
        self.assertEqual(inked(read(job, MEDIA)[0].image),
                         {(LEFT + 30, TOP), (LEFT + 4, TOP + 5), (LEFT + 4 + 8 + 3, TOP + 5), (LEFT, TOP + 20)})

    def test_old_units_and_bands_give_their_resolution(self):
        # One-byte units of 25/3600 inch, and dots as far apart: 144 dpi.
        job = START + command(b'U', b'\x19') + command(b'c', struct.pack('<hh', 20, 260)) + \
            old_band([b'\xc0'], 2, spacing=25) + END
        page = read(job, MEDIA)[0]
        self.assertEqual((page.dpi, page.image.size), ((144, 144), (288, 288)))
        self.assertEqual(inked(page.image), {(2 * LEFT, 20), (2 * LEFT + 1, 20)})

    def test_a_moved_page_shows_as_moved(self):
        moved = SETUP + command(b'v', struct.pack('<i', DOWN + 2)) + command(b'$', struct.pack('<i', 3)) + \
            band(ROWS) + b'\r' + END
        self.assertEqual(inked(read(moved, MEDIA)[0].image), row_ink(LEFT + 3, TOP + DOWN + 2))
        self.assertEqual(inked(read(JOB, Media((144, 144), (18, 0)))[0].image), row_ink(LEFT + 9, TOP + DOWN))

    def test_each_form_feed_ends_a_page(self):
        pages = read(SETUP + band(ROWS) + b'\x0c' + band([b'\x80']) + END, MEDIA)
        self.assertEqual([inked(page.image) for page in pages], [row_ink(LEFT, TOP), {(LEFT, TOP)}])

    @unittest.skipUnless(glob.glob('/usr/share/gutenprint/*/xml/escp2'), "Gutenprint's printer data is not installed")
    def test_the_models_data_places_the_page(self):
        # The Stylus C64's left edge is 9 points in. Its driver sends the top margin half an inch
        # short in colour, not in black only, and magenta a quarter inch low: they print that much
        # lower and higher than the stream says.
        media = Media((144, 144), None, attributes={'StpDriverName': 'escp2-c64'})
        down = command(b'v', struct.pack('<i', 30))
        black = SETUP.replace(command(b'K', b'\x00\x02'), command(b'K', b'\x00\x01'))
        cases = ((SETUP + down + band([b'\x80']) + END, {(9, TOP + 30 + 36)}),
                 (SETUP + down + band([b'\x80'], ink=1) + END, {(9, TOP + 30 + 36 - 18)}),
                 (black + down + band([b'\x80']) + END, {(9, TOP + 30)}))
        for job, ink in cases:
            with self.subTest(ink=ink):
                page = read(job, media)[0]
                self.assertEqual(inked(page.image), ink)
                self.assertIn('escp2-c64', page.assumed)
        # The Stylus Photo R300's driver makes the page 24 points longer than the sheet.
        r300 = Media((144, 144), None, attributes={'StpDriverName': 'escp2-r300'})
        self.assertEqual(read(SETUP + END, r300)[0].sheet_points, (144, 120))
        # Borderless, its left edge moves to (42 - 80) / 360 inch, 7.6 points off the sheet.
        borderless = SETUP.replace(REMOTE, REMOTE[:-4] + b'FP\x03\x00\x00' + struct.pack('<h', -80) + ESC + b'\0\0\0')
        job = borderless + command(b'$', struct.pack('<i', 10)) + band([b'\x80']) + END
        self.assertEqual(inked(read(job, r300)[0].image), {(2, TOP)})

    @unittest.skipUnless(glob.glob('/usr/share/gutenprint/*/xml/escp2'), "Gutenprint's printer data is not installed")
    def test_the_ink_type_that_printed_is_the_one_the_stream_shows(self):
        def job(driver, mode, inks, pitch=10, page_format=True, down=100):
            """Each ink's one-row band down/360 inch down, in units of 1/360 inch under ESC ( K mode,
            the rows pitch/3600 inch apart."""
            setup = SETUP.replace(UNITS, command(b'U', bytes([10, 10, 10]) + struct.pack('<H', 3600)))
            setup = setup.replace(command(b'K', b'\x00\x02'), command(b'K', bytes([0, mode])))
            setup = setup.replace(RASTER, command(b'D', struct.pack('<HBB', 3600, pitch, 10)))
            setup = setup.replace(command(b'C', struct.pack('<I', 144)), command(b'C', struct.pack('<I', 720)))
            setup = setup.replace(command(b'c', struct.pack('<ii', TOP, 134)),
                                  command(b'c', struct.pack('<ii', TOP, 670)) if page_format else b'')
            bands = b''.join(band([b'\x80'], ink=ink) + b'\r' for ink in inks)
            return read(setup + command(b'v', struct.pack('<i', down)) + bands + END,
                        Media((144, 144), None, attributes={'StpDriverName': driver}))[0]

        # The Stylus C20 prints black 48/360 inch above its colours; in black and white, the one
        # channel, at the head's top, with the black top margin rather than the colour one 99/360
        # inch higher.
        self.assertEqual(inked(job('escp2-c20', 2, [0]).image), {(45, TOP + 100 + 99 - 48)})
        self.assertEqual(inked(job('escp2-c20', 1, [0]).image), {(45, TOP + 100)})
        # The WorkForce 7010 splits black in three rows of nozzles in black and white, its rows
        # three nozzles apart, each row a nozzle below the last; in colour it does not split.
        self.assertEqual(inked(job('escp2-wf7010', 1, [0x00, 0x40, 0x60], pitch=30).image),
                         {(45, TOP + 100), (45, TOP + 101), (45, TOP + 102)})
        self.assertEqual(inked(job('escp2-wf7010', 2, [0x60]).image), {(45, TOP + 100)})
        # The B-300's head uses its nozzles from the second on: its first row of nozzles prints the
        # weave's second row, its second row the first (and its top margin is 7/360 inch short).
        self.assertEqual(inked(job('escp2-b300', 2, [0x00, 0x40], pitch=20).image),
                         {(45, TOP + 100 + 7), (45, TOP + 100 + 7 + 1)})
        # The DX100 is sent no top margin: its rows count from its head's span above the page, and
        # its first move carries 376/360 inch more; its roll prints from the left edge.
        self.assertEqual(inked(job('escp2-fujifilm-dx100', 2, [0], page_format=False, down=100 + 360 + 376).image),
                         {(0, 100)})
        cases = {
            "escp2-2100 that print inks 0x00, 0x01, 0x02, 0x04 under ESC \\( K mode 2 disagree: ink 0x00 prints "
            "0.07 mm higher with PhotoCMYK7 than with PhotoCMYK and CMYK, and nothing in the stream says which":
                ('escp2-2100', 2, [0, 1, 2, 4], 20),
            r"no ink type of Gutenprint's for escp2-wf7010 prints inks 0x00, 0x40, 0x60 under ESC \( K mode 1 as "
            "the stream does": ('escp2-wf7010', 1, [0x00, 0x40, 0x60], 10),
        }
        for message, (driver, mode, inks, pitch) in cases.items():
            with self.subTest(message), self.assertRaisesRegex(StreamError, message):
                job(driver, mode, inks, pitch)

    def test_a_bad_or_cut_short_stream_says_what_is_wrong(self):
        start = len(SETUP)
        moved = start + len(command(b'v', b'\0\0\0\0'))
        overrun = ESC + b'i\x00\x01\x01' + struct.pack('<HH', 1, 1) + b'\xfe\x00'
        exit_remote = ESC + b'\0\0\0'
        cases = {
            rf'cut off inside a band at byte {moved}': JOB[:moved + 9 + 3],
            rf'unknown command ESC \( Z at byte {start}': SETUP + command(b'Z', b'') + END,
            rf'unknown command ESC Z at byte {start}': SETUP + ESC + b'Z' + END,
            rf'band wider than the page at byte {moved}': SETUP + command(b'$', struct.pack('<i', 130)) + band(ROWS) +
            END,
            rf'band runs off the sheet at byte {moved}': SETUP + command(b'v', struct.pack('<i', 140)) +
            band([b'\x80']) + END,
            rf'ESC \( v with 3 bytes of parameters at byte {start}': SETUP + command(b'v', b'\0\0\0') + END,
            r'raster band before the page format \(ESC \( c\)': START + UNITS + RASTER + band(ROWS) + END,
            r'ESC i band before the raster resolution \(ESC \( D\)': START + UNITS + band(ROWS) + END,
            r'ESC i band of 3 bits a dot': SETUP + band(ROWS, bits=3) + END,
            r'band in compression mode 2': SETUP + band(ROWS).replace(b'i\x00\x01', b'i\x00\x02') + END,
            r'a run runs 2 bytes past the end of the band': SETUP + overrun + END,
            r'cut off inside a remote-mode block': START + REMOTE[:-4],
            r'bad remote-mode command at byte': START + command(b'R', b'\0REMOTE1') + b'p\x00\x00\x00' + exit_remote,
            r'duplex printing \(remote command DP at byte': START + REMOTE[:-4] + b'DP\x02\x00\x00\x02' + exit_remote,
            r'ends inside a page, before its form feed': SETUP + band(ROWS),
            r'raster band after a line feed, at no known height': SETUP + b'\n' + band(ROWS) + END,
            rf'unexpected byte 0x41 in the ESC/P 2 stream at byte {start}': SETUP + b'A' + END,
            r'ESC \( U sets a unit of 0': START + command(b'U', b'\x00') + END,
            r'vertical move before its units \(ESC \( U\)': START + command(b'v', b'\1\0') + END,
            r'printer reset inside a page': SETUP + band(ROWS) + ESC + b'@' + END,
            r'page format changed inside a page': SETUP + band(ROWS) + command(b'c', struct.pack('<ii', 0, 1)) + END,
            r'no page in the ESC/P 2 stream': SETUP,
            r'ESC \. band of 2 rows at byte': SETUP + old_band([b'\x80', b'\x80'], 1) + END,
            r"grid of 10872 dpi, finer than any printer's": SETUP + command(b'\\', struct.pack('<Hh', 151, 1)) +
            band(ROWS) + END,
            r'no printable left edge for the ESC/P 2 page': JOB,
        }
        for message, data in cases.items():
            with self.subTest(message), self.assertRaisesRegex(StreamError, message):
                read(data, Media((144, 144)) if 'left edge' in message else MEDIA)

    def test_any_mutation_is_read_or_refused_with_one_error(self):
        generator = random.Random(2883)
        # Most without the job's opening, for most mutations to fall in the page.
        page = ESC + b'@' + UNITS + RASTER + command(b'c', struct.pack('<ii', TOP, 134))
        streams = (JOB, page + band(ROWS) + b'\r' + command(b'$', struct.pack('<i', 4)) +
                   band([b'\x4b\x00\xff', b'\x0f\x00\x00'], bits=2, coded=False) + b'\x0c' + band(ROWS) + b'\x0c',
                   ESC + b'@' + command(b'U', b'\x32') + command(b'c', struct.pack('<hh', 5, 130)) +
                   old_band([b'\xf0\x00\x00\x0f'], 32) + b'\x0c')
        for _ in range(3000):
            data = mutated(generator, generator.choice(streams))
            try:
                pages = read(data, MEDIA)
            except StreamError:
                continue
            for page in pages:
                self.assertGreater(page.image.width * page.image.height, 0)


if __name__ == '__main__':
    unittest.main()
