"""The classification of printer models by the language their driver sends: .drv files' models,
Gutenprint's families, PPD filter lines, cups-driverd's listing, and the stratified sample."""
import os
import struct
import tempfile
import unittest
from concurrent.futures import ThreadPoolExecutor

from pagecheck.commands.languages import UsageError, allocate, package_table, sample, table
from pagecheck.readers.foo2 import HBPL, XQX
from pagecheck.stack.models import (CANON, ESCP2, JETREADY, LIDIL, OTHER, PCL3, PCL3GUI, PCL5, PCLM, PCLXL, PDF,
                                    POSTSCRIPT, PWG, ListingError, archive_key, drv_languages,
                                    gutenprint_families, gutenprint_language, ipp_models, ppd_language)

HPCUPS_DRV = r'''
#include <font.defs>
#include <media.defs>
Manufacturer "HP"
Version 1.0
Font *
MediaSize Letter
Filter "application/vnd.cups-raster 0 hpcups"
// A brace in a comment does not open a group: {
{
  Attribute "hpPrinterLanguage" "" "pcl3gui2"
  ModelName "HP Deskjet 6120"
  PCFileName "hp-deskjet_6120.ppd"
}
{
  Attribute "hpPrinterLanguage" "" "lidil"
  ModelName "HP Deskjet D2600 \"Series\" {"
  PCFileName "hp-deskjet_d2600_series.ppd"
}
#if 0
  Attribute "hpPrinterLanguage" "" "lidil"
#endif
{
  Attribute "hpPrinterLanguage" "" "ljjetready"
  ModelName "HP Color LaserJet 3500"
  PCFileName "hp-color_laserjet_3500.ppd"
}
'''

GUTENPRINT_XML = b'''<?xml version="1.0"?>
<gutenprint xmlns="http://gimp-print.sourceforge.net/xsd/gp.xsd-1.0">
<printdef>
  <family name="%s">
    %s
  </family>
</printdef>
</gutenprint>'''


def family(name, *printers):
    return GUTENPRINT_XML % (name.encode(), b''.join(
        b'<printer name="x" driver="%s" parameters="%s" />' % (driver.encode(), parameters.encode())
        for driver, parameters in printers))


FAMILIES = gutenprint_families([
    family('canon', ('bjc-PIXMA-iP4000', 'PIXMA_iP4000_params')),
    family('escp2', ('escp2-c80', 'standard_params')),
    family('pcl', ('hp-dj_9xx', 'pcl_inkjet_params'), ('hp-lj_4000', 'pcl_laser_params')),
    family('dyesub', ('canon-cp910', 'cp910_params')),
])


def ppd(*lines):
    return ('*PPD-Adobe: "4.3"\n' + ''.join(line + '\n' for line in lines)).encode()


def attribute(tag, name, value):
    return bytes([tag]) + struct.pack('>H', len(name)) + name + struct.pack('>H', len(value)) + value


def listing(*models):
    message = bytearray(b'Content-Type: application/ipp\n\n\x01\x01\x00\x00\x00\x00\x00\x01')
    message += b'\x01' + attribute(0x47, b'attributes-charset', b'utf-8')
    for name, model in models:
        message += b'\x04' + attribute(0x46, b'ppd-name', name) + attribute(0x41, b'ppd-make-and-model', model)
    return bytes(message + b'\x03')


class DrvFiles(unittest.TestCase):
    def test_each_model_is_classified_from_the_ppd_ppdc_writes(self):
        with tempfile.TemporaryDirectory() as folder, ThreadPoolExecutor(2) as pool:
            drv = os.path.join(folder, 'hpcups.drv')
            with open(drv, 'w') as text:
                text.write(HPCUPS_DRV)
            self.assertEqual(drv_languages(drv, pool), {'hp-deskjet_6120.ppd': PCL3GUI, 'hp-deskjet_d2600_series.ppd': LIDIL,
                                                        'hp-color_laserjet_3500.ppd': JETREADY})
            with open(drv, 'w') as text:
                text.write('{\n')
            with self.assertRaisesRegex(ListingError, f'ppdc cannot write out the PPDs of {drv}'):
                drv_languages(drv, pool)


class Gutenprint(unittest.TestCase):
    def test_the_family_and_its_kind_give_the_language(self):
        for uri, language in [('gutenprint.5.3://bjc-PIXMA-iP4000/expert', CANON),
                              ('gutenprint.5.3://escp2-c80/expert', ESCP2),
                              ('gutenprint.5.3://hp-dj_9xx/expert', PCL3),
                              ('gutenprint.5.3://hp-lj_4000/simple', PCL5)]:
            self.assertEqual(gutenprint_language(uri, FAMILIES), language, uri)

    def test_a_canon_photo_printer_is_not_canon_raster(self):
        self.assertTrue(gutenprint_language('gutenprint.5.3://canon-cp910/expert', FAMILIES).startswith(OTHER))

    def test_a_driver_of_no_family_is_other(self):
        self.assertIn('not in its printer lists', gutenprint_language('gutenprint.5.3://bjc-9999/expert', FAMILIES))


class PpdFilters(unittest.TestCase):
    def test_filter_lines_give_the_language(self):
        cases = [
            ([], POSTSCRIPT),
            (['*cupsFilter: "application/vnd.cups-pdf 0 -"'], PDF),
            (['*cupsFilter: "application/vnd.cups-raster 50 rastertohp"'], PCL5),
            (['*cupsFilter:\t"application/vnd.cups-postscript 100 gstopxl"',
              '*cupsFilter:\t"application/vnd.cups-pdf 0 gstopxl"'], PCLXL),
            (['*cupsFilter: "application/vnd.cups-postscript 0 foomatic-rip"',
              '*cupsFilter: "application/vnd.cups-pdf 0 foomatic-rip"',
              '*FoomaticRIPOptionSetting GSCmdLine=Grayscale: " -sDEVICE=pxlmono"'], PCLXL),
            (['*cupsFilter: "application/vnd.cups-postscript 0 foomatic-rip"',
              '*FoomaticRIPCommandLine: "printf &quot;%%!PS-Adobe-3.0&quot;"'], POSTSCRIPT),
            (['*cupsFilter: "application/vnd.cups-raster 0 hpcups"', '*hpPrinterLanguage: "pcl3"'], PCL3),
            (['*cupsFilter: "application/vnd.cups-command 50 commandtopclx"',
              '*cupsFilter: "application/vnd.cups-raster 50 rastertohp"'], PCL5),
            (['*cupsFilter2: "application/vnd.cups-raster image/pwg-raster 0 -"',
              '*cupsFilter: "application/vnd.cups-raster 50 rastertolabel"'], PWG),
            (['*cupsFilter: "application/vnd.cups-postscript 0 hpps"'], POSTSCRIPT),
            (['*cupsFilter:\t"application/vnd.cups-pdfprintfx 0 pdftopjlfx"',
              '*cupsFilter:\t"application/vnd.cups-postscript 0 pstopdffx"'], PDF),
            # foo2zjs' wrappers run Ghostscript, then write their own language.
            (['*cupsFilter: "application/vnd.cups-postscript 0 foomatic-rip"',
              '*FoomaticRIPCommandLine: "foo2hbpl2-wrapper %A -r1200x600 -sDEVICE=x"'], HBPL),
            (['*cupsFilter: "application/vnd.cups-raster 0 hpcups"', '*hpPrinterLanguage: "ljzxstream"'], XQX),
            # Not a filter line: the keyword does not start the line.
            (['*Note: "x" *cupsFilter: "application/vnd.cups-raster 50 rastertohp"'], POSTSCRIPT),
        ]
        for lines, language in cases:
            with self.subTest(lines=lines):
                self.assertEqual(ppd_language(ppd(*lines)), language)

    def test_what_it_does_not_read_is_other_and_says_what(self):
        for lines, what in [(['*cupsFilter: "image/jpeg 0 -"', '*cupsFilter: "text/html 0 -"'], 'no filter takes'),
                            (['*cupsFilter: "application/vnd.cups-raster 0 rastertofoo"'], 'rastertofoo'),
                            (['*cupsFilter: "application/vnd.cups-pdf 0 -"',
                              '*cupsFilter: "application/vnd.cups-raster 50 rastertohp"'], 'several languages')]:
            with self.subTest(lines=lines):
                language = ppd_language(ppd(*lines))
                self.assertTrue(language.startswith(OTHER), language)
                self.assertIn(what, language)


class Listing(unittest.TestCase):
    def test_each_group_is_a_model(self):
        models = ipp_models(listing((b'drv:///sample.drv/generic.ppd', b'Generic PostScript Printer'),
                                    (b'raw', b'Raw Queue')))
        self.assertEqual([(group.get('ppd-name'), group.get('ppd-make-and-model')) for group in models],
                         [(None, None), ('drv:///sample.drv/generic.ppd', 'Generic PostScript Printer'),
                          ('raw', 'Raw Queue')])

    def test_a_cut_listing_is_refused(self):
        whole = listing((b'raw', b'Raw Queue'))
        for end in (35, len(whole) - 1, len(whole) - 5):
            with self.subTest(end=end), self.assertRaisesRegex(ListingError, 'cut off'):
                ipp_models(whole[:end])

    def test_archive_names_have_index_0(self):
        self.assertEqual(archive_key('openprinting-ppds:3/ppd/openprinting/Brother/BR2600CN_GPL.ppd'),
                         '0/ppd/openprinting/Brother/BR2600CN_GPL.ppd')


class Sample(unittest.TestCase):
    LANGUAGES = {**{f'big:{index}': POSTSCRIPT for index in range(90)},
                 **{f'mid:{index}': PCL5 for index in range(9)},
                 'one:0': PDF, 'with space:0': PCLM, 'jetready:0': JETREADY}

    def test_one_of_each_read_language_the_rest_in_proportion(self):
        self.assertEqual(allocate({POSTSCRIPT: 90, PCL5: 9, PDF: 1}, 13), {POSTSCRIPT: 11, PCL5: 1, PDF: 1})
        self.assertEqual(allocate({POSTSCRIPT: 90, PCL5: 9, PDF: 1}, 100), {POSTSCRIPT: 90, PCL5: 9, PDF: 1})

    def test_the_seed_gives_the_same_draw_of_read_models_without_white_space(self):
        drawn = sample(self.LANGUAGES, 12, 7)
        self.assertEqual(drawn, sample(self.LANGUAGES, 12, 7))
        self.assertEqual({language for language, _ in drawn}, {POSTSCRIPT, PCL5, PDF})
        self.assertEqual(len({uri for _, uri in drawn}), 12)

    def test_a_count_that_cannot_be_drawn_is_refused(self):
        for count in (2, 101):
            with self.subTest(count=count), self.assertRaises(UsageError):
                sample(self.LANGUAGES, count, 1)


class Table(unittest.TestCase):
    def test_rows_count_models_and_say_what_is_read(self):
        text = table({'a': POSTSCRIPT, 'b': POSTSCRIPT, 'c': JETREADY, 'd': f'{OTHER}: fax'},
                     {'a': 'openprinting-ppds', 'b': 'cups-common', 'c': 'printer-driver-hpcups', 'd': 'x'})
        rows = text.splitlines()
        self.assertEqual(rows[2], '| PostScript | 2 | 50.0 % | yes | cups-common 1, openprinting-ppds 1 |')
        self.assertEqual(rows[3], '| JetReady | 1 | 25.0 % | no | printer-driver-hpcups 1 |')
        self.assertEqual(rows[-1], 'Read: 2 of 4 models (50.0 %).')
        rows = package_table({'a': POSTSCRIPT, 'b': JETREADY, 'c': PCL3GUI, 'd': POSTSCRIPT},
                             {'a': 'openprinting-ppds', 'b': 'printer-driver-hpcups', 'c': 'printer-driver-hpcups',
                              'd': 'openprinting-ppds'}).splitlines()
        self.assertEqual(rows[2:], ['| openprinting-ppds | 2 | 2 (100.0 %) | PostScript 2 |',
                                    '| printer-driver-hpcups | 2 | 1 (50.0 %) | JetReady 1, PCL 3 GUI 1 |'])


if __name__ == '__main__':
    unittest.main()
