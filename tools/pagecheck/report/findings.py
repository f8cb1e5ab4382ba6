"""Findings: what makes a family of pages fail, traced to its cause. A failing page that matches a
finding names it in every report; a finding whose cause the evidence does not settle makes its
pages "disputed" rather than failed; a failing page that matches none is "unexplained".

A finding matches a page by its printer's driver (the PPD's name as given, or the raster driver
its filters end in), the page's language, paper and mode, and by how its border's edges moved
(measured less expected along the page, in mm: + towards the page's right or bottom)."""
import re
from dataclasses import dataclass, field

from ..measure.checks import AGREE, DIAGONALS, DRIVER, EDGES, ELLIPSE, STROKES, TEXT, TITLED, Check
from ..measure.checks import moved_edges as named_moved

CONFIRMED, DISPUTED = 'confirmed', 'disputed'
UNEXPLAINED = 'unexplained'
# What a page moved or scaled as a whole fails besides its border's edges; a line drawn too thick,
# a page missing or mistitled is another fault, which such a finding does not explain.
FOLLOWING = (EDGES, DIAGONALS, ELLIPSE, TEXT, DRIVER, AGREE)


@dataclass(frozen=True, eq=False)
class Finding:
    """id is what results.json carries; edges maps an edge that must have moved (failed) to the
    (lowest, highest) mm it moved by, or to None where it must not have failed; within maps an edge
    that may have moved or not to the (lowest, highest) mm it stays in; an edge not named may do
    anything. checks are the checks whose failures it explains: a page that failed another is not
    its; required those of them that must have failed."""
    id: str
    name: str
    cause: str
    source: str
    confidence: str
    option: str
    driver: str
    languages: tuple
    papers: tuple = ()
    modes: tuple = ()
    edges: dict = field(default_factory=dict)
    within: dict = field(default_factory=dict)
    checks: tuple = FOLLOWING
    required: tuple = ()

    def matches(self, page):
        """Whether the page (a Page below) failed the way this finding says."""
        if not re.search(self.driver, page.driver or ''):
            return False
        if page.language not in self.languages or (self.papers and page.paper not in self.papers):
            return False
        if self.modes and page.mode not in self.modes:
            return False
        if set(page.failed) - set(self.checks) or set(self.required) - set(page.failed):
            return False
        for edge, span in self.edges.items():
            moved = page.edges.get(edge)
            if span is None:
                if moved is not None and edge in page.moved:
                    return False
            elif moved is None or edge not in page.moved or not span[0] <= moved <= span[1]:
                return False
        for edge, (lowest, highest) in self.within.items():
            moved = page.edges.get(edge)
            if moved is not None and not lowest <= moved <= highest:
                return False
        return True


@dataclass
class Page:
    """What a finding is matched on: driver is the PPD's name as given and its raster driver;
    edges the mm each edge moved by, None where not found; moved the edges that fail; failed the
    names of the checks that fail."""
    driver: str
    language: str
    paper: str
    mode: str
    edges: dict
    moved: tuple = ()
    failed: tuple = ()


GUTENPRINT = 'gutenprint 5.3.4'
FOO2ZJS = 'foo2zjs 20200505dfsg0'
GHOSTPCL_A4 = 'ghostscript 10.0.0: pcl/pcl/pcpage.c:449 (A4 logical page 71 dots at 300 dpi from the left edge)'
SHRINK = ("its PPD's imageable area is the borderless one, the whole sheet, and the default "
          "StpiShrinkOutput=Shrink scales that into the bordered area of the driver's own head data")
# Edges that must not have moved.
STILL = None

# hpcups' borderless sizes on size codes PCL lists (hpcups.drv.in), whose pages the PCL 3 GUI
# reader places: the others' sheets it does not know.
HPCUPS_BORDERLESS = ('A3.FB', 'A4.FB', 'A5.FB', 'B.FB', 'B4JIS.FB', 'B5(JIS).FB', 'CardA4.FB', 'CardLetter.FB',
                     'Envelope#10.FB', 'EnvelopeDL.FB', 'Executive.FB', 'Hagaki.FB', 'IndexCardA4.FB',
                     'IndexCardLetter.FB', 'JB5.FB', 'JapanesePostCard.FB', 'JapanesePostcard.FB', 'Legal.FB',
                     'Letter.FB', 'OfukuHagaki.FB', 'Oufuku.FB', 'Tabloid.FB')

FINDINGS = (
    Finding('gutenprint-canon-shrink', 'Gutenprint Canon: page shrunk into the borders', SHRINK,
            f'{GUTENPRINT}: src/cups/genppd.c:503, src/cups/rastertogutenprint.c:586-595, '
            'src/main/canon-printers.h:1766 (borders 10, 10, 9, 15 pt)',
            CONFIRMED, 'Crop or Expand: not shrunk but 3.17 mm low (the top trim is never applied, '
            'rastertogutenprint.c:616); a PPD edit to the bordered area (A4 "10 15 585 833") prints it right',
            r'^gutenprint', ('Canon raster',),
            edges={'left': (1, 4), 'top': (1, 4), 'right': (-4, -1), 'bottom': (-6, -2)}),
    Finding('gutenprint-escp2-shrink', 'Gutenprint Epson: page shrunk into the borders', SHRINK,
            f'{GUTENPRINT}: src/cups/genppd.c:503, src/cups/rastertogutenprint.c:586-595, '
            'src/xml/escp2/model/base/r200.xml:56 (margins 9, 9, 0, 9 pt)',
            CONFIRMED, 'Crop: the page as it was handed', r'^gutenprint', ('ESC/P 2',),
            edges={'left': (1, 4), 'right': (-4, -1)}, within={'top': (-0.5, 4), 'bottom': (-15, 0.5)}),
    Finding('gutenprint-pcl5-a4-10pt', 'Gutenprint PCL 5 on A4: page 2.45 mm right',
            "the driver puts its raster at the logical page's left edge (ESC&a0H) and takes that edge to be "
            "10 pt from the sheet's, HP's Wide A4; PCL 5's A4 logical page starts at 71 dots (17.04 pt) "
            "unless the printer is set to Wide A4, which the driver does not ask for",
            f'{GUTENPRINT}: src/main/print-pcl.c:3266 and its A4 margins (10 pt: line 1148 and others); '
            f'{GHOSTPCL_A4}, 197-200 (Wide A4: 41 dots)',
            DISPUTED, '@PJL SET WIDEA4=YES on the printer: -0.09 mm', r'^gutenprint', ('PCL 5',), ('A4',),
            edges={'left': (2.2, 2.7), 'right': (2.2, 2.7), 'top': STILL, 'bottom': STILL}),
    Finding('gutenprint-pcl5-a4-18pt', 'Gutenprint PCL 5 on A4: page 0.34 mm left',
            "the driver puts its raster at the logical page's left edge (ESC&a0H) and takes that edge to be "
            "18 pt from the sheet's, as on Letter; PCL 5's A4 logical page starts at 71 dots (17.04 pt)",
            f'{GUTENPRINT}: src/main/print-pcl.c:3266 and its A4 margins (18 pt: line 1174 and others); '
            f'{GHOSTPCL_A4}',
            DISPUTED, '', r'^gutenprint', ('PCL 5',), ('A4',),
            edges={'left': (-0.5, -0.2), 'right': (-0.5, -0.2), 'top': STILL, 'bottom': STILL}),
    Finding('rastertohp-logical-page', "rastertohp: page right by the PPD's margin",
            "rastertohp puts the raster at the logical page's left edge (ESC&a0H) while the raster starts at "
            "the PPD's imageable left edge; PCL 5's logical page starts 71 dots (A4) or 75 dots (Letter) in at "
            "300 dpi, so a PPD whose left margin is not that moves the page",
            f'cups 2.4.2: filter/rastertohp.c:304; {GHOSTPCL_A4}, 446 (Letter: 75 dots)',
            CONFIRMED, 'a PPD edit: ImageableArea A4 "17.04 12 577.96 830", Letter "18 12 594 780"',
            r'rastertohp', ('PCL 5',), edges={'left': (-3, 3), 'right': (-3, 3), 'top': STILL, 'bottom': STILL}),
    Finding('ghostscript-ljet4-top', "Ghostscript's ljet4: page 0.05 inch low",
            "the device sends ESC&l-180u36Z, a top offset registration of 36 decipoints, which a PCL 5 "
            "interpreter applies to the whole page",
            'ghostscript 10.0.0: devices/gdevdjet.c:459; pcl/pcl/pcpage.c:774-786',
            DISPUTED, 'gs -c "<</PageOffset [0 -3.6]>> setpagedevice" -f: 0.00 mm', r'^$', ('PCL 5',),
            edges={'top': (1.1, 1.45), 'bottom': (1.1, 1.45)}),
    Finding('hpcups-a4-integer-top', 'hpcups on A4: page 5 rows low at 600 dpi',
            "hpcups takes the top margin from the raster header's whole points (842 - 833 = 9 pt where the "
            "PPD's A4 has 841.68 - 833.28 = 8.40), 5 rows at 600 dpi; Ghostscript's cups device lays the raster "
            "out on the rounded 842-point sheet, 0.11 mm more",
            'hplip 3.22.10: prnt/hpcups/HPCupsFilter.cpp:354, prnt/hpcups/Pcl3Gui2.cpp:226-228; '
            'ghostscript 10.0.0: cups/gdevcups.c:878-879',
            CONFIRMED, 'a PPD edit to a whole-point top margin: ImageableArea A4 "8.4 8.4 587.04 832.68"',
            r'hpcups', ('PCL 3 GUI',), ('A4',),
            edges={'top': (0.2, 0.5), 'bottom': (0.2, 0.5), 'left': STILL, 'right': STILL}),
    Finding('hpcups-pcl5-a4', 'hpcups PCL 5 lasers on A4: page 0.34 mm left',
            "hpcups sends ESC*p#x#Y with a left position of 0 (or a centring from the model's width), from "
            "the logical page's left edge, as if that lay where the raster starts, 18 points in as on Letter; "
            "PCL 5's A4 logical page starts at 71 dots (17.04 pt); the top may also be off as in "
            "hpcups-a4-integer-top, its top margin worked out the same way",
            f'hplip 3.22.10: prnt/hpcups/Encapsulator.cpp:269-275; {GHOSTPCL_A4}',
            DISPUTED, '', r'hpcups', ('PCL 5',), ('A4',),
            edges={'left': (-0.5, -0.2), 'right': (-0.5, -0.2)}),
    Finding('hpcups-mode9-shared-seed', 'hpcups DeskJet 850C family: colour planes garbled',
            "hpcups' mode 9 compressor keeps every plane's seed row in one buffer at plane x its own width, "
            "so the second black row's seed is the cyan planes'; the printer, keeping a seed per plane, "
            "decodes them against the wrong rows",
            'hplip 3.22.10: prnt/hpcups/Mode9.cpp:190 and 405, prnt/hpcups/Pcl3.cpp:95, '
            'prnt/hpcups/Compressor.cpp:44',
            CONFIRMED, 'OutputMode=DraftRGB: clean', r'hp-deskjet_85[05]c|hp-deskjet_870c|officejet_pro_1150c',
            ('PCL 3 GUI', 'PCL 3'), checks=FOLLOWING + (STROKES,)),
    Finding('epson-pagesize-turned', 'Two Epson laser PPDs: the page set up on a turned sheet',
            "the PPD's PageSize and PageRegion code asks for A4 as [842 595] and Letter as [792 612], the sheet "
            "turned, while its PaperDimension and ImageableArea have it upright (595 842); the interpreter sets "
            "up a landscape page, and the upright page drawn for the sheet is cut below 595 points",
            'openprinting-ppds 20230202-1: Epson/eplp960s.ppd:847, 863 and 933 against :1018; '
            'Epson/epln2700.ppd:808, 824 and 915 against :1026 (as cups-driverd writes them out)',
            CONFIRMED, 'a PPD edit: A4 [595 842], Letter [612 792] in PageSize and PageRegion: all four pages pass',
            r'Epson/ep(lp960s|ln2700)\.ppd', ('PostScript', 'POSTSCRIPT'), ('A4', 'Letter'),
            edges={'bottom': (-95, -55)}, checks=FOLLOWING + (STROKES,)),
    Finding('lexmark-a4-paper-dimension', 'Lexmark C52x PPDs on A4: page 0.14 mm high',
            "the PPD's PaperDimension makes A4 842.4 points high while its PageSize code sets up 842; Wine's "
            "PostScript driver takes the sheet from PaperDimension, so its page starts 12.4 points above the "
            "imageable area's top, which lies 12 points from the top of the 842-point page: 0.4 pt high",
            'openprinting-ppds 20230202-1: Lexmark/Lexmark_C520.ppd:2643 against :3212 (C522 and C524 alike); '
            'wine 8.0: dlls/wineps.drv/init.c:292, ps.c:541-545',
            CONFIRMED, 'a PPD edit: *PaperDimension A4: "595 842"', r'Lexmark/Lexmark_C52[024]\.ppd',
            ('PostScript', 'POSTSCRIPT'), ('A4',),
            edges={'top': (-0.25, -0.1), 'bottom': (-0.25, -0.1), 'left': STILL, 'right': STILL}),
    Finding('samsung-ml2570-a4-twice', "Samsung ML-2570 PPD: A4's size given twice, A3's first",
            "the PPD gives *PaperDimension A4 twice, first as 842 1190 (A3) and then as 595 842; Wine's "
            "PostScript driver keeps the first and lays the page out on an A3 sheet, libcups and so CUPS and "
            "the check the last, the A4 sheet the page is printed on",
            'openprinting-ppds 20230202-1: Samsung/PS/Samsung_ML-2570_Series.ppd:255 and :258; '
            'wine 8.0: dlls/wineps.drv/ppd.c:901-907; cups 2.4.2: cups/ppd.c:1930-1954',
            CONFIRMED, 'a PPD edit: delete the first *PaperDimension A4: both pages pass', r'Samsung_ML-2570_Series\.ppd',
            ('PostScript', 'POSTSCRIPT'), ('A4',), edges={'top': (100, 300)}, checks=FOLLOWING + (STROKES,)),
    Finding('escpr-borderless-expand', 'epson-escpr borderless: page enlarged past the sheet',
            "the driver stretches the raster it is handed, the whole sheet, over its borderless print area, "
            "which runs past the sheet (A4 at 360 dpi: 3048 x 4321 dots from 36 left of and 42 above its "
            "corner, against 2976 x 4209): the page 2.4 % wider and 2.7 % taller, its lines as much thicker",
            'printer-driver-escpr 1.7.17: src/filter.c:398-399 and 565-640, lib/epson-escpr-media.h:140-141, '
            'lib/epson-escpr-pm.c:2213-2216',
            CONFIRMED, 'the bordered size (A4 rather than TA4): the page as it was handed', r'epson-escpr',
            ('ESC/P-R',), edges={'left': (-3, -0.5), 'top': (-3.5, -0.5), 'right': (0.5, 3), 'bottom': (1, 6)},
            checks=FOLLOWING + (STROKES,)),
    Finding('hpcups-borderless-overspray', 'hpcups borderless: page up and left by the overspray, or off-centre',
            "the program lays the page out on the PPD's borderless size, larger than the sheet (A4.FB 605 x 852 pt "
            "or 610.992 x 855.792 for A4's 595 x 842), and the driver sends the raster of it whole, telling the "
            "printer to start it the overspray left of and above the sheet's corner: at 600 dpi 36 and 18 dots "
            "(the default HPXOverSpray and HPYOverSpray, 0.12 and 0.06 in, halved) or 58 and 58 (cupsReal0 and "
            "cupsReal1, 0.098 in), so the raster runs past the right and bottom edges by the rest (A4: 45 and 66 "
            "dots; 73 and 58). Measured from the sheet's corner, as the check lays the page out, it moves that far "
            "up and left; taken as centred on the sheet, as the PPD's size of the sheet and its overspray on every "
            "side suggests, it lands 0.24 mm right and 1.0 mm low (8200), 0.37 mm right and 0.02 mm high (5510). "
            "Where the page is meant to lie on the sheet, neither the PPD nor the stream says",
            'hplip 3.22.10: prnt/hpcups/HPCupsFilter.cpp:257-258, 317, 355-363 and 441, prnt/hpcups/Pcl3Gui2.cpp:'
            '144-146, 169-200 and 225-228; prnt/drv/hpcups.drv.in:2339-2345 and 4513-4518',
            DISPUTED, 'the bordered size (A4 rather than A4.FB): the page as it was handed', r'hpcups',
            ('PCL 3 GUI',), HPCUPS_BORDERLESS,
            edges={'left': (-2.6, -1.4), 'top': (-2.6, -0.6), 'right': (-2.6, -1.4), 'bottom': (-2.6, -0.6)},
            required=(DRIVER,)),
    Finding('foo2qpdl-job-name', 'foo2qpdl: every job named "<stdin>"',
            "the wrapper hands foo2qpdl the job's name as -J \"$LPJOB\", a variable it never sets (the line that "
            "would is commented out), and foo2qpdl names a job without one by its input, \"<stdin>\", in its PJL "
            "SET JOBNAME; its pages are placed as foo2-left-byte-clip and foo2-1200x1200-top say",
            f'{FOO2ZJS}: foo2qpdl-wrapper.in:285-286 and 727, foo2qpdl.c:873-874 and 1768',
            CONFIRMED, 'none: the name is the wrapper\'s', r'^foo2zjs:', ('QPDL',),
            within={'left': (-0.1, 0.2), 'right': (-0.1, 0.25), 'top': (-0.1, 2.4), 'bottom': (-0.1, 2.4)},
            checks=FOLLOWING + (STROKES, TITLED), required=(TITLED,)),
    Finding('foo2-left-byte-clip', 'foo2zjs drivers: page a few dots right',
            "the wrapper asks the driver to clip the PPD's left margin off the page (9 pt: 75 dots at 600 dpi), and "
            "the driver clips only whole bytes off the left, 72 dots, handing the rest to the right edge; the "
            "printer puts the first dot kept at its printable origin, so the page lands the remainder right (3 "
            "dots at 600 dpi, 6 at 1200: 0.13 mm); where the stream places the raster itself (ZjStream's "
            "ZJI_OFFSET_X) it gives the clip asked for, not the one made: up to 7 dots, 0.30 mm at 600 dpi",
            f'{FOO2ZJS}: foo2qpdl.c:1576-1577, foo2hbpl2.c:1362-1363, foo2zjs.c:1461 and 1498-1499, '
            'foo2hiperc.c:1348-1349, foo2slx.c:1273-1274, 1287-1288 and 548-549 (SLI_OFFSET_X); '
            'foo2qpdl-wrapper.in:385 and 468, foo2hbpl2-wrapper.in:358 and 432, foo2hiperc-wrapper.in:359 and 432, '
            'foo2slx-wrapper.in:405 (Letter: 204 dots at 1200 dpi)',
            CONFIRMED, 'none from the PPD: the clip is the wrapper\'s', r'^foo2zjs:',
            ('QPDL', 'HBPL', 'ZjStream', 'HIPERC', 'SLX'),
            within={'left': (0.05, 0.3), 'right': (-0.1, 0.4), 'top': (-0.1, 0.1), 'bottom': (-0.1, 0.15)},
            required=(EDGES,)),
    Finding('foo2hiperc-300dpi-clip', 'foo2hiperc at 300 dpi: page 0.5 mm right',
            "at 300 x 300 dpi the wrapper divides its left clip of 150 (dots of 1200 dpi) by 4, 37 dots, of which "
            "foo2hiperc clips whole bytes, 32; the PPD's 9 pt left margin is 37.5 dots, so the page lands 5.5 dots "
            "(0.47 mm) right of where the PPD puts it",
            f'{FOO2ZJS}: foo2hiperc-wrapper.in:358 and 432, foo2hiperc.c:1348-1349',
            CONFIRMED, 'Resolution=600x600dpi: 3 dots (0.13 mm), as foo2-left-byte-clip says', r'^foo2zjs:',
            ('HIPERC',), edges={'left': (0.35, 0.6)},
            within={'right': (0.35, 0.7), 'top': (-0.1, 0.1), 'bottom': (-0.1, 0.15)}),
    Finding('foo2lava-job-name', 'foo2lava: every job named "stdin", A4 pages 0.17 mm left',
            "the wrapper hands foo2lava the job's name as -J \"$LPJOB\", a variable it never sets, and foo2lava "
            "names a job without one \"stdin\" in its PJL JOB NAME; on A4 the wrapper clips 208 dots of 1200 dpi "
            "off the left where foo2lava puts the raster 1/6 inch (200 dots) from the sheet's corner, so the page "
            "lands 8 dots left (Letter's 204 is clipped to whole bytes, 200: in place)",
            f'{FOO2ZJS}: foo2lava-wrapper.in:263-264, 733 and 473 (A4; Letter 461), foo2lava.c:750-751, '
            '591-592 and 1300-1301',
            CONFIRMED, 'none: the name and the clip are the wrapper\'s', r'^foo2zjs:', ('LAVAFLOW',),
            within={'left': (-0.25, 0.05), 'right': (-0.25, 0.05), 'top': (-0.1, 0.1), 'bottom': (-0.1, 0.1)},
            checks=FOLLOWING + (TITLED,), required=(TITLED,)),
    Finding('foo2-1200x1200-top', 'foo2zjs QPDL and HBPL at 1200 x 1200 dpi: page 2.1 mm low',
            "the wrapper's clips are in dots of 1200 across and 600 down, and it scales them for 600 x 600 and "
            "2400 x 600 dpi only; at 1200 x 1200 dpi the top clip of 100 is taken as 100 rows of 1200 dpi, half "
            "the PPD's 12 pt top margin, and the page lands the other half low",
            f'{FOO2ZJS}: foo2qpdl-wrapper.in:378-396, foo2hbpl2-wrapper.in:351-369',
            CONFIRMED, 'Resolution=600x600dpi or 1200x600dpi: the page in place', r'^foo2zjs:', ('QPDL', 'HBPL'),
            edges={'top': (1.8, 2.4), 'bottom': (1.8, 2.4)}, within={'left': (-0.1, 0.2), 'right': (-0.1, 0.25)},
            checks=FOLLOWING + (STROKES,)),
    Finding('foo2xqx-clip', 'foo2xqx: page 0.3 mm right and 0.45 mm low',
            "the wrapper clips 176 dots of 1200 dpi and 84 rows of 600 dpi off A4's left and top (177 and 84 on "
            "Letter), 10.56 and 10.08 pt, where the PPD's imageable area starts 11.34 pt in; the printer puts "
            "what is left at its printable origin. Which of the two the printer's origin is, the stream does not "
            "say: at the PPD's, the page lands 0.28 mm right and 0.44 mm low; at the wrapper's, it is in place",
            f'{FOO2ZJS}: foo2xqx-wrapper.in:432-433 and 441-442 against PPD/HP-LaserJet_P1005.ppd:168-169',
            DISPUTED, '', r'^foo2zjs:', ('XQX',),
            edges={'left': (0.15, 0.45), 'top': (0.3, 0.6)}, within={'right': (0.15, 0.45), 'bottom': (0.3, 0.6)}),
    Finding('splix-margin-bytes', 'splix at 600 dpi: page 0.34 mm left of the raster it was handed',
            "splix cuts the PPD's left margin off the raster it is handed and sends the rest, which the printer "
            "puts at its printable origin; it rounds the margin up to whole bytes (10.75 pt: 89.6 dots at 600 dpi, "
            "96 cut from a raster of Ghostscript's cups device), and through the queue's own filters it cut 98 "
            "at 600 dpi and 45 at 300 (the page in place). Where the printer's origin lies, the stream does not "
            "say: at the PPD's margin, which splix itself takes for it, the page lands 8 dots left",
            'splix 2.0.0+svn315: src/compress.cpp (_compressBandedPage: hardMarginX = (ceil(margin) + 7) & ~7), '
            'src/printer.cpp (the hard margins are the PPD page size\'s)',
            DISPUTED, 'Resolution=300dpi: the page as it was handed', r'rastertoqpdl', ('QPDL',),
            edges={'left': (-0.45, -0.15)}, within={'right': (-0.45, 0.1), 'top': (-0.1, 0.1), 'bottom': (-0.1, 0.15)}),
    Finding('hpcups-lidil-low', "hpcups' LIDIL inkjets: black a few rows low",
            "hpcups sends the black pen's sweeps 12/2400 inch (3 rows at 600 dpi) below the colour pen's, a "
            "default pen alignment, and on LIDIL 2 models moves every other pass 4/2400 inch down, as for LIDIL "
            "1's 300 dpi colour pen, though LIDIL 2's pen sends every row; the black border lands that low, on "
            "top of what the raster it was handed has (A4's rounded 842 points, Direct's stroke pixel). Whether "
            "the printer's pens are aligned so, the stream does not say",
            'hplip 3.22.10: prnt/hpcups/Lidil.cpp:72, 1119-1125, 1558 and 1583; prnt/hpijs/dj3320.cpp:1559-1574',
            DISPUTED, '', r'hpcups', ('LIDIL',), edges={'bottom': (0.1, 0.4)},
            within={'top': (-0.05, 0.15), 'left': (-0.05, 0.15), 'right': (-0.05, 0.2)}),
    Finding('hpcups-lidil-photo', 'hpcups LIDIL Photo mode: page stretched 1.75 times down',
            "the Photo choice sends OutputType 2, but hpcups switches to its 2-bit colour planes only for "
            "OutputType 1, while the Photo print mode it picks has them: each raster row comes as 7 planes, "
            "filed as 4, and the page is drawn 7/4 as tall",
            'hplip 3.22.10: prnt/hpcups/Lidil.cpp:154-157 and 494-511, prnt/hpcups/dj3320PrintModes.h:26',
            CONFIRMED, 'OutputMode=NormalRGB: the page in place but for hpcups-lidil-low', r'hpcups', ('LIDIL',),
            edges={'bottom': (-250, -10)}, checks=FOLLOWING + (STROKES,)),
    Finding('c2espc-origin-zero', 'Kodak ESP C and Hero (c2espC): page 1.06 mm up and left',
            "c2espC puts its raster's origin 0.0 mm from the sheet's top left corner (c2esp's 1.0 mm left "
            "commented out), while the raster it is handed starts at the PPD's printable area, 3 pt (1.06 mm) in "
            "from both edges; c2esp's 1.0 mm for the same area lands within 0.06 mm. Whether these printers count "
            "the origin from the sheet's corner, as the stream reads, or from a margin of their own, the stream "
            "does not settle",
            'c2esp 27: src/c2espC.c:223-224, src/KodakESP_C_07.drv:47 (HWMargins 3 3 3 3, "1mm all round"); '
            'src/c2esp.c:295',
            DISPUTED, 'a PPD edit to the whole sheet: ImageableArea A4 "0 0 595 842", Letter "0 0 612 792", '
            'HWMargins 0 0 0 0: all four pages pass', r'c2espC', ('Kodak ESP raster',),
            edges={'left': (-1.2, -0.85), 'top': (-1.2, -0.85), 'right': (-1.2, -0.85), 'bottom': (-1.2, -0.85)}),
    Finding('direct-bottom-300dpi', 'Direct page a hair low at 300 dpi',
            "Wine's PostScript driver strokes a rectangle through its right and bottom edges, which GDI "
            "leaves out (one pixel more than the Bitmap page); with A4's 842 points in the PPD against "
            "841.89 and whole-pixel margins, that passes two pixels at 300 dpi",
            'wine 8.0: dlls/wineps.drv/graphics.c:96-128; hplip 3.22.10: prnt/hpcups/HPCupsFilter.cpp:354',
            DISPUTED, '', r'', ('PCL 3 GUI', 'PCL 3', 'PDF', 'PostScript', 'ESC/P-R'), ('A4',), ('direct',),
            edges={'bottom': (0.1, 0.3), 'left': STILL, 'top': STILL, 'right': STILL},
            checks=(EDGES, ELLIPSE, DRIVER)),
)
BY_ID = {finding.id: finding for finding in FINDINGS}


def explain(page):
    """The finding a failing page matches, or None."""
    return next((finding for finding in FINDINGS if finding.matches(page)), None)


def moved_edges(record):
    """The edges a page record's border check names as moved, left, top, right, bottom."""
    return next((named_moved(Check(check['name'], False, check['figure'])) for check in record.get('checks', [])
                 if check['verdict'] == 'FAIL' and check['name'] == EDGES), ())


def match_page(driver, paper, record):
    """The Page of a results.json page record, for matching."""
    figures = record.get('figures') or {}
    edges = {edge: (moved or {}).get('mm') for edge, moved in (figures.get('edges') or {}).items()}
    failing = tuple(check['name'] for check in record.get('checks', []) if check['verdict'] == 'FAIL')
    return Page(driver, record.get('language'), paper, record.get('mode'), edges, moved_edges(record), failing)
