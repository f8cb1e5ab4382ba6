"""What the commands' command lines share: a parser whose errors are UsageErrors, and the margins
and tolerance every page is judged with."""
import argparse

from .errors import UsageError
from .setup import Margins


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError(message)


def add_page_arguments(parser):
    """The margins a page is printed with and the tolerance it is judged to."""
    parser.add_argument('--margins', metavar='L,T,R,B', default='1,1,1,1',
                        help='left, top, right and bottom margins, in inches (default 1,1,1,1)')
    parser.add_argument('--mm', action='store_true', help='the margins are in millimetres')
    parser.add_argument('--tolerance', metavar='MM', type=float, default=0.1,
                        help='how far a line may lie from where it belongs, in mm (default 0.1; never less than '
                             '2 printer pixels)')


def page_arguments(options):
    """The Margins and the tolerance the options give; a UsageError for bad ones."""
    margins = Margins.parse(options.margins, options.mm)
    if not options.tolerance > 0:
        raise UsageError('--tolerance: must be more than 0')
    return margins, options.tolerance
