"""The printer languages no reader decodes, named so that a page in one is reported as such rather
than as an unknown stream: by the name a PJL job's ENTER LANGUAGE gives them, and by the first
bytes of a stream that carries none."""
import re

JETREADY = 'JetReady'
QUICKCONNECT = 'QuickConnect'
# foo2zjs' languages the foo2 reader does not read, each written by its foo2* program.
OAKT = 'OAKT'
DDST = 'DDST'
# An OAKT stream starts with its records' magic (oak.h).
ENTERED = {'JETREADY': JETREADY, 'QUICKCONNECT': QUICKCONNECT}
STARTS = ((b'OAKT', OAKT),)
NOT_NAME = re.compile(r'[^A-Z0-9]')


def unread_language(entered, data):
    """The name of a language no reader decodes, from a PJL job's ENTER LANGUAGE or the stream's
    first bytes, or None."""
    named = ENTERED.get(NOT_NAME.sub('', entered.upper())) if entered else None
    return named or next((name for start, name in STARTS if data.startswith(start)), None)
