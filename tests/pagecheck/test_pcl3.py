"""The PCL 3 and PCL 3 GUI reader: each compression's rows decoded with their seed rows carried and
cleared, planes of several resolutions scaled onto one sheet, the page placed from the printer's
origin as its PPD gives it or up and left of the sheet by a borderless page's overspray, page sizes and page ends; a bad or cut-short stream gives one clear
error, whatever its bytes."""
import random
import re
import struct
import unittest

from PIL import Image, ImageFilter

from pagecheck.readers.base import Media, StreamError, spread
from pagecheck.readers.pcl3 import LANGUAGE, PLAIN_LANGUAGE, language, paper, read, sniff
from pagecheck.readers.pcl_paper import page_size
from mutations import mutate_at

# A sheet one inch square whose printable area starts a third of an inch from its left edge: 100
# pixels at 300 dpi. Without *HPMechOffset the printer's top is the sheet's edge.
ORIGIN_X = 100
MEDIA = Media((72, 72), (24, 6), None, {})
# hpcups' PPDs put the printer's top a tenth of an inch down: 30 pixels at 300 dpi.
MECH_MEDIA = Media((72, 72), (24, 6), None, {'HPMechOffset': '100'})
# A raster row's plane command, whose data the fuzz case replaces.
ROW = re.compile(rb'\x1b\*b(\d+)([VW])')


def esc(*commands):
    return b''.join(b'\x1b' + command.encode('latin-1') for command in commands)


def plane(data, last=True):
    return b'\x1b*b%d%s' % (len(data), b'W' if last else b'V') + data


def configure(form, *components):
    """Configure raster data: format 2's (x dpi, y dpi, levels) or format 6's (x dpi, y dpi,
    compression, orientation, bits, planes) for each component."""
    if form == 2:
        body = bytes([2, len(components)]) + b''.join(struct.pack('>3H', *component) for component in components)
    else:
        body = bytes([6, 0x1F]) + struct.pack('>H', len(components)) + \
            b''.join(struct.pack('>2H4B', *component) for component in components)
    return b'\x1b*g%dW' % len(body) + body


def page(*middle):
    """A one-page stream of 16-pixel rows at 300 dpi, the raster started at the top of the page."""
    return esc('E', '*t300R', '*r16S', '*p0Y', '*r1A') + b''.join(middle) + esc('*rC') + b'\x0c' + esc('E')


def dots(rows, x=ORIGIN_X, y=0, scale=1):
    """The sheet pixels the 1-bit rows ink, scaled up by scale, from (x, y)."""
    return {(x + (byte * 8 + bit) * scale + dx, y + number * scale + dy)
            for number, row in enumerate(rows) for byte, value in enumerate(row) for bit in range(8)
            if value & (0x80 >> bit) for dx in range(scale) for dy in range(scale)}


def ink_of(image):
    width = image.width
    return {(at % width, at // width) for at, value in enumerate(image.tobytes()) if value < 128}


def decoded(data, media=MEDIA):
    return read(data, media)


def only_page(data, media=MEDIA):
    pages = decoded(data, media)
    assert len(pages) == 1, len(pages)
    return pages[0]


# Mode 10 rows of 24 RGB pixels: each a command byte (kind, source, offset, count) and pixels.
BLACK = b'\x00\x00\x00'
RGB_ROWS = (
    # Three new black pixels repeated from pixel 2.
    b'\x91' + BLACK,
    # A new pixel 0 by short delta from white, red 16 less: still ink; pixel 3 a new white pixel
    # (three bytes, blue's lowest bit lost); pixels 2 and 4 left from the seed row.
    b'\x00\xc0\x00' + b'\x10\x7f\xff\xff',
    # Nothing: the seed row again.
    b'',
)
# After skipped rows the seed row is white again: a new black pixel at offset 5 (offset 3 going on
# in the next byte), then two of the cached colour; ten new pixels as they come from 8 (count 7
# going on after the 8th pixel), of which the 9th is white.
RGB_AFTER_SKIP = b'\x18\x02' + BLACK + b'\xe0' + b'\x07' + BLACK * 8 + b'\x02' + b'\x7f\xff\xff' + BLACK
RGB_INK = [{2, 3, 4}, {0, 2, 4}, {0, 2, 4}, set(range(5, 16)) | {17}]
RGB_STREAM = esc('E') + configure(6, (300, 300, 10, 1, 32, 1)) + esc('&u300D', '*r24S', '*r1A', '*p0Y') + \
    b''.join(plane(row) for row in RGB_ROWS) + esc('*b1Y') + plane(RGB_AFTER_SKIP) + esc('*rC') + b'\x0c'
# Format 2: black at 600 dpi in two levels (two rows of it to each raster row of 300 dpi), cyan at
# 300 dpi in four (two planes).
MIXED_STREAM = esc('E') + configure(2, (600, 600, 2), (300, 300, 4)) + esc('*r8S', '*r1A', '*b0M', '*p0Y') + \
    plane(b'\x80\x00', False) + plane(b'\x00\x01', False) + plane(b'\x00', False) + plane(b'\x10') + \
    esc('*rC') + b'\x0c'
# hpcups' borderless A4 (Pcl3Gui2.cpp:169-200): the raster starts 3 dots above the sheet and 5 left
# of it; at 75 dpi, five full rows of 16 pixels, then one of a dot at each end.
OVERSPRAY = esc('*o5W') + b'\x0e\x02\x00\x00\x03' + esc('*o5W') + b'\x0e\x01\x00\x00\x05'
BORDERLESS_STREAM = esc('E', '&l26A') + OVERSPRAY + esc('*t75R', '*r16S', '*r1A', '*p0Y') + \
    plane(b'\xff\xff') * 5 + plane(b'\x80\x01') + esc('*rC') + b'\x0c'
GUTENPRINT_STYLE = esc('E', '&l6D', '&l0O', '&l66P', '&l0L', '&l0E', '*o1M', '&l0M', '*t300R', '*r-4U', '*b2M',
                       '&a0H', '&a0V', '*r16S', '*r3T', '*r1A') + \
    plane(b'\x01\xf0\x0f', False) + plane(b'', False) + plane(b'', False) + plane(b'') + esc('*rC', '&l0H', 'E')


class CompressionTest(unittest.TestCase):
    def test_each_compression_decodes_its_rows_and_carries_or_clears_its_seed_row(self):
        # Per mode: the rows sent and the rows they ink; after a skipped row, one setting a
        # single byte, which inks only that byte: the delta rows' seed was cleared by the skip.
        cases = {
            0: ([b'\xf0\x0f', b'\x81'], [b'\xf0\x0f', b'\x81\x00'], b'\x0f', b'\x0f'),
            1: ([b'\x00\xf0\x00\x0f', b'\x01\x3c'], [b'\xf0\x0f', b'\x3c\x3c'], b'\x00\x0f', b'\x0f'),
            2: ([b'\x01\xf0\x0f', b'\xff\xaa', b'\x80'], [b'\xf0\x0f', b'\xaa\xaa', b''], b'\x00\x0f', b'\x0f'),
            # Delta rows: byte 1 replaced in the seed; then nothing, the seed again.
            3: ([b'\x20\xf0\x0f', b'\x01\xff', b''], [b'\xf0\x0f', b'\xf0\xff', b'\xf0\xff'], b'\x00\x0f',
                b'\x0f'),
            # Two bytes as they are; two of one repeated; the seed again; one byte at offset 1.
            9: ([b'\x01\xf0\x0f', b'\x80\xff', b''], [b'\xf0\x0f', b'\xff\xff', b'\xff\xff'], b'\x08\x0f',
                b'\x00\x0f'),
        }
        for mode, (rows, inked, after_skip, after_inked) in cases.items():
            with self.subTest(mode=mode):
                stream = page(esc(f'*b{mode}M'), *(plane(row) for row in rows), esc('*b1Y'), plane(after_skip))
                self.assertEqual(ink_of(only_page(stream).image), dots(inked + [b'', after_inked]))

    def test_compression_10_rgb_rows_ink_every_pixel_but_white(self):
        sheet = only_page(RGB_STREAM).image
        # The fourth row comes after a skipped one.
        rows = (0, 1, 2, 4)
        self.assertEqual(ink_of(sheet), {(ORIGIN_X + x, rows[y]) for y, xs in enumerate(RGB_INK) for x in xs})


class PlacementTest(unittest.TestCase):
    def test_planes_of_different_resolutions_are_scaled_to_the_finest_exactly(self):
        decoded_page = only_page(MIXED_STREAM)
        self.assertEqual((decoded_page.dpi, decoded_page.image.size), ((600, 600), (600, 600)))
        # Black's two rows at 600 dpi; cyan's dot at 300 dpi covers 2 x 2 pixels.
        expected = dots([b'\x80\x00', b'\x00\x01'], x=2 * ORIGIN_X) | dots([b'\x10'], x=2 * ORIGIN_X, scale=2)
        self.assertEqual(ink_of(decoded_page.image), expected)

    def test_rows_are_placed_from_the_printers_origin_as_the_ppd_gives_it(self):
        row = plane(b'\x80\x01')
        cases = (
            # hpcups: the top from *HPMechOffset, ESC*p#Y below it; a signed value moves from the
            # cursor, which a page starts at the origin.
            ('mech offset', MECH_MEDIA, esc('E', '*t300R', '*r16S', '*r1A', '*p15Y') + row, (ORIGIN_X, 45)),
            ('relative', MECH_MEDIA, esc('E', '*t300R', '*r16S', '*r1A', '*p-15Y') + row, (ORIGIN_X, 15)),
            ('units', MECH_MEDIA, esc('E', '&u600D', '*t300R', '*r16S', '*r1A', '*p30Y') + row, (ORIGIN_X, 45)),
            # The top margin in lines, positions in decipoints, the raster at the cursor.
            ('margin', MEDIA, esc('E', '&l12D', '&l1E', '&a72H', '&a36V', '*t300R', '*r16S', '*r1A') + row,
             (ORIGIN_X + 30, 40)),
            # Started at the left edge, not the cursor; rows after skipped ones further down.
            ('left edge', MEDIA, esc('E', '*p30X', '*p10Y', '*t300R', '*r16S', '*r0A', '*b5Y') + row,
             (ORIGIN_X, 15)),
        )
        for name, media, stream, (x, y) in cases:
            with self.subTest(name):
                decoded_page = only_page(stream + esc('*rC') + b'\x0c', media)
                self.assertEqual(ink_of(decoded_page.image), {(x, y), (x + 15, y)})
                self.assertIn('*HPMechOffset 100' if media is MECH_MEDIA else "top at the sheet's edge",
                              decoded_page.assumed)

    def test_page_size_pages_and_what_ends_them(self):
        sized = esc('E', '&l26A', '*t75R', '*r1A') + plane(b'\x80') + esc('*rC') + b'\x0c' + \
            esc('E', '*t75R', '*r1A') + plane(b'\x80') + esc('*rC', 'E') + b'\x0c' + esc('E')
        first, second, blank = decoded(sized)
        # A4 from the stream; then the PPD's sheet, reset printing the marked page; a form feed
        # prints a page even without ink, a reset after it does not.
        self.assertEqual((first.sheet_points, first.image.size, first.dpi), (page_size(26)[1], (620, 877), (75, 75)))
        self.assertNotIn('sheet size', first.assumed)
        self.assertEqual((second.sheet_points, second.image.size), ((72, 72), (75, 75)))
        self.assertIn('sheet size from the PPD', second.assumed)
        self.assertEqual([ink_of(each.image) for each in (first, second, blank)], [{(25, 0)}, {(25, 0)}, set()])

    def test_a_size_code_of_the_drivers_own_is_the_sheet_the_ppd_hands_it(self):
        # hpcups' 4x6 in card: code 74, which PCL does not list, from the PPD's cupsInteger0.
        card = Media((288, 432), (9, 9), None, {}, '<</cupsInteger0 74/PageSize[288 432]>>setpagedevice')
        decoded_page = only_page(esc('E', '&l74A') + page(plane(b'\x80'))[2:], card)
        self.assertEqual((decoded_page.sheet_points, decoded_page.image.size), ((288, 432), (1200, 1800)))
        self.assertIn('sheet size from the PPD', decoded_page.assumed)
        # Borderless, the PPD's page size is the larger area the raster covers: no sheet to place it on.
        with self.assertRaisesRegex(StreamError, "borderless page on size code 74, not PCL's, is not read"):
            decoded(BORDERLESS_STREAM.replace(b'26A', b'74A'), card)
        for other in (MEDIA, Media((288, 432), (9, 9), None, {}, '<</cupsInteger0 75>>setpagedevice')):
            with self.assertRaisesRegex(StreamError, 'page size 74 is not known'):
                decoded(esc('E', '&l74A') + page(plane(b'\x80'))[2:], other)

    def test_a_borderless_page_starts_its_overspray_up_and_left_of_the_sheet_cut_at_its_edges(self):
        decoded_page = only_page(BORDERLESS_STREAM)
        self.assertEqual((decoded_page.image.size, decoded_page.assumed), ((620, 877), None))
        # Of the full rows, the last two and 11 of their 16 pixels are on the sheet; the last row's
        # first dot is off it.
        self.assertEqual(ink_of(decoded_page.image), {(x, y) for x in range(11) for y in range(2)} | {(10, 2)})

    def test_gutenprint_style_simple_colour_planes(self):
        decoded_page = only_page(GUTENPRINT_STYLE)
        self.assertEqual(ink_of(decoded_page.image), dots([b'\xf0\x0f']))


class SpreadTest(unittest.TestCase):
    def test_the_ink_closed_by_a_dot_is_pils_minimum_then_maximum_filter_edges_included(self):
        chosen = random.Random(3)
        dots = Image.frombytes('L', (37, 23), bytes(chosen.choice((0, 30, 128, 255)) for _ in range(37 * 23)))
        self.assertEqual(spread(dots).tobytes(),
                         dots.filter(ImageFilter.MinFilter(3)).filter(ImageFilter.MaxFilter(3)).tobytes())


class StreamTest(unittest.TestCase):
    def test_sniff_language_and_paper(self):
        laser = esc('E', '&l2A', '*t300R', '*r1A') + plane(b'\x80') + esc('*rB') + b'\x0c'
        self.assertEqual([sniff(data) for data in (MIXED_STREAM, GUTENPRINT_STYLE, laser)], [True, True, False])
        self.assertEqual((language(RGB_STREAM), language(GUTENPRINT_STYLE)), (LANGUAGE, PLAIN_LANGUAGE))
        self.assertEqual(paper(esc('E', '&l6d26A')), page_size(26))
        self.assertIsNone(paper(MIXED_STREAM))

    def test_a_bad_or_cut_short_stream_says_what_is_wrong(self):
        start = esc('E', '*t300R', '*r16S', '*r1A')
        two_planes = esc('E') + configure(2, (300, 300, 2), (300, 300, 2)) + esc('*r16S', '*r1A')
        rgb = esc('E') + configure(6, (300, 300, 10, 1, 32, 1)) + esc('*r2S', '*r1A')
        at = len(start)
        cases = {
            f'PCL 3 stream cut off inside a raster row at byte {at}$': start + b'\x1b*b5W\x00\x00',
            f'unknown compression mode 7 at byte {at}$': start + esc('*b7M'),
            f'raster row wider than ESC\\*r#S at byte {at}$': start + plane(b'\x00\x00\x00'),
            f'compression 2 row ends inside a run at byte {at + 5}$': start + esc('*b2M') + plane(b'\x05\x00'),
            'compression 9 row ends inside a count': start + esc('*b9M') + plane(b'\x7f'),
            "plane count 1 does not match the 2 planes of configure raster data": two_planes + plane(b'\x00'),
            'plane count above 1 does not match the 1 planes of ESC\\*r#U': start + plane(b'\x00', False),
            'takes a west pixel at its left edge': rgb + plane(b'\xa0'),
            'configure raster data format 3 is not read': esc('E', '*g2W\x03\x01'),
            'configure raster data of 9 bytes for 1 components': esc('E', '*g9W\x02\x01\x01\x2c\x01\x2c\x00\x02\x00'),
            'a raster row outside raster graphics': esc('E') + plane(b'\x00'),
            'ESC\\*t#R inside raster graphics is not read': start + esc('*t600R'),
            'driver configuration 0e 05 is not read: it can move the page': esc('E', '*o5W\x0e\x05\x00\x00\x10'),
            # hpcups' SPD printers' overspray: no amount, so no origin.
            'overspray 0e 0d .*gives no amount': esc('E', '*o5W\x0e\x0d\x00\x00\x01'),
            "overspray gives no left amount": BORDERLESS_STREAM.replace(OVERSPRAY, OVERSPRAY[:10]),
            'orientation 1 is not read': esc('E', '&l1O'),
            'page size 55 is not known': esc('E', '&l55A'),
            'ESC&l5U at byte 2, which is not read': esc('E', '&l5U'),
            'text or control code 0x41 at byte 2': esc('E') + b'A',
            'ends inside page 1, which no form feed or reset prints': start + plane(b'\x80'),
            'no page in the PCL 3 stream': esc('E', '&l2A', 'E'),
        }
        for message, data in cases.items():
            with self.subTest(message), self.assertRaisesRegex(StreamError, message):
                decoded(data)
        with self.assertRaisesRegex(StreamError, "the printable area's left edge is not known"):
            decoded(page(plane(b'\x80')), Media((72, 72), None, None))

    def test_any_mutation_is_read_or_refused_with_one_error(self):
        generator = random.Random(3100)
        streams = (RGB_STREAM, MIXED_STREAM, GUTENPRINT_STYLE, BORDERLESS_STREAM, page(esc('*b9M'), plane(b'\x01\xf0\x0f'), plane(b'')),
                   page(esc('*b3M'), plane(b'\x20\xf0\x0f'), esc('*b1Y'), plane(b'\x01\xff')),
                   page(esc('*b2M'), plane(b'\x01\xf0\x0f'), plane(b'\xff\xaa')))
        for _ in range(3000):
            data = bytearray(generator.choice(streams))
            for _ in range(generator.randint(1, 4)):
                at = generator.randrange(len(data) + 1)
                choice = generator.random()
                rows = list(ROW.finditer(data))
                if choice < 0.4 and rows:
                    # A row's data replaced, its count kept right: the decoders' own faults.
                    row = generator.choice(rows)
                    size = generator.randrange(12)
                    data[row.start():row.end() + int(row.group(1))] = \
                        plane(bytes(generator.randrange(256) for _ in range(size)), row.group(2) == b'W')
                else:
                    mutate_at(generator, data, at, (choice - 0.4) / 0.6)
            try:
                pages = decoded(bytes(data), generator.choice((MEDIA, MECH_MEDIA)))
            except StreamError:
                continue
            for decoded_page in pages:
                self.assertGreater(decoded_page.image.width * decoded_page.image.height, 0)


if __name__ == '__main__':
    unittest.main()
