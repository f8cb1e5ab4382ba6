"""scripts/check-printer.sh as a user runs it on driverless printers and raster drivers: CUPS's own
IPP Everywhere printer (scripts/ipp-printers.sh: one taking PWG raster, one PDF, one of its own
with unequal margins and A4) passes, measured on what it received; real raster drivers' PPDs
(Gutenprint's from its driver program, hpcups' compiled from a .drv file) pass, judged on the CUPS
raster the driver is handed; a queue that fits the page into the printable area fails naming
the edges; a printer that does not answer is refused, one that stops during the run fails its
pages without waiting for it."""
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
# A laser printer's and an inkjet's, from two driver packages.
RASTER_DRIVERS = {'hp-lj_4000-expert': 'gutenprint.5.3://hp-lj_4000/expert',
                  'hp-deskjet_5550': 'drv:///hpcups.drv/hp-deskjet_5550.ppd'}
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


class DriverlessTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='check-driverless-', dir=os.environ['PRINTTEST_BUILD'])
        folder = os.environ['PRINTTEST_IPP_PRINTERS']
        with open(os.path.join(folder, 'printers')) as listing:
            cls.printers = {name: uri for name, uri, _ in (line.split() for line in listing)}
        cls.received = os.path.join(folder, 'received')
        cls.out = os.path.join(cls.work, 'report')
        cls.checked = check('--received', cls.received, '--out', cls.out, *cls.printers.values(),
                            *RASTER_DRIVERS.values())
        print(cls.checked.stdout, cls.checked.stderr, file=sys.stderr)
        with open(os.path.join(cls.out, 'report.md')) as report:
            lines = report.readlines()
        cls.rows = {printer: [line for line in lines if line.startswith(f'| {printer} |')]
                    for printer in [*cls.printers.values(), *RASTER_DRIVERS]}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, True)

    def test_driverless_printers_pass_measured_on_what_they_received(self):
        self.assertEqual(self.checked.returncode, 0, self.checked.stdout)
        for name, uri in self.printers.items():
            with self.subTest(name):
                for row in self.rows[uri]:
                    self.assertRegex(row, rf'1 page\(s\) of {LANGUAGES[name]}\b')
                    kept = re.search(rf'the document the printer received \(({name}/[^)]+)\)', row)
                    self.assertTrue(os.path.isfile(os.path.join(self.received, kept.group(1))), row)
                self.assertEqual(len(self.rows[uri]), 2)

    def test_raster_drivers_pass_judged_on_what_the_driver_is_handed(self):
        for name in RASTER_DRIVERS:
            with self.subTest(name):
                self.assertEqual(failures(self.out, name), {})
                for row in self.rows[name]:
                    self.assertIn('1 page(s) of CUPS raster', row)
                    self.assertIn('the CUPS raster handed to the raster driver', row)
                    output = re.search(r'the driver wrote [\d.]+ kB, kept as (\S+\.prn)', row).group(1)
                    self.assertGreater(os.path.getsize(os.path.join(self.out, output)), 0)

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
        printer = subprocess.Popen(['ippeveprinter', '-p', str(port), '-n', 'localhost', '-r', 'off', '-k', '-d', kept,
                                    '-c', '/bin/true', '-f', 'image/pwg-raster', 'stopping'],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(printer.wait)
        self.addCleanup(printer.kill)
        while not listening(port):
            self.assertIsNone(printer.poll())
        out = os.path.join(self.work, 'stopping-report')
        run = subprocess.Popen([COMMAND, '--out', out, uri], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
        said = []
        for line in run.stdout:
            said.append(line)
            if line.startswith('[1/2]'):
                printer.kill()
        self.assertEqual(run.wait(timeout=600), 1, said)
        self.assertRegex(said[0], r'Direct Print: pass')
        self.assertIn('never printed: the queue did not complete the job: aborted',
                      failures(out, uri)['Bitmap Print: exactly one page'])


if __name__ == '__main__':
    unittest.main()
