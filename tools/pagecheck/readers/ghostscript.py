"""Ghostscript, which renders PostScript and PDF: run once a document, each page to a file."""
import glob
import os
import re
import subprocess

from .base import StreamError

# Only reached when something hangs.
TIMEOUT = 180
# How Ghostscript says what stopped it, or what it could not make of a PDF:
# "Error: /syntaxerror in --token--", "   **** Error: Couldn't initialise file."
SAID = re.compile(r'^[ *]*Error:\s*(.*\S)', re.M)


def rasterize(document, dpi, workdir, sheet_points=None, bits=False):
    """Renders the document with Ghostscript at the (x, y) resolution as 8-bit grey, or with bits
    as ink and paper (1-bit: grey is dithered), one file per page, on sheets of sheet_points
    (width, height) unless its pages ask for a size; returns the files in page order. StreamError
    quotes Ghostscript where it stopped, or wrote no page and said why."""
    extension = 'pbm' if bits else 'pgm'
    for old in glob.glob(os.path.join(workdir, 'page-*.' + extension)):
        os.remove(old)
    size = [f'-dDEVICEWIDTHPOINTS={sheet_points[0]}', f'-dDEVICEHEIGHTPOINTS={sheet_points[1]}'] if sheet_points else []
    done = subprocess.run(['gs', '-q', '-dSAFER', '-dBATCH', '-dNOPAUSE', f'-sDEVICE={extension}raw',
                           f'-r{dpi[0]}x{dpi[1]}', *size,
                           f'-sOutputFile={os.path.join(workdir, "page-%03d." + extension)}', document],
                          capture_output=True, timeout=TIMEOUT, stdin=subprocess.DEVNULL)
    files = sorted(glob.glob(os.path.join(workdir, 'page-*.' + extension)))
    said = SAID.search((done.stdout + done.stderr).decode('latin-1'))
    if done.returncode or (said and not files):
        raise StreamError(f'Ghostscript says "{said.group(1)}"' if said else
                          f'Ghostscript stopped with exit status {done.returncode}')
    return files


def version():
    """The installed Ghostscript's version, or None."""
    try:
        done = subprocess.run(['gs', '--version'], capture_output=True, text=True, stdin=subprocess.DEVNULL,
                              timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return None
    return done.stdout.strip() if done.returncode == 0 else None
