"""scripts/check-printer.sh as a user runs it: on a real printer's PPD, named as its CUPS driver
names it, and on a queue of the scheduler it is pointed at every check passes; a driver that moves the page and one that refuses
the job fail, and the report says how; a filter changed in another ServerBin is the one printed
with; a printer that cannot be used is a failed row of a run checking two printers at once; every
page size of a printer is printed on, and a paper picked in Page Setup over the queue's default,
the program's answer to margins that leave no room reported; bad arguments exit with 2 and leave nothing behind."""
import json
import os
import queue
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
COMMAND = os.path.join(ROOT, 'scripts', 'check-printer.sh')
# A4, 600 dpi, hardware margins of 12, 12.24, 11.92 and 12.08 points, a PJL wrapper.
REAL_PPD = 'openprinting-ppds:0/ppd/openprinting/Brother/BR2600CN_GPL.ppd'
REAL = 'BR2600CN_GPL'
# Six sizes: A5 and Statement are narrower than six inches.
SIX_SIZES_PPD = 'openprinting-ppds:0/ppd/openprinting/Lanier/PS/Lanier-LP031c_PS.ppd'
QUEUE = 'PTQUEUE600'
# A Letter page bitmap at 2400 dpi with no margins is about 2 GB, more than the program's address
# space holds.
QUEUE_2400 = 'PTQUEUE2400'
# 1200x600 dpi; Wine's driver lays its pages out at 1200 dpi both ways, and its PPD's landscape
# line ends in a comment, so that Wine turns a landscape page the default way.
UNEQUAL_PPD = 'openprinting-ppds:0/ppd/openprinting/Lexmark/Lexmark_E352dn.ppd'
# Letter by default, A4 offered, 600 dpi.
LETTER_PPD = 'openprinting-ppds:0/ppd/openprinting/Samsung/PS/Samsung_ML-4050_Series.ppd'
# 600 dpi set by a PJL option, which Wine's driver does not see: it draws at 300 dpi.
PJL_RESOLUTION_PPD = '/usr/share/ppd/cupsfilters/HP-Color_LaserJet_CM3530_MFP-PDF.ppd'
# What the shifting filter does, in printer pixels at 600 dpi: 36 points right, 18 points up.
SHIFT_RIGHT = 300
SHIFT_UP = 150


# A run spends most of its time waiting on Wine and the scheduler: the runs go three at a time,
# each with Wine prefixes of its own.
PREFIXES = queue.Queue()
for stem in ('check-prefix', 'check-prefix-b', 'check-prefix-c'):
    PREFIXES.put(stem)


def command(*arguments, **environment):
    return subprocess.run([COMMAND, *arguments], capture_output=True, text=True, stdin=subprocess.DEVNULL,
                          timeout=600, env=dict(os.environ, **environment))


def check(*arguments):
    stem = PREFIXES.get()
    try:
        return command(*arguments, PRINTTEST_CHECK_PREFIX=stem)
    finally:
        PREFIXES.put(stem)


class CheckPrinterTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='check-printer-', dir=os.environ['PRINTTEST_BUILD'])
        real = subprocess.run(['/usr/lib/cups/driver/openprinting-ppds', 'cat', REAL_PPD], capture_output=True,
                              text=True, encoding='latin-1', check=True).stdout
        cls.ppds = {}
        for name, extra in (('shifted', f'*cupsFilter: "application/vnd.cups-postscript 0 {HERE}/filters/shift-page"'),
                            ('refused', f'*cupsFilter: "application/vnd.cups-postscript 0 {HERE}/filters/refuse-job"'),
                            ('unfiltered', '*cupsFilter: "application/vnd.cups-postscript 0 no-such-filter"')):
            cls.ppds[name] = os.path.join(cls.work, name + '.ppd')
            with open(cls.ppds[name], 'w', encoding='latin-1') as ppd:
                ppd.write(real.replace('\n', f'\n{extra}\n', 1))
        cls.out = os.path.join(cls.work, 'report')
        cls.runs = ThreadPoolExecutor(PREFIXES.qsize())
        first = cls.runs.submit(check, '--jobs', '2', '--out', cls.out, REAL_PPD, QUEUE, cls.ppds['shifted'],
                                cls.ppds['refused'], cls.ppds['unfiltered'])
        cls.later = {name: cls.runs.submit(check, '--out', os.path.join(cls.work, name), *arguments) for name, arguments in (
            ('all', ('--paper', 'all', '--margins', '3,1,3,1', SIX_SIZES_PPD)),
            ('laid-out', ('--orientation', 'landscape', '--margins', '0.8,0.7,0.7,0.7', UNEQUAL_PPD,
                          PJL_RESOLUTION_PPD)),
            ('picked', ('--paper-from', 'setup', '--paper', 'A4', '--modes', 'direct', LETTER_PPD)),
            ('too-large', ('--modes', 'bitmap', '--margins', '0,0,0,0', QUEUE_2400)),
            ('options', ('--modes', 'direct', '--option', 'Resolution=all', PJL_RESOLUTION_PPD, REAL_PPD)))}
        cls.checked = first.result()
        print(cls.checked.stdout, cls.checked.stderr, file=sys.stderr)
        # Runs compared with the first.
        cls.serverbin = cls.changed_serverbin()
        for name, arguments in (('serverbin', ('--cups-serverbin', cls.serverbin, '--modes', 'direct', REAL_PPD)),
                                ('again', ('--modes', 'direct', REAL_PPD)),
                                ('two-up', ('--modes', 'direct', '--queue-option', 'number-up-default=2', REAL_PPD))):
            cls.later[name] = cls.runs.submit(check, '--baseline', cls.out, '--out', os.path.join(cls.work, name),
                                              *arguments)
        cls.suites = {suite.get('name').split(' ')[0]: suite
                      for suite in ElementTree.parse(os.path.join(cls.out, 'junit.xml')).getroot()}

    @classmethod
    def changed_serverbin(cls):
        """Links to the installed ServerBin but for its pstops, which moves the pages it writes."""
        folder = cls.temporary = tempfile.mkdtemp()
        # The scheduler's filters run as another user, who must reach them.
        os.chmod(folder, 0o755)
        serverbin = os.path.join(folder, 'serverbin')
        subprocess.run(['cp', '-as', '/usr/lib/cups', serverbin], check=True)
        pstops = os.path.join(serverbin, 'filter', 'pstops')
        os.remove(pstops)
        with open(pstops, 'w') as changed:
            changed.write(f'#!/bin/sh\n/usr/lib/cups/filter/pstops "$@" | {HERE}/filters/shift-page\n')
        os.chmod(pstops, 0o755)
        return serverbin

    @classmethod
    def tearDownClass(cls):
        cls.runs.shutdown()
        shutil.rmtree(cls.work, True)
        shutil.rmtree(cls.temporary, True)

    def failures(self, printer):
        return {case.get('name'): case.find('failure').get('message')
                for case in self.suites[printer] if case.find('failure') is not None}

    def test_a_real_printer_and_a_queue_pass_in_both_modes(self):
        for printer in (REAL, QUEUE):
            with self.subTest(printer=printer):
                self.assertEqual(self.failures(printer), {})
                self.assertEqual(len(self.suites[printer]), 2 * 7 + 1, 'seven checks a mode, and the modes agree')
        self.assertRegex(self.checked.stdout, rf'\[\d/8\] {REAL} A4 portrait Direct Print: pass \([\d.]+ s: dialog')
        self.assertRegex(self.checked.stdout, r'8 pages measured in .*: [\d.]+ pages per minute')

    def test_a_moved_page_fails_naming_the_edges_and_how_far(self):
        failures = self.failures('shifted')
        for mode in ('Direct Print', 'Bitmap Print'):
            message = failures[f'{mode}: border at the margins']
            self.assertIn('moved: left, top, right, bottom', message)
            for edge, pixels in (('left', SHIFT_RIGHT), ('right', SHIFT_RIGHT), ('top', -SHIFT_UP),
                                 ('bottom', -SHIFT_UP)):
                measured = float(re.search(rf'{edge} ([-+][\d.]+) px', message).group(1))
                self.assertAlmostEqual(measured, pixels, delta=2, msg=message)
        self.assertNotIn('Direct Print: exactly one page', failures)

    def test_a_filter_changed_in_another_serverbin_is_the_one_printed_with(self):
        # The printer passes with the installed ServerBin (the class's run).
        serverbin, out = self.serverbin, os.path.join(self.work, 'serverbin')
        run = self.later['serverbin'].result()
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        # Against the installed stack's run, the page has changed.
        self.assertRegex(run.stdout, rf'changed: {REAL} A4 portrait direct: verdict pass -> FAIL; left edge ')
        with open(os.path.join(out, 'report.md')) as report:
            markdown = report.read()
        self.assertIn(f'filters, backends and drivers from {serverbin}.', markdown)
        moved = re.search(r'moved: left, top, right, bottom; left ([-+][\d.]+) px', markdown)
        self.assertAlmostEqual(float(moved.group(1)), SHIFT_RIGHT, delta=2, msg=markdown)

    def test_a_printer_that_cannot_be_used_is_a_failed_row_of_the_summary(self):
        self.assertIn('needs the filter no-such-filter', self.failures('unfiltered')['printer: set up'])
        self.assertIn('5 printer(s), 8 page(s): 4 passed every check, 4 failed one', self.checked.stdout)
        self.assertRegex(self.checked.stdout, r'Failures by check: .*border at the margins \d.*set up 1')
        self.assertRegex(self.checked.stdout, r'Time per page: [\d.]+ s, of it start [\d.]+ s, driving [\d.]+ s, '
                                              r'dialog [\d.]+ s, job [\d.]+ s, filters [\d.]+ s, render ')

    def test_every_paper_size_and_what_the_program_does_without_room(self):
        out = os.path.join(self.work, 'all')
        run = self.later['all'].result()
        with open(os.path.join(out, 'report.md')) as report:
            markdown = report.read()
        self.assertEqual(re.findall(r'^## (.*)', markdown, re.M),
                         ['A4', 'A5', 'Legal', 'Letter', 'Statement', 'Executive', 'Summary'], run.stdout)
        for paper in ('A5', 'Statement'):
            self.assertIn(f'| {paper} | portrait | Direct Print | pass | pass (margins leave no room): printed 1 page(s)',
                          markdown)
            self.assertIn(f'| {paper} | portrait | Bitmap Print | pass | pass (margins leave no room): nothing printed: '
                          f'no job reached the queue: the program said "Unable to create page bitmap!"', markdown)
        self.assertIn('12 page(s)', run.stdout)

    def test_a_refused_job_fails_as_never_printed(self):
        failures = self.failures('refused')
        for mode in ('Direct Print', 'Bitmap Print'):
            self.assertIn('never printed: the queue did not complete the job', failures[f'{mode}: exactly one page'])
            self.assertIn('not measured', failures[f'{mode}: border at the margins'])

    def test_landscape_pages_laid_out_by_the_driver_its_own_way_pass(self):
        # Unequal margins: a page turned the wrong way would fail.
        out = os.path.join(self.work, 'laid-out')
        run = self.later['laid-out'].result()
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        with open(os.path.join(out, 'report.md')) as report:
            markdown = report.read()
        self.assertEqual((markdown.count('drawn at 1200x1200 dpi'), markdown.count('drawn at 300x300 dpi')), (2, 2))

    def test_a_paper_picked_in_page_setup_is_printed_on_over_the_queues_default(self):
        # A page laid out on the queue's Letter would be measured off by some 140 and 400 pixels.
        out = os.path.join(self.work, 'picked')
        run = self.later['picked'].result()
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        with open(os.path.join(out, 'report.md')) as report:
            row = re.search(r'^.*\| A4 \| portrait \| Direct Print \|.*$', report.read(), re.M).group(0)
        self.assertIn('| Direct Print | pass |', row)
        self.assertIn('paper picked in Page Setup as "A4", the queue\'s default Letter', row)

    def test_a_page_the_program_cannot_make_fails_quoting_its_message(self):
        out = os.path.join(self.work, 'too-large')
        run = self.later['too-large'].result()
        self.assertEqual(run.returncode, 1, run.stderr)
        with open(os.path.join(out, 'report.md')) as report:
            self.assertIn('never printed: no job reached the queue: the program said "Unable to create page bitmap!"',
                          report.read())

    def test_the_run_fails_and_reports_with_pictures(self):
        self.assertEqual(self.checked.returncode, 1, self.checked.stderr)
        with open(os.path.join(self.out, 'report.md')) as report:
            markdown = report.read()
        folder = os.path.join(self.out, 'printers')
        details = {}
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name)) as page:
                details[name] = page.read()
        self.assertEqual(len(details), 5, 'a page for each printer')
        pictures = [name for page in details.values() for name in re.findall(r'<img src="\.\./([^"]+)"', page)]
        for picture in pictures:
            self.assertTrue(os.path.getsize(os.path.join(self.out, picture)) > 0)
        whole = [name for name in pictures if not re.search(r'-(corner|edge)\.png$', name)]
        self.assertEqual(len(whole), 3 * 3, 'both pages and their difference for each printer that printed')
        for picture in whole:
            self.assertIn(f'({picture})', markdown)
        # The moved page's border, close up where each edge belongs: every corner and midpoint, both modes.
        shifted = re.findall(r'<img src="[^"]+" alt="([^"]+)"', details[next(name for name in details if 'shifted' in name)])
        self.assertEqual(len(shifted), 2 * 8)
        self.assertRegex(shifted[0], r'^top left corner: left \+12\.\d\d mm; top -6\.\d\d mm$')
        self.assertEqual(markdown.count('| portrait |'), 8)

    def test_results_hold_the_reports_figures_and_a_baseline_names_what_is_gone(self):
        with open(os.path.join(self.out, 'results.json')) as saved:
            results = json.load(saved)
        with open(os.path.join(self.out, 'report.md')) as report:
            markdown = report.read()
        pages = [(row, page) for row in results['rows'] for page in row['pages']]
        self.assertEqual(len(pages), 8)
        for row, page in pages:
            line = re.search(rf'^\| {row["printer"]} \| {row["paper"]} \| portrait \| {page["mode"].title()} Print \|.*$',
                             markdown, re.M).group(0)
            # A failing page names its finding; this run's moved pages match none.
            self.assertIn(f'| {page["verdict"]}{" (unexplained)" if page["verdict"] == "FAIL" else ""} |', line)
            self.assertEqual(page['finding'], 'unexplained' if page['verdict'] == 'FAIL' else None)
            figures = page['figures']
            for edge, moved in (figures or {}).get('edges', {}).items():
                self.assertIn(f'{edge} {moved["px"]:+.1f} px ({moved["mm"]:+.2f} mm)', line)
            if figures and figures['text'] and not figures['text']['cut']:
                text = figures['text']
                self.assertIn(f'{text["height_pt"]:.1f} pt; centre off by {text["down_mm"]:+.2f} mm down; '
                              f'{text["across_mm"]:+.2f} mm across', line)
        # The same printer's Direct page again, alone: unchanged; the others are gone.
        run = self.later['again'].result()
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertIn(f'Compared with {self.out}: 0 pages changed, 0 new, 7 gone', run.stdout)
        self.assertIn(f'gone: {REAL} A4 portrait bitmap', run.stdout)
        # Two pages to a sheet: the page shrinks, its verdict may stay, its figures move.
        run = self.later['two-up'].result()
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertIn(f'Compared with {self.out}: 1 pages changed, 0 new, 7 gone', run.stdout)
        self.assertRegex(run.stdout, rf'changed: {REAL} A4 portrait direct: .*left edge ')

    def test_each_value_of_an_option_is_a_row_printed_with_it(self):
        run = self.later['options'].result()
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        with open(os.path.join(self.work, 'options', 'results.json')) as saved:
            rows = json.load(saved)['rows']
        # The PDF printer's PJL header sets the resolution the page is rendered at.
        self.assertEqual([(row['options'], row['pages'][0]['dpi'], row['pages'][0]['verdict']) for row in rows[:3]],
                         [({'Resolution': f'{dpi}dpi'}, [dpi, dpi], 'pass') for dpi in (300, 600, 1200)])
        self.assertIn('| Letter Resolution=1200dpi | portrait | Direct Print | pass |',
                      open(os.path.join(self.work, 'options', 'report.md')).read())
        # The Brother PPD has no Resolution option: its row says so, and nothing is printed on it.
        self.assertEqual(rows[3]['problem'], 'cannot be used: --option Resolution: its PPD has no option Resolution')
        self.assertEqual(rows[3]['pages'], [])

    def test_bad_arguments_exit_2_with_a_message_and_leave_nothing(self):
        out = os.path.join(self.work, 'never')
        cases = {
            (): 'required',
            ('/nowhere/printer.ppd',): 'no such PPD file',
            ('NO_SUCH_QUEUE',): 'nor a queue',
            ('--paper', 'Tabloid', REAL_PPD): 'Tabloid is not one of',
            ('--margins', '1,1,1', REAL_PPD): 'not four numbers',
            ('--margins', '5,1,4,1', REAL_PPD): 'leave no room',
            ('--modes', 'direct,raster', REAL_PPD): 'raster is not one of',
            ('--orientation', 'sideways', REAL_PPD): 'invalid choice',
            ('--tolerance', '0', REAL_PPD): 'must be more than 0',
            ('--baseline', HERE, REAL_PPD): 'no results.json',
            ('--paper-from', 'printer', REAL_PPD): 'invalid choice',
            ('--cups-serverbin', HERE, REAL_PPD): 'is no CUPS ServerBin: it has no filter folder',
            ('--option', 'Resolution', REAL_PPD): 'Resolution is not NAME=VALUE or NAME=all',
            ('--option', 'A=1', '--option', 'A=2', REAL_PPD): 'an option is given twice',
        }
        for arguments, message in cases.items():
            with self.subTest(arguments=arguments):
                run = command('--out', out, *arguments)
                self.assertEqual(run.returncode, 2)
                self.assertIn(message, run.stderr)
                self.assertFalse(os.path.exists(out))
        helped = command('--help')
        self.assertEqual(helped.returncode, 0)
        for option in ('--paper', '--orientation', '--margins', '--mm', '--modes', '--tolerance', '--out'):
            self.assertIn(option, helped.stdout)


if __name__ == '__main__':
    unittest.main()
