"""scripts/judge-page.sh: judges the test page in files printed elsewhere (a Windows driver printing
to a FILE: port, a printer's own stream captured anywhere) with the check's readers, checks and
report; see --help."""
import argparse
import os
import re
import sys
import tempfile

from . import raster, results
from .decoded import Media
from .check import MODES, Parser, add_page_arguments, has_room, page_arguments
from .document import POSTSCRIPT, PDF, Document
from .libcups import ppd_media
from .pictures import difference_picture, page_picture
from .printers import UsageError, find_printer
from .printing import PrintedPage
from .registration import registration
from .report import Named, Row, conclude
from .sheet_picture import KINDS, PHOTO, PictureError, is_picture, read_sheet, report_picture
from .spooler import resolution
from .verdict import AGREE, TITLED, Check, judge_agreement, judge_page
from .wine import BITMAP_CAPTION, DIRECT_CAPTION, ROOT, mode_name

MM = 72 / 25.4
# What a page description with no resolution of its own is rendered at, without --printer.
DEFAULT_DPI = (600, 600)
SIZE = re.compile(r'\s*(\d+(?:\.\d+)?)\s*x\s*(\d+(?:\.\d+)?)\s*mm\s*', re.I)
PAGE_SIZE = re.compile(rb'/PageSize\s*\[\s*(\d+(?:\.\d+)?)\s+(\d+(?:\.\d+)?)\s*\]')
MEDIA_BOX = re.compile(rb'/MediaBox\s*\[\s*-?[\d.]+\s+-?[\d.]+\s+(\d+(?:\.\d+)?)\s+(\d+(?:\.\d+)?)\s*\]')
DESCRIPTION = """Judges the program's test page in each FILE printed elsewhere: by a Windows driver printing
the program's page to a file (a FILE: port), or a printer's own stream captured anywhere. FILE may
be PostScript, PDF (either may be inside a PJL job), PCL 5, PCL XL, PCL 3 GUI, ESC/P 2, Canon
raster, or PWG, CUPS or Apple raster. The checks and the report (report.html, report.md,
junit.xml, results.json in --out) are those of check-printer.sh; a Direct and a Bitmap file of the
same paper and orientation are compared as one row.

FILE may also be a picture of the printed sheet, one sheet a file (docs/sheet-pictures.md): a scan
(PNG, JPEG, TIFF, or a PDF whose one page is one image) or a photo (JPEG). It is a scan where the
file gives a resolution (PNG pHYs, JPEG JFIF or EXIF density, TIFF resolution) or --dpi does, no
camera wrote it (EXIF exposure or focal length) and the sheet found in it is a rectangle there;
else a photo; --picture says which. The sheet is found against a darker background, brought
onto its own edges (a scan by a rotation, an offset and its sides' scale; a photo by the
perspective of its corners and its lens's distortion) and judged with the same checks, at least to
0.25 mm for a scan, 0.75 mm for a photo. Its paper is --paper, else the common size a scan's sheet
measures or a photo's proportions are (A4 for A3, A5 and B5, whose proportions are A4's); its
mode --mode, else the width of the text line's third word. The report gives besides the page's
registration: its border's offset along the feed (leading edge) and across it (side), its skew
and its scale along and across the feed; a Direct and a Bitmap picture of one paper are one row,
their difference given. Pictures are judged portrait.

The paper is --paper, else what the file says where it says it (PCL's page size command, PCL XL's
MediaSize, the PostScript or PDF page size, a raster's header), else the --printer's default. The
mode is --mode, else the title the job carries ("Print Mode: Direct Print"). --printer (a PPD file,
a CUPS driver's PPD as `lpinfo -m` names it, or a queue) gives the model's printable origin where
the language places the page from it (PCL 3 GUI, ESC/P 2, Canon raster), its resolution for
PostScript and PDF (600 dpi without it), and which way it turns a landscape page.

Exit status: 0 when every check of every file passes, 1 when any fails or a file cannot be
measured (a stream cut short, a language the check does not read) or a picture cannot be judged (no
sheet found, the sheet cut off at the picture's edge, too blurred, too small a resolution for the
tolerance, not the test page: one line says which, and it gets no verdict), 2 for bad arguments,
a file that is not there, or one that names no paper or mode where no option gives it."""


class FileJob:
    """What a file says of the job it was printed in: the title it carries, as a job's name."""

    def __init__(self, name):
        self.name = name


def parse(arguments):
    parser = Parser(prog='judge-page.sh', description=DESCRIPTION, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('files', nargs='+', metavar='FILE', help='a printed page in a language the check reads')
    parser.add_argument('--paper', metavar='NAME|WxHmm',
                        help="the paper: a PPD or PWG name (A4, Letter, iso_a4_210x297mm) or its size, 210x297mm "
                             "(default: what the file says, else the --printer's default)")
    parser.add_argument('--orientation', choices=('portrait', 'landscape'), default='portrait', help='default: portrait')
    parser.add_argument('--mode', choices=MODES, help="default: from the title the job carries")
    parser.add_argument('--printer', metavar='PPD', help="the printer's PPD, driver PPD or queue")
    add_page_arguments(parser)
    parser.add_argument('--picture', choices=KINDS,
                        help='each FILE is a scan or a photo of the printed sheet (default: told from the file)')
    parser.add_argument('--dpi', type=float, help="a scan's resolution where its file gives none or a wrong one")
    parser.add_argument('--out', metavar='DIR', default=os.path.join(ROOT, 'build', 'judge'),
                        help='where the report goes (default build/judge)')
    options = parser.parse_args(arguments)
    page_arguments(options)
    for path in options.files:
        if not os.path.isfile(path):
            raise UsageError(f'{path}: no such file')
    options.printer = find_printer(options.printer) if options.printer else None
    if options.printer and options.printer.problem:
        raise UsageError(f'--printer: {options.printer.problem}')
    options.sheet = paper_size(options.paper, options.printer) if options.paper else None
    if options.dpi is not None and not options.dpi > 0:
        raise UsageError('--dpi: must be more than 0')
    if options.picture == PHOTO and options.dpi:
        raise UsageError('--dpi: a photo has no resolution of its own, its paper gives its scale')
    return options


def paper_size(name, printer):
    """(name, (width, height) in points) of --paper: a size in millimetres, one of the printer's
    page sizes, or a PPD or PWG media name."""
    size = SIZE.fullmatch(name)
    if size:
        return name.strip(), (float(size.group(1)) * MM, float(size.group(2)) * MM)
    if printer:
        paper = printer.find_paper(name)
        return paper, printer.sheet(paper)
    found = ppd_media(name)
    if not found:
        raise UsageError(f'--paper: {name} is neither a paper name CUPS knows nor WxHmm')
    return name, found


def stream_paper(path, document):
    """The paper a file names, as (name, (width, height) in points), or None; document is the
    file read as a Document, None for a raster file."""
    if not document:
        try:
            page = raster.first_page(path)
        except raster.RasterError:
            return None
        return None if not all(page.sheet_points) else ('the raster\'s sheet', page.sheet_points)
    if document.reader:
        return document.reader.paper(document.data)
    found = PAGE_SIZE.search(document.data) if document.kind == POSTSCRIPT else \
        MEDIA_BOX.search(document.data) if document.kind == PDF else None
    if found:
        size = float(found.group(1)), float(found.group(2))
        return f'{size[0]:g} x {size[1]:g} points', size
    return None


def file_media(printer, paper, sheet, dpi):
    """What --printer tells a reader of its own language about the paper: the printable area
    where the paper is one of its page sizes."""
    try:
        return printer.media(printer.find_paper(paper), dpi)
    except UsageError:
        return Media(sheet, None, dpi, printer.ppd)


def read_page(path, options, workdir):
    """The file's page read and measured, the name of its paper and the caption it is judged with."""
    printer = options.printer
    document = None if raster.kind(path) else Document(path)
    named = options.sheet or stream_paper(path, document) or (printer and (printer.default_paper,
                                                                           printer.sheet(printer.default_paper)))
    if not named:
        raise UsageError(f'{path}: the file names no paper; give --paper or --printer')
    paper, sheet = named
    if not has_room(sheet, options.orientation, options.margin_points):
        raise UsageError(f'--margins: they leave no room on {paper} {options.orientation}')
    setup = document and document.setup
    dpi = resolution(printer.resolution) if printer else (setup and setup.dpi) or DEFAULT_DPI
    turn = None
    if options.orientation == 'landscape':
        turn = (setup and setup.turn) or (printer and printer.turn) or 'Plus90'
    media = file_media(printer, paper, sheet, dpi) if printer else Media(sheet, None, dpi)
    page = PrintedPage(None, path, dpi, turn, workdir, options.margins, options.mm, sheet,
                       layout=setup and setup.dpi, media=media)
    page.measured = f'{os.path.basename(path)}, {page.written_in()}'
    if page.assumed:
        page.measured += f' ({page.assumed})'
    caption = MODES[options.mode] if options.mode else page.title if page.title in MODES.values() else None
    if not caption:
        said = f' (it says "{page.title}")' if page.title else ''
        raise UsageError(f'{path}: the file carries no title naming the mode{said}; give --mode')
    page.job = FileJob(page.title if page.title is not None else caption)
    return page, paper, caption


def pictured(path, options):
    """Whether the file is to be judged as a picture of the sheet: a PDF only where it carries no
    title of the mode, as the program's own PDF does, or --picture says so."""
    form = is_picture(path)
    if options.picture and not form:
        raise UsageError(f'{path}: not a picture (PNG, JPEG, TIFF, BMP, or a PDF whose one page is one image)')
    return bool(form) and (form != PDF or bool(options.picture) or Document(path).title not in MODES.values())


def read_picture_page(path, options, workdir):
    """The picture's sheet brought on and measured, the name of its paper and the caption it is
    judged with; PictureError says why a picture cannot be judged."""
    if options.orientation == 'landscape':
        raise UsageError(f'{path}: a picture is judged portrait; give no --orientation landscape')
    page = read_sheet(path, workdir, options.margins, options.mm, options.tolerance, options.picture, options.dpi,
                      options.sheet)
    paper, _ = page.paper
    caption = MODES[options.mode] if options.mode else MODES.get(page.mode)
    if not caption:
        words = ', '.join(f'{width:.2f}' for width in page.words)
        raise UsageError(f'{path}: the text line does not read as the caption (words {words} em wide); give --mode')
    page.job = FileJob(caption)
    how = 'by --paper' if options.sheet else 'by its size' if page.picture != PHOTO else 'by its proportions'
    page.measured = (f'{os.path.basename(path)}, a {page.picture}: sheet {page.said}, {paper} {how}; judged to '
                     f'{page.tolerance:g} mm; {page.registration.text() if page.registration else "no registration"}')
    return page, paper, caption


def judge_file(page, caption, options):
    if getattr(page, 'picture', None):
        checks = judge_page(page, caption, page.tolerance)
        read = MODES.get(page.mode)
        said = f'the text line reads {mode_name(read)}' if read else 'the text line does not read as a caption'
        checks[1] = Check(TITLED, read in (None, caption), f'a picture carries no title; {said}' +
                          (f', {mode_name(caption)} by --mode' if options.mode else ''))
        return checks
    checks = judge_page(page, caption, options.tolerance)
    if page.title is None and options.mode:
        checks[1] = Check(TITLED, True, f'the file carries no title; {mode_name(caption)} by --mode')
    return checks


def judge(options):
    """Judges every file, a row for each paper with at most one page of each mode; returns the
    exit status."""
    os.makedirs(options.out, exist_ok=True)
    rows, greys, refused = [], {}, []
    with tempfile.TemporaryDirectory() as workdir:
        for path in options.files:
            try:
                page, paper, caption = read_picture_page(path, options, workdir) if pictured(path, options) else \
                    read_page(path, options, workdir)
            except PictureError as problem:
                refused.append(f'{path}: not judged: {problem}')
                print(refused[-1], flush=True)
                continue
            name = os.path.splitext(os.path.basename(path))[0]
            row = next((row for row in rows if row.paper == paper and caption not in row.pages), None)
            if row:
                row.printer.name += f' + {name}'
            else:
                row = Row(Named(name, page.language or page.kind or 'unknown'), paper, options.orientation)
                rows.append(row)
                greys[id(row)] = {}
            row.add(caption, page, judge_file(page, caption, options))
            row.pictures[caption], greys[id(row)][caption] = \
                page_picture(page, options.out, f'{name}-{mode_name(caption)}'.replace(' ', '_')) or (None, None)
            if getattr(page, 'picture', None) and row.pictures[caption]:
                report_picture(page, options.out, row.pictures[caption])
            figures = f'; {page.registration.text()}' if getattr(page, 'registration', None) else ''
            print(f'{path}: {paper} {options.orientation} {mode_name(caption)}: {row.summary(caption)}{figures}',
                  flush=True)
        for row in rows:
            if len(row.pages) == 2:
                direct, bitmap = row.pages[DIRECT_CAPTION], row.pages[BITMAP_CAPTION]
                small = greys[id(row)]
                differing = difference_picture(direct, bitmap, (small[DIRECT_CAPTION], small[BITMAP_CAPTION]),
                                               options.out, row.stem('difference'))
                row.pictures['difference'] = differing and differing[0]
                tolerance = max([options.tolerance] + [getattr(page, 'tolerance', 0) for page in (direct, bitmap)])
                row.agreement = judge_agreement(direct, bitmap, tolerance, differing and differing[1])
                apart = registration_apart(direct, bitmap)
                if apart:
                    row.agreement = Check(AGREE, row.agreement.passed, f'{row.agreement.figure}; Bitmap less Direct: '
                                                                       f'{apart.text()}')
            row.release()
    if not rows:
        return 1
    status = conclude(rows, options, print, refused)
    save_results(rows, options)
    return status


def page_registration(page):
    measured = getattr(page, 'measurement', None)
    return getattr(page, 'registration', None) or (measured and registration(measured))


def registration_apart(direct, bitmap):
    """How the Bitmap page's registration differs from the Direct page's, or None."""
    one, other = page_registration(direct), page_registration(bitmap)
    return other.minus(one) if one and other else None


def save_results(rows, options):
    """results.json, with each measured page's registration and a pictured page's tolerance, and a
    row's Bitmap less Direct registration."""
    found = results.document(rows, options)
    for row, record in zip(rows, found['rows']):
        for (caption, page), stored in zip(row.pages.items(), record['pages']):
            figures = page_registration(page)
            stored['registration'] = figures and figures.record()
            stored['picture'] = getattr(page, 'picture', None) and {
                'kind': page.picture, 'sheet': page.said, 'paper': page.paper[0], 'tolerance_mm': page.tolerance}
        apart = len(row.pages) == 2 and registration_apart(row.pages[DIRECT_CAPTION], row.pages[BITMAP_CAPTION])
        record['registration_bitmap_less_direct'] = apart and apart.record() or None
    results.save(found, options.out)


def main(arguments):
    try:
        options = parse(arguments)
        return judge(options)
    except UsageError as problem:
        print(f'judge-page.sh: {problem}\nTry judge-page.sh --help.', file=sys.stderr)
        return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
