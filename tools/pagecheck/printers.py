"""The printers a check is asked for: a PPD file, a PPD of an installed CUPS driver named as
`lpinfo -m` lists it (openprinting-ppds:0/ppd/openprinting/MAKER/FILE.ppd), or a queue of the
machine's own CUPS scheduler whose PPD its server hands out. Whatever cannot be used is a UsageError, found before anything
is started."""
import http.client
import os
import re
import socket
import subprocess

FILTER_FOLDER = '/usr/lib/cups/filter'
DRIVER_FOLDER = '/usr/lib/cups/driver'


class UsageError(Exception):
    pass


def ppd_value(ppd, keyword):
    """The value of the PPD text's first *keyword line, without its quotes; None when it has none."""
    match = re.search(rf'^\*{keyword}:\s*"?([^"\r\n]*)"?', ppd, re.M)
    return match.group(1).strip() if match else None


class Printer:
    """name is what the report calls it; ppd the PPD's text; papers the page sizes it offers
    with their (width, height) in points."""

    def __init__(self, name, ppd):
        self.name = name
        self.ppd = ppd
        if not ppd.startswith('*PPD-Adobe'):
            raise UsageError(f'{name}: not a PPD file')
        self.model = ppd_value(ppd, 'ModelName') or name
        self.default_paper = ppd_value(ppd, 'DefaultPageSize')
        self.papers = {}
        for size, width, height in re.findall(r'^\*PaperDimension\s+([^/:\s]+)[^:]*:\s*"\s*([\d.]+)\s+([\d.]+)',
                                              ppd, re.M):
            self.papers[size] = (float(width), float(height))
        for filter_line in re.findall(r'^\*cupsFilter2?:\s*"([^"]*)"', ppd, re.M):
            program = filter_line.split()[-1]
            path = program if program.startswith('/') else os.path.join(FILTER_FOLDER, program)
            if program != '-' and not os.access(path, os.X_OK):
                raise UsageError(f'{name}: its PPD needs the filter {program}, which is not installed')

    def sheet(self, paper):
        if paper not in self.papers:
            raise UsageError(f'{self.name}: no paper {paper}; it offers {", ".join(sorted(self.papers))}')
        return self.papers[paper]


class UnixConnection(http.client.HTTPConnection):
    def __init__(self, path):
        super().__init__('localhost')
        self.path = path

    def connect(self):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(self.path)


def queue_ppd(queue):
    """The PPD of a queue of the scheduler the CUPS client tools talk to."""
    known = subprocess.run(['lpstat', '-p', queue], capture_output=True, text=True)
    if known.returncode != 0:
        raise UsageError(f'{queue}: no such PPD file, nor a queue of this machine\'s CUPS scheduler')
    server = subprocess.run(['lpstat', '-H'], capture_output=True, text=True).stdout.strip()
    if server.startswith('/'):
        connection = UnixConnection(server)
    else:
        host, _, port = server.partition(':')
        connection = http.client.HTTPConnection(host, int(port or 631))
    connection.request('GET', f'/printers/{queue}.ppd')
    answer = connection.getresponse()
    if answer.status != 200:
        raise UsageError(f'{queue}: the scheduler has no PPD for this queue (a driverless or raw queue)')
    return answer.read().decode('latin-1')


def driver_ppd(uri):
    """The PPD a CUPS driver program writes for its URI."""
    program = os.path.join(DRIVER_FOLDER, uri.split(':', 1)[0])
    written = subprocess.run([program, 'cat', uri], capture_output=True) if os.access(program, os.X_OK) else None
    if not written or written.returncode != 0 or not written.stdout:
        raise UsageError(f'{uri}: no installed CUPS driver has this PPD')
    return written.stdout.decode('latin-1')


def find_printer(argument):
    name = os.path.splitext(os.path.basename(argument))[0]
    if os.path.isfile(argument):
        with open(argument, encoding='latin-1') as ppd:
            return Printer(name, ppd.read())
    if re.match(r'[\w-]+:', argument):
        return Printer(name, driver_ppd(argument))
    if '/' in argument or argument.lower().endswith('.ppd'):
        raise UsageError(f'{argument}: no such PPD file')
    return Printer(argument, queue_ppd(argument))
