"""The reader of what a queue wrote: the page inside a PJL job as a printer finds it, titles however
the document says them, the page set-up Wine's driver writes, and which of the documents printers
kept is the one a queue sent."""
import os
import tempfile
import unittest

from pagecheck.readers.document import Document
from pagecheck.readers.pjl import UEL
from pagecheck.readers.postscript import LANGUAGE as POSTSCRIPT, laid_out
from pagecheck.stack.ipp import received

PAGE = b'%!PS-Adobe-3.0\n%%Title: (Print Mode: \\(Direct\\) Print)\nshowpage\n'


def read(data):
    with tempfile.NamedTemporaryFile() as job:
        job.write(data)
        job.flush()
        return Document(job.name)


class DocumentTest(unittest.TestCase):
    def test_the_language_switch_says_where_the_page_starts(self):
        # One maker's colour PPDs put printer commands between the PJL lines.
        job = read(UEL + b'@PJL\n@PJL SET KTRAPPING=2\n!R!CRES;RGBL0,0;EXIT;' + UEL +
                   b'@PJL ENTER LANGUAGE=POSTSCRIPT\n' + PAGE + UEL + b'@PJL EOJ\n' + UEL)
        self.assertEqual((job.kind, job.data, job.title), (POSTSCRIPT, PAGE, 'Print Mode: (Direct) Print'))
        # Cut short, it still hands over all it has.
        self.assertEqual(read(UEL + b'@PJL ENTER LANGUAGE=POSTSCRIPT\n' + PAGE[:30]).data, PAGE[:30])

    def test_a_page_in_a_language_the_check_does_not_read_is_named_with_its_job_title(self):
        job = read(UEL + b'@PJL JOB NAME = "Print Mode: Bitmap Print"\n@PJL ENTER LANGUAGE = JETREADY\n\x1bE')
        self.assertEqual((job.kind, job.language, job.title), (None, 'JetReady', 'Print Mode: Bitmap Print'))
        # A language a reader reads is handed to it.
        job = read(UEL + b'@PJL ENTER LANGUAGE = PCLXL\n) HP-PCL XL;2;0\r\n')
        self.assertEqual((job.kind, job.reader.__name__), ('PCL XL', 'pagecheck.readers.pcl'))
        # LAVAFLOW's first commands would pass for PCL 3 GUI: the language the job enters wins.
        job = read(UEL + b'@PJL ENTER LANGUAGE=LAVAFLOW\n\x1bE\x1b&l0S\x1b&u600D\x1b*r1U\x1b*b1234M')
        self.assertEqual((job.reader.__name__, job.kind), ('pagecheck.readers.foo2', 'LAVAFLOW'))

    def test_the_resolution_and_turn_the_driver_laid_the_page_out_with(self):
        for scale, rotate, dpi, turn in (('72 300 div 72 300 div', 0, (300, 300), None),
                                         ('72 1200 div 72 1200 div', -90, (1200, 1200), 'Plus90'),
                                         # Turned, the page's x runs along the sheet's y.
                                         ('72 1200 div 72 600 div', 90, (600, 1200), 'Minus90')):
            setup = laid_out(f'%%BeginPageSetup\n/pgsave save def\n{scale} scale\n200 200 translate\n'
                               f'1 -1 scale\n{rotate} rotate\n%%EndPageSetup\n'.encode())
            self.assertEqual((setup.dpi, setup.turn), (dpi, turn))
        # A filter's empty set-up says nothing of how the page was laid out.
        self.assertIsNone(laid_out(b'%%BeginPageSetup\n%%EndPageSetup\n'))


class ReceivedTest(unittest.TestCase):
    def test_the_document_a_printer_received_is_the_one_its_queue_sent_not_the_newest(self):
        with tempfile.TemporaryDirectory() as folder:
            def write(name, data, when):
                path = os.path.join(folder, name)
                with open(path, 'wb') as document:
                    document.write(data)
                os.utime(path, (when, when))
                return path

            os.mkdir(os.path.join(folder, 'raster'))
            sent = write('sent', b'RaS2 this page', 100)
            ours = write('raster/1-ours.pwg', b'RaS2 this page', 200)
            # Another printer checked at the same time kept a page of the same size later.
            write('other-2.pwg', b'RaS2 that page', 300)
            self.assertEqual(received(folder, 150, sent), ours)
            self.assertIsNone(received(folder, 250, sent))


if __name__ == '__main__':
    unittest.main()
