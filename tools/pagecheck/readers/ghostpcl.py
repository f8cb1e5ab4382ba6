"""GhostPCL's gpcl6, which reads PCL 5 and PCL XL as the printer would: built by
scripts/install-ghostpcl.sh into a cache named by the installed ghostscript's version, and run
once a stream, each page to a file."""
import functools
import os
import re
import subprocess
import tempfile

from PIL import Image

from .base import StreamError

TIMEOUT = 120
# gpcl6's lines that say a stream was refused, and where.
ERROR = re.compile(r'error|warning|unrecoverable|not found|fault', re.IGNORECASE)
POSITION = re.compile(r'file position of error = (\d+)')


@functools.lru_cache(maxsize=None)
def ghostscript_version():
    """The installed ghostscript package's version, which names GhostPCL's cache, or None."""
    try:
        return subprocess.run(['dpkg-query', '-W', '-f=${Version}', 'ghostscript'], capture_output=True,
                              text=True, check=True).stdout.strip() or None
    except (OSError, subprocess.CalledProcessError):
        return None


def cache_folder():
    """Where scripts/install-ghostpcl.sh builds GhostPCL for the installed ghostscript, or None
    when no ghostscript is installed."""
    version = ghostscript_version()
    if not version:
        return None
    base = os.environ.get('PRINTTEST_CACHE') or os.path.join(
        os.environ.get('XDG_CACHE_HOME') or os.path.expanduser('~/.cache'), 'printtest')
    return os.path.join(base, f'ghostpcl-{version}')


def gpcl6():
    """The cached gpcl6's path (it may not be built), or None."""
    folder = cache_folder()
    return folder and os.path.join(folder, 'gpcl6')


def fonts_folder():
    """The resident fonts gpcl6 is given as PCLFONTSOURCE, ending in '/' as it wants."""
    return os.path.join(cache_folder(), 'fonts') + '/'


def built_version():
    """The name of the cache of the GhostPCL built for the installed ghostscript, or None where
    none is built."""
    folder = cache_folder()
    return os.path.basename(folder) if folder and os.path.isdir(folder) else None


def refusal(kind, stderr):
    """The one line that says why gpcl6 refused a stream, and where."""
    lines = [line.strip() for line in stderr.splitlines() if line.strip()]
    named = [line for line in lines if line.startswith(('Error:', 'Warning:'))]
    reason = ' '.join((named or [line for line in lines if ERROR.search(line)] or lines)[0].split())
    position = POSITION.search(stderr)
    return f'{kind} stream refused by gpcl6: {reason}' + (f' at byte {position.group(1)}' if position else '')


def rasterize(kind, data, dpi, pjl):
    """gpcl6's pages of the stream at dpi, as 'L' images; pjl are the PJL lines it is given
    before the stream."""
    binary = gpcl6()
    if not binary or not os.access(binary, os.X_OK):
        raise StreamError(f'{kind} is read by GhostPCL, which is not built: run scripts/install-ghostpcl.sh')
    with tempfile.TemporaryDirectory(prefix='pcl-') as folder:
        stream = os.path.join(folder, 'stream')
        with open(stream, 'wb') as out:
            out.write(data)
        command = [binary, '-sDEVICE=pgmraw', f'-r{dpi[0]}x{dpi[1]}', '-dNOPAUSE', '-dBATCH', '-dSAFER',
                   '-sOutputFile=' + os.path.join(folder, 'page-%04d.pgm')]
        command += ['-J' + ';'.join(pjl)] if pjl else []
        try:
            done = subprocess.run(command + [stream], capture_output=True, timeout=TIMEOUT,
                                  env=dict(os.environ, PCLFONTSOURCE=fonts_folder()))
        except subprocess.TimeoutExpired:
            raise StreamError(f'{kind} stream: gpcl6 did not finish in {TIMEOUT} s') from None
        stderr = done.stderr.decode('utf-8', 'replace')
        if done.returncode < 0:
            raise StreamError(f'{kind} stream: gpcl6 crashed (signal {-done.returncode})')
        if done.returncode or ERROR.search(stderr):
            raise StreamError(refusal(kind, stderr or f'exit status {done.returncode}'))
        images = []
        for name in sorted(os.listdir(folder)):
            if name.startswith('page-'):
                with Image.open(os.path.join(folder, name)) as page:
                    images.append(page.convert('L'))
    if not images:
        raise StreamError(f'{kind} stream has no page')
    return images
