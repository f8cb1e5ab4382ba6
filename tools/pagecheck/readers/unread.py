"""The printer languages no reader decodes, named so that a page in one is reported as such rather
than as an unknown stream: by the name a PJL job's ENTER LANGUAGE gives them, and by the first
bytes of a stream that carries none."""
import re

LIDIL = 'LIDIL'
ZJSTREAM = 'ZjStream'
JETREADY = 'JetReady'
QUICKCONNECT = 'QuickConnect'
# foo2zjs' languages, each written by its foo2* program and decoded by its *decode.
XQX = 'XQX'
QPDL = 'QPDL'
LAVAFLOW = 'LAVAFLOW'
OAKT = 'OAKT'
HBPL = 'HBPL'
SLX = 'SLX'
HIPERC = 'HIPERC'
DDST = 'DDST'
ENTERED = {'LIDIL': LIDIL, 'ZJS': ZJSTREAM, 'ZJSTREAM': ZJSTREAM, 'ZXS': ZJSTREAM, 'JETREADY': JETREADY,
           'QUICKCONNECT': QUICKCONNECT}
STARTS = ((b'JZJZ', ZJSTREAM), (b'ZJZJ', ZJSTREAM), (b'$\x00', LIDIL))
NOT_NAME = re.compile(r'[^A-Z0-9]')


def unread_language(entered, data):
    """The name of a language no reader decodes, from a PJL job's ENTER LANGUAGE or the stream's
    first bytes, or None."""
    named = ENTERED.get(NOT_NAME.sub('', entered.upper())) if entered else None
    return named or next((name for start, name in STARTS if data.startswith(start)), None)
