"""The printer models the installed CUPS drivers offer, as `lpinfo -m` lists them, and the language
each one finally sends the printer, each driver read the cheapest way it can be: hpcups models from
`hpPrinterLanguage` in hpcups.drv, Gutenprint models from the driver family its printer list
(xml/printers/FAMILY.xml) puts them in, the openprinting-ppds archive from each PPD's filter lines,
read straight from the archive the driver program carries; the few others from the PPD cups-driverd
writes out. The classification is kept in build/ for the driver packages' versions."""
import base64
import concurrent.futures
import glob
import json
import lzma
import os
import re
import struct
import subprocess
import xml.etree.ElementTree as ElementTree

from ..core.project import ROOT
from ..readers import canon, escp2, pcl, pcl3, pdf, postscript, raster
from ..readers.registry import READ
from ..readers.unread import JETREADY, LIDIL, QUICKCONNECT, ZJSTREAM
from .libcups import keyword_values

POSTSCRIPT = postscript.LANGUAGE
PDF = pdf.LANGUAGE
PCLM = pdf.PCLM
PCL5, PCLXL = pcl.PCL5, pcl.PCLXL
PCL3GUI, PCL3 = pcl3.LANGUAGE, pcl3.PLAIN_LANGUAGE
ESCP2 = escp2.LANGUAGE
CANON = canon.LANGUAGE
PWG = raster.PWG_RASTER
# Every other language is 'Other: what it is'.
OTHER = 'Other'

# hpcups' languages (`*hpPrinterLanguage`), as seen in its output.
HPCUPS_LANGUAGES = {
    'pcl3gui': PCL3GUI, 'pcl3gui2': PCL3GUI, 'pcl3': PCL3, 'ljmono': PCL5, 'ljcolor': PCL5,
    'hbpl1': PCLM, 'lidil': LIDIL, 'ljzjstream': ZJSTREAM, 'ljjetready': JETREADY,
    'quickconnect': QUICKCONNECT, 'ljzxstream': f'{OTHER}: XQX stream',
    'ljfastraster': f'{OTHER}: PCL XL with vendor-unique raster (LJFastRaster)',
}
# Filter programs that write the printer's language themselves.
FILTER_LANGUAGES = {
    'rastertohp': PCL5, 'gstopxl': PCLXL,
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
HPCUPS_DRV = 'hpcups.drv'
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
DRV_TOKEN = re.compile(r'"((?:[^"\\]|\\.)*)"|//[^\n]*|/\*.*?\*/|([{}])|([^\s{}"]+)', re.S)

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
    devices = set()
    if any(FOOMATIC in line for line in filters):
        for keyword in FOOMATIC_KEYWORDS:
            for value in values[keyword]:
                devices.update(GS_DEVICE.findall(value))
    return filter_language(filters, hp_language, devices)


def line_language(line, hp_language, devices):
    """The language one filter line ("SOURCE [DESTINATION] COST PROGRAM") sends, None for a
    line that passes other documents than a page, or printer commands."""
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
        # Without Ghostscript its command line only wraps the PostScript in PJL or a header.
        if not devices:
            return POSTSCRIPT
        languages = {GS_DEVICES.get(device, f'{OTHER}: Ghostscript {device}') for device in devices}
        return languages.pop() if len(languages) == 1 else f'{OTHER}: Ghostscript {", ".join(sorted(devices))}'
    if program == HPCUPS:
        return HPCUPS_LANGUAGES.get(hp_language, f'{OTHER}: hpcups {hp_language}')
    return FILTER_LANGUAGES.get(program, f'{OTHER}: {program}')


def filter_language(filters, hp_language=None, devices=()):
    """The language a model with these filter lines sends: a PPD without any is a PostScript
    printer's."""
    if not filters:
        return POSTSCRIPT
    languages = {line_language(line, hp_language, devices) for line in filters} - {None}
    if not languages:
        return f'{OTHER}: no filter takes PostScript or PDF'
    if len(languages) > 1:
        return f'{OTHER}: several languages ({", ".join(sorted(languages))})'
    return languages.pop()


def drv_models(text, name):
    """{PCFileName: (filter lines, hpPrinterLanguage)} of a .drv file's models: each { } group
    starts with what its enclosing group has."""
    stack = [([], None)]
    models = {}
    tokens = [match for match in DRV_TOKEN.finditer(text)
              if match.group(1) is not None or match.group(2) or match.group(3)]
    for index, token in enumerate(tokens):
        word = token.group(3)
        if token.group(2) == '{':
            stack.append((list(stack[-1][0]), stack[-1][1]))
        elif token.group(2) == '}':
            if len(stack) == 1:
                raise ListingError(f'{name}: "}}" without its "{{" at character {token.start()}')
            stack.pop()
        elif word and word.startswith('#if'):
            raise ListingError(f'{name}: {word} at character {token.start()} is not read')
        elif word in ('Filter', 'PCFileName'):
            value = tokens[index + 1].group(1) if index + 1 < len(tokens) else None
            if value is None:
                raise ListingError(f'{name}: {word} at character {token.start()} is not followed by a quoted string')
            if word == 'Filter':
                stack[-1][0].append(value)
            else:
                models.setdefault(value, (tuple(stack[-1][0]), stack[-1][1]))
        elif word == 'Attribute' and index + 3 < len(tokens) and tokens[index + 1].group(1) == 'hpPrinterLanguage':
            stack[-1] = (stack[-1][0], tokens[index + 3].group(1))
    if len(stack) != 1:
        raise ListingError(f'{name}: a "{{" is never closed')
    return models


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


def openprinting_stretches(program):
    """The PPDs of the openprinting-ppds driver program, {index name: text} a stretch at a time,
    read from the xz archive it carries without writing any out."""
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


def openprinting_languages(program, pool):
    """{index name: language} of every PPD of the openprinting-ppds driver program, the PPDs of
    each stretch read by libcups on the pool's threads (libcups reads a PPD without holding
    Python's lock)."""
    languages = {}
    for stretch in openprinting_stretches(program):
        languages.update(zip(stretch, pool.map(ppd_language, stretch.values())))
    return languages


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
    written = []
    gutenprint = {}
    hpcups = None
    openprinting = None
    for uri in uris:
        source = source_file(uri)
        scheme = uri.split(':', 1)[0]
        if uri == RAW:
            languages[uri] = f'{OTHER}: raw queue, no driver'
        elif scheme.startswith('gutenprint.') and source.startswith(DRIVER_FOLDER):
            if scheme not in gutenprint:
                gutenprint[scheme] = read_gutenprint_families(scheme)
            languages[uri] = gutenprint_language(uri, gutenprint[scheme])
        elif os.path.basename(source) == HPCUPS_DRV:
            if hpcups is None:
                with open(source, encoding='utf-8', errors='replace') as drv:
                    hpcups = drv_models(drv.read(), source)
            model = hpcups.get(uri.rsplit('/', 1)[-1])
            languages[uri] = filter_language(*model) if model else f'{OTHER}: not a model of {HPCUPS_DRV}'
        elif scheme == OPENPRINTING and source.startswith(DRIVER_FOLDER):
            openprinting = source
        else:
            written.append(uri)
    with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
        writing = {uri: pool.submit(written_ppd_language, uri) for uri in written}
        if openprinting:
            archived = openprinting_languages(openprinting, pool)
            for uri in uris:
                if uri.startswith(OPENPRINTING + ':'):
                    languages[uri] = archived.get(archive_key(uri), f'{OTHER}: not in the {OPENPRINTING} archive')
        for uri, language in writing.items():
            languages[uri] = language.result()
    return {uri: languages[uri] for uri in uris}


def cached_languages(uris, versions):
    """The classification kept for these packages' versions, else a new one, kept."""
    try:
        with open(KEPT) as kept:
            kept = json.load(kept)
        if kept['versions'] == versions and set(uris) <= set(kept['languages']):
            return {uri: kept['languages'][uri] for uri in uris}
    except (OSError, ValueError, KeyError, TypeError):
        # Missing, cut short or of another shape: classified again.
        pass
    languages = classify(uris)
    with open(KEPT + '.new', 'w') as kept:
        json.dump({'versions': versions, 'languages': languages}, kept)
    os.replace(KEPT + '.new', KEPT)
    return languages


def is_read(language):
    return language in READ
