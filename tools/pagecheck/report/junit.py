"""junit.xml: a test suite per row, a test case per check."""
from xml.sax.saxutils import escape, quoteattr

def write_junit(rows, path):
    suites = []
    for row in rows:
        cases = []
        for mode, check in row.all_checks():
            case = f'<testcase classname={quoteattr(row.title)} name={quoteattr(f"{mode}: {check.name}")}>'
            if check.passed is False:
                case += f'<failure message={quoteattr(check.figure)}/>'
            elif check.passed is None:
                case += f'<failure message={quoteattr("not measured: " + check.figure)} type="not measured"/>'
            else:
                case += f'<system-out>{escape(check.figure)}</system-out>'
            cases.append(case + '</testcase>')
        failures = sum(check.passed is not True for _, check in row.all_checks())
        suites.append(f'<testsuite name={quoteattr(row.title)} tests="{len(cases)}" failures="{failures}">'
                      + ''.join(cases) + '</testsuite>')
    with open(path, 'w') as report:
        report.write('<?xml version="1.0" encoding="UTF-8"?>\n<testsuites>' + '\n'.join(suites) + '</testsuites>\n')
