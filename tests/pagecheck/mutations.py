"""Random mutations of a reader's input, for the tests that every mutation is read or refused with
the reader's one error: a stream cut short, a byte changed, bytes put in."""
import random

from pagecheck.readers.base import StreamError


def mutate_at(generator, data, at, choice):
    """One mutation of the bytearray data at at: choice, from 0 to 1, picks which."""
    if choice < 0.3:
        del data[at:]
    elif choice < 0.6:
        data[at:at + 1] = bytes([generator.randrange(256)])
    else:
        data[at:at] = bytes(generator.randrange(256) for _ in range(generator.randint(1, 8)))


def mutated(generator, data, bytes_only=False):
    """data with one to four mutations; bytes_only changes bytes alone, keeping every length the
    stream gives right, so that mutations reach what the lengths hold."""
    data = bytearray(data)
    for _ in range(generator.randint(1, 4)):
        mutate_at(generator, data, generator.randrange(len(data) + 1), 0.45 if bytes_only else generator.random())
    return bytes(data)


def read_or_refused(test, read, streams, cases, seed):
    """Each of cases mutations of the streams is read into whole grey sheets, or refused with the
    readers' StreamError; every other one only changes bytes, keeping the commands' lengths, to
    reach the data they hold."""
    generator = random.Random(seed)
    for case in range(cases):
        data = mutated(generator, generator.choice(streams), bytes_only=case % 2 == 0)
        try:
            pages = read(data)
        except StreamError:
            continue
        for page in pages:
            test.assertEqual(page.image.mode, 'L')
            test.assertGreater(page.image.width * page.image.height, 0)
