"""scripts/check-printer.sh as a user runs it on driverless printers and raster drivers: CUPS's own
IPP Everywhere printer (scripts/ipp-printers.sh: one taking PWG raster, one PDF, one of its own
with unequal margins and A4) passes, measured on what it received; real drivers' PPDs (Gutenprint's
from its driver program, hpcups' and the others' compiled from a .drv file, PPDs of driver programs
whose foomatic-rip line runs a writer of the printer's language) pass, judged on what the driver
wrote in the printer's own language (their Direct pages); a driver that moves the page fails
naming the edges though the raster it was handed is right; judge-page.sh passes a driver's own file
and fails it with its page moved or cut short; a queue that fits the page into the printable area fails
naming the edges; a printer that does not answer is refused, one that stops during the run fails
its pages without waiting for it. The driverless printers and the drivers are two tests, each with
Wine prefixes of its own (PRINTTEST_CHECK_PREFIX), run at once: `python3 test_check_driverless.py
DriverlessTest` or `DriversTest`."""
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
COMMAND = os.path.join(ROOT, 'scripts', 'check-printer.sh')
# Drivers of each family the check decodes, by the language they write: a Gutenprint laser's PCL 5
# and its ESC/P 2 and Canon inkjets, an hpcups inkjet's PCL 3 GUI and another's LIDIL, brlaser's
# Brother laser raster, c2esp's Kodak ESP raster, an epson-escpr inkjet's ESC/P-R and foo2zjs'
# ZjStream. (PCL XL written by Ghostscript is the check_printer and report tests'.)
DRIVERS = {'hp-lj_4000-expert': ('gutenprint.5.3://hp-lj_4000/expert', 'PCL 5'),
           'hp-deskjet_5550': ('drv:///hpcups.drv/hp-deskjet_5550.ppd', 'PCL 3 GUI'),
           'escp2-740-expert': ('gutenprint.5.3://escp2-740/expert', 'ESC/P 2'),
           'bjc-4300-expert': ('gutenprint.5.3://bjc-4300/expert', 'Canon raster'),
           'hp-deskjet_d4100_series': ('drv:///hpcups.drv/hp-deskjet_d4100_series.ppd', 'LIDIL'),
           'br1510': ('drv:///brlaser.drv/br1510.ppd', 'Brother laser raster'),
           'Kodak_ESP_5': ('drv:///c2esp.drv/Kodak_ESP_5.ppd', 'Kodak ESP raster'),
           'Epson-Stylus_CX4200-epson-escpr-en': (
               'escpr:0/cups/model/epson-inkjet-printer-escpr/Epson-Stylus_CX4200-epson-escpr-en.ppd', 'ESC/P-R'),
           'HP-LaserJet_1020': ('foo2zjs:0/ppd/foo2zjs/HP-LaserJet_1020.ppd', 'ZjStream')}
# The ones foomatic-rip drives from the PostScript: no raster is handed them.
FOOMATIC = {'HP-LaserJet_1020'}
DRIVERD = '/usr/lib/cups/daemon/cups-driverd'
JUDGE = os.path.join(ROOT, 'scripts', 'judge-page.sh')
# What each driverless printer is sent, as CUPS chooses from what it offers.
LANGUAGES = {'raster': 'PWG raster', 'pdf': 'PDF', 'a4-margins': 'Apple raster'}


def check(*arguments):
    return subprocess.run([COMMAND, *arguments], capture_output=True, text=True, stdin=subprocess.DEVNULL,
                          timeout=600)


def unused_uri():
    with socket.socket() as unused:
        unused.bind(('localhost', 0))
        return f'ipp://localhost:{unused.getsockname()[1]}/ipp/print'


def listening(port):
    try:
        socket.create_connection(('localhost', port)).close()
        return True
    except OSError:
        return False


def failures(out, printer):
    suites = ElementTree.parse(os.path.join(out, 'junit.xml')).getroot()
    return {case.get('name'): case.find('failure').get('message')
            for suite in suites if suite.get('name').split(' ')[0] == printer
            for case in suite if case.find('failure') is not None}


class Checked:
    """One check run over the class's printers, their rows of report.md by printer."""
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='check-driverless-', dir=os.environ['PRINTTEST_BUILD'])
        cls.out = os.path.join(cls.work, 'report')
        cls.checked = check('--jobs', '2', '--out', cls.out, *cls.arguments())
        print(cls.checked.stdout, cls.checked.stderr, file=sys.stderr)
        with open(os.path.join(cls.out, 'report.md')) as report:
            lines = report.readlines()
        cls.rows = {printer: [line for line in lines if line.startswith(f'| {printer} |')] for printer in cls.names()}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, True)

    def test_results_hold_the_reports_figures(self):
        with open(os.path.join(self.out, 'results.json')) as saved:
            rows = {row['printer']: row for row in json.load(saved)['rows']}
        for name in self.names():
            with self.subTest(name):
                for page in rows[name]['pages']:
                    line = next(row for row in self.rows[name] if f'| {page["mode"].title()} Print |' in row)
                    for edge, moved in page['figures']['edges'].items():
                        self.assertIn(f'{edge} {moved["px"]:+.1f} px ({moved["mm"]:+.2f} mm)', line)
                    if name in DRIVERS and name not in FOOMATIC:
                        self.assertEqual(set(page['figures']['driver_gaps']), {'left', 'top', 'right', 'bottom'})


class DriverlessTest(Checked, unittest.TestCase):
    @classmethod
    def arguments(cls):
        folder = os.environ['PRINTTEST_IPP_PRINTERS']
        with open(os.path.join(folder, 'printers')) as listing:
            cls.printers = {name: uri for name, uri, _ in (line.split() for line in listing)}
        cls.received = os.path.join(folder, 'received')
        return ('--received', cls.received, *cls.printers.values())

    @classmethod
    def names(cls):
        return list(cls.printers.values())

    def test_driverless_printers_pass_measured_on_what_they_received(self):
        self.assertEqual(self.checked.returncode, 0, self.checked.stdout)
        for name, uri in self.printers.items():
            with self.subTest(name):
                for row in self.rows[uri]:
                    self.assertRegex(row, rf'1 page\(s\) of {LANGUAGES[name]}\b')
                    kept = re.search(rf'the document the printer received \(({name}/[^)]+)\)', row)
                    self.assertTrue(os.path.isfile(os.path.join(self.received, kept.group(1))), row)
                self.assertEqual(len(self.rows[uri]), 2)

    def test_a_queue_that_fits_the_page_into_the_printable_area_fails_naming_the_edges(self):
        out = os.path.join(self.work, 'fit')
        run = check('--queue-option', 'print-scaling-default=fit', '--modes', 'direct', '--out', out,
                    self.printers['raster'])
        self.assertEqual(run.returncode, 1, run.stdout)
        self.assertIn('moved: left, top, right, bottom', failures(out, self.printers['raster'])[
            'Direct Print: border at the margins'])

    def test_a_printer_that_does_not_answer_is_refused(self):
        uri = unused_uri()
        out = os.path.join(self.work, 'never')
        run = check('--out', out, uri)
        self.assertEqual(run.returncode, 2)
        self.assertIn(f'{uri}: no IPP Everywhere printer answers there', run.stderr)
        self.assertFalse(os.path.exists(out))

    def test_a_printer_that_stops_during_the_run_fails_its_pages_at_once(self):
        uri = unused_uri()
        port = int(uri.split(':')[2].split('/')[0])
        kept = os.path.join(self.work, 'stopping')
        os.mkdir(kept)
        # The printer stops on taking the first job, whenever that comes: the second is sent to no
        # printer at all.
        stop = os.path.join(self.work, 'stop-on-first-job')
        printer = subprocess.Popen(['ippeveprinter', '-p', str(port), '-n', 'localhost', '-r', 'off', '-k', '-d', kept,
                                    '-c', stop, '-f', 'image/pwg-raster', 'stopping'],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(stop, 'w') as script:
            script.write(f'#!/bin/sh\nkill -9 {printer.pid}\n')
        os.chmod(stop, 0o755)
        self.addCleanup(printer.wait)
        self.addCleanup(printer.kill)
        while not listening(port):
            self.assertIsNone(printer.poll())
        out = os.path.join(self.work, 'stopping-report')
        run = check('--out', out, uri)
        self.assertEqual(run.returncode, 1, run.stdout)
        # The first job may be taken whole before the printer goes. The second is given up by the
        # queue, or by the check once the printer has taken no connection for as long as the queue
        # waits, whichever comes first: never waited for as long as a job may take.
        self.assertRegex(failures(out, uri)['Bitmap Print: exactly one page'],
                         'never printed: the (queue did not complete the job: aborted|printer stopped answering '
                         'while it took the job: no connection for 10 s)')


class DriversTest(Checked, unittest.TestCase):
    @classmethod
    def arguments(cls):
        # Direct pages alone: the two modes differ in what the program sends, which the other
        # tests print; here what matters is each driver's language read.
        return ['--modes', 'direct', *(uri for uri, _ in DRIVERS.values())]

    @classmethod
    def names(cls):
        return list(DRIVERS)

    def test_drivers_pass_judged_on_what_they_wrote_in_the_printers_own_language(self):
        self.assertEqual(self.checked.returncode, 0, self.checked.stdout)
        for name, (_, language) in DRIVERS.items():
            with self.subTest(name):
                self.assertEqual(failures(self.out, name), {})
                for row in self.rows[name]:
                    self.assertIn(f'1 page(s) of {language}', row)
                    if name in FOOMATIC:
                        continue
                    self.assertIn(f'what the raster driver wrote, in {language}', row)
                    self.assertIn('from where the raster it was handed has them', row)
                    output = re.search(r'kept as (\S+\.prn)', row).group(1)
                    self.assertGreater(os.path.getsize(os.path.join(self.out, output)), 0)

    def test_a_driver_that_moves_the_page_fails_naming_the_edges_though_its_raster_is_right(self):
        # The PPD claims the whole sheet printable; the driver prints at its own margins, so what it
        # writes lies 1/4 inch right and 1/6 inch lower than the raster it was handed.
        ppd = subprocess.run([DRIVERD, 'cat', DRIVERS['hp-lj_4000-expert'][0]], capture_output=True,
                             check=True).stdout.decode('latin-1')
        claims = os.path.join(self.work, 'claims.ppd')
        with open(claims, 'w', encoding='latin-1') as copy:
            copy.write(re.sub(r'(\*ImageableArea Letter/[^:]*:\s*")[^"]*"', r'\g<1>0 0 612 792"', ppd))
        out = os.path.join(self.work, 'claims')
        run = check('--modes', 'direct', '--out', out, claims)
        self.assertEqual(run.returncode, 1, run.stdout)
        failed = failures(out, 'claims')
        self.assertRegex(failed['Direct Print: driver kept the page it was handed'],
                         r'moved: left \+6\.\d\d mm, top \+4\.\d\d mm, right \+6\.\d\d mm, bottom \+4\.\d\d mm')
        self.assertIn('moved: left, top, right, bottom', failed['Direct Print: border at the margins'])
        self.assertTrue(os.path.isfile(os.path.join(out, 'claims-Letter-portrait-direct-handed.png')))

    def test_judge_page_passes_a_drivers_own_files_and_fails_one_moved_or_cut_short(self):
        kept = os.path.join(self.out, 'hp-deskjet_5550-Letter-portrait-direct.prn')
        out = os.path.join(self.work, 'judged')
        judged = subprocess.run([JUDGE, '--printer', DRIVERS['hp-deskjet_5550'][0], '--out', out, kept],
                                capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=300)
        self.assertEqual(judged.returncode, 0, judged.stdout + judged.stderr)
        with open(kept, 'rb') as stream:
            data = stream.read()
        # hpcups places the page down the sheet with one ESC*p#Y: 30 of its units more is 1/20 inch.
        moved, cut = os.path.join(self.work, 'moved.prn'), os.path.join(self.work, 'cut.prn')
        with open(moved, 'wb') as stream:
            stream.write(re.sub(rb'\x1b\*p(\d+)Y', lambda m: b'\x1b*p%dY' % (int(m[1]) + 30), data, 1))
        with open(cut, 'wb') as stream:
            stream.write(data[:len(data) // 2])
        for path, figure in ((moved, 'moved: top, bottom'), (cut, 'not measured: PCL 3 GUI stream cut off')):
            with self.subTest(os.path.basename(path)):
                out = os.path.join(self.work, 'judged-' + os.path.basename(path))
                judged = subprocess.run([JUDGE, '--printer', DRIVERS['hp-deskjet_5550'][0], '--out', out, path],
                                        capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=300)
                self.assertEqual(judged.returncode, 1, judged.stdout + judged.stderr)
                self.assertIn(figure, open(os.path.join(out, 'report.md')).read())


if __name__ == '__main__':
    unittest.main()
