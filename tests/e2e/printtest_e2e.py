"""The parts of the end-to-end test that talk to the outside: printtest.exe under Wine and the
uidriver.exe that drives it, the private CUPS scheduler, Ghostscript, and the measuring of a
rendered sheet. scripts/printed-page.sh uses them too.

The environment names the fixture: PRINTTEST_EXE, PRINTTEST_UIDRIVER, PRINTTEST_BUILD,
CUPS_SERVER, WINEPREFIX and DISPLAY.
"""
import csv
import glob
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, 'scripts', 'wine-run.sh')

DIRECT_CAPTION = 'Print Mode: Direct Print'
BITMAP_CAPTION = 'Print Mode: Bitmap Print'
IDM_MODE_DIRECT = 3
IDM_MODE_BITMAP = 4

# Only reached when something hangs.
STEP_TIMEOUT = 180
JOB_TIMEOUT = 180


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


def wine(*args):
    """Runs a Windows program to its end; returns its exit code and what it wrote. The output goes
    through a file: the first Wine program of a session starts Wine's services, which would hold a
    pipe open long after it ends."""
    with tempfile.TemporaryFile() as output:
        result = subprocess.run([WINE_RUN, *map(str, args)], stdin=subprocess.DEVNULL, stdout=output,
                                stderr=subprocess.STDOUT, timeout=STEP_TIMEOUT)
        output.seek(0)
        return result.returncode, output.read().decode(errors='replace').strip()


def set_registry_value(key, name, value):
    code, output = wine('reg', 'add', key, '/v', name, '/t', 'REG_SZ', '/d', value, '/f')
    if code != 0:
        raise RuntimeError(f'reg add {key} {name} failed: {output}')


def delete_registry_key(key):
    wine('reg', 'delete', key, '/f')


INTERNATIONAL = r'HKCU\Control Panel\International'
# Without a window manager, Wine waits two seconds for every closing dialog to be withdrawn
# by one; windows it leaves unmanaged close at once, as they do on a desktop.
UNMANAGED = r'HKCU\Software\Wine\AppDefaults\printtest.exe\X11 Driver'


def use_metric_units(metric):
    """Sets the locale's measurement system for the programs started from now on."""
    set_registry_value(INTERNATIONAL, 'iMeasure', '0' if metric else '1')


def prepare_prefix():
    """Settings of the Wine prefix for the runs of the program to come: inches, and windows
    that close without waiting for a window manager."""
    set_registry_value(UNMANAGED, 'Managed', 'N')
    use_metric_units(False)


def restore_prefix():
    use_metric_units(False)
    delete_registry_key(UNMANAGED)


class DriverError(AssertionError):
    pass


class Program:
    """printtest.exe running under Wine, used through uidriver.exe as a user would."""

    def __init__(self):
        self.exe = environment('PRINTTEST_EXE')
        self.uidriver = environment('PRINTTEST_UIDRIVER')
        self.process = subprocess.Popen([WINE_RUN, self.exe], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.mode = DIRECT_CAPTION
        try:
            self.drive('wait-window')
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def drive(self, *args):
        """Runs one uidriver step, which must succeed."""
        code, output = wine(self.uidriver, *args)
        if code != 0:
            raise DriverError(f'uidriver {" ".join(map(str, args))} returned {code}: {output}')

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

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=STEP_TIMEOUT)


GET_JOBS = """{
    OPERATION Get-Jobs
    GROUP operation-attributes-tag
    ATTR charset attributes-charset utf-8
    ATTR naturalLanguage attributes-natural-language en
    ATTR uri printer-uri $uri
    ATTR name requesting-user-name $user
    ATTR keyword which-jobs all
    ATTR keyword requested-attributes job-id,job-name,job-state,job-media-sheets-completed
    DISPLAY job-id
    DISPLAY job-name
    DISPLAY job-state
    DISPLAY job-media-sheets-completed
}
"""
FINISHED_STATES = ('completed', 'canceled', 'aborted')


class Job:
    def __init__(self, row):
        self.id = int(row['job-id'])
        self.name = row.get('job-name', '')
        self.state = row.get('job-state', '')
        self.sheets = int(row.get('job-media-sheets-completed') or 0)

    def __repr__(self):
        return f'job {self.id} "{self.name}" {self.state}, {self.sheets} sheet(s)'


class Spooler:
    """The fixture's CUPS scheduler: its jobs and the files its queues write."""

    def __init__(self, workdir):
        self.socket = environment('CUPS_SERVER')
        self.build = environment('PRINTTEST_BUILD')
        self.request = os.path.join(workdir, 'get-jobs.test')
        with open(self.request, 'w') as request:
            request.write(GET_JOBS)

    def ppd_value(self, queue, keyword):
        with open(os.path.join(self.build, 'cups', 'ppd', queue + '.ppd'), errors='replace') as ppd:
            for line in ppd:
                if line.startswith(f'*{keyword}:'):
                    return line.split(':', 1)[1].strip()
        return None

    def resolution(self, queue):
        return int(re.match(r'(\d+)', self.ppd_value(queue, 'DefaultResolution') or '300').group(1))

    def landscape_turn(self, queue):
        return self.ppd_value(queue, 'LandscapeOrientation') or 'Plus90'

    def output(self, queue):
        return os.path.join(self.build, 'cups', 'out', queue + '.ps')

    def jobs(self, queue):
        uri = f'ipp://{urllib.parse.quote(self.socket, safe="")}/printers/{queue}'
        result = subprocess.run(['ipptool', '-c', uri, self.request], capture_output=True, text=True,
                                timeout=STEP_TIMEOUT)
        if result.returncode != 0:
            raise RuntimeError(f'ipptool failed: {result.stdout}{result.stderr}')
        return sorted((Job(row) for row in csv.DictReader(io.StringIO(result.stdout)) if row.get('job-id')),
                      key=lambda job: job.id)

    def last_job(self, queue):
        jobs = self.jobs(queue)
        return jobs[-1].id if jobs else 0

    def wait_for_jobs(self, queue, after, count):
        """Waits until count jobs newer than job after have finished; returns all newer jobs."""
        deadline = time.monotonic() + JOB_TIMEOUT
        while True:
            newer = [job for job in self.jobs(queue) if job.id > after]
            if len(newer) >= count and all(job.state in FINISHED_STATES for job in newer):
                return newer
            if time.monotonic() > deadline:
                raise AssertionError(f'{queue}: waited for {count} job(s) after job {after}, have {newer}')
            time.sleep(0.1)


def document_title(postscript):
    with open(postscript, 'rb') as document:
        for line in document:
            if line.startswith(b'%%Title:'):
                return line[8:].strip().decode('latin-1')
            if line.startswith(b'%%EndComments'):
                break
    return None


def render(postscript, dpi, workdir):
    """Renders the document with Ghostscript as 8-bit grey, one file per page; returns the files
    in page order."""
    for old in glob.glob(os.path.join(workdir, 'page-*.pgm')):
        os.remove(old)
    subprocess.run(['gs', '-q', '-dSAFER', '-dBATCH', '-dNOPAUSE', '-sDEVICE=pgmraw', f'-r{dpi}',
                    f'-sOutputFile={os.path.join(workdir, "page-%03d.pgm")}', postscript],
                   check=True, timeout=STEP_TIMEOUT, stdin=subprocess.DEVNULL)
    return sorted(glob.glob(os.path.join(workdir, 'page-*.pgm')))


INK = bytes(1 if value < 128 else 0 for value in range(256))
INK_RUN = re.compile(b'\x01+')


class Sheet:
    """A rendered page as Ghostscript's raw PGM gives it, reduced to ink (1) and paper (0)."""

    def __init__(self, path):
        with open(path, 'rb') as image:
            data = image.read()
        fields = []
        position = 0
        while len(fields) < 4:
            while data[position:position + 1].isspace():
                position += 1
            if data[position:position + 1] == b'#':
                position = data.index(b'\n', position) + 1
                continue
            end = position
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[position:end])
            position = end
        if fields[0] != b'P5' or int(fields[3]) != 255:
            raise ValueError(f'{path}: not an 8-bit raw PGM')
        self.width = int(fields[1])
        self.height = int(fields[2])
        self.ink = data[position + 1:position + 1 + self.width * self.height].translate(INK)


class View:
    """A sheet seen the way its page was laid out: a landscape page is turned back upright.
    turn is the PPD's LandscapeOrientation: Plus90 puts the page's left edge at the bottom of
    the sheet, Minus90 at its top."""

    def __init__(self, sheet, turn=None):
        self.sheet = sheet
        self.turn = turn
        if turn:
            self.width, self.height = sheet.height, sheet.width
        else:
            self.width, self.height = sheet.width, sheet.height

    def row(self, y):
        s = self.sheet
        if self.turn == 'Plus90':
            return s.ink[y::s.width][::-1]
        if self.turn == 'Minus90':
            return s.ink[s.width - 1 - y::s.width]
        return s.ink[y * s.width:(y + 1) * s.width]

    def column(self, x):
        s = self.sheet
        if self.turn == 'Plus90':
            y = s.height - 1 - x
            return s.ink[y * s.width:(y + 1) * s.width]
        if self.turn == 'Minus90':
            return s.ink[x * s.width:(x + 1) * s.width][::-1]
        return s.ink[x::s.width]


def runs(line):
    """The runs of ink along a row or a column, as (start, end) with end exclusive."""
    return [match.span() for match in INK_RUN.finditer(line)]


def nearest_run(line, position):
    found = runs(line)
    if not found:
        return None
    return min(found, key=lambda run: abs((run[0] + run[1]) / 2 - position))


def centre(run):
    return (run[0] + run[1]) / 2


class Placement:
    """Where the program should put the test page on the sheet: the border's outer edges at
    the margins, measured from the sheet's edges, in printer pixels (fractions kept)."""

    def __init__(self, dpi, margins, metric, width, height):
        units = 2540.0 if metric else 1000.0
        scale = 100 if metric else 1000
        left, top, right, bottom = (round(float(text) * scale) for text in margins)
        self.dpi = dpi
        self.left = dpi * left / units
        self.top = dpi * top / units
        self.right = width - dpi * right / units
        self.bottom = height - dpi * bottom / units
        self.inset = round(dpi / 32)


class Measurement:
    """The figures of one printed page, measured on its view against where it belongs."""

    FRACTIONS = (0.1, 0.3, 0.7, 0.9)

    def __init__(self, view, placement):
        self.view = view
        self.placement = placement
        self.measure_border()
        self.measure_diagonals()
        self.measure_ellipse()
        self.measure_text()

    def measure_border(self):
        """Outer edges and stroke widths of the border, along rows and columns that cross the
        page away from its middle, where the text line is."""
        lay = self.placement
        self.left, self.right, self.top, self.bottom, self.strokes = [], [], [], [], []
        for fraction in self.FRACTIONS:
            y = int(lay.top + fraction * (lay.bottom - lay.top))
            found = runs(self.view.row(y))
            if found:
                self.left.append(found[0][0])
                self.right.append(found[-1][1])
                self.strokes += [found[0][1] - found[0][0], found[-1][1] - found[-1][0]]
            x = int(lay.left + fraction * (lay.right - lay.left))
            found = runs(self.view.column(x))
            if found:
                self.top.append(found[0][0])
                self.bottom.append(found[-1][1])
                self.strokes += [found[0][1] - found[0][0], found[-1][1] - found[-1][0]]

    def measure_diagonals(self):
        """How far the diagonals' strokes lie from the lines joining the border's corners (the
        centres of its strokes), at points outside the ellipse, whose white inside covers them."""
        lay = self.placement
        x0, y0 = lay.left + lay.inset, lay.top + lay.inset
        x1, y1 = lay.right - lay.inset, lay.bottom - lay.inset
        self.diagonal_errors = []
        for fraction in (0.1, 0.25, 0.75, 0.9):
            y = int(y0 + fraction * (y1 - y0))
            along = (y + 0.5 - y0) / (y1 - y0)
            line = self.view.row(y)
            for expected in (x0 + along * (x1 - x0), x1 - along * (x1 - x0)):
                run = nearest_run(line, expected)
                self.diagonal_errors.append(abs(centre(run) - expected) if run else float('inf'))

    def measure_ellipse(self):
        """How far the ellipse's stroke lies from the ellipse inscribed in the middle half of the
        page: at its top and bottom, and at 3/5 of its half-height up and down, where it is 4/5 of
        its half-width wide."""
        lay = self.placement
        cx, cy = (lay.left + lay.right) / 2, (lay.top + lay.bottom) / 2
        a, b = (lay.right - lay.left) / 4, (lay.bottom - lay.top) / 4
        self.ellipse_errors = []
        column = runs(self.view.column(int(cx)))
        if len(column) >= 4:
            self.ellipse_errors += [abs(centre(column[1]) - (cy - b)), abs(centre(column[-2]) - (cy + b))]
        else:
            self.ellipse_errors.append(float('inf'))
        for dy in (-0.6 * b, 0.6 * b):
            y = int(cy + dy)
            line = self.view.row(y)
            for expected in (cx - 0.8 * a, cx + 0.8 * a):
                run = nearest_run(line, expected)
                self.ellipse_errors.append(abs(centre(run) - expected) if run else float('inf'))
        self.ellipse = (cx, cy, a, b)

    def measure_text(self):
        """The ink box of the text line. Its rows are found inside the ellipse, where nothing
        else is drawn; across them, the ink between the border's strokes is the text's, apart
        from the ellipse's stroke where the text's white background leaves it."""
        lay = self.placement
        cx, cy, a, b = self.ellipse
        x0, x1 = int(cx - a / 2), int(cx + a / 2)
        rows = [y for y in range(int(cy - b / 2), int(cy + b / 2)) if 1 in self.view.row(y)[x0:x1]]
        if not rows:
            self.text = None
            return
        top, bottom = rows[0], rows[-1] + 1
        inner_left = lay.left + 2 * lay.inset + 2
        inner_right = lay.right - 2 * lay.inset - 2
        pen = lay.dpi / 16
        left, right = None, None
        for y in range(top, bottom):
            spread = max(0.0, 1 - ((y + 0.5 - cy) / b) ** 2) ** 0.5 * a
            for start, end in runs(self.view.row(y)):
                if start < inner_left or end > inner_right:
                    continue
                if any(abs(centre((start, end)) - (cx + side * spread)) < pen for side in (-1, 1)):
                    continue
                left = start if left is None else min(left, start)
                right = end if right is None else max(right, end)
        self.text = (left, top, right, bottom)

    def edges(self):
        return {'left': self.left, 'top': self.top, 'right': self.right, 'bottom': self.bottom}


class PrintedPage:
    """One job as it reached the queue: the CUPS job, its document's title and page count, and
    the figures of its first page when the margins it was laid out with are given."""

    def __init__(self, job, postscript, dpi, turn, workdir, margins=None, metric=False):
        self.job = job
        self.dpi = dpi
        self.title = document_title(postscript)
        files = render(postscript, dpi, workdir)
        self.pages = len(files)
        self.sheet_size = None
        self.measurement = None
        if files:
            sheet = Sheet(files[0])
            self.sheet_size = (sheet.width, sheet.height)
            view = View(sheet, turn)
            if margins:
                self.measurement = Measurement(view, Placement(dpi, margins, metric, view.width, view.height))


def print_page(program, spooler, queue, workdir, printer=None, margins=None, metric=False, landscape=False):
    """Prints the page the program shows and waits for its job on queue; returns it rendered.
    printer is the name to pick in the Print dialog; without one the dialog's choice stands."""
    before = spooler.last_job(queue)
    # The queue writes each job over the last; no file afterwards means no output at all.
    if os.path.exists(spooler.output(queue)):
        os.remove(spooler.output(queue))
    program.drive('print', *([printer] if printer else []))
    jobs = spooler.wait_for_jobs(queue, before, 1)
    if len(jobs) != 1:
        raise AssertionError(f'one print gave the jobs {jobs}')
    if not os.path.exists(spooler.output(queue)):
        raise AssertionError(f'{jobs[0]} wrote nothing to {spooler.output(queue)}')
    kept = os.path.join(workdir, f'{queue}-{jobs[0].id}.ps')
    shutil.copyfile(spooler.output(queue), kept)
    turn = spooler.landscape_turn(queue) if landscape else None
    return PrintedPage(jobs[0], kept, spooler.resolution(queue), turn, workdir, margins, metric)


def work_directory():
    return tempfile.mkdtemp(prefix='printing-e2e-', dir=environment('PRINTTEST_BUILD'))


def main(arguments):
    """printtest_e2e.py print-page OUTPUT.ps [bitmap]: prints the test page once, with half-inch
    margins, to the fixture's default queue and copies the document that reaches it to OUTPUT.ps."""
    if len(arguments) < 2 or arguments[0] != 'print-page':
        raise SystemExit(main.__doc__)
    queue = fixture_names()['QUEUE_SHORT']
    workdir = work_directory()
    prepare_prefix()
    try:
        spooler = Spooler(workdir)
        with Program() as program:
            if arguments[2:] == ['bitmap']:
                program.set_mode(BITMAP_CAPTION)
            program.drive('page-setup', '0.5', '0.5', '0.5', '0.5')
            before = spooler.last_job(queue)
            program.drive('print', queue)
            job = spooler.wait_for_jobs(queue, before, 1)[-1]
            if job.state != 'completed':
                raise SystemExit(f'the job did not complete: {job}')
            shutil.copyfile(spooler.output(queue), arguments[1])
            program.exit()
    finally:
        restore_prefix()
        shutil.rmtree(workdir, True)


if __name__ == '__main__':
    main(sys.argv[1:])
