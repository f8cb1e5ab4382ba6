"""The raster reader: PWG, Apple and CUPS raster pages as driverless printers and raster drivers get them,
placed on their sheet; a bad or cut-short file gives one clear error, whatever its bytes."""
import os
import random
import struct
import tempfile
import unittest

from PIL import Image

from pagecheck.readers.base import Media
from pagecheck.readers.document import Document
from pagecheck.readers.raster import APPLE_RASTER, CUPS_RASTER, PWG_RASTER, RasterError, kind, read
from mutations import mutated

# A small page: a frame of ink one pixel wide around paper, and a block of ink.
WIDTH, HEIGHT = 40, 30
INK = {(x, y) for x in range(WIDTH) for y in range(HEIGHT)
       if x in (0, WIDTH - 1) or y in (0, HEIGHT - 1) or (10 <= x < 20 and 5 <= y < 8)}


def header(order, space, bits, colours, media_class=b'', box=(0, 0, 0, 0), page_size=(0, 0), dpi=72):
    data = bytearray(1796)
    data[:len(media_class)] = media_class
    bits_per_pixel = bits * colours
    struct.pack_into(f'{order}2I', data, 276, dpi, dpi)
    struct.pack_into(f'{order}4I', data, 284, *box)
    struct.pack_into(f'{order}2I', data, 352, *page_size)
    struct.pack_into(f'{order}8I', data, 372, WIDTH, HEIGHT, 0, bits, bits_per_pixel,
                     (WIDTH * bits_per_pixel + 7) // 8, 0, space)
    struct.pack_into(f'{order}I', data, 420, colours)
    return bytes(data)


def pixels(paper, ink):
    return [[ink if (x, y) in INK else paper for x in range(WIDTH)] for y in range(HEIGHT)]


def coded(lines):
    """Version 2 lines: each line once, each pixel a run of its own or of the ones like it after it."""
    out = bytearray()
    for line in lines:
        out.append(0)
        x = 0
        while x < len(line):
            run = 1
            while x + run < len(line) and run < 128 and line[x + run] == line[x]:
                run += 1
            out += bytes([run - 1]) + line[x]
            x += run
    return bytes(out)


def write(data):
    job = tempfile.NamedTemporaryFile(delete=False)
    job.write(data)
    job.close()
    return job.name


def decoded(data):
    return read(data)


def ink_of(image):
    return {(x, y) for x in range(image.width) for y in range(image.height) if image.getpixel((x, y)) < 128}


# What real queues send: a driverless printer's grey PWG raster, a raster driver's RGB and black
# CUPS raster of the printable area only, big- and little-endian, coded and plain.
PWG_GREY = b'RaS2' + header('>', 18, 8, 1, b'PwgRaster') + coded(pixels(b'\xff', b'\x00'))
CUPS_RGB = b'3SaR' + header('<', 1, 8, 3, box=(10, 20, 50, 50), page_size=(60, 80)) + \
    b''.join(b''.join(line) for line in pixels(b'\xff\xff\xff', b'\x00\x00\x00'))
# hpcups' inkjets are handed red, green, blue and white.
CUPS_RGBW = b'RaS3' + header('>', 17, 8, 4) + \
    b''.join(b''.join(line) for line in pixels(b'\xff\xff\xff\xff', b'\x00\x00\x00\x00'))
APPLE_RGB = b'UNIRAST\0' + struct.pack('>I', 1) + bytes([24, 1, 1, 4]) + bytes(8) + \
    struct.pack('>3I', WIDTH, HEIGHT, 72) + bytes(8) + coded(pixels(b'\xff\xff\xff', b'\x00\x00\x00'))
BLACK_BITS = b'RaS2' + header('>', 3, 1, 1) + coded(
    [[bytes([int(''.join('1' if (x, y) in INK else '0' for x in range(byte * 8, byte * 8 + 8)), 2)])
      for byte in range(WIDTH // 8)] for y in range(HEIGHT)])


class RasterTest(unittest.TestCase):
    def test_pages_are_read_onto_their_sheet_in_every_form_queues_send(self):
        for name, data, sort, shift, size in (('PWG grey', PWG_GREY, PWG_RASTER, (0, 0), (WIDTH, HEIGHT)),
                                              # Printable area from 10 points in, 30 points down.
                                              ('CUPS RGB', CUPS_RGB, CUPS_RASTER, (10, 30), (60, 80)),
                                              ('CUPS black', BLACK_BITS, CUPS_RASTER, (0, 0), (WIDTH, HEIGHT)),
                                              ('CUPS RGBW', CUPS_RGBW, CUPS_RASTER, (0, 0), (WIDTH, HEIGHT)),
                                              ('Apple RGB', APPLE_RGB, APPLE_RASTER, (0, 0), (WIDTH, HEIGHT))):
            with self.subTest(name):
                data += data[12 if sort == APPLE_RASTER else 4:]
                self.assertEqual(kind(data), sort)
                pages = read(data)
                self.assertEqual(len(pages), 2)
                page, sheet = pages[0]
                self.assertEqual((page.dpi, sheet.size), ((72, 72), size))
                self.assertEqual(ink_of(sheet), {(x + shift[0], y + shift[1]) for x, y in INK})

    def test_a_page_short_of_its_sheet_by_a_fraction_of_a_pixel_is_filled_out_to_it(self):
        path = write(PWG_GREY)
        folder = tempfile.mkdtemp()
        # A sheet 0.7 pixels longer than the page: a page turned across it is measured from its far edge.
        for points, size in (((WIDTH + 0.4, HEIGHT + 0.7), (WIDTH, HEIGHT + 1)), ((WIDTH + 5, HEIGHT), (WIDTH, HEIGHT))):
            files = Document(path).render(Media(sheet_points=points), folder).files
            with Image.open(files[0]) as sheet:
                self.assertEqual((sheet.size, ink_of(sheet)), (size, INK))
            os.remove(files[0])
        os.rmdir(folder)
        os.remove(path)

    def test_a_raster_whose_darkest_ink_is_light_is_stretched_to_black_and_says_so(self):
        # c2esp's colour profile has Ghostscript write the page's black as 153 of 255.
        light = b'RaS3' + header('>', 1, 8, 3) + \
            b''.join(b''.join(line) for line in pixels(b'\xff\xff\xff', b'\x99\x99\x99'))
        folder = tempfile.mkdtemp()
        for data, said in ((light, 'its darkest grey, 153 of 255, taken as black'), (PWG_GREY, None)):
            path = write(data)
            rendered = Document(path).render(Media(), folder)
            with Image.open(rendered.files[0]) as sheet:
                self.assertEqual((ink_of(sheet), sheet.getextrema()[0], rendered.assumed), (INK, 0, said))
            for name in (*rendered.files, path):
                os.remove(name)
        os.rmdir(folder)

    def test_a_bad_or_cut_short_file_says_what_is_wrong(self):
        start = len(PWG_GREY) - len(coded(pixels(b'\xff', b'\x00')))
        cases = {
            'not PWG, CUPS or Apple raster': b'%!PS-Adobe-3.0\n',
            'Apple raster colour space 2 is not read': APPLE_RGB[:13] + b'\x02' + APPLE_RGB[14:],
            "page 1's header is cut short": PWG_GREY[:1000],
            'the page ends after 0 of its 30 lines': PWG_GREY[:start],
            'line 0 ends after 0 of its 40 bytes': PWG_GREY[:start + 1],
            'line 0 ends inside a run': PWG_GREY[:start + 2],
            'line 0 runs 88 bytes past its 40': PWG_GREY[:start] + b'\x00\x7f\x00' + PWG_GREY[start + 3:],
            "line 0 repeats past the page's 30 lines": PWG_GREY[:start] + b'\x1e' + PWG_GREY[start + 1:],
            'colour order 1': PWG_GREY[:4 + 396] + struct.pack('>I', 1) + PWG_GREY[4 + 400:],
            '41 bytes a line for 40 pixels': PWG_GREY[:4 + 392] + struct.pack('>I', 41) + PWG_GREY[4 + 396:],
            'colour space 2 with': PWG_GREY[:4 + 400] + struct.pack('>I', 2) + PWG_GREY[4 + 404:],
        }
        for message, data in cases.items():
            with self.subTest(message), self.assertRaisesRegex(RasterError, message):
                decoded(data)

    def test_any_mutation_is_read_or_refused_with_one_error(self):
        generator = random.Random(5102)
        for _ in range(3000):
            data = mutated(generator, generator.choice((PWG_GREY, CUPS_RGB, BLACK_BITS, APPLE_RGB)))
            try:
                pages = decoded(data)
            except RasterError:
                continue
            for page, sheet in pages:
                self.assertGreater(sheet.width * sheet.height, 0)


if __name__ == '__main__':
    unittest.main()
