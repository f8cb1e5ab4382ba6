"""The PCL 5 and PCL XL reader: Ghostscript's own PCL 5 (ljet4) and PCL XL (pxlmono) pages of a
frame come back as the whole sheet with the frame where the stream puts it; the paper is named;
a stream that is cut short, garbage, or in what gpcl6 would misread gives one error, never a page."""
import os
import re
import subprocess
import tempfile
import unittest

from pagecheck.readers import ghostpcl, pcl
from pagecheck.readers.base import Media, StreamError

DPI = 300
MM = 72 / 25.4
LETTER = (612, 792)
A4 = (210 * MM, 297 * MM)
STROKE = 72 / 16
# A frame a sixteenth of an inch wide whose outer edges lie an inch in from the sheet's, and a
# half-inch square two inches in from the page's top left corner, to tell which way it is turned.
FRAME = '''%!PS
<< /PageSize [{w} {h}] >> setpagedevice
{s} setlinewidth {m} {m} {fw} {fh} rectstroke
144 {h} 180 sub 36 36 rectfill
showpage
'''
# Ghostscript's ljet4 asks for a vertical registration of 36 decipoints (ESC&l36Z), 15 dots
# down at 300 dpi, and sets its raster 0.25 inch left, for Letter's logical page: A4's starts 71
# dots from the edge, not 75.
LJET4_DOWN = 15
LJET4_A4_LEFT = 71 - 75


def ghostscript(device, sheet):
    with tempfile.TemporaryDirectory() as folder:
        source, out = os.path.join(folder, 'page.ps'), os.path.join(folder, 'page.out')
        with open(source, 'w') as page:
            page.write(FRAME.format(w=sheet[0], h=sheet[1], s=STROKE, m=72 + STROKE / 2,
                                    fw=sheet[0] - 144 - STROKE, fh=sheet[1] - 144 - STROKE))
        subprocess.run(['gs', '-q', '-dSAFER', '-dBATCH', '-dNOPAUSE', f'-r{DPI}', f'-sDEVICE={device}',
                        f'-sOutputFile={out}', source], check=True)
        with open(out, 'rb') as stream:
            return stream.read()


def ink_runs(line):
    """Where the first ink run starts from either end of a line of grey bytes, and how long it is."""
    def run(values):
        start = next(at for at, value in enumerate(values) if value < 128)
        end = next(at for at in range(start, len(values)) if values[at] >= 128)
        return start, end - start
    return run(line), run(line[::-1])


def frame_edges(image):
    """The frame's outer edges from the sheet's left, right, top and bottom, and its strokes' widths."""
    row = image.crop((0, image.height // 3, image.width, image.height // 3 + 1)).tobytes()
    column = image.crop((image.width // 3, 0, image.width // 3 + 1, image.height)).tobytes()
    (left, left_width), (right, right_width) = ink_runs(row)
    (top, top_width), (bottom, bottom_width) = ink_runs(column)
    return (left, right, top, bottom), (left_width, right_width, top_width, bottom_width)


def built():
    binary = ghostpcl.gpcl6()
    return bool(binary) and os.access(binary, os.X_OK)


def square_corner(image, dpi):
    """Which of the sheet's corners the square lies two inches in from: (left?, top?)."""
    at = round(2.25 * dpi)
    corners = {(left, top): image.getpixel((at if left else image.width - at, at if top else image.height - at))
               for left in (True, False) for top in (True, False)}
    inked = [corner for corner, value in corners.items() if value < 128]
    return inked[0] if len(inked) == 1 else None


STREAMS = {(device, name): ghostscript(device, sheet)
           for device in ('ljet4', 'pxlmono')
           for name, sheet in (('Letter', LETTER), ('A4', A4), ('Letter landscape', LETTER[::-1]))}
PCL5_LETTER, PCL5_A4 = STREAMS['ljet4', 'Letter'], STREAMS['ljet4', 'A4']
# pxlmono's job has a PJL header; what follows it is the PCL XL stream.
XL_JOB = STREAMS['pxlmono', 'Letter']
XL_LETTER = XL_JOB[XL_JOB.index(b') HP-PCL XL'):]
XL_A4 = STREAMS['pxlmono', 'A4'][STREAMS['pxlmono', 'A4'].index(b') HP-PCL XL'):]
# A landscape page: PCL 5's orientation command (ESC&l1O), PCL XL's Orientation.
PCL5_LANDSCAPE, XL_LANDSCAPE = STREAMS['ljet4', 'Letter landscape'], STREAMS['pxlmono', 'Letter landscape']


class StreamTest(unittest.TestCase):
    def test_the_language_is_told_by_the_first_bytes_after_the_job_header(self):
        for data, kind in ((PCL5_LETTER, pcl.PCL5), (XL_JOB, pcl.PCLXL), (XL_LETTER, pcl.PCLXL),
                           (b'\x1bE\x1b%-12345X@PJL ENTER LANGUAGE=PCL\n\x1b&l2A\x1bE', pcl.PCL5),
                           (b'%!PS-Adobe-3.0\n', None), (b'%PDF-1.7\n%PCLm 1.0\n', None), (b'\x1b@\x1b(G', None)):
            with self.subTest(data[:20]):
                self.assertEqual(pcl.language(data), kind)
                self.assertEqual(pcl.sniff(data), kind is not None)

    def test_pcl_3_gui_is_left_to_its_own_reader(self):
        data = b'\x1bE\x1b*r2400S\x1b*g8W\x02\x01\x01,\x01,\x00\x02\x1b*b0W\x1bE'
        self.assertEqual((pcl.language(data), pcl.sniff(data)), (pcl.PCL5, False))
        with self.assertRaisesRegex(StreamError, r'configures its raster data \(ESC\*g#W, PCL 3 GUI\) at byte 10'):
            pcl.read(data, Media(dpi=(DPI, DPI)))

    def test_the_paper_is_the_one_the_stream_names(self):
        for data, name in ((PCL5_LETTER, 'Letter'), (PCL5_A4, 'A4'), (XL_LETTER, 'Letter'), (XL_A4, 'A4')):
            with self.subTest(name):
                paper_name, points = pcl.paper(data)
                self.assertEqual(paper_name, name)
                for have, want in zip(points, LETTER if name == 'Letter' else A4):
                    self.assertAlmostEqual(have, want, places=2)
        self.assertIsNone(pcl.paper(b'\x1bE\x1b*t300R\x1bE'))

    def test_a_bad_or_cut_short_stream_says_what_is_wrong_and_where(self):
        row = re.compile(rb'\x1b\*b([1-9][0-9]*)W').search(PCL5_LETTER, 2000)
        # Just after BeginPage's MediaSize attribute, and after BeginPage itself (0x43).
        begin_page = XL_LETTER.index(b'\xf8\x25') + 2
        in_page = XL_LETTER.index(b'\x43', begin_page) + 1
        cases = {
            'neither a PCL 5 nor a PCL XL stream': b'\x93\x10garbage' * 40,
            r'cut off inside the %s data bytes of ESC\*b%sW at byte %d' % (row.group(1).decode(), row.group(1).decode(),
                                                                           row.start()): PCL5_LETTER[:row.end() + 1],
            'ends at byte %d without its closing reset' % (len(PCL5_LETTER) - 2): PCL5_LETTER[:-2],
            'malformed escape sequence at byte 2': b'\x1bE\x1b\x01\x1bE',
            'cut off inside an escape sequence at byte 2': b'\x1bE\x1b',
            'cut off inside an escape sequence at byte 4': b'\x1bE\x1bE\x1b&l2',
            'PCL 5 page size 25 at byte 2 is not read': b'\x1bE\x1b&l25A\x1bE',
            'PCL 5 job turns to POSTSCRIPT at byte 2': b'\x1bE\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\n%!\n',
            'PCL XL stream header at byte 0': b') HP-PCL XL;2;0',
            'PCL XL stream ends at byte %d before its EndSession' % in_page: XL_LETTER[:in_page],
            "ends at byte %d inside an operator's attributes" % begin_page: XL_LETTER[:begin_page],
            'cut off inside the value at byte %d' % begin_page: XL_LETTER[:begin_page + 1],
            'byte 0x3f, no tag, at byte %d' % begin_page: XL_LETTER[:begin_page] + b'\x3f' + XL_LETTER[begin_page + 1:],
            r"MediaSize 119 of the page at byte \d+ is not read":
                XL_LETTER[:begin_page - 3] + b'\x77' + XL_LETTER[begin_page - 2:],
            'big-endian binding': b'( HP-PCL XL;2;0\n' + XL_LETTER[XL_LETTER.index(b'\n') + 1:],
            'goes on after its EndSession': XL_LETTER + b'\xc0\x00',
        }
        for message, data in cases.items():
            with self.subTest(message), self.assertRaisesRegex(StreamError, message):
                pcl.read(data, Media(dpi=(DPI, DPI)))


@unittest.skipUnless(built(), 'GhostPCL is not built: scripts/install-ghostpcl.sh builds it')
class RenderTest(unittest.TestCase):
    def assert_frame(self, page, sheet, shift=(0, 0), dpi=DPI):
        """The page is the whole sheet with the frame's outer edges an inch in, moved by shift
        (right, down) dots, within a dot and a half."""
        size = tuple(round(points * dpi / 72) for points in sheet)
        self.assertEqual((page.image.mode, page.image.size, page.dpi), ('L', size, (dpi, dpi)))
        for have, want in zip(page.sheet_points, sheet):
            self.assertAlmostEqual(have, want, places=2)
        frame = [(points - 144) * dpi / 72 for points in sheet]
        left, top = dpi + shift[0], dpi + shift[1]
        edges = (left, size[0] - left - frame[0], top, size[1] - top - frame[1])
        measured, strokes = frame_edges(page.image)
        for side, have, want in zip(('left', 'right', 'top', 'bottom'), measured, edges):
            self.assertLessEqual(abs(have - want), 1.5, f'{side} edge at {have}, not {want:.1f}')
        for width in strokes:
            self.assertLessEqual(abs(width - dpi / 16), 1.5)
        self.assertEqual(square_corner(page.image, dpi), (True, True))

    def test_pcl_5_lays_the_frame_on_the_sheet_its_page_size_names(self):
        for data, sheet, shift in ((PCL5_LETTER, LETTER, (0, LJET4_DOWN)), (PCL5_A4, A4, (LJET4_A4_LEFT, LJET4_DOWN))):
            with self.subTest(sheet):
                pages = pcl.read(data, Media(dpi=(DPI, DPI)))
                self.assertEqual(len(pages), 1)
                self.assert_frame(pages[0], sheet, shift)
                self.assertIsNone(pages[0].assumed)

    def test_pcl_xl_lays_the_frame_on_its_media_size_at_the_printers_resolution(self):
        for data, sheet, dpi in ((XL_LETTER, LETTER, DPI), (XL_A4, A4, DPI), (XL_JOB, LETTER, 600)):
            with self.subTest(sheet=sheet, dpi=dpi):
                pages = pcl.read(data, Media(dpi=(dpi, dpi)))
                self.assertEqual(len(pages), 1)
                self.assert_frame(pages[0], sheet, dpi=dpi)

    def test_a_landscape_page_is_turned_onto_the_sheet_its_top_to_the_left(self):
        for data in (PCL5_LANDSCAPE, XL_LANDSCAPE):
            with self.subTest(pcl.language(data)):
                page, = pcl.read(data, Media(dpi=(DPI, DPI)))
                self.assertEqual((page.image.size, page.sheet_points), ((2550, 3300), LETTER))
                self.assertEqual(square_corner(page.image, DPI), (True, False))
        measured, _ = frame_edges(pcl.read(XL_LANDSCAPE, Media(dpi=(DPI, DPI)))[0].image)
        for have in measured:
            self.assertLessEqual(abs(have - DPI), 1.5)

    def test_without_a_resolution_from_the_printer_the_streams_own_is_taken(self):
        for data in (PCL5_LETTER, XL_LETTER):
            with self.subTest(pcl.language(data)):
                self.assertEqual(pcl.read(data, Media())[0].dpi, (DPI, DPI))

    def test_a_stream_that_names_no_paper_is_printed_on_the_printers_sheet(self):
        data = PCL5_A4.replace(b'\x1b&l26A', b'')
        with self.assertRaisesRegex(StreamError, "names no paper and the printer's sheet is not known"):
            pcl.read(data, Media(dpi=(DPI, DPI)))
        page, = pcl.read(data, Media(sheet_points=A4, dpi=(DPI, DPI)))
        self.assertEqual(page.image.size, (2480, 3508))
        self.assertEqual(page.assumed, 'sheet A4 from the PPD: the stream names none')

    def test_what_gpcl6_refuses_is_one_error_with_its_reason(self):
        # SetPenWidth (0x7a) without its PenWidth attribute, right after BeginPage.
        at = XL_LETTER.index(b'\xf8\x25') + 2
        at = XL_LETTER.index(b'\x43', at) + 1
        with self.assertRaisesRegex(StreamError, r'PCL XL stream refused by gpcl6: Error: MissingAttribute at byte'):
            pcl.read(XL_LETTER[:at] + b'\x7a' + XL_LETTER[at:], Media(dpi=(DPI, DPI)))


if __name__ == '__main__':
    unittest.main()
