"""The Canon raster reader: raster lines and bands of one or more colours and depths, as Gutenprint's
bjc driver sends them, placed on their sheet; a bad or cut-short stream gives one clear error,
whatever its bytes."""
import struct
import unittest

from pagecheck.readers.base import Media, StreamError
from pagecheck.readers.canon import paper, read, sniff
from mutations import read_or_refused

DPI = 60
RESET = b'\x1b[K\x02\x00\x00\x0f'
# A sheet of 72 x 36 points, 60 x 30 pixels, its printable area 5 pixels in and 3 down.
MEDIA = Media(sheet_points=(72, 36), origin_points=(6, 3.6))
# The long ESC ( p's printable area: 48 points wide, 40 pixels, so that a full 1-bit line is 5
# bytes; its origin and sheet in 1/600 inch.
WIDTH_POINTS, LINE_BYTES = 48, 5


def command(letter, payload=b''):
    return b'\x1b(' + letter.encode() + len(payload).to_bytes(2, 'little') + payload


def packbits(line):
    """Runs of 3 or more alike as repeats, the rest as literals."""
    out, at = bytearray(), 0
    while at < len(line):
        run = 1
        while at + run < len(line) and run < 128 and line[at + run] == line[at]:
            run += 1
        if run >= 3:
            out += bytes([257 - run, line[at]])
            at += run
            continue
        end = at
        while end < len(line) and end - at < 128 and not (
                end + 2 < len(line) and line[end] == line[end + 1] == line[end + 2]):
            end += 1
        out += bytes([end - at - 1]) + line[at:end]
        at = end
    return bytes(out)


def resolution(x=DPI, y=DPI):
    return command('d', y.to_bytes(2, 'big') + x.to_bytes(2, 'big'))


def advance(lines):
    return command('e', lines.to_bytes(2, 'big'))


def raster_line(colour, data):
    return command('A', colour.encode() + packbits(data)) + b'\r'


def line_job(body, dpi=(DPI, DPI), depth=b'\x01\x00\x01', setup=b''):
    """An older model's job: one raster line of a colour in each ESC ( A, ESC ( e between lines."""
    return RESET + command('a', b'\x01') + command('b', b'\x01') + command('q', b'\x01') + resolution(*dpi) + \
        command('t', depth) + command('c', b'\x10\x01') + setup + command('l', b'\x14\x00') + body + \
        b'\x0c' + command('b', b'\x00') + command('a', b'\x00') + b'\x1b@'


def long_p(origin=(50, 30), sheet=(600, 300), width_points=WIDTH_POINTS, paper_offsets=(0, 0)):
    return command('p', struct.pack('>HHHHIHiiiiiiii', 0, 0, 0, 0, 0, 600, origin[0], origin[1],
                                    width_points * 600 // 72, 200, paper_offsets[0], paper_offsets[1], *sheet))


def long_t(*formats):
    return command('t', b'\x80\x80\x01' + b''.join(formats))


# ESC ( t's long form as the iP2700 sends it: C and M 2-bit, Y and K 1-bit, then unused inks.
MIXED = long_t(b'\x02\x00\x03', b'\x02\x00\x03', b'\x01\x00\x02', b'\x01\x00\x02', bytes(6))


def band(colours):
    """One band: each colour's lines, each ended by the code 128."""
    return b''.join(command('F', b''.join(packbits(line) + b'\x80' for line in lines)) for lines in colours)


def band_job(body, depths=MIXED, colours=b'CMYK', lines=2, page_format=None, setup=b''):
    """A newer model's job: bands of two lines in ESC ( F, one a colour, in ESC ( L's order."""
    return RESET + command('b', b'\x01') + command('q', b'\x01') + resolution() + depths + \
        command('c', b'\x30\x00\x02') + (long_p() if page_format is None else page_format) + \
        command('P', b'\x00\x0d\x00\x00\x01\x00') + setup + command('I', b'\x01') + \
        command('J', bytes([lines])) + command('L', colours) + body + b'\x0c' + command('b', b'\x00') + b'\x1b@'


def ink_of(image):
    data = image.tobytes()
    return {(at % image.width, at // image.width) for at, value in enumerate(data) if value < 128}


def bits(pattern):
    """Bytes of 1-bit pixels from a string of '#' (ink) and '.'."""
    pattern = pattern.ljust(-(-len(pattern) // 8) * 8, '.')
    return bytes(int(pattern[at:at + 8].replace('#', '1').replace('.', '0'), 2) for at in range(0, len(pattern), 8))


def placed(pixels, shift):
    return {(x + shift[0], y + shift[1]) for x, y in pixels}


EMPTY = bytes(LINE_BYTES)
K_LINE = bits('#..##' + '.' * 30 + '#...#')
# C in 2-bit pixels: levels 1, 0, 2, 3, then blank, then 1: every level but 0 is a dot.
C_LINE = bytes([0b01001011]) + bytes(8) + bytes([0b00000001])
C_DOTS = {0, 2, 3, 39}
LINE_JOB = line_job(advance(2) + raster_line('K', K_LINE) + advance(1) + raster_line('K', bits('#' * 40)) + advance(3) +
                    raster_line('K', bits('.' * 20 + '#' + '.' * 19)))
BAND_JOB = band_job(band([[C_LINE, b''], [b'', b''], [b'', b''], [K_LINE, K_LINE]]) +
                    band([[b'', C_LINE], [b'', b''], [b'', b''], [b'', b'']]))
K_DOTS = {x for x, c in enumerate('#..##' + '.' * 30 + '#...#') if c == '#'}


class CanonTest(unittest.TestCase):
    def test_raster_lines_are_unpacked_and_moved_down_by_the_advances(self):
        (page,) = read(LINE_JOB, MEDIA)
        self.assertEqual((page.image.mode, page.image.size, page.dpi, page.sheet_points), ('L', (60, 30), (60, 60), (72, 36)))
        expected = {(x, 2) for x in K_DOTS} | {(x, 3) for x in range(40)} | {(20, 6)}
        self.assertEqual(ink_of(page.image), placed(expected, (5, 3)))
        self.assertIn('from the PPD', page.assumed)

    def test_colours_of_one_line_merge_with_a_carriage_return_between(self):
        body = advance(1) + raster_line('Y', bits('#')) + raster_line('M', bits('..#')) + raster_line('C', bits('....#')) + \
            raster_line('K', bits('#.......#'))
        (page,) = read(line_job(body), MEDIA)
        self.assertEqual(ink_of(page.image), placed({(0, 1), (2, 1), (4, 1), (8, 1)}, (5, 3)))

    def test_a_page_moves_with_the_printable_origin_the_ppd_gives(self):
        (page,) = read(LINE_JOB, Media(sheet_points=(72, 36), origin_points=(12, 6)))
        expected = {(x, 2) for x in K_DOTS} | {(x, 3) for x in range(40)} | {(20, 6)}
        self.assertEqual(ink_of(page.image), placed(expected, (10, 5)))

    def test_bands_give_each_colour_its_depth_from_its_lines_and_place_them_where_esc_p_says(self):
        (page,) = read(BAND_JOB, Media())
        self.assertEqual((page.image.size, page.sheet_points, page.assumed), ((60, 30), (72, 36), None))
        expected = {(x, 0) for x in K_DOTS | C_DOTS} | {(x, 1) for x in K_DOTS} | {(x, 3) for x in C_DOTS}
        self.assertEqual(ink_of(page.image), placed(expected, (5, 3)))
        moved = band_job(band([[C_LINE, b''], [b'', b''], [b'', b''], [b'', b'']]), page_format=long_p(origin=(100, 60)))
        self.assertEqual(ink_of(read(moved, MEDIA)[0].image), placed({(x, 0) for x in C_DOTS}, (10, 6)))

    def test_a_borderless_page_starts_off_the_sheet(self):
        job = band_job(band([[b'', b''], [b'', b''], [b'', b''], [b'', K_LINE]]), page_format=long_p(origin=(-20, -10)))
        self.assertEqual(ink_of(read(job, MEDIA)[0].image), {(x - 2, 0) for x in K_DOTS if x >= 2})

    def test_packed_and_deep_inks_have_a_dot_wherever_a_pixel_has_a_level(self):
        # Five 3-level pixels a byte (0, 1, 0, 2, 0 is 33), three 5-level ones (4, 0, 1 is 101),
        # 4 and 8 bits a pixel; each line as long as the driver makes a 40-pixel line.
        for form, line, dots in ((b'\x22\x00\x03', bytes([33]) + bytes(7), {1, 3}),
                                 (b'\x24\x00\x05', bytes([101]) + bytes(12) + bytes([5]), {0, 2, 40}),
                                 (b'\x24\x00\x06', bytes([6 * 6 * 5]) + bytes(13), {0}),
                                 (b'\x04\x00\x10', bytes([0x0f]) + bytes(19), {1}),
                                 (b'\x08\x00\x10', bytes(39) + b'\x01', {39})):
            with self.subTest(form.hex()):
                job = band_job(band([[line, b'']]), depths=long_t(form, b'\x01\x00\x02'), colours=b'C')
                self.assertEqual(ink_of(read(job, MEDIA)[0].image), placed({(x, 0) for x in dots}, (5, 3)))

    def test_a_line_mode_page_takes_the_short_esc_p_width_and_esc_t_depth(self):
        job = line_job(raster_line('K', bytes([0b01000000]) + bytes(9)), depth=b'\x02\x80\x09',
                       setup=command('p', bytes(4) + ((WIDTH_POINTS + 1) * 5 // 6).to_bytes(2, 'big') + bytes(2)))
        self.assertEqual(ink_of(read(job, MEDIA)[0].image), {(5, 3)})

    def test_the_top_margin_in_bands_counts_bands(self):
        job = band_job(advance(1) + band([[K_LINE, b''], [b'', b''], [b'', b''], [b'', b'']]))
        self.assertEqual(ink_of(read(job, MEDIA)[0].image), placed({(x, 2) for x in K_DOTS}, (5, 3)))

    def test_colours_sent_late_at_1440_dpi_are_raised_by_the_driver_delays(self):
        body = advance(5) + raster_line('K', bits('#')) + advance(112) + raster_line('C', bits('.#')) + \
            advance(336 - 112) + raster_line('Y', bits('..#'))
        (page,) = read(line_job(body, dpi=(1440, 720)), Media(sheet_points=(72, 72), origin_points=(0, 0)))
        self.assertEqual(ink_of(page.image), {(0, 5), (1, 5), (2, 5)})
        self.assertIn('1440 dpi', page.assumed)

    def test_the_s200s_colours_are_raised_by_its_own_delays(self):
        # Only the S200 is sent ESC ( r 0x63; it sends cyan 48 lines and yellow 112 after black.
        body = advance(5) + raster_line('K', bits('#')) + advance(48) + raster_line('C', bits('.#')) + \
            advance(112 - 48) + raster_line('Y', bits('..#'))
        (page,) = read(line_job(body, setup=command('r', b'\x63\x01\x00')), Media(sheet_points=(72, 72),
                                                                                 origin_points=(0, 0)))
        self.assertEqual(ink_of(page.image), {(0, 5), (1, 5), (2, 5)})
        self.assertIn('on the S200', page.assumed)

    def test_every_page_is_read_and_the_sheet_is_what_the_stream_names(self):
        pages = read(band_job(band([[C_LINE, b''], [b'', b''], [b'', b''], [b'', b'']]), depths=long_t(b'\x02\x00\x03'),
                              page_format=b'') * 2,
                     Media(origin_points=(6, 3.6)))
        self.assertEqual([(page.image.size, page.sheet_points) for page in pages], [((510, 660), (612, 792))] * 2)
        self.assertEqual(ink_of(pages[1].image), placed({(x, 0) for x in C_DOTS}, (5, 3)))

    def test_xml_and_bjl_around_the_job_are_passed_over(self):
        xml = b'<?xml version="1.0" encoding="utf-8" ?><cmd><contents>StartJob</contents></cmd>'
        job = xml + b'\x1b[K\x02\x00\x00\x1fBJLSTART\nControlMode=Common\nBJLEND\n' + BAND_JOB + xml
        self.assertTrue(sniff(job))
        self.assertEqual(ink_of(read(job, MEDIA)[0].image), ink_of(read(BAND_JOB, MEDIA)[0].image))

    def test_sniff_and_paper(self):
        self.assertTrue(sniff(LINE_JOB))
        for other in (b'%!PS-Adobe-3.0\n', b'\x1bE\x1b&l0O', b'\x1b[K\x02\x00\x00\x01'):
            self.assertFalse(sniff(other))
        self.assertEqual(paper(band_job(b'', page_format=long_p(sheet=(5100, 6600)))), ('Letter', (612.0, 792.0)))
        self.assertEqual(paper(band_job(b'', page_format=long_p())), ('Letter', (72.0, 36.0)))
        self.assertEqual(paper(line_job(b'', setup=command('P', b'\x00\x03')))[0], 'A4')
        self.assertIsNone(paper(LINE_JOB))

    def test_a_bad_or_cut_short_stream_says_what_is_wrong_and_where(self):
        unknown_at = LINE_JOB.index(command('l', b'\x14\x00'))
        line_at = LINE_JOB.index(b'\x1b(A')
        band_at = BAND_JOB.index(b'\x1b(F')
        overrun = line_job(command('A', b'K\x05\x00'))
        overrun_at = overrun.index(b'\x1b(A') + 6
        cases = {
            f'unknown command ESC \\( Z at byte {unknown_at}$': LINE_JOB[:unknown_at] + command('Z') + LINE_JOB[unknown_at:],
            f'cut off inside a raster line at byte {line_at}$': LINE_JOB[:line_at + 7],
            f'cut off inside a raster band at byte {band_at}$': BAND_JOB[:band_at + 6],
            'cut off inside a command at byte': LINE_JOB[:line_at + 3],
            'no form feed ends the raster data': LINE_JOB[:LINE_JOB.index(b'\x0c')],
            'before any ink depths': LINE_JOB.replace(command('t', b'\x01\x00\x01'), b''),
            'before any resolution': LINE_JOB.replace(resolution(), b''),
            'sent uncompressed': LINE_JOB.replace(command('b', b'\x01'), command('b', b'\x00'), 1),
            'ESC \\( t ink format 030003': band_job(b'', depths=long_t(b'\x03\x00\x03')),
            'ESC \\( t ink format 010102': band_job(b'', depths=long_t(b'\x01\x01\x02')),
            'ESC \\( t with ink depth 0xff': line_job(b'', depth=b'\xff\x90\x04'),
            'K raster lines of 6 bytes .* none of the ink depths ESC \\( t gives, 40 pixels wide':
                band_job(band([[b'', b''], [b'', b''], [b'', b''], [K_LINE + b'\x01', b'']])),
            'several ink depths and no ESC \\( p': band_job(band([[C_LINE, b''], [b'', b''], [b'', b''], [b'', b'']]),
                                                           page_format=b''),
            'K raster lines 5 and 6 bytes long': line_job(raster_line('K', K_LINE) + advance(1) +
                                                          raster_line('K', K_LINE + b'\x01')),
            'band of 1 lines where ESC \\( J gives 2': band_job(command('F', b'\x80')),
            'band runs past its 2 lines': band_job(command('F', b'\x80\x80\x80')),
            'band ends inside a line': band_job(command('F', b'\x80\x00\x01')),
            'page ends inside a band': band_job(band([[C_LINE, b'']])),
            'band without bands set up': line_job(band([[K_LINE, b'']])),
            'ESC \\( A raster line among bands': band_job(raster_line('K', K_LINE)),
            'raster line of no known colour': line_job(raster_line('Z', K_LINE)),
            'second K raster line on one line': line_job(raster_line('K', K_LINE) + raster_line('K', K_LINE)),
            'code 128 inside it': line_job(command('A', b'K\x80')),
            f'runs past the end of its command at byte {overrun_at}$': overrun,
            'ESC \\( d inside a page': line_job(raster_line('K', K_LINE) + resolution()),
            'ESC \\( e inside a band': band_job(band([[C_LINE, b'']]) + advance(1)),
            'ESC \\( P .* turn the page': band_job(b'', setup=command('P', b'\x00\x0d\x00\x00\x02\x00')),
            'ESC \\( v .* turn the page': band_job(b'', setup=command('v', b'\x01')),
            "ESC \\( c at byte .* sets the S200's weaving above 360 dpi, not read: the vertical offset it gives "
            'black \\(8\\) is in a unit Gutenprint does not state':
                line_job(b'', setup=command('c', b'\x30\x00\x01\x10\x06\x08')),
            'no code of 5 3-level packed pixels': band_job(band([[bytes([243]) + bytes(7), b'']]),
                                                          depths=long_t(b'\x22\x00\x03'), colours=b'C'),
            'ESC \\( p at byte .* gives a page that is not read': band_job(b'', page_format=long_p(paper_offsets=(0, 1))),
            'ESC \\( p of 7 bytes': band_job(b'', page_format=command('p', bytes(7))),
            'stray byte 0x58': LINE_JOB[:line_at] + b'X' + LINE_JOB[line_at:],
            'XML block cut off': b'<?xml version="1.0" ?><cmd>' + LINE_JOB,
            'BJL control text': b'\x1b[K\x02\x00\x00\x1fBJLSTART\n',
            'ESC \\[ K at byte 0 is not read': b'\x1b[K\x02\x00\x00\x05' + LINE_JOB,
            'with no page': RESET + b'\x1b@',
            'names no sheet': line_job(b'\r'),
            'no ESC \\( p places the printable area': line_job(b'\r'),
            'ESC @ ends the job inside a page': LINE_JOB.replace(b'\x0c', b'', 1),
        }
        media = {'names no sheet': Media(origin_points=(6, 3.6)),
                 'no ESC \\( p places the printable area': Media(sheet_points=(72, 36))}
        for message, data in cases.items():
            with self.subTest(message), self.assertRaisesRegex(StreamError, message):
                read(data, media.get(message, MEDIA))

    def test_any_mutation_is_read_or_refused_with_one_error(self):
        read_or_refused(self, lambda data: read(data, MEDIA), (LINE_JOB, BAND_JOB), 3000, 8071)


if __name__ == '__main__':
    unittest.main()
