"""Driverless printers, named by their IPP URI. The check makes an IPP Everywhere queue for one as
CUPS makes it for a user (lpadmin -m everywhere, from the printer's answers), with a keeping
filter at the end of its filters: what the queue sends is then known even from a printer that
keeps nothing. A printer that keeps what it receives in a folder is measured on that."""
import os
import re
import subprocess
import time

from . import keep
from ..core.errors import UsageError
from ..core.setup import SERVERBIN

DRIVERLESS = os.path.join('driver', 'driverless')
URI = re.compile(r'ipps?://[^/\s]+(/\S*)?')
# A printer that has not answered by then is taken as stopped.
ANSWER_TIMEOUT = 30
PPD_TIMEOUT = 30
# How long the queue tries to reach a printer that stopped answering before it gives the job up,
# where a user's queue would go on trying: such a page then fails at once.
CONNECT_TIMEOUT = 10


def is_uri(argument):
    return bool(URI.fullmatch(argument))


def driverless_ppd(uri, serverbin=SERVERBIN):
    """The PPD serverbin's driverless program makes from the answers of the printer at uri, the one
    `lpinfo -m` offers for it (driverless:URI); a UsageError when it does not answer."""
    program = os.path.join(serverbin, DRIVERLESS)
    if not os.access(program, os.X_OK):
        raise UsageError(f'{uri}: there is no {program} to make its PPD')
    try:
        made = subprocess.run([program, 'cat', 'driverless:' + uri], capture_output=True, timeout=ANSWER_TIMEOUT,
                              stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        made = None
    if not made or made.returncode != 0 or not made.stdout.startswith(b'*PPD-Adobe'):
        raise UsageError(f'{uri}: no IPP Everywhere printer answers there')
    return made.stdout


def add_queue(session, name, device, paper, options):
    """An IPP Everywhere queue for the printer at device, with paper as its default (the one CUPS
    chose when None), and a keeping filter where the queue hands its document to the printer."""
    subprocess.run(['lpadmin', '-p', name, '-E', '-v', device, '-m', 'everywhere', *options], check=True,
                   capture_output=True, timeout=ANSWER_TIMEOUT)
    made = os.path.join(session.cups, 'ppd', name + '.ppd')
    waited = time.monotonic()
    while not os.path.exists(made):
        if time.monotonic() - waited > PPD_TIMEOUT:
            raise RuntimeError(f'{name}: the scheduler made no PPD for {device}')
        time.sleep(0.1)
    with open(made, encoding='utf-8', errors='surrogateescape') as ppd:
        text = keep.insert(ppd.read(), None, session.temp, name, session.serverbin)
    kept = os.path.join(session.temp, name + '.ppd')
    with open(kept, 'w', encoding='utf-8', errors='surrogateescape') as ppd:
        ppd.write(text)
    # The paper is set in the PPD the queue ends with.
    subprocess.run(['lpadmin', '-p', name, '-P', kept, *(['-o', f'PageSize={paper}'] if paper else []),
                    '-o', 'printer-error-policy=abort-job',
                    '-v', f'{device}{"&" if "?" in device else "?"}contimeout={CONNECT_TIMEOUT}'],
                   check=True, capture_output=True)


def received(folder, since, sent):
    """The newest document the printer wrote into folder (or a folder in it) since the time since
    that holds what the queue sent it (the file sent), or None. Other printers may keep what they
    receive in the same folder while they are checked at the same time (--jobs)."""
    with open(sent, 'rb') as document:
        data = document.read()
    found = []
    for parent, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(parent, name)
            status = os.stat(path)
            if status.st_mtime >= since and status.st_size == len(data):
                with open(path, 'rb') as document:
                    if document.read() == data:
                        found.append((status.st_mtime, path))
    return max(found)[1] if found else None
