"""The report as a reader sees it and the collection workflow's commands as CI runs them: four real
printers checked in three shards by scripts/check-shards.sh, and merged, report what one run of
them reports; the report opened from disk in headless Chromium lists every printer, its verdict
filter leaves exactly the failing ones, a printer's link opens its page with its pictures and the
close-ups of a moved border, with no error in the console, and every figure and verdict shown is
results.json's; a report of the collection's 2,000 and more printers opens, its time printed; the
workflow passes its linter and runs only the commands the loop runs."""
import html
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from concurrent.futures import ThreadPoolExecutor

import yaml
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

from pagecheck.commands.collection import done_shards
from pagecheck.core.setup import Margins, Run
from pagecheck.report import results
from pagecheck.report.summary import write_reports

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SHARDS = os.path.join(ROOT, 'scripts', 'check-shards.sh')
CHECK = os.path.join(ROOT, 'scripts', 'check-printer.sh')
WORKFLOW = os.path.join(ROOT, '.github', 'workflows', 'collection.yml')
LINTER = os.path.join(os.environ.get('PRINTTEST_CACHE') or os.path.join(
    os.environ.get('XDG_CACHE_HOME') or os.path.expanduser('~/.cache'), 'printtest'),
    'workflow-lint', 'node_modules', '.bin', 'action-validator')
# On A4: one that passes, one whose page the driver moves (CUPS' rastertohp by its PPD's margin), a
# Gutenprint PCL 5 laser whose page is disputed, and PCL XL.
PRINTERS = ('openprinting-ppds:0/ppd/openprinting/Brother/BR2600CN_GPL.ppd',
            'openprinting-ppds:0/ppd/openprinting/Ricoh/PCL5/Ricoh-SP_3700_PCL5.ppd',
            'gutenprint.5.3://hp-lj_4000/expert',
            'lsb/usr/cupsfilters/pxlmono.ppd')
OPTIONS = ('--paper', 'A4')
MOVED = 'Ricoh-SP_3700_PCL5'
LARGE = 2000


def run(command, prefix):
    done = subprocess.run(command, capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=900,
                          env=dict(os.environ, PRINTTEST_CHECK_PREFIX=prefix))
    print(done.stdout[-3000:], done.stderr[-3000:], file=sys.stderr)
    return done


def read(path):
    with open(path) as text:
        return text.read()


def without_times(text):
    """A report without what differs from run to run: when it ran, from what, and its steps' times."""
    text = re.sub(r'<p class="run">.*?</p>', '', text)
    return re.sub(r'(Time per page|\(\d+(\.\d+)? s:)[^\n<]*', '', text)


def line_verdict(row):
    """A row's verdict over its pages, from results.json."""
    found = {page['verdict'] for page in row['pages']} | ({row['agreement']['verdict']} if row['agreement'] else set())
    if row['problem']:
        return 'FAIL'
    return next((verdict for verdict in ('FAIL', 'disputed', 'not measured') if verdict in found), 'pass')


def largest_shift(row):
    shifts = [(abs(moved['mm']), edge) for page in row['pages'] for edge, moved in
              ((page['figures'] or {}).get('edges') or {}).items() if moved]
    return '{:.2f} {}'.format(*max(shifts)) if shifts else ''


def browser(folder):
    """Headless Chromium keeping its settings, cache and crash reports in folder, out of the
    user's home."""
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for argument in ('--headless=new', '--no-sandbox', '--disable-gpu', '--window-size=1400,1000',
                     '--allow-file-access-from-files'):
        options.add_argument(argument)
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    options.add_argument(f'--user-data-dir={os.path.join(folder, "profile")}')
    own = dict(os.environ, XDG_CONFIG_HOME=os.path.join(folder, 'config'), XDG_CACHE_HOME=os.path.join(folder, 'cache'))
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver', env=own), options=options)


def opened(driver, path):
    """Opens a report from disk; the seconds from asking to the end of its load event."""
    driver.get('file://' + path)
    return driver.execute_script("const [entry] = performance.getEntriesByType('navigation');"
                                 "return (entry.loadEventEnd - entry.startTime) / 1000;")


def shown_lines(driver):
    return driver.execute_script("return Array.from(document.querySelectorAll('#lines tbody tr'))"
                                 ".filter(line => !line.hidden).map(line => Array.from(line.cells, cell => cell.textContent));")


class ReportTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='report-', dir=os.environ['PRINTTEST_BUILD'])
        listed = os.path.join(cls.work, 'printers.txt')
        with open(listed, 'w') as listing:
            listing.write('\n'.join(PRINTERS) + '\n')
        cls.whole = os.path.join(cls.work, 'whole')
        with ThreadPoolExecutor(2) as runs:
            looped = runs.submit(run, [SHARDS, 'loop', '3', listed, cls.work, *OPTIONS], 'report-prefix')
            whole = runs.submit(run, [CHECK, '--out', cls.whole, *OPTIONS, *PRINTERS], 'report-prefix-b')
            cls.looped, cls.checked = looped.result(), whole.result()
        cls.merged = os.path.join(cls.work, 'merged')
        cls.results = results.read(cls.merged)
        cls.driver = browser(os.path.join(cls.work, 'browser'))

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.work, True)

    def test_three_shards_merged_report_what_one_run_reports(self):
        self.assertEqual(self.looped.returncode, 0, self.looped.stderr)
        self.assertEqual(self.checked.returncode, 1, 'pages fail')
        whole = results.read(self.whole)
        self.assertEqual(len(whole['rows']), len(PRINTERS))
        strip = [[{key: value for key, value in page.items() if key != 'steps'} for page in row['pages']]
                 for row in whole['rows']]
        self.assertEqual([[{key: value for key, value in page.items() if key != 'steps'} for page in row['pages']]
                          for row in self.results['rows']], strip)
        pages = ['report.md', 'report.html'] + [os.path.join('printers', name)
                                                for name in sorted(os.listdir(os.path.join(self.whole, 'printers')))]
        for name in pages:
            self.assertEqual(without_times(read(os.path.join(self.merged, name))),
                             without_times(read(os.path.join(self.whole, name))), name)

    def test_the_overview_filters_links_and_shows_results_figures(self):
        driver = self.driver
        opened(driver, os.path.join(self.merged, 'report.html'))
        expected = {(row['printer'], row['paper']): row for row in self.results['rows']}
        lines = shown_lines(driver)
        self.assertEqual(len(lines), len(PRINTERS))
        for cells in lines:
            printer, driven, language, paper, verdict, direct, bitmap, shift, finding = cells
            row = expected[(printer.split(' ')[0], paper)]
            pages = {page['mode']: page for page in row['pages']}
            with self.subTest(printer=printer):
                self.assertEqual([verdict, direct, bitmap, shift],
                                 [line_verdict(row), pages['direct']['verdict'], pages['bitmap']['verdict'],
                                  largest_shift(row)])
                self.assertEqual(finding, ', '.join(dict.fromkeys(
                    page['finding'] for page in row['pages'] if page['finding'])))
        # Every printer's page holds its pages' verdicts and every check's figure.
        for link in driver.find_elements(By.CSS_SELECTOR, '#lines tbody a'):
            row = next(row for row in self.results['rows'] if row['printer'] == link.text)
            page = html.unescape(read(os.path.join(self.merged, link.get_attribute('href')[len('file://'):])))
            for figure in [check['figure'] for record in row['pages'] for check in record['checks']]:
                self.assertIn(figure, page)
        driver.find_element(By.ID, 'search').send_keys('ricoh 3700')
        self.assertEqual([cells[0].split(' ')[0] for cells in shown_lines(driver)], [MOVED])
        driver.find_element(By.ID, 'search').clear()
        driver.execute_script("document.getElementById('search').dispatchEvent(new Event('input'));")
        Select(driver.find_element(By.ID, 'filter-verdict')).select_by_visible_text('FAIL')
        failing = sorted(cells[0].split(' ')[0] for cells in shown_lines(driver))
        self.assertEqual(failing, sorted(row['printer'] for row in self.results['rows'] if line_verdict(row) == 'FAIL'))
        self.assertIn(MOVED, failing)
        driver.find_element(By.LINK_TEXT, MOVED).click()
        self.assertTrue(driver.execute_script(
            'return document.images.length > 0 && Array.from(document.images).every(i => i.complete && i.naturalWidth > 0);'))
        closeups = [image.get_attribute('alt') for image in driver.find_elements(By.CSS_SELECTOR, 'figure img')]
        self.assertIn('top left corner', [alt.split(':')[0] for alt in closeups])
        self.assertEqual([entry for entry in driver.get_log('browser') if entry['level'] == 'SEVERE'], [])

    def test_the_report_of_thousands_of_printers_opens_at_once(self):
        shards = done_shards()
        # As many of the collection's kept shards as make LARGE printers, however many are kept.
        rows, copy = [], 0
        while len({id(row.printer) for row in rows}) < LARGE:
            for number in sorted(shards):
                rows += results.rows_of(shards[number], (copy, number))
                if len({id(row.printer) for row in rows}) >= LARGE:
                    break
            copy += 1
        out = os.path.join(self.work, 'large')
        os.makedirs(out)
        started = time.monotonic()
        write_reports(rows, Run(Margins(('1', '1', '1', '1')), 0.1, out), shards[min(shards)]['run'])
        written = time.monotonic() - started
        seconds = opened(self.driver, os.path.join(out, 'report.html'))
        self.assertEqual(len(shown_lines(self.driver)), len(rows))
        self.assertEqual([entry for entry in self.driver.get_log('browser') if entry['level'] == 'SEVERE'], [])
        print(f'A report of {len({id(row.printer) for row in rows})} printers, {len(rows) * 2} pages: written in '
              f'{written:.1f} s; its overview {os.path.getsize(os.path.join(out, "report.html")) / 1e6:.2f} MB, opened '
              f'in Chromium in {seconds:.2f} s', file=sys.stderr)
        self.driver.set_window_size(1400, 1000)
        opened(self.driver, os.path.join(self.merged, 'report.html'))
        self.driver.save_screenshot(os.path.join(os.environ['PRINTTEST_BUILD'], 'report-overview.png'))

    def test_the_workflow_passes_its_linter_and_runs_the_loops_commands(self):
        linted = subprocess.run([LINTER, WORKFLOW], capture_output=True, text=True)
        self.assertEqual(linted.returncode, 0, linted.stdout + linted.stderr)
        with open(WORKFLOW) as text:
            workflow = yaml.safe_load(text)
        commands = [step['run'] for job in workflow['jobs'].values() for step in job['steps'] if 'run' in step]
        used = [re.search(r'scripts/check-shards\.sh (\w+) ', command).group(1) for command in commands]
        self.assertEqual(used, ['printers', 'numbers', 'shard', 'merge'])
        self.assertEqual(subprocess.run([SHARDS, 'numbers', '3'], capture_output=True, text=True).stdout, '[1,2,3]\n')


if __name__ == '__main__':
    unittest.main()
