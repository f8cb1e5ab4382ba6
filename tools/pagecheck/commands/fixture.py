"""The test fixture (scripts/test-fixture.sh) as the end-to-end test and scripts/printed-page.sh
find it through the environment: PRINTTEST_EXE, PRINTTEST_UIDRIVER, PRINTTEST_BUILD,
CUPS_SERVER, WINEPREFIX and DISPLAY."""
import os
import re
import shutil
import sys
import tempfile

from ..core.modes import BITMAP_CAPTION
from ..core.project import ROOT
from ..core.setup import PageSetup
from ..stack.jobs import PrintQueue, print_page
from ..stack.program import Drivers, Program
from ..stack.spooler import Spooler
from ..stack.wine import prepare_prefix, restore_prefix


def fixture_names():
    """The queue names scripts/test-names.sh gives the fixture."""
    names = {}
    with open(os.path.join(ROOT, 'scripts', 'test-names.sh')) as script:
        for line in script:
            match = re.match(r'^(\w+)=([^$\s]+)\s*$', line)
            if match:
                names[match.group(1)] = match.group(2)
    return names


def environment(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError(f'{name} is not set: run this through CTest or scripts/printed-page.sh')
    return value


def fixture_drivers():
    return Drivers(environment('PRINTTEST_UIDRIVER'))


def fixture_program(drivers=None):
    """printtest.exe started on the fixture's desktop, driven by drivers' uidriver, else by one of
    its own."""
    return Program(environment('PRINTTEST_EXE'), environment('PRINTTEST_UIDRIVER'), drivers and drivers())


def fixture_spooler():
    return Spooler(os.path.dirname(environment('CUPS_SERVER')))


def work_directory():
    return tempfile.mkdtemp(prefix='printing-e2e-', dir=environment('PRINTTEST_BUILD'))


def main(arguments):
    """python3 -m pagecheck.commands.fixture print-page OUTPUT.ps [bitmap]: prints the test page
    once, with half-inch margins, to the fixture's default queue and copies the document that
    reaches it to OUTPUT.ps."""
    if len(arguments) < 2 or arguments[0] != 'print-page':
        raise SystemExit(main.__doc__)
    queue = fixture_names()['QUEUE_SHORT']
    workdir = work_directory()
    prepare_prefix()
    try:
        with fixture_program() as program:
            if arguments[2:] == ['bitmap']:
                program.set_mode(BITMAP_CAPTION)
            program.drive('page-setup', '0.5', '0.5', '0.5', '0.5')
            page = print_page(program, PrintQueue(fixture_spooler(), queue), PageSetup(None, None, None), workdir, queue)
            shutil.copyfile(page.document, arguments[1])
            program.exit()
    finally:
        restore_prefix()
        shutil.rmtree(workdir, True)


if __name__ == '__main__':
    main(sys.argv[1:])
