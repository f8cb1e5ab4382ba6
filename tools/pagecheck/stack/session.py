"""What a check runs in, started for it and stopped after it: an X display of its own (Xvfb
picks a free one), a private CUPS scheduler in a temporary folder with a file-backed queue per
printer and paper, and a Wine prefix kept under the build folder, so later runs start at once."""
import os
import shutil
import subprocess
import tempfile

from .ipp import add_queue as add_driverless_queue
from .spooler import Spooler
from .wine import prepare_prefix
from ..core.project import ROOT
from ..core.setup import SERVERBIN

CUPS_SCRIPT = os.path.join(ROOT, 'scripts', 'cups-private.sh')


def cups(function, folder, *arguments):
    subprocess.run(['bash', '-c', '. "$0" && "$@"', CUPS_SCRIPT, function, folder, *arguments], check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)


class Session:
    """slot numbers the sessions of one check that run at once; each has its own Wine prefix in the
    build folder, check-prefix, check-prefix-2, ... (PRINTTEST_CHECK_PREFIX names another stem, for
    checks run at once from one build); the scheduler runs the filters, backends and drivers of
    serverbin."""

    def __init__(self, build, metric, slot=1, serverbin=SERVERBIN):
        self.build = build
        self.serverbin = serverbin
        self.metric = metric
        stem = os.environ.get('PRINTTEST_CHECK_PREFIX', 'check-prefix')
        self.prefix_name = stem if slot == 1 else f'{stem}-{slot}'
        self.prefix = None
        self.temp = tempfile.mkdtemp(prefix='printtest-check-')
        # The scheduler's filters run as another user, inside this folder.
        os.chmod(self.temp, 0o755)
        self.cups = os.path.join(self.temp, 'cups')
        self.xvfb = None
        self.spooler = None

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        # Xvfb writes the number of the free display it took once it is ready.
        self.xvfb = subprocess.Popen(['Xvfb', '-displayfd', '1', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     start_new_session=True)
        display = self.xvfb.stdout.readline().decode().strip()
        if not display:
            raise RuntimeError('Xvfb did not start')
        cups('cups_start', self.cups, self.serverbin)
        os.environ.update({'DISPLAY': ':' + display, 'CUPS_SERVER': os.path.join(self.cups, 'cups.sock'),
                           'WINEPREFIX': os.path.join(self.build, self.prefix_name)})
        self.spooler = Spooler(self.cups)
        self.prefix = os.environ['WINEPREFIX']
        subprocess.run([os.path.join(ROOT, 'scripts', 'wine-prefix.sh')], check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The prefix's wineserver is kept up until the session stops: left to itself it shuts
        # down a few seconds after the last program of the prefix ends, as between the settings
        # made here and the first program, and a program starting as it does loses it ("wine
        # client error: recvmsg: Connection reset by peer").
        subprocess.run(['wineserver', '-p'], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        prepare_prefix(self.metric)

    def add_queue(self, name, ppd, paper, device=None, options=()):
        """A queue writing to a file, with the printer's PPD and paper as its default (the PPD's own
        when None), or for a driverless printer at device the IPP Everywhere queue CUPS makes for
        it; options are more of lpadmin's -o settings. It is made the default printer."""
        if device:
            add_driverless_queue(self, name, device, paper, [f'-o{option}' for option in options])
        else:
            subprocess.run(['lpadmin', '-p', name, '-E', '-v', f'file://{self.spooler.output(name)}', '-P', ppd,
                            *(['-o', f'PageSize={paper}'] if paper else []), *(f'-o{option}' for option in options)],
                           check=True, capture_output=True)
        subprocess.run(['lpadmin', '-d', name], check=True, capture_output=True)

    def stop(self):
        if self.prefix:
            subprocess.run(['wineserver', '-k'], stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        cups('cups_stop', self.cups)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()
        shutil.rmtree(self.temp, True)
