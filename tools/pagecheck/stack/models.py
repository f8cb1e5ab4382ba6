"""The printer models the installed CUPS drivers offer, as `lpinfo -m` lists them, and the language
each one finally sends the printer, each driver's PPDs read the way it stores them: Gutenprint
models from the driver family its printer list (xml/printers/FAMILY.xml) puts them in; a driver
program's archive of PPDs (openprinting-ppds, foo2zjs and the others built with pyppd) read
straight from the program; a .drv file's PPDs written out all at once by ppdc; PPD files read
where they lie; the few others from the PPD cups-driverd writes out. The classification is kept in
build/ for the driver packages' versions."""
import base64
import concurrent.futures
import functools
import glob
import gzip
import hashlib
import json
import lzma
import os
import re
import struct
import subprocess
import tempfile
import xml.etree.ElementTree as ElementTree

from ..core.project import ROOT
from ..readers import brlaser, c2esp, canon, escp2, escpr, foo2, lidil, pcl, pcl3, pdf, postscript, raster
from ..readers.registry import READ
from ..readers.unread import DDST, JETREADY, OAKT, QUICKCONNECT
from .libcups import keyword_values

POSTSCRIPT = postscript.LANGUAGE
PDF = pdf.LANGUAGE
PCLM = pdf.PCLM
PCL5, PCLXL = pcl.PCL5, pcl.PCLXL
PCL3GUI, PCL3 = pcl3.LANGUAGE, pcl3.PLAIN_LANGUAGE
ESCP2 = escp2.LANGUAGE
ESCPR = escpr.LANGUAGE
BRLASER = brlaser.LANGUAGE
CANON = canon.LANGUAGE
LIDIL = lidil.LANGUAGE
PWG = raster.PWG_RASTER
ZJSTREAM, XQX, QPDL, HBPL, HIPERC, LAVAFLOW, SLX = (foo2.ZJSTREAM, foo2.XQX, foo2.QPDL, foo2.HBPL, foo2.HIPERC,
                                                    foo2.LAVAFLOW, foo2.SLX)
KODAK_ESP = c2esp.LANGUAGE
# Every other language is 'Other: what it is'.
OTHER = 'Other'

# hpcups' languages (`*hpPrinterLanguage`), as seen in its output.
HPCUPS_LANGUAGES = {
    'pcl3gui': PCL3GUI, 'pcl3gui2': PCL3GUI, 'pcl3': PCL3, 'ljmono': PCL5, 'ljcolor': PCL5,
    'hbpl1': PCLM, 'lidil': LIDIL, 'ljzjstream': ZJSTREAM, 'ljjetready': JETREADY,
    'quickconnect': QUICKCONNECT, 'ljzxstream': XQX,
    'ljfastraster': f'{OTHER}: PCL XL with vendor-unique raster (LJFastRaster)',
}
# Filter programs that write the printer's language themselves (None: one that hands its output
# to another of the PPD's filters).
FILTER_LANGUAGES = {
    'rastertohp': PCL5, 'gstopxl': PCLXL,
    # HPLIP's PostScript printers: hpps puts its PJL job ticket around the PostScript
    # (prnt/hpps/hppsfilter.c).
    'hpps': POSTSCRIPT,
    # Fuji Xerox: pstopdffx turns the PostScript into the PDF that pdftopjlfx wraps in PJL, both
    # lines in each of its PPDs; the first sends nothing to the printer.
    'pdftopjlfx': PDF, 'pstopdffx': None,
    # splix writes QPDL, from the raster or (pstoqpdl) through Ghostscript and rastertoqpdl.
    'rastertoqpdl': QPDL, 'pstoqpdl': QPDL,
    'epson-escpr-wrapper': ESCPR,
    'rastertobrlaser': BRLASER,
    'raster2dymolw': f'{OTHER}: DYMO label raster', 'raster2dymolm': f'{OTHER}: DYMO label raster',
    'c2esp': KODAK_ESP, 'c2espC': KODAK_ESP,
    'rastertosag-gdi': f'{OTHER}: Ricoh GDI raster',
    'index-braille.sh': f'{OTHER}: Braille', 'index-direct-braille': f'{OTHER}: Braille',
    'rastertopclx': f'{OTHER}: HP-GL/2 with RTL raster',
    'rastertoepson': f'{OTHER}: dot-matrix ESC/P graphics',
    'rastertolabel': f'{OTHER}: label printer languages',
    'hpcupsfax': f'{OTHER}: fax',
    'texttotext': f'{OTHER}: plain text',
    'brftoembosser': f'{OTHER}: Braille',
    'textbrftoindexv3': f'{OTHER}: Braille', 'imageubrltoindexv3': f'{OTHER}: Braille',
    'textbrftoindexv4': f'{OTHER}: Braille', 'imageubrltoindexv4': f'{OTHER}: Braille',
}
# What a pass-through filter line ("TYPE 0 -") sends as it is; types not here (images, HTML)
# are other documents than the test page.
PASSED_TYPES = {
    'application/vnd.cups-postscript': POSTSCRIPT, 'application/postscript': POSTSCRIPT,
    'application/vnd.cups-pdf': PDF, 'application/pdf': PDF, 'image/pwg-raster': PWG,
    'text/vnd.cups-paged-ubrl': f'{OTHER}: Braille', 'image/vnd.cups-ubrl': f'{OTHER}: Braille',
}
# Printer commands (cleaning, status) rather than pages.
COMMAND_TYPE = 'application/vnd.cups-command'
FOOMATIC = 'foomatic-rip'
HPCUPS = 'hpcups'
# Ghostscript devices foomatic-rip's command lines run.
GS_DEVICES = {'pxlmono': PCLXL, 'pxlcolor': PCLXL}
# Programs foomatic-rip's command lines run that write the printer's language themselves (foo2zjs'
# wrappers run Ghostscript and then their foo2* program).
FOOMATIC_PROGRAMS = {
    'foo2zjs-wrapper': ZJSTREAM, 'foo2hp2600-wrapper': ZJSTREAM, 'foo2xqx-wrapper': XQX, 'foo2qpdl-wrapper': QPDL,
    'foo2lava-wrapper': LAVAFLOW, 'foo2oak-wrapper': OAKT, 'foo2hbpl2-wrapper': HBPL, 'foo2slx-wrapper': SLX,
    'foo2hiperc-wrapper': HIPERC, 'foo2ddst-wrapper': DDST,
    'm2300w-wrapper': f'{OTHER}: magicolor 2300W and 2400W raster',
    'rastertoptch': f'{OTHER}: P-touch label raster', 'ijs_pxljr': JETREADY,
}
COMMAND_WORD = re.compile(r'[\w.+-]+')
# Gutenprint's driver families (its print-FAMILY modules).
GUTENPRINT_FAMILIES = {
    'canon': CANON, 'escp2': ESCP2, 'ps': POSTSCRIPT,
    'dyesub': f'{OTHER}: dye-sublimation photo printer protocols',
    'dpl': f'{OTHER}: DPL label printer language',
    'lexmark': f'{OTHER}: Lexmark inkjet raster',
    'raw': f'{OTHER}: raw pixels',
}
# Gutenprint's pcl family: its inkjets send colour planes (PCL 3), its lasers PCL 5 raster.
GUTENPRINT_PCL = 'pcl'
GUTENPRINT_INKJET = 'pcl_inkjet_params'
GUTENPRINT_XML = '/usr/share/gutenprint/{version}/xml/printers'
GUTENPRINT_NAMESPACE = '{http://gimp-print.sourceforge.net/xsd/gp.xsd-1.0}'
RAW = 'raw'

DRIVERD = '/usr/lib/cups/daemon/cups-driverd'
DRIVER_FOLDER = '/usr/lib/cups/driver'
# Where cups-driverd finds .drv files and PPD files, by the prefix of the names it gives them.
DRV_FOLDERS = ('/usr/share/cups/drv', '/usr/share/cups/model', '/usr/share/ppd', '/usr/local/share/ppd',
               '/opt/share/ppd')
PPD_FOLDERS = {'lsb/usr/': '/usr/share/ppd/', 'lsb/local/': '/usr/local/share/ppd/',
               'lsb/opt/': '/opt/share/ppd/'}
MODEL_FOLDER = '/usr/share/cups/model'
PPDC = '/usr/bin/ppdc'
OPENPRINTING = 'openprinting-ppds'
# Where the driver program keeps its index of PPDs (base64 of xz of JSON).
ARCHIVE_INDEX = re.compile(rb'^ppds_compressed_b64 = b"([^"]*)"', re.M)
ARCHIVE_KEY = 'ARCHIVE'
ARCHIVE_CHUNK = 1 << 24
CACHE = os.path.join(ROOT, 'build', 'printer-languages')
KEPT = os.path.join(CACHE, 'languages.json')
# cups-driverd's own cache of the PPDs it found, away from the scheduler's.
DRIVERD_CACHE = os.path.join(CACHE, 'driverd')
# Writing out a PPD takes cups-driverd a fraction of a second; two at a time.
WORKERS = 2
IPP_END = 0x03
IPP_GROUPS = 0x10
FILTER_LINE = re.compile(r'(\S+)(?:\s+(\S+/\S+))?\s+(-?\d+)\s+(\S+)')
# Where foomatic-rip's PPDs name the Ghostscript device they run: its command line, and the
# settings of options it puts into it.
FOOMATIC_KEYWORDS = ('FoomaticRIPCommandLine', 'FoomaticRIPOptionSetting')
# The PPD keywords a model's language is told from.
PPD_KEYWORDS = ('cupsFilter2', 'cupsFilter', 'hpPrinterLanguage', *FOOMATIC_KEYWORDS)
GS_DEVICE = re.compile(r'-sDEVICE=([\w.-]+)')

class ListingError(Exception):
    pass


def ipp_models(data):
    """Each attribute group of a CUPS-Get-PPDs answer as {name: first value}, as cups-driverd
    writes it: a Content-Type header, then the IPP message."""
    header_end = data.find(b'\n\n')
    if header_end < 0:
        raise ListingError('cups-driverd wrote no header before its listing')
    message = data[header_end + 2:]
    position = 8
    models, group, name = [], None, None
    while True:
        if position >= len(message):
            raise ListingError(f'cups-driverd\'s listing is cut off at byte {position}')
        tag = message[position]
        position += 1
        if tag == IPP_END:
            return models
        if tag < IPP_GROUPS:
            group = {}
            models.append(group)
            continue
        if group is None:
            raise ListingError(f'cups-driverd\'s listing has an attribute outside any group at byte {position - 1}')
        if position + 2 > len(message):
            raise ListingError(f'cups-driverd\'s listing is cut off at byte {position}')
        size, = struct.unpack_from('>H', message, position)
        name = message[position + 2:position + 2 + size].decode() or name
        position += 2 + size
        if position + 2 > len(message):
            raise ListingError(f'cups-driverd\'s listing is cut off at byte {position}')
        size, = struct.unpack_from('>H', message, position)
        value = message[position + 2:position + 2 + size]
        position += 2 + size
        if position > len(message):
            raise ListingError(f'cups-driverd\'s listing is cut off at byte {len(message)}')
        group.setdefault(name, value.decode('utf-8', 'replace'))


def list_models():
    """The name of every model cups-driverd offers, in its order, each once."""
    os.makedirs(DRIVERD_CACHE, exist_ok=True)
    listed = subprocess.run([DRIVERD, 'list', '1', '0', ''], capture_output=True, stdin=subprocess.DEVNULL,
                            env=dict(os.environ, CUPS_CACHEDIR=DRIVERD_CACHE))
    if listed.returncode != 0:
        raise ListingError(f'{DRIVERD} list failed: {listed.stderr.decode(errors="replace").strip()[-300:]}')
    models = list(dict.fromkeys(group['ppd-name'] for group in ipp_models(listed.stdout) if 'ppd-name' in group))
    if not models:
        raise ListingError(f'{DRIVERD} lists no printer model')
    return models


def ppd_language(ppd):
    """The language of a PPD's text (bytes), read by libcups: it takes cupsFilter2 lines instead
    of all cupsFilter lines when there are any."""
    values = keyword_values(ppd, PPD_KEYWORDS)
    if values is None:
        return f'{OTHER}: a PPD libcups cannot read'
    filters = values['cupsFilter2'] or values['cupsFilter']
    hp_language = next(iter(values['hpPrinterLanguage']), None)
    return filter_language(filters, hp_language, foomatic_languages(values) if any(FOOMATIC in line for line in filters)
                           else set())


def foomatic_languages(values):
    """The languages foomatic-rip's command line writes, by the PPD's keywords: a program of its
    own (foo2zjs' wrappers run Ghostscript and then their foo2* program), else each Ghostscript
    device it runs; none where it only wraps the PostScript in PJL or a header."""
    programs = {word for value in values['FoomaticRIPCommandLine'] for word in COMMAND_WORD.findall(value)
                if word in FOOMATIC_PROGRAMS}
    if programs:
        return {FOOMATIC_PROGRAMS[program] for program in programs}
    devices = {device for keyword in FOOMATIC_KEYWORDS for value in values[keyword]
               for device in GS_DEVICE.findall(value)}
    return {GS_DEVICES.get(device, f'{OTHER}: Ghostscript {device}') for device in devices}


def line_language(line, hp_language, foomatic):
    """The language one filter line ("SOURCE [DESTINATION] COST PROGRAM") sends, None for a
    line that passes other documents than a page, or printer commands; foomatic holds the
    languages foomatic-rip's command line writes."""
    parts = FILTER_LINE.fullmatch(line.strip())
    if not parts:
        return f'{OTHER}: filter line "{line}"'
    source, destination, _, program = parts.groups()
    if source == COMMAND_TYPE:
        return None
    if program == '-':
        return PASSED_TYPES.get(destination or source)
    program = os.path.basename(program)
    if program == FOOMATIC:
        if not foomatic:
            return POSTSCRIPT
        if len(foomatic) > 1:
            return f'{OTHER}: several languages ({", ".join(sorted(foomatic))})'
        return next(iter(foomatic))
    if program == HPCUPS:
        return HPCUPS_LANGUAGES.get(hp_language, f'{OTHER}: hpcups {hp_language}')
    return FILTER_LANGUAGES.get(program, f'{OTHER}: {program}')


def filter_language(filters, hp_language=None, foomatic=()):
    """The language a model with these filter lines sends: a PPD without any is a PostScript
    printer's."""
    if not filters:
        return POSTSCRIPT
    languages = {line_language(line, hp_language, foomatic) for line in filters} - {None}
    if not languages:
        return f'{OTHER}: no filter takes PostScript or PDF'
    if len(languages) > 1:
        return f'{OTHER}: several languages ({", ".join(sorted(languages))})'
    return languages.pop()


def gutenprint_families(xml_texts):
    """{driver: (family, parameters)} from Gutenprint's printer lists, each `<family name>` with
    its `<printer driver parameters>`."""
    drivers = {}
    for text in xml_texts:
        root = ElementTree.fromstring(text)
        for family in root.iter(f'{GUTENPRINT_NAMESPACE}family'):
            for printer in family.iter(f'{GUTENPRINT_NAMESPACE}printer'):
                drivers[printer.get('driver')] = (family.get('name'), printer.get('parameters'))
    return drivers


def gutenprint_language(uri, families):
    """The language of a Gutenprint model named SCHEME://DRIVER/KIND."""
    driver = uri.split('://', 1)[-1].split('/', 1)[0]
    if driver not in families:
        return f'{OTHER}: Gutenprint driver {driver} not in its printer lists'
    family, parameters = families[driver]
    if family == GUTENPRINT_PCL:
        return PCL3 if parameters == GUTENPRINT_INKJET else PCL5
    return GUTENPRINT_FAMILIES.get(family, f'{OTHER}: Gutenprint {family} family')


def read_gutenprint_families(scheme):
    version = scheme.split('.', 1)[1]
    texts = []
    for path in sorted(glob.glob(os.path.join(GUTENPRINT_XML.format(version=version), '*.xml'))):
        with open(path, 'rb') as xml:
            texts.append(xml.read())
    return gutenprint_families(texts)


def archive_key(uri):
    """The openprinting-ppds index's name for a model: its own program maps every listed name's
    first part to 0."""
    name = uri.split(':')[-1]
    return '0/' + name.split('/', 1)[-1]


@functools.lru_cache(maxsize=None)
def is_archive(program):
    """Whether a driver program carries its PPDs in an archive of pyppd's kind."""
    try:
        with open(program, 'rb') as source:
            return bool(ARCHIVE_INDEX.search(source.read()))
    except OSError:
        return False


def openprinting_stretches(program):
    """The PPDs of a driver program that carries them in an archive (openprinting-ppds and the
    others pyppd builds), {index name: text} a stretch at a time, read from its xz archive without
    writing any out."""
    with open(program, 'rb') as source:
        found = ARCHIVE_INDEX.search(source.read())
    if not found:
        raise ListingError(f'{program}: no PPD index found in the driver program')
    index = json.loads(lzma.decompress(base64.b64decode(found.group(1))))
    archive = base64.b64decode(index.pop(ARCHIVE_KEY))
    entries = sorted((start, length, name) for name, (start, length, _) in index.items())
    decompressor = lzma.LZMADecompressor()
    window, window_start, pending = b'', 0, archive
    stretch = {}
    for start, length, name in entries:
        while start + length > window_start + len(window):
            if decompressor.eof:
                raise ListingError(f'{program}: its archive ends before {name} at byte {start}')
            if stretch:
                yield stretch
                stretch = {}
            more = decompressor.decompress(pending, ARCHIVE_CHUNK)
            pending = b''
            drop = max(0, start - window_start)
            window, window_start = window[drop:] + more, window_start + drop
        stretch[name] = window[start - window_start:start - window_start + length]
    if stretch:
        yield stretch


def archive_languages(program, pool):
    """{index name: language} of every PPD of a driver program's archive, the PPDs of each stretch
    read by libcups on the pool's threads (libcups reads a PPD without holding Python's lock)."""
    languages = {}
    for stretch in openprinting_stretches(program):
        languages.update(zip(stretch, pool.map(ppd_language, stretch.values())))
    return languages


def drv_languages(path, pool):
    """{PPD file name: language} of every model of a .drv file, its PPDs written out at once by
    ppdc (as cups-driverd writes each) into a temporary folder and read there."""
    with tempfile.TemporaryDirectory(prefix='printtest-ppdc-') as folder:
        written = subprocess.run([PPDC, '-I', os.path.dirname(path), '-d', folder, path], capture_output=True,
                                 text=True, stdin=subprocess.DEVNULL)
        if written.returncode != 0:
            raise ListingError(f'ppdc cannot write out the PPDs of {path}: {written.stderr.strip()[-300:]}')
        names = sorted(os.listdir(folder))
        return dict(zip(names, pool.map(lambda name: file_language(os.path.join(folder, name)), names)))


def file_language(path):
    """The language of a PPD file, compressed with gzip or not."""
    try:
        with open(path, 'rb') as file:
            text = file.read()
        return ppd_language(gzip.decompress(text) if text[:2] == b'\x1f\x8b' else text)
    except (OSError, EOFError, gzip.BadGzipFile) as problem:
        return f'{OTHER}: its PPD cannot be read ({problem})'


def written_ppd_language(uri):
    written = subprocess.run([DRIVERD, 'cat', uri], capture_output=True, stdin=subprocess.DEVNULL,
                             env=dict(os.environ, CUPS_CACHEDIR=DRIVERD_CACHE))
    if written.returncode != 0 or not written.stdout.startswith(b'*PPD-Adobe'):
        return f'{OTHER}: cups-driverd cannot write out its PPD'
    return ppd_language(written.stdout)


def source_file(uri):
    """The installed file a model comes from: a driver program, a .drv file or a PPD file."""
    if uri == RAW:
        return DRIVERD
    if uri.startswith('drv:///'):
        drv = uri[len('drv:///'):].rsplit('/', 1)[0]
        return next((os.path.join(folder, drv) for folder in DRV_FOLDERS
                     if os.path.isfile(os.path.join(folder, drv))), drv)
    scheme = uri.split(':', 1)[0]
    if ':' in uri and os.path.isfile(os.path.join(DRIVER_FOLDER, scheme)):
        return os.path.join(DRIVER_FOLDER, scheme)
    for prefix, folder in PPD_FOLDERS.items():
        if uri.startswith(prefix):
            return folder + uri[len(prefix):]
    return os.path.join(MODEL_FOLDER, uri)


def packages_of(paths):
    """{path: Debian package} for the installed files given; files of no package are left out."""
    found = subprocess.run(['dpkg', '-S', *sorted(paths)], capture_output=True, text=True)
    packages = {}
    for line in found.stdout.splitlines():
        package, sep, path = line.partition(': ')
        if sep and not line.startswith('diversion'):
            packages[path] = package.split(',')[0].split(':')[0].strip()
    return packages


def versions_of(packages):
    if not packages:
        return {}
    found = subprocess.run(['dpkg-query', '-W', '-f', '${Package} ${Version}\n', *sorted(packages)],
                           capture_output=True, text=True)
    return dict(line.split(' ', 1) for line in found.stdout.splitlines() if ' ' in line)


def classify(uris):
    """{uri: language} of the models, each driver read the cheapest way it can be."""
    languages = {}
    gutenprint, archives, drvs, files, written = {}, {}, {}, [], []
    for uri in uris:
        source = source_file(uri)
        scheme = uri.split(':', 1)[0]
        if uri == RAW:
            languages[uri] = f'{OTHER}: raw queue, no driver'
        elif scheme.startswith('gutenprint.') and source.startswith(DRIVER_FOLDER):
            if scheme not in gutenprint:
                gutenprint[scheme] = read_gutenprint_families(scheme)
            languages[uri] = gutenprint_language(uri, gutenprint[scheme])
        elif source.startswith(DRIVER_FOLDER + '/') and is_archive(source):
            archives.setdefault(source, []).append(uri)
        elif uri.startswith('drv:///') and os.path.isfile(source):
            drvs.setdefault(source, []).append(uri)
        elif not source.startswith(DRIVER_FOLDER + '/') and os.path.isfile(source):
            files.append(uri)
        else:
            written.append(uri)
    with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
        writing = {uri: pool.submit(written_ppd_language, uri) for uri in written}
        for program, listed in archives.items():
            archived = archive_languages(program, pool)
            for uri in listed:
                languages[uri] = archived.get(archive_key(uri), f'{OTHER}: not in the archive of {program}')
        for path, listed in drvs.items():
            compiled = drv_languages(path, pool)
            for uri in listed:
                name = uri.rsplit('/', 1)[-1]
                languages[uri] = compiled.get(name, f'{OTHER}: ppdc wrote no {name} of {path}')
        languages.update(zip(files, pool.map(lambda uri: file_language(source_file(uri)), files)))
        for uri, language in writing.items():
            languages[uri] = language.result()
    return {uri: languages[uri] for uri in uris}


def rules():
    """What tells this classification's rules from another's: this module's own text."""
    with open(__file__, 'rb') as source:
        return hashlib.sha256(source.read()).hexdigest()[:16]


def cached_languages(uris, versions):
    """The classification kept for these packages' versions and these rules, else a new one, kept."""
    try:
        with open(KEPT) as kept:
            kept = json.load(kept)
        if kept['versions'] == versions and kept['rules'] == rules() and set(uris) <= set(kept['languages']):
            return {uri: kept['languages'][uri] for uri in uris}
    except (OSError, ValueError, KeyError, TypeError):
        # Missing, cut short or of another shape: classified again.
        pass
    languages = classify(uris)
    with open(KEPT + '.new', 'w') as kept:
        json.dump({'versions': versions, 'rules': rules(), 'languages': languages}, kept)
    os.replace(KEPT + '.new', KEPT)
    return languages


def is_read(language):
    return language in READ
