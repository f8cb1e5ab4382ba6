"""The end of a run's report: its summary (printers, pages, failures by check, where the time went)
and the reports written."""
import os

from .details import write_details
from .junit import write_junit
from .markdown import write_md
from .overview import write_overview
from .rows import STEPS, findings_of
from ..core.setup import SERVERBIN

def summary(rows):
    """Lines saying how many printers and pages were checked, how many passed, the failures by
    check, and where the pages' time went."""
    printers = {id(row.printer) for row in rows}
    pages = [(row, caption) for row in rows for caption in row.checks]
    passed = sum(row.summary(caption) == 'pass' for row, caption in pages)
    disputed = sum(row.page_verdict(caption) == 'disputed' for row, caption in pages)
    unmeasured = sum(row.summary(caption).startswith('not measured') for row, caption in pages)
    failures = {}
    for row in rows:
        for _, check in row.all_checks():
            if check.passed is False:
                failures[check.name] = failures.get(check.name, 0) + 1
    unusable = sum(1 for row in rows if row.problem)
    lines = [f'{len(printers)} printer(s), {len(pages)} page(s): {passed} passed every check, '
             f'{len(pages) - passed - unmeasured - disputed} failed one, '
             f'{f"{disputed} disputed, " if disputed else ""}{unmeasured} could not be measured; '
             f'{unusable} printer, paper or orientation could not be checked']
    lines.append('Failures by check: ' + (', '.join(f'{name} {count}' for name, count in failures.items()) or 'none'))
    found = findings_of(rows)
    if found:
        lines.append('Findings: ' + ', '.join(f'{finding.id if finding else "unexplained"} {count}'
                                              for finding, count in found) +
                     f'; {sum(count for finding, count in found if finding and finding.confidence == "disputed")} '
                     f'disputed, {sum(count for finding, count in found if not finding)} unexplained')
    steps = {}
    for row in rows:
        for step, seconds in row.steps.items():
            steps[step] = steps.get(step, 0.0) + seconds
    if pages and steps:
        total = sum(steps.values())
        ordered = sorted(steps, key=lambda step: STEPS.index(step) if step in STEPS else len(STEPS))
        lines.append(f'Time per page: {total / len(pages):.2f} s, of it ' +
                     ', '.join(f'{step} {steps[step] / len(pages):.2f} s' for step in ordered))
    return lines


def report_run(rows, run, say, record, notes=()):
    """Writes the reports into the run's folder and says the summary, notes at its end; returns
    the exit status. record is what made the run (results.json's run)."""
    passed = write_reports(rows, run, record, notes) and not notes
    for line in summary(rows) + list(notes):
        say(line)
    say(f'{"PASS" if passed else "FAIL"}: {os.path.join(run.out, "report.html")}')
    return 0 if passed else 1


def write_reports(rows, run, record, notes=()):
    """Writes the reports into the run's folder, notes at the summary's end: report.html and a page
    for each printer, report.md and junit.xml; returns whether every check of every row passed."""
    folder = run.out
    heading = (f'Margins {",".join(run.margins.texts)} {run.margins.unit} (left, top, right, bottom), tolerance '
               f'{run.tolerance} mm (at least 2 printer pixels)')
    if run.serverbin != SERVERBIN:
        heading += f'; filters, backends and drivers from {run.serverbin}'
    ending = summary(rows) + list(notes)
    links = write_details(rows, folder, heading)
    write_overview(rows, links, os.path.join(folder, 'report.html'), heading, ending, record)
    write_md(rows, os.path.join(folder, 'report.md'), heading, ending)
    write_junit(rows, os.path.join(folder, 'junit.xml'))
    return all(row.passed() for row in rows)
