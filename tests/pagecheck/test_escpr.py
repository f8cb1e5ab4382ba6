"""The ESC/P-R reader: raster lines of RGB pixels, plain or run-length coded, placed on the sheet
by the print area the job sets, as the epson-escpr filter writes them; a bad or cut-short stream
gives one clear error, whatever its bytes."""
import struct
import unittest

from pagecheck.readers.base import StreamError
from pagecheck.readers.escpr import paper, read, sniff, unpack_runs
from pagecheck.readers.registry import printer_language
from mutations import read_or_refused

ESC = b'\x1b'
WHITE, BLACK, GREY, RED = b'\xff\xff\xff', b'\0\0\0', b'\x80\x80\x80', b'\xff\0\0'
# A sheet of 40 x 30 dots at 360 dpi, its print area 36 x 24 dots from 2 dots in and 3 down.
SHEET, MARGINS, AREA = (40, 30), (3, 2), (36, 24)
TOP, LEFT = MARGINS


def command(letter, name, payload=b''):
    return ESC + letter + len(payload).to_bytes(4, 'little') + name + payload


def remote(*commands):
    return ESC + b'(R\x08\x00\x00REMOTE1' + b''.join(name + len(parameters).to_bytes(2, 'little') + parameters
                                                     for name, parameters in commands) + ESC + b'\0\0\0'


def quality(plane=0, media=0, palette=b''):
    return command(b'q', b'setq', bytes([media, 1, 0, 0, 0, 0, plane]) + len(palette).to_bytes(2, 'big') + palette)


def job(sheet=SHEET, margins=MARGINS, area=AREA, resolution=0):
    return command(b'j', b'setj', struct.pack('>IIhhIIBB', *sheet, *margins, *area, resolution, 0))


def runs(pixels):
    """A line run-length coded by pixel: pixels alike in twos and more as repeats, the rest as they are."""
    out, at = bytearray(), 0
    while at < len(pixels):
        count = 1
        while at + count < len(pixels) and count < 129 and pixels[at + count] == pixels[at]:
            count += 1
        out += bytes([257 - count]) + pixels[at] if count > 1 else b'\0' + pixels[at]
        at += count
    return bytes(out)


def line(column, row, pixels, coded=True):
    data = runs(pixels) if coded else b''.join(pixels)
    return command(b'd', b'dsnd', struct.pack('>HHBH', column, row, int(coded), len(data)) + data)


START = b'\0\0\0' + ESC + b'\x01@EJL 1284.4\n@EJL     \n' + ESC + b'@' + \
    remote((b'TI', b'\x07\xea\x0c\x0a\x0b\x0c\x0d'), (b'JS', b'\0\0\0\0'), (b'HD', b'\0\x03\x04'),
           (b'PP', b'\0\x01\xff')) + ESC + b'(R\x06\x00\x00ESCPR'
SETUP = START + quality() + job()
PAGE = command(b'p', b'sttp') + command(b'p', b'setn', b'\0')
END_PAGE = command(b'p', b'endp', b'\0')
END = END_PAGE + command(b'j', b'endj') + ESC + b'@' + remote((b'JE', b'\0'))
# A line of three black dots from column 5, a grey one after them, and red at its end.
PIXELS = [WHITE] * 5 + [BLACK] * 3 + [GREY] + [WHITE] * 6 + [RED]
ROW = 4
JOB = SETUP + PAGE + line(0, ROW, PIXELS) + END


def inked(image):
    return {(x, y): image.getpixel((x, y)) for x in range(image.width) for y in range(image.height)
            if image.getpixel((x, y)) < 255}


def line_ink(x, y):
    """The ink PIXELS leave from (x, y): black, grey and red as grey."""
    return {**{(x + 5 + dot, y): 0 for dot in range(3)}, (x + 8, y): 128, (x + 15, y): 76}


class EscprTest(unittest.TestCase):
    def test_a_job_is_known_by_its_switch_to_esc_p_r_though_it_opens_as_esc_p_2_does(self):
        self.assertTrue(sniff(JOB))
        self.assertEqual(printer_language(JOB).LANGUAGE, 'ESC/P-R')
        self.assertFalse(sniff(ESC + b'@' + ESC + b'(U\x01\x00\x0a'))

    def test_a_line_lands_at_the_print_areas_margins_plus_its_offsets(self):
        for coded in (True, False):
            with self.subTest(coded=coded):
                [page] = read(SETUP + PAGE + line(3, ROW, PIXELS, coded) + END)
                self.assertEqual((page.image.size, page.dpi, page.sheet_points, page.assumed),
                                 ((40, 30), (360, 360), (8, 6), None))
                self.assertEqual(inked(page.image), line_ink(LEFT + 3, TOP + ROW))
        moved = SETUP.replace(job(), job(margins=(5, 7))) + PAGE + line(0, ROW, PIXELS) + END
        self.assertEqual(inked(read(moved)[0].image), line_ink(7, 5 + ROW))

    def test_the_resolution_code_gives_the_grid_and_the_paper_is_named_by_its_size(self):
        page = read(SETUP.replace(job(), job(resolution=2)) + PAGE + line(0, 0, [BLACK]) + END)[0]
        self.assertEqual((page.dpi, page.sheet_points), ((300, 300), (9.6, 7.2)))
        self.assertEqual(paper(JOB), ('Custom', (8, 6)))
        a4 = SETUP.replace(job(), job(sheet=(2976, 4209), area=(2892, 4125)))
        self.assertEqual(paper(a4 + PAGE), ('A4', (595.2, 841.8)))
        self.assertIsNone(paper(START + PAGE))

    def test_a_borderless_print_area_runs_off_the_sheet(self):
        borderless = SETUP.replace(job(), job(margins=(-3, -4), area=(48, 36)))
        [page] = read(borderless + PAGE + line(0, 3, [BLACK] * 6) + line(0, 5, [BLACK] * 46) + END)
        self.assertEqual(set(inked(page.image)), {(0, 0), (1, 0)} | {(x, 2) for x in range(40)})

    def test_runs_repeat_and_copy_whole_pixels(self):
        data = b'\x80' + BLACK + b'\xff' + GREY + b'\x01' + RED + WHITE
        self.assertEqual(unpack_runs(data, 0, len(data), 0), BLACK * 129 + GREY * 2 + RED + WHITE)
        literal = b'\x7f' + BLACK * 128
        self.assertEqual(unpack_runs(literal, 0, len(literal), 0), BLACK * 128)

    def test_lines_on_one_row_add_their_ink_and_each_page_ends_at_its_endp(self):
        # The second line's white leaves the first's black, its black covers the first's grey.
        pages = read(SETUP + PAGE + line(0, ROW, PIXELS) + line(7, ROW, [WHITE, BLACK, GREY]) + END_PAGE +
                     PAGE + line(0, 0, [BLACK]) + END)
        self.assertEqual([inked(page.image) for page in pages],
                         [{**line_ink(LEFT, TOP + ROW), (LEFT + 8, TOP + ROW): 0, (LEFT + 9, TOP + ROW): 128},
                          {(LEFT, TOP): 0}])

    def test_a_bad_or_cut_short_stream_says_what_is_wrong_and_where(self):
        page = len(SETUP)
        first = page + len(PAGE)
        # Before the switch to ESC/P-R.
        plain = len(START) - len(b'\x1b(R\x06\x00\x00ESCPR')
        after = first + len(line(0, ROW, PIXELS))
        paper_path = START.index(b'PP')
        cases = {
            rf'ESC/P-R stream cut off inside ESC d dsnd at byte {first}': JOB[:first + 14],
            rf'ESC/P-R stream cut off inside a command at byte {first}': JOB[:first + 6],
            rf'unknown command ESC x zzzz at byte {page}': SETUP + command(b'x', b'zzzz') + PAGE + END,
            rf'unknown command ESC j at byte {plain}': START[:-11] + job() + END,
            rf'unknown command ESC \( X at byte {plain}': START[:-11] + ESC + b'(X\0\0',
            r'remote command NC at byte \d+ is not read': START.replace(b'JS\x04', b'NC\x04') + END,
            r'duplex printing \(remote command DP at byte': START.replace(b'JS\x04', b'DP\x04') + END,
            rf'the CD/DVD tray \(remote command PP at byte {paper_path}\)':
                START.replace(b'PP\x03\x00\x00\x01\xff', b'PP\x03\x00\x00\x02\x01'),
            r'ESC/P-R JPEG pages \(ESC \( R ESCPRJ at byte': START.replace(b'\x06\x00\x00ESCPR', b'\x07\x00\x00ESCPRJ'),
            r'ESC \( R at byte \d+ switches to a mode that is not read': START.replace(b'ESCPR', b'ESCPX'),
            r'sets colour plane 1: only full colour is read': START + quality(plane=1, palette=WHITE) + job() + PAGE,
            r'prints a CD/DVD label \(media type 0x5c\)': START + quality(media=0x5c) + job() + PAGE,
            r'ESC q setq at byte \d+ is 10 bytes long, not as its palette says':
                START + command(b'q', b'setq', bytes(10)) + job() + PAGE,
            r'ESC j setj at byte \d+ names input resolution 7': START + quality() + job(resolution=7),
            r'a sheet of 0 x 30 dots and a print area of 36 x 24, which cannot be drawn':
                START + quality() + job(sheet=(0, 30)),
            r'ESC j setj with 21 bytes of parameters': START + quality() + command(b'j', b'setj', bytes(21)),
            rf'ESC j setj inside a page at byte {first}': SETUP + PAGE + job() + END,
            r'page started before the job set its sheet \(ESC j setj\)': START + quality() + PAGE + END,
            r'page started before its colour plane is set \(ESC q setq\)': START + job() + PAGE + END,
            rf'ESC p sttp inside a page at byte {first}': SETUP + PAGE + PAGE + END,
            rf'raster line outside a page \(no ESC p sttp before it\) at byte {page}': SETUP + line(0, 0, [BLACK]),
            rf'raster line at byte {first} runs outside the 36 x 24 dot print area':
                SETUP + PAGE + line(30, 0, [BLACK] * 7) + END,
            rf'raster line at byte {first} runs outside the 36 x 24':
                SETUP + PAGE + line(0, 24, [BLACK]) + END,
            rf'raster line at byte {after} goes back up to row 3, above row {ROW}':
                SETUP + PAGE + line(0, ROW, PIXELS) + line(0, 3, [BLACK]) + END,
            rf'raster line at byte {first} says it holds 5 bytes of data and holds 4':
                SETUP + PAGE + command(b'd', b'dsnd', struct.pack('>HHBH', 0, 0, 1, 5) + b'\xff' + BLACK) + END,
            rf'raster line at byte {first} in compression mode 2 of 3 bytes is not read':
                SETUP + PAGE + command(b'd', b'dsnd', struct.pack('>HHBH', 0, 0, 2, 3) + BLACK) + END,
            rf'raster line at byte {first} in compression mode 0 of 4 bytes':
                SETUP + PAGE + command(b'd', b'dsnd', struct.pack('>HHBH', 0, 0, 0, 4) + BLACK + b'\0') + END,
            rf'a run runs past the end of the raster line at byte {first}':
                SETUP + PAGE + command(b'd', b'dsnd', struct.pack('>HHBH', 0, 0, 1, 4) + b'\x01' + BLACK) + END,
            r'ESC p setn with 2 bytes of parameters': SETUP + command(b'p', b'sttp') + command(b'p', b'setn', b'\0\0'),
            rf'ESC p endp with no page started at byte {page}': SETUP + END,
            rf'ends inside a page, before its ESC p endp, at byte {after}': SETUP + PAGE + line(0, ROW, PIXELS),
            rf'printer reset inside a page at byte {after}': SETUP + PAGE + line(0, ROW, PIXELS) + ESC + b'@' + END,
            rf'ESC j endj inside a page at byte {first}': SETUP + PAGE + command(b'j', b'endj') + END,
            rf'unexpected byte 0x41 in the ESC/P-R stream at byte {page}': SETUP + b'A' + PAGE + END,
            r'no page in the ESC/P-R stream': SETUP + command(b'j', b'endj'),
        }
        for message, data in cases.items():
            with self.subTest(message), self.assertRaisesRegex(StreamError, message):
                read(data)

    def test_any_mutation_is_read_or_refused_with_one_error(self):
        # Most without the job's opening, for most mutations to fall in the page.
        page = ESC + b'(R\x06\x00\x00ESCPR' + quality() + job()
        streams = (JOB, page + PAGE + line(0, 1, PIXELS) + line(4, 2, [GREY] * 20, coded=False) +
                   line(0, 9, [BLACK] * 36) + END_PAGE + PAGE + line(2, 0, PIXELS) + END_PAGE)
        read_or_refused(self, read, streams, 3000, 3601)


if __name__ == '__main__':
    unittest.main()
