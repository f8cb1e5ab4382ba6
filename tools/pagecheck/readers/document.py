"""A document as a queue wrote it or a file holds it, read as the device would get it: the part a
PJL job hands a language, in the language a reader reads, what of it the printer's interpreter
runs, its title, and how its page set-up lays the page on the sheet."""
import os

from . import postscript
from .base import StreamError
from .pjl import job_name, job_parts
from .registry import PAGE_DESCRIPTIONS, PRINTER_LANGUAGES, file_reader, page_description, printer_language
from .unread import unread_language


class Document:
    """reader is the module that reads it, or None for a language none reads; kind its language,
    as the reader names it (None where none reads it); language the name the job gives the
    language (PJL's ENTER LANGUAGE, upper-case), the reader's own for a printer's language, the
    name of a language no reader decodes where it can be told; data the device code the reader
    is given; title what the document calls itself (a printer's language: what its PJL job
    does), or None; laid_out how a PostScript page set-up lays the page (a LaidOut), or None;
    name the file's name; unreadable why its reader refuses it before rendering it (a PDF cut
    short), or None."""

    def __init__(self, path):
        with open(path, 'rb') as source:
            raw = source.read()
        self.name = os.path.basename(path)
        self.laid_out = None
        self.unreadable = None
        self.reader = file_reader(raw)
        if self.reader:
            self.kind, self.language, self.data, self.title = self.reader.language(raw), None, raw, None
            return
        parts = [(page_description(entered, data), entered, data) for entered, data in job_parts(raw)]
        described = [part for part in parts if part[0]]
        self.reader, self.language, self.data = (described or parts or [(None, None, b'')])[0]
        if not described:
            # A part the job enters a language no reader reads is that language, however it
            # starts; one it enters by a name a printer's reader knows is that reader's: LAVAFLOW's
            # PCL-like commands would pass for PCL 3 GUI.
            found = [(reader, data) for _, entered, data in parts
                     if not unread_language(entered, b'') and (reader := printer_language(data, entered))]
            if found:
                self.reader, self.data = found[0]
                self.language = self.reader.language(self.data)
            else:
                self.language = unread_language(self.language, self.data) or self.language
            self.kind = self.reader and self.language
        else:
            self.kind = self.reader.language(self.data)
        if self.reader:
            try:
                self.data = self.reader.device_code(self.data)
            except StreamError as problem:
                self.unreadable = str(problem)
        self.title = self.reader and self.reader.title(self.data)
        if self.title is None and self.reader not in PAGE_DESCRIPTIONS:
            named = job_name(raw)
            self.title = named.decode('latin-1') if named is not None else None
        if self.reader is postscript:
            self.laid_out = postscript.laid_out(self.data)

    @property
    def in_printer_language(self):
        """Whether it is in a printer's own language, which carries no title of its own."""
        return self.reader in PRINTER_LANGUAGES

    def paper(self):
        """The paper it names first, as (name, (width, height) in points), or None."""
        return self.reader.paper(self.data) if self.reader else None

    def render(self, media, workdir, bits=False):
        if self.unreadable:
            raise StreamError(self.unreadable)
        return self.reader.render(self, media, workdir, bits)
