"""The folder the scheduler runs filters, backends and drivers from (its ServerBin): the installed
one, or another laid out alike (--cups-serverbin)."""
import os

from ..core.errors import UsageError
from ..core.setup import SERVERBIN

# Writes out any PPD `lpinfo -m` lists: from a driver program, compiled from a .drv file, or a file.
DRIVERD = os.path.join('daemon', 'cups-driverd')


def filter_path(program, serverbin=SERVERBIN):
    """Where the scheduler finds a PPD's filter program: a relative name is in serverbin's filter folder."""
    return program if program.startswith('/') else os.path.join(serverbin, 'filter', program)


def serverbin_folder(folder):
    """The absolute path of a folder given as the scheduler's ServerBin, a UsageError when it is not
    one the scheduler can run filters from: it runs each filter through daemon/cups-exec, and no
    program, nor one in a folder, that is not root's or is writable by others."""
    what = f'--cups-serverbin: {folder}'
    if not os.path.isdir(folder):
        raise UsageError(f'{what} is no folder')
    folder = os.path.abspath(folder)
    for needed, kind in (('filter', 'folder'), ('daemon/cups-exec', 'program')):
        if not os.path.exists(os.path.join(folder, needed)):
            raise UsageError(f'{what} is no CUPS ServerBin: it has no {needed} {kind}')
    filters = os.path.join(folder, 'filter')
    refused = [path for path in [filters, os.path.join(folder, 'daemon', 'cups-exec')] +
               [os.path.join(filters, name) for name in sorted(os.listdir(filters))]
               if os.path.exists(path) and (os.stat(path).st_uid != 0 or os.stat(path).st_mode & 0o002)]
    if refused:
        raise UsageError(f'{what}: the scheduler runs nothing that is not root\'s or is writable by others: '
                         f'{", ".join(refused)} (copy a ServerBin as root with cp -a)')
    return folder


def driverd(serverbin):
    """serverbin's cups-driverd, else the installed one: a ServerBin built from a driver's or the
    filters' source often has none, and the installed one runs serverbin's driver programs all the
    same, as CUPS_SERVERBIN tells it."""
    own = os.path.join(serverbin, DRIVERD)
    return own if os.access(own, os.X_OK) else os.path.join(SERVERBIN, DRIVERD)
