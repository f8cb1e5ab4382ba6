"""Windows programs under Wine, and the settings of the Wine prefix the program runs in."""
import os
import subprocess
import tempfile

from ..core.project import ROOT

WINE_RUN = os.path.join(ROOT, 'scripts', 'wine-run.sh')
# Only reached when something hangs: longer than uidriver waits for the program.
STEP_TIMEOUT = 360


def program_is_64_bit():
    """Whether the program runs as a 64-bit process: the Wine loader chosen for it says
    (scripts/arch.sh)."""
    return os.environ.get('WINELOADER', '').endswith('64')


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


def prepare_prefix(metric=False):
    """Settings of the Wine prefix for the runs of the program to come: the units of the Page
    Setup dialog, and windows that close without waiting for a window manager."""
    set_registry_value(UNMANAGED, 'Managed', 'N')
    use_metric_units(metric)


def restore_prefix():
    use_metric_units(False)
    delete_registry_key(UNMANAGED)
