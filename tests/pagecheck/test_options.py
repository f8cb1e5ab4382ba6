"""The check's choices before anything starts, on real PPDs read through libcups: which printers
a shard holds, which page sizes --paper names (PWG media names matched by their dimensions, all of
them, sizes the margins leave no room on), bad arguments, to the check and to judge-page.sh; a queue
that cannot be made; and the report's rows of a printer that cannot be used and its summary."""
import contextlib
import io
import os
import shutil
import subprocess
import tempfile
import types
import unittest

from pagecheck.commands.check import Counter, SessionCheck, main, parse
from pagecheck.commands.judge import main as judge_main
from pagecheck.core.setup import Margins, Run
from pagecheck.measure.checks import ONE_PAGE, TITLED, Check
from pagecheck.report.rows import Row
from pagecheck.report.summary import summary, write_reports

# A4 by default; Letter, Legal, Executive, A4, JISB5, ISOB5 and two envelopes.
BROTHER = 'openprinting-ppds:0/ppd/openprinting/Brother/BR2600CN_GPL.ppd'
# Six sizes, A5 (420 x 595 points) and Statement (396 x 612) the narrowest.
LANIER = 'openprinting-ppds:0/ppd/openprinting/Lanier/PS/Lanier-LP031c_PS.ppd'


class OptionsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='options-')
        cls.ppds = {}
        for name, uri in (('brother', BROTHER), ('lanier', LANIER)):
            cls.ppds[name] = os.path.join(cls.work, name + '.ppd')
            with open(cls.ppds[name], 'wb') as ppd:
                ppd.write(subprocess.run(['/usr/lib/cups/daemon/cups-driverd', 'cat', uri], capture_output=True,
                                         check=True).stdout)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, True)

    def test_shards_hold_every_printer_once(self):
        printers = []
        for number in range(5):
            printers.append(os.path.join(self.work, f'p{number}.ppd'))
            shutil.copyfile(self.ppds['brother'], printers[-1])
        shares = [[printer.name for printer in parse(['--shard', f'{index}/3', *printers]).printers]
                  for index in (1, 2, 3)]
        self.assertEqual(shares, [['p0', 'p3'], ['p1', 'p4'], ['p2']])

    def test_paper_names_pwg_names_and_all(self):
        papers = parse(['--paper', 'iso_a4_210x297mm,na_letter_8.5x11in,jis_b5_182x257mm,Legal,A4',
                        self.ppds['brother']]).papers
        self.assertEqual(papers, [['A4', 'Letter', 'JISB5', 'Legal']])
        self.assertEqual(parse([self.ppds['brother']]).papers, [['A4']])
        # Sizes the margins leave no room on are printed on with all, refused when named.
        everything = parse(['--paper', 'all', '--margins', '3,1,3,1', self.ppds['lanier']]).papers
        self.assertEqual(everything, [['A4', 'A5', 'Legal', 'Letter', 'Statement', 'Executive']])

    def test_a_queue_that_cannot_be_made_is_a_failed_row_per_orientation(self):
        class Scheduler:
            temp = self.work

            def add_queue(self, *arguments):
                raise subprocess.CalledProcessError(1, ['lpadmin'])

        checking = parse(['--orientation', 'both', self.ppds['brother']])
        with contextlib.redirect_stdout(io.StringIO()) as said:
            rows, completing = SessionCheck(checking, Scheduler(), None, Counter(4)).check_printer(0)
        self.assertEqual([(row.paper, row.orientation, row.problem) for row in rows], [
            ('A4', orientation, "CalledProcessError: Command '['lpadmin']' returned non-zero exit status 1.")
            for orientation in ('portrait', 'landscape')])
        self.assertIsNone(completing)
        self.assertIn('[4/4] brother A4 landscape: FAIL (CalledProcessError', said.getvalue())

    def test_bad_arguments_exit_2_naming_the_fault(self):
        cases = {('--jobs', '0'): '--jobs: 0 is not 1 or more',
                 ('--shard', '3/2'): '--shard: 3/2 is not I/N',
                 ('--shard', '0/2'): '--shard: 0/2 is not I/N',
                 ('--paper', 'iso_zz'): 'iso_zz is not one of Letter, Legal',
                 ('--paper', 'iso_a5_148x210mm'): 'iso_a5_148x210mm, 148 x 210 mm, is none of its page sizes',
                 ('--paper', 'A5', '--margins', '3,1,3,1'): 'leave no room on A5 portrait'}
        for arguments, message in cases.items():
            with self.subTest(arguments=arguments):
                said = io.StringIO()
                ppd = self.ppds['lanier' if 'A5' in arguments else 'brother']
                with contextlib.redirect_stderr(said):
                    self.assertEqual(main([*arguments, ppd]), 2)
                self.assertIn(message, said.getvalue())

    def test_judge_page_refuses_a_file_it_cannot_open_or_place_exit_2_naming_why(self):
        page = os.path.join(self.work, 'untitled.ps')
        with open(page, 'w') as untitled:
            untitled.write('%!PS\nnewpath 72 72 moveto 540 720 lineto stroke showpage\n')
        locked = os.path.join(self.work, 'locked.prn')
        shutil.copyfile(page, locked)
        os.chmod(locked, 0)
        cases = {(os.path.join(self.work, 'none.prn'),): 'none.prn: no such file',
                 (self.work,): f'{self.work}: is a directory',
                 (page,): 'the file names no paper; give --paper or --printer',
                 ('--paper', 'A4', page): 'the file carries no title naming the mode; give --mode',
                 ('--paper', 'Z9', page): '--paper: Z9 is neither a paper name CUPS knows nor WxHmm',
                 ('--paper', '100x100mm', '--margins', '2,1,2,1', page): 'they leave no room on 100x100mm portrait'}
        # Root reads any file.
        if not os.access(locked, os.R_OK):
            cases[(locked,)] = 'locked.prn: permission denied'
        for arguments, message in cases.items():
            with self.subTest(arguments=arguments):
                said = io.StringIO()
                with contextlib.redirect_stderr(said), contextlib.redirect_stdout(io.StringIO()):
                    self.assertEqual(judge_main(['--out', os.path.join(self.work, 'judged'), *arguments]), 2)
                self.assertIn(message, said.getvalue())


class ReportTest(unittest.TestCase):
    def test_rows_grouped_by_paper_failed_rows_and_summary(self):
        printer = types.SimpleNamespace(name='P', model='Model')
        broken = types.SimpleNamespace(name='Broken', model='Broken')
        good, bad, unusable = Row(printer, 'A4', 'portrait'), Row(printer, 'Letter', 'portrait'), Row(broken, None, None)
        unread = Row(printer, 'Letter', 'landscape')
        for row, titled in ((good, True), (bad, False), (unread, None)):
            row.add('Print Mode: Direct Print', object(), [Check(ONE_PAGE, True, '1 page'), Check(TITLED, titled, 't')],
                    '')
            row.time({'job': 0.25, 'render': 0.5})
        unusable.fail('cannot be used: its PPD needs the filter x, which is not installed')
        rows = [good, unusable, bad, unread]
        self.assertEqual(summary(rows), [
            '2 printer(s), 3 page(s): 1 passed every check, 1 failed one, 1 could not be measured; 1 printer, paper or '
            'orientation could not be checked',
            'Failures by check: set up 1, titled with the mode 1',
            'Findings: unexplained 1; 0 disputed, 1 unexplained',
            'Time per page: 0.75 s, of it job 0.25 s, render 0.50 s'])
        with tempfile.TemporaryDirectory() as out:
            self.assertFalse(write_reports(rows, Run(Margins(('1', '1', '1', '1')), 0.1, out), {}))
            with open(os.path.join(out, 'report.md')) as report:
                markdown = report.read()
        groups = [line for line in markdown.splitlines() if line.startswith('## ')]
        self.assertEqual(groups, ['## Findings', '## A4', '## Letter', '## No paper: the printer could not be set up',
                                  '## Summary'])
        self.assertIn('| Broken |  |  |  | FAIL | FAIL (set up): cannot be used: its PPD needs the filter x', markdown)
        self.assertIn('| P | Letter | landscape | Direct Print | not measured | pass: 1 page | not measured', markdown)


if __name__ == '__main__':
    unittest.main()
