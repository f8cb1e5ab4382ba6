"""The LIDIL reader: streams hpcups itself writes at run time from a small CUPS raster, LIDIL 1 and
LIDIL 2, colour, grey and draft, are placed on their sheet where the raster put the ink; sweeps'
swings, directions and compressed data; a bad or cut-short stream gives one clear error, whatever
its bytes."""
import os
import struct
import subprocess
import tempfile
import unittest

from pagecheck.readers.base import StreamError, spread
from pagecheck.readers.lidil import paper, read, sniff
from pagecheck.readers.registry import printer_language
from cups_raster import LITTLE_ENDIAN_2, RGB, page_header
from mutations import read_or_refused

DRIVERD, HPCUPS = '/usr/lib/cups/daemon/cups-driverd', '/usr/lib/cups/filter/hpcups'
# A 3 x 5 in index card (the PPDs' code 78), its printable area a quarter inch in from the left
# and from the top: 180 x 306 points of raster. On it a red box and a black one, in raster pixels
# at 300 dpi (twice as many at 600).
CARD, MARGINS, AREA = (216, 360), (18, 36), (180, 306)
RED, BLACK = (20, 10, 40, 30), (100, 50, 160, 90)
# What the PPD's Print Quality choices put in the raster: resolution, OutputType, cupsInteger2
# and cupsRowStep.
NORMAL, GREY, DRAFT = (600, b'0', 0, 1), (600, b'0', 1, 2), (300, b'-1', 2, 0)
# Black and TriColor cartridges (InstalledCartridge's cupsInteger1).
CARTRIDGES = 3
# hpcups sends the black pen's sweeps 12 device units (1/2400 in) below the colour pen's: 3 rows
# at 600 dpi.
BLACK_PEN = 3


def raster(quality, boxes):
    """A CUPS raster (version 2, little-endian) of the card: boxes of (box, RGB) in 300 dpi pixels."""
    dpi, output_type, mode, row_step = quality
    width, height = (side * dpi // 72 for side in AREA)
    top = CARD[1] - MARGINS[1] - AREA[1]
    header = page_header('<', (width, height), (dpi, dpi), CARD, 8, 3, RGB, OutputType=output_type,
                         ImagingBoundingBox=(MARGINS[0], top, MARGINS[0] + AREA[0], CARD[1] - MARGINS[1]),
                         Margins=(MARGINS[0], top), cupsRowStep=row_step, cupsPageSize=CARD,
                         cupsInteger=(78, CARTRIDGES, mode))
    scale = dpi // 300
    lines = bytearray()
    for y in range(height):
        pixels = [b'\xff\xff\xff'] * width
        for (left, top, right, bottom), colour in boxes:
            if top * scale <= y < bottom * scale:
                pixels[left * scale:right * scale] = [colour] * ((right - left) * scale)
        # One line once, its pixels in runs of up to 128 alike.
        lines.append(0)
        x = 0
        while x < width:
            run = 1
            while x + run < width and run < 128 and pixels[x + run] == pixels[x]:
                run += 1
            lines += bytes([run - 1]) + pixels[x]
            x += run
    return LITTLE_ENDIAN_2 + header + bytes(lines)


def driven(model, quality, boxes=((RED, b'\xff\0\0'), (BLACK, b'\0\0\0'))):
    """What hpcups writes for the card on model (its hpcups PPD's name)."""
    with tempfile.TemporaryDirectory() as folder:
        ppd = os.path.join(folder, 'model.ppd')
        with open(ppd, 'wb') as out:
            out.write(subprocess.run([DRIVERD, 'cat', f'drv:///hpcups.drv/hp-{model}.ppd'], capture_output=True,
                                     check=True).stdout)
        page = os.path.join(folder, 'page.ras')
        with open(page, 'wb') as out:
            out.write(raster(quality, boxes))
        return subprocess.run([HPCUPS, '1', 'user', 'title', '1', '', page], capture_output=True, check=True,
                              env=dict(os.environ, PPD=ppd)).stdout


def on_sheet(box, dpi, down=600):
    """A box of 300 dpi raster pixels as the sheet's dots, across at dpi and down at down."""
    left, top, right, bottom = box
    x, y = MARGINS[0] * dpi // 72, MARGINS[1] * down // 72
    return (x + left * dpi // 300, y + top * down // 300, x + right * dpi // 300, y + bottom * down // 300)


def ink_box(image, near):
    """The box of the ink within 40 dots of near, as (left, top, right, bottom), right and bottom
    past the ink."""
    left, top, right, bottom = near
    area = (max(0, left - 40), max(0, top - 40), right + 40, bottom + 40)
    box = image.crop(area).point(lambda value: 255 - value).getbbox()
    return box and (box[0] + area[0], box[1] + area[1], box[2] + area[0], box[3] + area[1])


def packet(command, options=b'', data=b'', kind=0, length=None):
    """A LIDIL packet: '$', its command part's length, its type, the command, a reference number
    and the data's length, the options, '$' (0xFF before it up to 16 bytes), the data."""
    body = options + b'\xff' * max(0, 16 - 11 - len(options))
    length = 11 + len(body) if length is None else length
    return b'$' + struct.pack('>HHBHH', length, kind, command, 7, len(data)) + body + b'$' + data


def sweep(size, top, rows=8, margin=240, direction=0, version=1, entry_left=0, resolutions=(600, 1200, 600, 600),
          first=1, colours=1, fields=0x13):
    """A print sweep of one colour entry (LIDIL 2: of colours alike) of rows rows at resolutions
    (vertical data and print, horizontal data and print), its nozzles from first."""
    last = first - 1 + rows * resolutions[1] // resolutions[0]
    entry = struct.pack('>iiiiHHHHHHb', entry_left, 0, entry_left, 0, *resolutions, first, last, 0)
    if version == 2:
        options = struct.pack('>BIiiBBII', 1, size, top, margin, 1, direction, 0, fields) + b'\x19\x04\x01' + \
            b'\x01' + struct.pack('>I', (1 << colours) - 1) + entry + b'\0'
    else:
        options = struct.pack('>IiiBBI', size, top, margin, 0, direction, fields) + b'\x19\x04\x01' + \
            struct.pack('>H', 1) + entry
    return packet(3, options)


def sweep_data(data, raw=None):
    return packet(4, struct.pack('>H', len(data) if raw is None else raw), data)


def job(version=1, operation=0):
    return packet(0, bytes([operation]) + struct.pack('>I', 1) + (bytes(4) if version == 2 else b''))


# A sheet of 1 x 1.5 in, in device units, and one of A4.
LOAD = packet(1, bytes(5) + struct.pack('>III', 2400, 3600, 7) + b'\x04\0\0\xc8')
LOAD_A4 = packet(1, bytes(5) + struct.pack('>III', 19848, 28056, 7) + b'\x04\0\0\xc8')
EJECT = packet(2, struct.pack('>I', 1) + b'\x0f')
SYNC = packet(0, bytes(245), bytes(2048), kind=7)
OPENING = SYNC + packet(0, kind=8) + packet(0, kind=6) + job()
CLOSING = job(operation=1) + SYNC
# One swing of 8 rows of black at 600 dpi: rows 2 and 5 inked from dot 3 to 12 (bytes 0x1F 0xF8).
SWING = b''.join(b'\x1f\xf8' if row in (2, 5) else b'\0\0' for row in range(8))
# Its sweep half an inch down, 240 device units (60 dots at 600 dpi) in.
PAGE = LOAD + sweep(len(SWING), 1200) + sweep_data(SWING) + EJECT
JOB = OPENING + PAGE + CLOSING


def inked(image):
    return {(x, y) for x in range(image.width) for y in range(image.height) if image.getpixel((x, y)) < 128}


def swing_ink(x=63, y=300):
    return {(x + dot, y + row) for dot in range(10) for row in (2, 5)}


def compressed(data):
    """data in LidilCompress' words: runs of zero and 0xFFFF words, the rest as they are."""
    words = [data[at:at + 2] for at in range(0, len(data), 2)]
    out, at = bytearray(), 0
    while at < len(words):
        run = 1
        while at + run < len(words) and run < 4096 and words[at + run] == words[at]:
            run += 1
        if words[at] in (b'\0\0', b'\xff\xff') and run > 1:
            out += struct.pack('>H', (0x1000 if words[at] == b'\0\0' else 0x2000) | (run - 1))
        elif run > 2:
            out += struct.pack('>H', 0x3000 | (run - 1)) + words[at]
        else:
            out += struct.pack('>H', 0x4000 | (run - 1)) + words[at] * run
        at += run
    return bytes(out)


def recompressed(stream):
    """stream with each load sweep data's data in LidilCompress' words."""
    out, at = bytearray(), 0
    while at < len(stream):
        length, _, command, _, size = struct.unpack_from('>xHHBHH', stream, at)
        end = at + length + size
        if command == 4 and stream[at + 4] == 0:
            out += sweep_data(compressed(stream[at + length:end]), raw=size)
        else:
            out += stream[at:end]
        at = end
    return bytes(out)


class LidilTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.normal = driven('deskjet_3320', NORMAL)

    def test_hpcups_pages_land_where_the_raster_put_their_ink(self):
        # LIDIL 1 with black and colour pens at 600 and 300 dpi (draft: 300 across), and black
        # alone; LIDIL 2's colour pen (the dj4100 platform prints Normal Color in colour ink
        # alone). Each box's bottom edge as hpcups moves it: at 600 dpi every other colour pass
        # lies 4 device units lower (Lidil.cpp:1122-1125), one row; its draft colour inks only
        # every other row, the box's last one not; the black pen's rows lie 3 lower, in draft
        # 600 dpi rows with a blank one after each (Lidil.cpp:1573-1574), the last one's too.
        for model, quality, red_down, black_down in (('deskjet_3320', NORMAL, 1, BLACK_PEN),
                                                     ('deskjet_3320', DRAFT, -2, BLACK_PEN - 1),
                                                     ('deskjet_3320', GREY, 0, 0),
                                                     ('deskjet_d4100_series', NORMAL, 1, 1)):
            with self.subTest(model=model, quality=quality):
                [page] = read(self.normal if (model, quality) == ('deskjet_3320', NORMAL) else driven(model, quality))
                dpi = quality[0]
                self.assertEqual((page.dpi, page.image.size, page.sheet_points, page.assumed),
                                 ((dpi, 600), (CARD[0] * dpi // 72, 3000), CARD, None))
                image = spread(page.image)
                for box, down in ((RED, red_down), (BLACK, black_down)):
                    left, top, right, bottom = on_sheet(box, dpi)
                    self.assertEqual(ink_box(image, (left, top, right, bottom)), (left, top, right, bottom + down))

    def test_a_stream_is_told_by_its_first_packet_and_names_its_sheet(self):
        self.assertTrue(sniff(self.normal))
        self.assertEqual(printer_language(self.normal).LANGUAGE, 'LIDIL')
        self.assertEqual(paper(self.normal), ('Custom', CARD))
        self.assertEqual(paper(OPENING + LOAD_A4 + EJECT), ('A4', (595.44, 841.68)))
        self.assertIsNone(paper(OPENING))
        self.assertFalse(sniff(b'\x1bE\x1b*r1A' + bytes(16)))

    def test_compressed_sweep_data_reads_as_the_data_itself(self):
        self.assertEqual(read(recompressed(self.normal))[0].image.tobytes(), read(self.normal)[0].image.tobytes())

    def test_swings_rows_and_nozzles_lie_where_the_sweep_says(self):
        self.assertEqual(inked(read(JOB)[0].image), swing_ink())
        # Right to left, the first swing is the rightmost; the swing's own dots run left to right.
        two = SWING + bytes(16)
        backwards = OPENING + LOAD + sweep(32, 1200, direction=1) + sweep_data(two) + EJECT + CLOSING
        self.assertEqual(inked(read(backwards)[0].image), swing_ink(x=79))
        # A colour's left edge and first nozzle move it; LIDIL 2 swings are 32 dots, its entry
        # covering every colour it names in turn (here two: black and one the same).
        moved_in = OPENING + LOAD + sweep(16, 1200, entry_left=40, first=9) + sweep_data(SWING) + EJECT + CLOSING
        self.assertEqual(inked(read(moved_in)[0].image), swing_ink(x=73, y=304))
        wide = b''.join(b'\0\0\x0f\xf0' if row == 1 else bytes(4) for row in range(8))
        lidil_2 = OPENING.replace(job(), job(version=2)) + LOAD + sweep(64, 1200, version=2, colours=2) + \
            sweep_data(wide + bytes(32)) + EJECT + CLOSING
        self.assertEqual(inked(read(lidil_2)[0].image), {(60 + 20 + dot, 301) for dot in range(8)})
        # 300 dpi rows and dots on the 600 dpi grid: 2 x 2 dots each.
        coarse = OPENING + LOAD + sweep(16, 1200, resolutions=(300, 300, 300, 600)) + sweep_data(SWING) + EJECT + \
            CLOSING
        page = read(coarse)[0]
        self.assertEqual((page.dpi, len(inked(page.image))), ((300, 600), 2 * 10 * 2))

    def test_a_bad_or_cut_short_stream_says_what_is_wrong_and_where(self):
        page = len(OPENING)
        swept = page + len(LOAD)
        data_at = swept + len(sweep(16, 2400))
        eject = data_at + len(sweep_data(SWING))
        page_of = OPENING + LOAD
        cases = {
            rf'LIDIL stream cut off inside the packet at byte {data_at}': JOB[:data_at + 20],
            rf'cut off inside a packet\'s header at byte {page}': JOB[:page + 4],
            rf'unexpected byte 0x41 in the LIDIL stream at byte {page}': OPENING + b'A' + PAGE,
            rf'packet at byte {page} is 12 bytes long, below LIDIL\'s 16': OPENING + packet(1, length=12) + b'$' * 8,
            rf'packet at byte {page} does not end with \$ where its length says, at byte {page + 15}':
                OPENING + packet(2, struct.pack('>I', 1) + b'\x0f\0', length=16) + PAGE,
            rf'packet at byte {page} is of type 9': OPENING + packet(0, kind=9) + PAGE,
            rf'LIDIL command 8 at byte {page} is not read': OPENING + packet(8, b'\x02') + PAGE,
            rf'LIDIL command 12 at byte {swept}': page_of + packet(12, b'\x02') + EJECT,
            rf'start or end job at byte {page} of 16 bytes with operation 2': OPENING + job(operation=2),
            rf'start or end job inside a page at byte {swept}': page_of + job(operation=1),
            rf'load page before the job starts, at byte {len(SYNC)}': SYNC + LOAD,
            rf'load page inside a page at byte {swept}': page_of + LOAD,
            r'load page at byte \d+ has optional fields 0xf': OPENING + LOAD.replace(b'\0\0\0\x07', b'\0\0\0\x0f'),
            r'load page at byte \d+ is 33 bytes long, not as its optional fields say':
                OPENING + packet(1, bytes(5) + struct.pack('>III', 2400, 3600, 7) + b'\x04\0\0\xc8\0'),
            r'load page at byte \d+ gives a sheet of 0 x 3600 device units':
                OPENING + LOAD.replace(struct.pack('>I', 2400), bytes(4)),
            rf'eject page with no page loaded at byte {page}': OPENING + EJECT,
            rf'print sweep outside a page \(no load page before it\) at byte {page}': OPENING + sweep(16, 0),
            rf'eject page at byte {data_at} comes before the data of the print sweep at byte {swept}':
                page_of + sweep(16, 0) + EJECT,
            rf'LIDIL stream ends inside the print sweep at byte {swept}': page_of + sweep(16, 0),
            rf'ends inside a page, before its eject page, at byte {eject}': JOB[:eject],
            rf'print sweep at byte {swept} has optional fields 0x33': page_of + sweep(16, 0, fields=0x33),
            rf'print sweep at byte {swept} in swing format 0 and direction 2': page_of + sweep(16, 0, direction=2),
            rf'print sweep at byte {swept} announces 24 bytes of data, no whole number of swings of its 8 rows':
                page_of + sweep(24, 0),
            rf'print sweep at byte {swept} gives a colour nozzles 1 to 16 at 600/1200 x 700/600 dpi':
                page_of + sweep(16, 0, resolutions=(600, 1200, 700, 600)),
            rf'print sweep at byte {swept}: 2 nozzles at 600 dpi are no whole number of rows at 400 dpi':
                page_of + packet(3, sweep(16, 0)[10:-30] + struct.pack('>iiiiHHHHHHb', 0, 0, 0, 0, 400, 600, 600,
                                                                         600, 1, 2, 0)),
            rf'print sweep at byte {swept} gives a colour two pairs of edges or a vertical alignment':
                page_of + packet(3, sweep(16, 0)[10:-2] + b'\x05'),
            rf'print sweep at byte {swept} is \d+ bytes long, not as its colours say':
                page_of + packet(3, sweep(16, 0)[10:-1] + bytes(27)),
            rf'print sweep at byte {swept} is too short for its options': page_of + packet(3, sweep(16, 0)[10:30]),
            rf'print sweep at byte {swept + 4} gives a shingle array':
                OPENING.replace(job(), job(version=2)) + LOAD + sweep(32, 0, version=2)[:-2] + b'\x01$',
            rf'print sweep at byte {swept + 4} is of version 2':
                OPENING.replace(job(), job(version=2)) + LOAD + packet(3, b'\x02' + sweep(32, 0, version=2)[11:-1]),
            rf'load sweep data with no print sweep waiting for it at byte {swept}': page_of + sweep_data(SWING),
            rf'load sweep data at byte {data_at} runs past the 16 bytes of the print sweep at byte {swept}':
                page_of + sweep(16, 0) + sweep_data(SWING + b'\0\0') + EJECT,
            rf'load sweep data at byte {data_at} unpacks to 18 bytes, not the 16 it gives':
                page_of + sweep(16, 0) + sweep_data(b'\x10\x08', raw=16),
            rf'load sweep data at byte {data_at} holds compression command 5':
                page_of + sweep(16, 0) + sweep_data(b'\x50\x07', raw=16),
            rf'load sweep data at byte {data_at}: compressed words run past its data':
                page_of + sweep(16, 0) + sweep_data(b'\x40\x07\0\0', raw=16),
            rf'load sweep data at byte {data_at} ends inside a compressed word':
                page_of + sweep(16, 0) + sweep_data(b'\x10\x07\0', raw=16),
            r'no page in the LIDIL stream': OPENING + CLOSING,
        }
        for message, data in cases.items():
            with self.subTest(message), self.assertRaisesRegex(StreamError, message):
                read(data)

    def test_any_mutation_is_read_or_refused_with_one_error(self):
        two = LOAD + sweep(32, 1200, direction=1) + sweep_data(SWING + SWING) + \
            sweep(16, 1300, resolutions=(300, 300, 300, 600)) + sweep_data(compressed(SWING), raw=16) + EJECT
        lidil_2 = job(version=2) + LOAD + sweep(64, 1200, version=2, colours=2) + sweep_data(bytes(64)) + EJECT
        read_or_refused(self, read, (job() + PAGE + CLOSING, job() + two + PAGE, lidil_2), 3000, 2400)


if __name__ == '__main__':
    unittest.main()
