"""printtest.exe under Wine, used through uidriver.exe as a user would."""
import os
import re
import select
import subprocess
import tempfile
import time

from .wine import STEP_TIMEOUT, WINE_RUN
from ..core.modes import BITMAP_CAPTION, DIRECT_CAPTION

IDM_MODE_DIRECT = 3
IDM_MODE_BITMAP = 4


class DriverError(AssertionError):
    pass


class Driver:
    """uidriver.exe taking steps one a line (uidriver serve): a run of steps starts Wine once,
    where a start costs about a tenth of a second."""

    DONE = re.compile(rb'uidriver: (\d+)\r?\n')

    def __init__(self, uidriver):
        self.process = subprocess.Popen([WINE_RUN, uidriver, 'serve'], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT)
        self.output = b''

    def step(self, *args):
        """Runs one step; returns what it returned and what it wrote."""
        self.process.stdin.write('\t'.join(map(str, args)).encode() + b'\n')
        self.process.stdin.flush()
        deadline = time.monotonic() + STEP_TIMEOUT
        while not self.DONE.search(self.output):
            pipe = self.process.stdout.fileno()
            if not select.select([pipe], [], [], max(0, deadline - time.monotonic()))[0]:
                raise subprocess.TimeoutExpired(['uidriver', *map(str, args)], STEP_TIMEOUT)
            chunk = os.read(pipe, 65536)
            if not chunk:
                return None, self.output.decode(errors='replace').strip()
            self.output += chunk
        done = self.DONE.search(self.output)
        written, self.output = self.output[:done.start()], self.output[done.end():]
        return int(done.group(1)), written.decode(errors='replace').strip()

    def running(self):
        return self.process.poll() is None

    def close(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class Drivers:
    """One uidriver for programs run one after another: called, the running one, or a new one once
    the last was closed. Besides sparing a start of Wine a program, it keeps Wine's desktop up
    between them: a second after the last program of a prefix ends, Wine closes the desktop and
    its explorer.exe, to start both again for the next one."""

    def __init__(self, uidriver):
        self.uidriver = uidriver
        self.started = []

    def __call__(self):
        if not self.started or not self.started[-1].running():
            self.started.append(Driver(self.uidriver))
        return self.started[-1]

    def close(self):
        for driver in self.started:
            driver.close()


class Program:
    """printtest.exe running under Wine, used through uidriver.exe as a user would. driver, a
    running Driver, drives it in place of one started for it: programs run one after another
    can share one, each sparing a start of Wine; it is closed with the program only when
    something failed, as it may then be in the middle of a step."""

    def __init__(self, exe, uidriver, driver=None):
        # What Wine writes for the program goes to a file, told when its window never comes.
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen([WINE_RUN, exe], stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=subprocess.STDOUT)
        self.mode = DIRECT_CAPTION
        self.shared = driver is not None
        self.driver = driver
        try:
            self.driver = driver or Driver(uidriver)
            self.drive('wait-window')
        except DriverError as error:
            state = self.state()
            self.close(failed=True)
            raise DriverError(f'{error}; {state}') from None
        except BaseException:
            self.close(failed=True)
            raise

    def __enter__(self):
        return self

    def __exit__(self, kind, *exc):
        self.close(failed=kind is not None)

    def drive(self, *args):
        """Runs one uidriver step, which must succeed; returns what it wrote."""
        code, output = self.driver.step(*args)
        if code != 0:
            raise DriverError(f'uidriver {" ".join(map(str, args))} returned {code}: {output}')
        return output

    def answer_message(self):
        """Waits until the program has done what it was asked; returns the text of the message
        box it showed instead, which is answered with OK, or None."""
        return self.drive('message') or None

    def memory(self):
        """The program's private memory in bytes."""
        return int(self.drive('memory').split()[-1])

    def set_mode(self, caption):
        """Chooses the mode item of the File menu when the program is in the other mode: either
        item switches to the other mode."""
        if caption != self.mode:
            self.drive('command', IDM_MODE_BITMAP if caption == BITMAP_CAPTION else IDM_MODE_DIRECT)
            self.mode = caption

    def exit(self):
        """File > Exit; returns the process's exit code."""
        self.drive('exit')
        return self.process.wait(timeout=STEP_TIMEOUT)

    def state(self):
        """Whether the program still runs or how it ended, and the last lines Wine wrote for it."""
        code = self.process.poll()
        state = 'the program still runs' if code is None else f'the program ended with exit code {code}'
        self.log.seek(0)
        lines = self.log.read().decode(errors='replace').strip().splitlines()[-8:]
        return state + (': ' + ' | '.join(lines) if lines else ', Wine wrote nothing')

    def close(self, failed=False):
        if self.driver and (failed or not self.shared):
            self.driver.close()
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=STEP_TIMEOUT)
        self.log.close()
