"""What the jobs of the two inkjet languages ESC/P 2 and ESC/P-R share: the ESC 01 and EJL lines
that take a printer out of packet mode, and remote-mode blocks of two-letter commands, each with
its length, up to ESC 00 00 00."""
import re

from .base import StreamError

PACKET_EXIT = re.compile(rb'\x1b\x01(?:@EJL[^\n]*\n)+')
REMOTE_END = b'\x1b\0\0\0'
REMOTE_COMMAND = re.compile(rb'[A-Z]{2}')
# Duplex printing turns every other page over, a back no reader places.
DUPLEX = b'DP'


def packet_exit(data, at):
    """Where what follows the packet-mode exit at at starts."""
    found = PACKET_EXIT.match(data, at)
    if not found:
        raise StreamError(f'unknown EJL sequence at byte {at}')
    return found.end()


def remote_commands(data, at, language):
    """The commands of the remote-mode block from at, each (name, the byte it is at, its
    parameters), and where the block ends; StreamError for a block cut short, a bad command or
    duplex printing."""
    commands = []
    while data[at:at + 4] != REMOTE_END:
        head = data[at:at + 4]
        if len(head) < 4:
            raise StreamError(f'{language} stream cut off inside a remote-mode block at byte {at}')
        if not REMOTE_COMMAND.fullmatch(head[:2]):
            raise StreamError(f'bad remote-mode command at byte {at}')
        size = int.from_bytes(head[2:4], 'little')
        if at + 4 + size > len(data):
            raise StreamError(f'{language} stream cut off inside a remote-mode block at byte {at}')
        if head[:2] == DUPLEX:
            raise StreamError(f'duplex printing (remote command DP at byte {at}) is not read')
        commands.append((head[:2], at, data[at + 4:at + 4 + size]))
        at += 4 + size
    return commands, at + 4
