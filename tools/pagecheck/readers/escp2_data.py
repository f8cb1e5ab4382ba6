"""Gutenprint's data for its escp2 models (/usr/share/gutenprint/*/xml) as its driver reads it, and
where each of a model's ink types puts the inks it prints. Files and lines cited are Gutenprint's
5.3.4 source (src/main).

A band names its ink (colour | subchannel << 4) but not the ink type that printed it, and ink types
put one ink at different head offsets. Which printed is taken from what the stream shows of it: the
inks its bands name, ESC ( K's mode and the row pitch of split bands; where the ink types that fit
all that disagree on an ink's offset, the page is refused. (The remote-mode command some ink lists
send tells apart none that disagree.)"""
import functools
import glob
import os
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass
from fractions import Fraction

from .base import StreamError

GUTENPRINT = '/usr/share/gutenprint/*/xml'
# What black and white prints with where the ink type has no channel 0 (print-escp2.c:4058-4063).
DEFAULT_BLACK = os.path.join('escp2', 'inks', 'defaultblack.xml')
# Ink types printed in black and white only (print-escp2.c:4565-4576).
BLACK_ONLY = ('Quadtone', 'Hextone')
# Raw channel ink types: Gutenprint takes them only for raw channel input (print-escp2.c:1692-1698,
# 3224-3251), which its CUPS driver, whose PPD names the model, never hands it
# (src/cups/rastertogutenprint.c:361-393).
EXTENDED = 'Extended'
# The ink type that may print fast at 360 dpi (print-escp2.c:4072-4074).
CMYK = 'CMYK'
# ESC ( K's modes (escp2-driver.c:338-348): the black head's parameters, colour, fast 360 dpi.
BLACK_HEAD, COLOUR, FAST = 1, 2, 3


@dataclass(frozen=True)
class Head:
    """A head configuration: nozzles, the first used and their separation in 1/base inch."""
    nozzles: int
    first: int
    separation: int


@dataclass(frozen=True)
class Ink:
    """One ink of an ink type: the ink its bands name, its head offset in 1/base inch and the inks
    its rows of nozzles print as where it is split (SplitChannels)."""
    ink: int
    head_offset: int
    splits: tuple


@dataclass(frozen=True)
class Layout:
    """What one ink type prints in one printing mode: its inks in channel order (the physical
    channels), how many rows of nozzles each splits into (0: none) and those of channel 0's first
    ink."""
    name: str
    inks: tuple
    split: int
    first_split: int
    cmyk: bool
    black_and_white: bool


def local_name(element):
    return element.tag.rsplit('}', 1)[-1]


def children(element, name):
    return [child for child in element if local_name(child) == name]


def xml_root(path):
    try:
        return ElementTree.parse(path).getroot()
    except (OSError, ElementTree.ParseError):
        return None


def head(element):
    """A headConfiguration's figures (print-escp2-data.c:160-180)."""
    figures = {local_name(child): int(child.text) for child in element if (child.text or '').strip().isdigit()}
    return Head(figures.get('Nozzles', 0), figures.get('FirstNozzle', 0), figures.get('NozzleSeparation', 0))


def resolutions(element):
    """Each resolution's vertical dpi and whether the printer weaves it (escp2-resolutions.c:130-170)."""
    found = []
    for resolution in (child for child in element.iter() if local_name(child) == 'resolution'):
        physical = next((child.text.split() for child in resolution if local_name(child) == 'physicalResolution'), None)
        if physical:
            found.append((int(physical[1]), any(child.get('command') for child in resolution
                                                if local_name(child) == 'printerWeave')))
    return tuple(found)


def model_values(folder, path, values):
    """The model file's settings, over those of the files it builds on (print-escp2-data.c:58-410):
    a default head configuration is the black and fast ones too where none came before."""
    root = xml_root(os.path.join(folder, path))
    model = next((element for element in root.iter() if local_name(element) == 'escp2Model'), None) \
        if root is not None else None
    if model is None:
        return
    if model.get('base'):
        model_values(folder, model.get('base'), values)
    heads = values.setdefault('heads', {})
    for element in model:
        name = local_name(element)
        if name == 'margins':
            if element.get('interleave') == 'soft' and not element.get('duplex'):
                values['left' if element.get('media') == 'sheet' else 'rollLeft'] = element.text.split()[0]
        elif name == 'headConfiguration':
            kind = element.get('type')
            heads[kind] = head(element)
            if kind == 'default':
                for other in ('black', 'fast'):
                    heads.setdefault(other, heads[kind])
        elif name == 'resolutions':
            source = xml_root(os.path.join(folder, element.get('src'))) if element.get('src') else element
            values['resolutions'] = resolutions(source) if source is not None else ()
        elif name == 'inkGroup' and element.get('src'):
            values['inkGroup'] = element.get('src')
        elif name == 'rollOnly':
            values['rollOnly'] = True
        elif element.text and element.text.strip():
            values[name] = element.text.strip()


def inks_of(channel):
    """A channel's inks (escp2-channels.c:33-95): no subchannel attribute leaves the colour alone."""
    found = []
    for subchannel in children(channel, 'subchannel'):
        splits = next((tuple(int(value, 0) for value in split.text.split()[:int(split.get('count', 0))])
                       for split in children(subchannel, 'SplitChannels')), ())
        found.append(Ink(int(subchannel.get('color', 0)) | int(subchannel.get('subchannel') or 0) << 4,
                         int(subchannel.get('headOffset') or 0), splits))
    return tuple(found)


def channels_of(ink_name, part):
    """The ink type's channels by index, an index it skips holding none."""
    indexed = {int(channel.get('index')): inks_of(channel)
               for group in children(ink_name, part) for channel in children(group, 'channel')}
    return tuple(indexed.get(index, ()) for index in range(max(indexed, default=-1) + 1))


def split_count(inks):
    """The rows of nozzles every ink splits into, where all split alike; else 0 (print-escp2.c:3724-3750)."""
    counts = {len(ink.splits) for ink in inks}
    return counts.pop() if len(counts) == 1 else 0


def layouts_of(group, default_black):
    """What each ink type of an ink group but the raw channel ones prints in colour and in black and
    white (channel 0 alone, print-escp2.c:4050-4063), with gloss and without (print-escp2.c:4559-4563,
    3459-3474)."""
    found = []
    for ink_list in children(group, 'InkList'):
        for ink_name in (name for name in children(ink_list, 'InkName') if name.get('InkID') != EXTENDED):
            kind, channels, aux = ink_name.get('InkID'), channels_of(ink_name, 'Channels'), \
                channels_of(ink_name, 'AuxChannels')
            for black_and_white in (True,) if kind in BLACK_ONLY else (False, True):
                logical = channels[:1] if black_and_white else channels
                if not any(logical):
                    logical = default_black
                for gloss in (False, True) if any(aux) and logical is not default_black else (False,):
                    inks = tuple(ink for channel in logical for ink in channel)
                    name = ink_name.get('name') + (' in black and white' if black_and_white else '') + \
                        (' with gloss' if gloss else '')
                    found.append(Layout(name, inks + tuple(ink for channel in aux for ink in channel) * gloss,
                                        split_count(inks), len(logical[0][0].splits) if logical[0] else 0,
                                        kind == CMYK, black_and_white))
    return tuple(found)


class Model:
    """Gutenprint's data for one escp2 model, in inches: the printable left edge, the left edge of
    a borderless page before its offset, the top margin's offsets in colour and in black, the offset
    its first move carries, the length added to the page; its head configurations, resolutions and
    what each ink type prints."""

    def __init__(self, driver, values, layouts):
        self.driver = driver
        base = int(values.get('baseSeparation', 360))
        self.base = base
        self.roll_only = values.get('rollOnly', False)
        # A roll-only model prints on rolls alone: its roll margins (print-escp2.c:1090-1115).
        self.left = Fraction(values['rollLeft' if self.roll_only else 'left']) / 72
        self.heads = values['heads']
        self.micro_left = Fraction(int(values.get('microLeftMargin', 0)), base)
        self.colour_offset = Fraction(int(values.get('initialVerticalOffset', 0)), base)
        self.black_offset = Fraction(int(values.get('blackInitialVerticalOffset', 0)), base)
        # Added to the page's first move down (escp2-driver.c:507-515).
        self.printing_offset = Fraction(int(values.get('printingInitialVerticalOffset', 0)), base)
        self.extra_bottom = Fraction(values.get('extraBottom', '0')) / 72
        # A fully borderless model's weave starts its rows a head's span above the page
        # (print-escp2.c:1469-1481, 4180-4185) and the top margin it sends is that much higher
        # (escp2-driver.c:451-452); a roll-only model is sent none (escp2-driver.c:448), and its
        # rows count from there where the margin would have held nothing else: no offset, and every
        # head's nozzles used from the first.
        span = max(head.nozzles * head.separation for head in (self.heads['default'], self.heads['black']))
        plain = not (self.colour_offset or self.black_offset or any(head.first for head in self.heads.values()))
        self.roll_top = -Fraction(span, base) if values.get('borderless') == 'Full' and plain else None
        self.nozzle_pitch = Fraction(self.heads['default'].separation, base)
        self.borderless = values.get('borderless', 'No')
        self.max_black = int(values.get('maxBlackResolution', -1))
        self.resolutions = values.get('resolutions', ())
        self.layouts = layouts

    def black_parameters(self, layout):
        """Whether Gutenprint prints the layout with the black head's parameters at some of the
        model's resolutions, and whether without them at some: one channel only, and in softweave
        only where its resolution allows (print-escp2.c:3992-4001, 4036-4039)."""
        if len(layout.inks) != 1:
            return False, True
        black = self.heads['black']
        least = self.base // black.separation if black.separation else 0
        outcomes = {printer_weave or ((layout.first_split > 1 or vres >= least) and black.nozzles > 0 and
                                      (self.max_black < 0 or vres <= self.max_black))
                    for vres, printer_weave in self.resolutions}
        return True in outcomes, False in outcomes

    def configurations(self, layout, mode):
        """The (weave's head, top margin's head, top margin's offset) Gutenprint can have printed
        the layout with under ESC ( K mode (None: none sent). The weave's head is the black one with
        the black parameters, the fast one at fast 360 dpi (print-escp2.c:3990-4027), the default
        else; the top margin is set from the black head and offset in black and white with the black
        parameters, from the default ones else (print-escp2.c:4113-4133)."""
        heads = self.heads
        with_black, without = self.black_parameters(layout)
        black_top = (heads['black'], self.black_offset) if layout.black_and_white else \
            (heads['default'], self.colour_offset)
        tops = [black_top] * with_black + [(heads['default'], self.colour_offset)] * without
        if mode == FAST:
            return [(heads['fast'],) + top for top in tops] if layout.cmyk or len(layout.inks) == 1 else []
        if mode == BLACK_HEAD:
            return [(heads['black'],) + black_top] * with_black
        if mode == COLOUR:
            return [(heads['default'], heads['default'], self.colour_offset)] * without
        if mode is None:
            return [(heads['black'],) + black_top] * with_black + \
                [(heads['default'], heads['default'], self.colour_offset)] * without
        return []

    def split_steps(self):
        """How many rows of nozzles Gutenprint merges into one below the black head's resolution:
        it splits into that many fewer rows, each that many times further apart (print-escp2.c:3754-3772)."""
        black = self.heads['black']
        least = self.base // black.separation if black.separation else 0
        return {least // vres if vres < least else 1 for vres, _ in self.resolutions} or {1}

    def placements(self, layout, configuration, inks):
        """For each way the model's resolutions let the layout split its inks, where it puts each of
        inks ({ink: the row pitches of its bands}) from where the stream puts it: {ink: offset in
        inches, None where two of its inks print as one at different offsets}; none where it does
        not print inks as the stream does."""
        weave, top, margin = configuration
        found = []
        for steps in sorted(self.split_steps()) if layout.split else (1,):
            count, separation = layout.split // steps, weave.separation * steps
            # The stream's band rows count from nozzle 0; the top margin holds back the top head's
            # first nozzle (print-escp2.c:4113-4133), the weave its own (escp2-driver.c:680-783).
            rows = {}
            for ink in layout.inks:
                head_offset = 0 if len(layout.inks) == 1 else ink.head_offset
                if count:
                    if len(ink.splits) < count:
                        return []
                    shifts = split_shifts(weave.first, count, separation)
                    named = zip(ink.splits[:count], (shift - head_offset for shift in shifts))
                else:
                    named = [(ink.ink, -weave.first * separation - head_offset)]
                for name, shift in named:
                    offset = margin + self.printing_offset - Fraction(top.first * top.separation + shift, self.base)
                    rows[name] = offset if rows.get(name, offset) == offset else None
            pitch = Fraction(max(count, 1) * separation, self.base)
            if inks.keys() <= rows.keys() and (not layout.split or all(
                    pitches == {pitch} for pitches in inks.values())):
                found.append({ink: rows[ink] for ink in inks})
        return found

    def offsets(self, mode, inks):
        """Each of inks' offset in inches from where the stream puts its rows to where they print,
        its bands printed under ESC ( K mode: the one every ink type that prints inks so agrees on."""
        fits = {}
        for layout in self.layouts:
            for configuration in self.configurations(layout, mode):
                for found in self.placements(layout, configuration, inks):
                    names = fits.setdefault(tuple(sorted(found.items())), [])
                    if layout.name not in names:
                        names.append(layout.name)
        named = ', '.join(f'{ink:#04x}' for ink in sorted(inks))
        printed = f'ink{"s" * (len(inks) > 1)} {named}' + (f' under ESC ( K mode {mode}' if mode is not None else '')
        if not fits:
            raise StreamError(f"no ink type of Gutenprint's for {self.driver} prints {printed} as the stream does")
        if len(fits) > 1:
            raise StreamError(f"Gutenprint's ink types for {self.driver} that print {printed} disagree: "
                              f'{disagreement(fits)}, and nothing in the stream says which printed')
        [found] = fits
        unknown = [ink for ink, offset in found if offset is None]
        if unknown:
            raise StreamError(f"Gutenprint's ink type {fits[found][0]} for {self.driver} prints ink {unknown[0]:#04x} "
                              'at two heights')
        return dict(found)


def split_shifts(first, count, separation):
    """Each split row's offset down, in 1/base inch, from where its band's rows fall at the split
    pitch: the weave hands row k the pass's rows k + first, k + first + count... after its share
    of the first nozzles' blank rows (escp2-driver.c:704-757)."""
    return [((first + k) % count - (first // count + (k < first % count)) * count) * separation
            for k in range(count)]


def disagreement(fits):
    """The first ink the fitting ink types place apart, and how far apart."""
    placements = [dict(found) for found in fits]
    ink = next(ink for ink in placements[0] if len({found[ink] for found in placements}) > 1)
    heights = {}
    for found, names in zip(placements, fits.values()):
        heights.setdefault(found[ink], []).extend(names)
    if None in heights:
        return f'ink {ink:#04x} prints at two heights with {listed(heights[None])}'
    (lowest, names), *higher = sorted(heights.items())
    return f'ink {ink:#04x} prints ' + '; '.join(f'{float(offset - lowest) * 25.4:.2f} mm higher with {listed(others)}'
                                                 for offset, others in higher) + f' than with {listed(names)}'


def listed(names):
    return ' and '.join(filter(None, (', '.join(names[:-1]), names[-1])))


@functools.lru_cache(maxsize=None)
def model_data(driver):
    """Gutenprint's data for the escp2 model named driver, or None where it has none."""
    folders = sorted(glob.glob(GUTENPRINT))
    if not folders:
        return None
    folder = folders[-1]
    printers = xml_root(os.path.join(folder, 'printers', 'escp2.xml'))
    printer = next((element for element in printers.iter() if local_name(element) == 'printer'
                    and element.get('driver') == driver), None) if printers is not None else None
    if printer is None or not (printer.get('model') or '').isdigit():
        return None
    values = {}
    model_values(folder, os.path.join('escp2', 'model', f'model_{printer.get("model")}.xml'), values)
    group, black = (ink_group(folder, path) for path in (values.get('inkGroup'), DEFAULT_BLACK))
    if ('rollLeft' if values.get('rollOnly') else 'left') not in values or 'default' not in values['heads'] or \
            group is None or black is None:
        return None
    default_black = channels_of(next(element for element in black.iter() if local_name(element) == 'InkName'),
                                'Channels')
    return Model(driver, values, layouts_of(group, default_black))


def ink_group(folder, path):
    root = xml_root(os.path.join(folder, path)) if path else None
    return next((element for element in root.iter() if local_name(element) == 'escp2InkGroup'), None) \
        if root is not None else None
