"""Every page language the check reads, one reader module each, in the order they are tried: a
new language is one module (the entry points of readers.base) and one line here."""
from . import brlaser, c2esp, canon, escp2, escpr, foo2, lidil, pcl, pcl3, pdf, postscript, raster

# Read from the whole file: they come in no job.
FILE_READERS = (raster,)
# Page descriptions, inside a PJL job or not: named by the job's ENTER LANGUAGE or told by their
# first bytes.
PAGE_DESCRIPTIONS = (postscript, pdf)
# Printers' own languages, told by their first commands. ESC/P-R first: its jobs open as ESC/P 2's
# do, and its raster could hold what PCL 3 is told by. brlaser's raster before PCL 3 and PCL 5: its
# PCL-like job opens with compression mode 1030, which neither has, and its raster could hold what
# PCL 3 is told by. PCL 3 GUI before PCL 5: GhostPCL would take a PCL 3 GUI stream's raster for
# text. LIDIL is told by its first packet's framing; Kodak ESP's jobs open with a query in plain text
# that no other language's does. foo2zjs' languages start with no escape, and QPDL's page header is
# told by a few bytes' values: last.
PRINTER_LANGUAGES = (escpr, brlaser, pcl3, escp2, canon, pcl, lidil, c2esp, foo2)
READERS = FILE_READERS + PAGE_DESCRIPTIONS + PRINTER_LANGUAGES
# Every language read, as reports and the coverage table name them.
READ = tuple(name for reader in READERS for name in reader.LANGUAGES)
# What a PJL job's ENTER LANGUAGE calls the page descriptions, and the printers' languages it names
# that could pass for another by their first bytes (LAVAFLOW's PCL-like commands).
ENTERED = {'POSTSCRIPT': postscript, 'PDF': pdf}
PRINTER_ENTERED = {foo2.LAVAFLOW: foo2, foo2.HIPERC: foo2}
# The PPD keywords whose values readers take from the printer's model (Media.attributes).
PPD_KEYWORDS = tuple(keyword for reader in READERS for keyword in reader.PPD_KEYWORDS)


def file_reader(data):
    return next((reader for reader in FILE_READERS if reader.sniff(data)), None)


def page_description(entered, data):
    """The page description reader of a job's part, by the language the job names or its first
    bytes: a language the printer names for itself may still be PostScript or PDF by its first
    bytes (hpcups' PCLm is a PDF)."""
    return ENTERED.get(entered) or next((reader for reader in PAGE_DESCRIPTIONS if reader.sniff(data)), None)


def printer_language(data, entered=None):
    """The printer's language reader of a job's part, by the language the job enters or its first
    bytes."""
    return PRINTER_ENTERED.get(entered) or next((reader for reader in PRINTER_LANGUAGES if reader.sniff(data)), None)
