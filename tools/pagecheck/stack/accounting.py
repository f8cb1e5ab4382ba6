"""The processor time of every process a command runs, from the kernel's process accounting in a
PID namespace of the command's own, so that nothing else on the machine is counted; split into
the stack under test (the program, Wine, the scheduler and its filters and drivers) and the check
(its Python, the Ghostscript and GhostPCL renderings it runs itself, the display it drives)."""
import ctypes
import os
import pwd
import struct
import subprocess
import sys

# struct acct_v3 of <linux/acct.h>: flag, version, tty, exit code, uid, gid, pid, parent's pid,
# start, elapsed, then user and system time as comp_t, and the command's name.
RECORD = struct.Struct('<BBHIIIIIIfHHHHHHHH16s')
VERSION = 3
# comp_t counts in these ticks a second.
TICKS = 100
# What the filters and drivers run as; the check renders as the user who runs it.
FILTER_USER = 'lp'
CHECK_COMMANDS = ('python3', 'uidriver', 'uidriver.exe', 'Xvfb', 'xkbcomp', 'gpcl6', 'unshare', 'bash', 'check-printer.s',
                  'install-deps.sh', 'dpkg-query', 'cmake', 'ninja', 'make')


def comp_seconds(value):
    """A comp_t: 13 bits of mantissa, 3 of base-8 exponent, in ticks."""
    return ((value & 0x1fff) << 3 * (value >> 13)) / TICKS


def records(data):
    """(command, uid, seconds) of each process accounted."""
    found = []
    for at in range(0, len(data) - RECORD.size + 1, RECORD.size):
        fields = RECORD.unpack_from(data, at)
        if fields[1] != VERSION:
            continue
        found.append((fields[-1].split(b'\0', 1)[0].decode('latin-1'), fields[4],
                      comp_seconds(fields[10]) + comp_seconds(fields[11])))
    return found


def split(found, filter_uid, check_uid):
    """{'stack': seconds, 'check': seconds, 'commands': {command: seconds}} of the records."""
    totals = {'stack': 0.0, 'check': 0.0}
    commands = {}
    for command, uid, seconds in found:
        side = 'check' if uid == check_uid and (command in CHECK_COMMANDS or command == 'gs') else 'stack'
        if uid == filter_uid:
            side = 'stack'
        totals[side] += seconds
        name = f'{command} ({"filters" if uid == filter_uid else side})'
        commands[name] = commands.get(name, 0.0) + seconds
    return dict({side: round(seconds, 1) for side, seconds in totals.items()},
                commands={name: round(seconds, 1) for name, seconds in
                          sorted(commands.items(), key=lambda item: -item[1])[:12]})


def run_accounted(command, path):
    """Runs command in a PID namespace of its own with its processes accounted into path; its
    exit status."""
    open(path, 'wb').close()
    return subprocess.run(['unshare', '--pid', '--fork', '--mount-proc', sys.executable, '-B', '-m', __name__,
                           path, *command], stdin=subprocess.DEVNULL, env=dict(os.environ)).returncode


def usage(path):
    with open(path, 'rb') as accounted:
        data = accounted.read()
    try:
        filter_uid = pwd.getpwnam(FILTER_USER).pw_uid
    except KeyError:
        filter_uid = None
    return split(records(data), filter_uid, os.getuid())


def main(path, command):
    """In the namespace: accounting on, the command run, accounting off."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.acct(path.encode()) != 0:
        print(f'accounting: {os.strerror(ctypes.get_errno())}; the run goes on unaccounted', file=sys.stderr)
    try:
        return subprocess.run(command, stdin=subprocess.DEVNULL).returncode
    finally:
        libc.acct(None)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1], sys.argv[2:]))
