"""The reader of what a queue wrote: the page description inside a PJL job as a printer finds it,
the title however the document says it, and the page set-up Wine's driver writes."""
import os
import tempfile
import unittest

from pagecheck.document import PDF, POSTSCRIPT, UEL, Document, page_setup

PAGE = b'%!PS-Adobe-3.0\n%%Title: Print Mode: Direct Print\n%%EndComments\nshowpage\n'


def read(data):
    with tempfile.NamedTemporaryFile(delete=False) as job:
        job.write(data)
    try:
        return Document(job.name)
    finally:
        os.remove(job.name)


class JobTest(unittest.TestCase):
    def test_the_language_switch_says_where_the_page_starts(self):
        # One maker's colour PPDs put printer commands between the PJL lines.
        job = read(UEL + b'@PJL\n@PJL JOB NAME = "Print Mode: Direct Print"\n@PJL SET KTRAPPING=2\n'
                   b'!R!CRES;SCRN0;RGBL0,0;EXIT;' + UEL + b'@PJL ENTER LANGUAGE=POSTSCRIPT\n' + PAGE +
                   UEL + b'@PJL EOJ\n' + UEL)
        self.assertEqual((job.kind, job.language, job.data, job.title),
                         (POSTSCRIPT, 'POSTSCRIPT', PAGE, 'Print Mode: Direct Print'))
        pdf = read(UEL + b'@PJL SET RESOLUTION=600\r\n@PJL ENTER LANGUAGE = PDF \r\n%PDF-1.3\n'
                   b'<< /Title (Print Mode: \\(Bitmap\\) Print) >>\n' + UEL)
        self.assertEqual((pdf.kind, pdf.title), (PDF, 'Print Mode: (Bitmap) Print'))

    def test_a_page_in_a_language_ghostscript_cannot_read_is_named_and_kept_whole(self):
        pcl = read(UEL + b'@PJL SET RENDERMODE=GRAYSCALE\n@PJL ENTER LANGUAGE = PCLXL\n) HP-PCL XL;1;1\n\x00\xd1')
        self.assertEqual((pcl.kind, pcl.language, pcl.title, pcl.data), (None, 'PCLXL', None, b') HP-PCL XL;1;1\n\x00\xd1'))
        named = read(UEL + b'@PJL JOB NAME = "Print Mode: Bitmap Print"\n@PJL ENTER LANGUAGE=PCL\n\x1bE')
        self.assertEqual((named.kind, named.title), (None, 'Print Mode: Bitmap Print'))
        # A job cut short still hands over all it has; one with no PJL is read as it stands.
        cut = read(UEL + b'@PJL ENTER LANGUAGE=POSTSCRIPT\n' + PAGE[:40])
        self.assertEqual((cut.kind, cut.data), (POSTSCRIPT, PAGE[:40]))
        self.assertEqual((read(PAGE).kind, read(b'').kind, read(UEL).kind), (POSTSCRIPT, None, None))

    def test_a_title_in_parentheses_is_a_string(self):
        for line, title in ((b'(Print Mode: Direct Print)', 'Print Mode: Direct Print'),
                            (b'(a \\(b\\) (c) \\134\\\n d)', 'a (b) (c) \\ d'),
                            (b'Print Mode: Bitmap Print \r', 'Print Mode: Bitmap Print')):
            with self.subTest(line=line):
                self.assertEqual(read(b'%!PS-Adobe-3.0\n%%Title: ' + line + b'\nshowpage\n').title, title)


class PageSetupTest(unittest.TestCase):
    def test_the_resolution_and_turn_the_driver_laid_the_page_out_with(self):
        for lines, dpi, turn in ((b'72 300 div 72 300 div scale\n75 3150 translate\n1 -1 scale\n0 rotate', (300, 300), None),
                                 (b'72 1200 div 72 1200 div scale\n200 200 translate\n1 -1 scale\n-90 rotate',
                                  (1200, 1200), 'Plus90'),
                                 # Turned, the page's x runs along the sheet's y, in its units.
                                 (b'72 1200 div 72 600 div scale\n10000 13000 translate\n1 -1 scale\n90 rotate',
                                  (600, 1200), 'Minus90')):
            with self.subTest(turn=turn):
                setup = page_setup(b'%%Page: 1 1\n%%BeginPageSetup\n/pgsave save def\n' + lines + b'\n%%EndPageSetup\n')
                self.assertEqual((setup.dpi, setup.turn), (dpi, turn))
        # A filter's empty set-up says nothing of how the page was laid out.
        self.assertIsNone(page_setup(b'%%Page: 1 1\n%%BeginPageSetup\n%%EndPageSetup\n'))
        self.assertIsNone(page_setup(PAGE))


if __name__ == '__main__':
    unittest.main()
