"""scripts/judge-page.sh: judges the test page in files printed elsewhere (a Windows driver printing
to a FILE: port, a printer's own stream captured anywhere) and in scans and photos of printed
sheets, with the check's readers, checks and report; see --help."""
import argparse
import os
import re
import sys
import tempfile
from dataclasses import dataclass, replace

from ..core.arguments import Parser, add_page_arguments, page_arguments
from ..core.errors import UsageError
from ..core.modes import BITMAP_CAPTION, CAPTIONS, DIRECT_CAPTION, mode_name
from ..core.project import ROOT
from ..core.setup import ORIENTATIONS, PageSetup, Run
from ..core.units import POINTS_PER_MM, dpi_of
from ..measure.checks import AGREE, TITLED, Check, judge_agreement, judge_page
from ..measure.page import NamedJob, Printed, measure_document
from ..measure.registration import registration
from ..readers.base import Media
from ..readers.document import Document
from ..report import results
from ..report.pictures import difference_picture, page_picture
from ..report.rows import Named, Row
from ..report.summary import report_run
from ..sheets.picture import KINDS, PHOTO, PictureError, is_picture
from ..sheets.pictured import Asked, described, picture_checks, read_pictured, report_picture
from ..stack.versions import run_record

# What a page description with no resolution of its own is rendered at, without --printer.
DEFAULT_DPI = (600, 600)
SIZE = re.compile(r'\s*(\d+(?:\.\d+)?)\s*x\s*(\d+(?:\.\d+)?)\s*mm\s*', re.I)
DESCRIPTION = """Judges the program's test page in each FILE printed elsewhere: by a Windows driver printing
the program's page to a file (a FILE: port), or a printer's own stream captured anywhere. FILE may
be PostScript, PDF (either may be inside a PJL job), PCL 5, PCL XL, PCL 3 GUI, ESC/P 2, Canon
raster, ESC/P-R, LIDIL, ZjStream, XQX, QPDL, HBPL, HIPERC, LAVAFLOW, SLX, Brother laser raster,
Kodak ESP raster, or PWG, CUPS or Apple raster. The checks and the report (report.html, report.md,
junit.xml, results.json in --out) are those of check-printer.sh; a Direct and a Bitmap file of the
same paper and orientation are compared as one row.

FILE may also be a picture of the printed sheet, one sheet a file (docs/sheet-pictures.md): a scan
(PNG, JPEG, TIFF, or a PDF whose one page is one image) or a photo (JPEG, or a phone's HEIC,
decoded by libheif's heif-convert). It is a scan where the
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
measured (a stream cut short or that Ghostscript cannot read, a language the check does not read)
or cannot be judged: empty, neither a page nor a picture, a picture or a PDF cut short, or a
picture with no sheet found, the sheet cut off at the picture's edge, too blurred, too small a
resolution for the tolerance, not the test page (one line names the file and says what is wrong,
and it gets no verdict); 2 for bad arguments, a file that is not there or cannot be opened (a
directory, no permission), or one that names no paper or mode where no option gives it."""


class Refused(ValueError):
    """A file that is neither a picture of the sheet nor a page the check can read; its text says
    why in one line."""


@dataclass
class Judging:
    """What judge-page.sh is asked: the run's Run, the files, the paper as (name, (width, height)
    in points) where given, the orientation, the mode where given, the printer where given, and
    of pictures whether they are scans or photos and a scan's resolution, where given."""
    run: Run
    files: list
    paper: tuple = None
    orientation: str = 'portrait'
    mode: str = None
    printer: object = None
    picture: str = None
    dpi: float = None


def parse(arguments):
    parser = Parser(prog='judge-page.sh', description=DESCRIPTION, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('files', nargs='+', metavar='FILE', help='a printed page in a language the check reads')
    parser.add_argument('--paper', metavar='NAME|WxHmm',
                        help="the paper: a PPD or PWG name (A4, Letter, iso_a4_210x297mm) or its size, 210x297mm "
                             "(default: what the file says, else the --printer's default)")
    parser.add_argument('--orientation', choices=ORIENTATIONS, default='portrait', help='default: portrait')
    parser.add_argument('--mode', choices=CAPTIONS, help="default: from the title the job carries")
    parser.add_argument('--printer', metavar='PPD', help="the printer's PPD, driver PPD or queue")
    add_page_arguments(parser)
    parser.add_argument('--picture', choices=KINDS,
                        help='each FILE is a scan or a photo of the printed sheet (default: told from the file)')
    parser.add_argument('--dpi', type=float, help="a scan's resolution where its file gives none or a wrong one")
    parser.add_argument('--out', metavar='DIR', default=os.path.join(ROOT, 'build', 'judge'),
                        help='where the report goes (default build/judge)')
    options = parser.parse_args(arguments)
    margins, tolerance = page_arguments(options)
    for path in options.files:
        try:
            open(path, 'rb').close()
        except OSError as problem:
            raise UsageError(f'{path}: {problem.strerror.lower()}') from None
    printer = printer_named(options.printer) if options.printer else None
    if printer and printer.problem:
        raise UsageError(f'--printer: {printer.problem}')
    paper = paper_size(options.paper, printer) if options.paper else None
    if options.dpi is not None and not options.dpi > 0:
        raise UsageError('--dpi: must be more than 0')
    if options.picture == PHOTO and options.dpi:
        raise UsageError('--dpi: a photo has no resolution of its own, its paper gives its scale')
    return Judging(Run(margins, tolerance, options.out), options.files, paper, options.orientation, options.mode,
                   printer, options.picture, options.dpi)


# The printing stack, and libcups with it, is loaded only for a printer or a paper named: judging
# a picture, or a file that names its paper, needs neither.

def printer_named(argument):
    """The printer --printer names, its PPD read through libcups."""
    from ..stack.printers import find_printer
    return find_printer(argument)


def paper_size(name, printer):
    """(name, (width, height) in points) of --paper: a size in millimetres, one of the printer's
    page sizes, or a PPD or PWG media name."""
    size = SIZE.fullmatch(name)
    if size:
        return name.strip(), (float(size.group(1)) * POINTS_PER_MM, float(size.group(2)) * POINTS_PER_MM)
    if printer:
        paper = printer.find_paper(name)
        return paper, printer.sheet(paper)
    from ..stack.libcups import ppd_media
    found = ppd_media(name)
    if not found:
        raise UsageError(f'--paper: {name} is neither a paper name CUPS knows nor WxHmm')
    return name, found


def file_media(printer, paper, sheet, dpi):
    """What --printer tells a reader of its own language about the paper: the printable area
    where the paper is one of its page sizes."""
    try:
        return printer.media(printer.find_paper(paper), dpi)
    except UsageError:
        return Media(sheet, None, dpi, printer.attributes)


def read_file(path, judging, workdir):
    """The file's page read and measured, the name of its paper and the caption it is judged with."""
    printer = judging.printer
    document = Document(path)
    if not (document.reader or document.language):
        raise Refused('the file is empty' if not os.path.getsize(path) else
                      'neither a picture of the sheet nor a page in a language the check reads')
    if document.unreadable:
        raise Refused(document.unreadable)
    named = judging.paper or document.paper() or \
        (printer and (printer.default_paper, printer.sheet(printer.default_paper)))
    if not named:
        raise UsageError(f'{path}: the file names no paper; give --paper or --printer')
    paper, sheet = named
    setup = PageSetup(paper, sheet, judging.run.margins, judging.orientation)
    if not setup.has_room():
        raise UsageError(f'--margins: they leave no room on {paper} {judging.orientation}')
    laid_out = document.laid_out
    dpi = dpi_of(printer.resolution) if printer else (laid_out and laid_out.dpi) or DEFAULT_DPI
    turn = None
    if setup.landscape:
        turn = (laid_out and laid_out.turn) or (printer and printer.turn) or 'Plus90'
    caption = CAPTIONS[judging.mode] if judging.mode else document.title if document.title in CAPTIONS.values() \
        else None
    if not caption:
        said = f' (it says "{document.title}")' if document.title else ''
        raise UsageError(f'{path}: the file carries no title naming the mode{said}; give --mode')
    media = file_media(printer, paper, sheet, dpi) if printer else Media(sheet, None, dpi)
    printed = Printed(path, NamedJob(document.title if document.title is not None else caption), None, media,
                      os.path.basename(path), ', ', document=document)
    page = measure_document(printed, replace(setup, dpi=dpi, turn=turn, layout=laid_out and laid_out.dpi), workdir)
    return page, paper, caption


def pictured(path, judging):
    """Whether the file is to be judged as a picture of the sheet: a PDF only where it carries no
    title of the mode, as the program's own PDF does, or --picture says so."""
    form = is_picture(path)
    if judging.picture and not form:
        raise UsageError(f'{path}: not a picture (PNG, JPEG, TIFF, BMP, HEIC, or a PDF whose one page is one image)')
    return bool(form) and (form != 'PDF' or bool(judging.picture) or Document(path).title not in CAPTIONS.values())


def read_picture_page(path, judging, workdir):
    """The picture's sheet brought on and measured, the name of its paper and the caption it is
    judged with; PictureError says why a picture cannot be judged."""
    if judging.orientation == 'landscape':
        raise UsageError(f'{path}: a picture is judged portrait; give no --orientation landscape')
    asked = Asked(judging.run.margins, judging.run.tolerance, judging.picture, judging.dpi, judging.paper)
    page = read_pictured(path, asked, workdir)
    caption = CAPTIONS[judging.mode] if judging.mode else CAPTIONS.get(page.mode)
    if not caption:
        words = ', '.join(f'{width:.2f}' for width in page.words)
        raise UsageError(f'{path}: the text line does not read as the caption (words {words} em wide); give --mode')
    return page, page.paper[0], caption, described(page, asked)


def file_checks(page, caption, judging):
    """The checks of a file's page: one that carries no title is titled by --mode."""
    checks = judge_page(page, caption, judging.run.tolerance)
    if page.title is None and judging.mode:
        checks[1] = Check(TITLED, True, f'the file carries no title; {mode_name(caption)} by --mode')
    return checks


def judge_path(path, judging, workdir):
    """A file's or a picture's page read and measured: the page, its paper, its caption, what it was
    measured on and its checks."""
    if pictured(path, judging):
        page, paper, caption, measured = read_picture_page(path, judging, workdir)
        return page, paper, caption, measured, picture_checks(page, caption, bool(judging.mode))
    page, paper, caption = read_file(path, judging, workdir)
    measured = page.described
    return page, paper, caption, measured, file_checks(page, caption, judging)


def compare_modes(row, greys, run):
    """The Direct and Bitmap pages of a row compared, with the difference of their registration."""
    direct, bitmap = row.pages[DIRECT_CAPTION], row.pages[BITMAP_CAPTION]
    differing = difference_picture(direct, bitmap, (greys[DIRECT_CAPTION], greys[BITMAP_CAPTION]), run.out,
                                   row.stem('difference'))
    row.pictures['difference'] = differing and differing[0]
    tolerance = max([run.tolerance] + [getattr(page, 'tolerance', 0) for page in (direct, bitmap)])
    row.agreement = judge_agreement(direct, bitmap, tolerance, differing and differing[1])
    apart = registration_apart(direct, bitmap)
    if apart:
        row.agreement = Check(AGREE, row.agreement.passed, f'{row.agreement.figure}; Bitmap less Direct: '
                                                           f'{apart.text()}')


def judge(judging):
    """Judges every file, a row for each paper with at most one page of each mode; returns the
    exit status."""
    out = judging.run.out
    os.makedirs(out, exist_ok=True)
    rows, greys, refused = [], {}, []
    with tempfile.TemporaryDirectory() as workdir:
        for path in judging.files:
            try:
                page, paper, caption, measured, checks = judge_path(path, judging, workdir)
            except (PictureError, Refused) as problem:
                refused.append(f'{path}: not judged: {problem}')
                print(refused[-1], flush=True)
                continue
            name = os.path.splitext(os.path.basename(path))[0]
            row = next((row for row in rows if row.paper == paper and caption not in row.pages), None)
            if row:
                row.printer.name += f' + {name}'
            else:
                row = Row(Named(name, page.language or page.kind or 'unknown'), paper, judging.orientation)
                rows.append(row)
                greys[id(row)] = {}
            row.add(caption, page, checks, measured)
            row.pictures[caption], greys[id(row)][caption] = \
                page_picture(page, out, f'{name}-{mode_name(caption)}'.replace(' ', '_')) or (None, None)
            if getattr(page, 'picture', None) and row.pictures[caption]:
                report_picture(page, out, row.pictures[caption])
            figures = f'; {page.registration.text()}' if getattr(page, 'registration', None) else ''
            verdict = f'not measured: {page.unreadable}' if page.unreadable else row.summary(caption)
            print(f'{path}: {paper} {judging.orientation} {mode_name(caption)}: {verdict}{figures}', flush=True)
        for row in rows:
            if len(row.pages) == 2:
                compare_modes(row, greys[id(row)], judging.run)
            row.release()
    if not rows:
        return 1
    record = run_record(rows, judging.run)
    status = report_run(rows, judging.run, print, record, refused)
    save_results(rows, judging.run, record)
    return status


def page_registration(page):
    measured = getattr(page, 'measurement', None)
    return getattr(page, 'registration', None) or (measured and registration(measured))


def registration_apart(direct, bitmap):
    """How the Bitmap page's registration differs from the Direct page's, or None."""
    one, other = page_registration(direct), page_registration(bitmap)
    return other.minus(one) if one and other else None


def save_results(rows, run, record):
    """results.json, with each measured page's registration and a pictured page's tolerance, and a
    row's Bitmap less Direct registration."""
    found = results.document(rows, record)
    for row, record in zip(rows, found['rows']):
        for (caption, page), stored in zip(row.pages.items(), record['pages']):
            figures = page_registration(page)
            stored['registration'] = figures and figures.record()
            stored['picture'] = getattr(page, 'picture', None) and {
                'kind': page.picture, 'sheet': page.said, 'paper': page.paper[0], 'tolerance_mm': page.tolerance}
        apart = len(row.pages) == 2 and registration_apart(row.pages[DIRECT_CAPTION], row.pages[BITMAP_CAPTION])
        record['registration_bitmap_less_direct'] = apart and apart.record() or None
    results.save(found, run.out)


def main(arguments):
    try:
        return judge(parse(arguments))
    except UsageError as problem:
        print(f'judge-page.sh: {problem}\nTry judge-page.sh --help.', file=sys.stderr)
        return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
