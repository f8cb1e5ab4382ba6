"""scripts/sheet-accuracy.sh: how far the registration, skew and scale judge-page.sh measures on
pictures of a printed sheet lie from the truth, by condition and mode, on pictures the model in
sheet_model makes of real pages; and whether the verdicts come out right. See --help."""
import argparse
import os
import sys
import tempfile

import numpy as np

from . import sheet_model as model
from ..core.modes import CAPTIONS
from ..core.setup import Margins
from ..measure.checks import EDGES
from ..sheets.picture import PictureError
from ..sheets.pictured import Asked, picture_checks, read_pictured

# judge-page.sh's defaults, as a user runs it on such a picture with --mode.
ASKED = Asked(Margins(model.MARGINS), 0.1)

DESCRIPTION = """Prints, for each condition of picture and each mode, how far the leading-edge and side
registration (mm), skew (degrees) and scale (percent, the worse of along and across) that
judge-page.sh measures lie from the truth: the largest and the mean error over its cases. Each case
prints one of the kept real pages (tests/pagecheck/data) on a model printer, moved by up to 1.5
mm, turned by up to 0.3 degree and scaled by up to 0.3 %, then scans or photographs it with a
model scanner or camera. In each condition and mode the first case is a right page, which must
pass every check, and the second is moved along the feed (by 0.5 mm for a scan, 1 mm for a
photo, 1.5 mm for a photo of a sheet that is not flat), which must fail the border's check naming
its top and bottom edges; either may be refused instead (a sheet not flat, say), never misjudged.
The table gives how many pictures were judged, how many refused, and how many of the two verdicts
asked for came out wrong (misjudged)."""


class Condition:
    def __init__(self, name, device, moved):
        self.name, self.device, self.moved = name, device, moved


def scanner(**fixed):
    def make(rng):
        return model.Scanner(angle=rng.uniform(-3, 3) + rng.choice([0, 90, 180, 270]), place=tuple(rng.uniform(0, 1, 2)),
                             scale=tuple(rng.uniform(-0.2, 0.2, 2)), **fixed)
    return make


def camera(low, high, k1, light, lift=None, **fixed):
    def make(rng):
        lifted = {'lift': rng.uniform(*lift)} if lift else {}
        return model.Camera(tilt=rng.uniform(low, high), azimuth=rng.uniform(0, 360), roll=rng.uniform(-8, 8),
                            fill=rng.uniform(0.7, 0.9), k1=rng.uniform(-k1, k1), light=light, **lifted, **fixed)
    return make


CONDITIONS = (
    Condition('scan 300 dpi, grey PNG', scanner(), 0.5),
    Condition('scan 300 dpi, colour JPEG', scanner(colour=True), 0.5),
    Condition('scan 300 dpi, JPEG, blur 1.5 px, noise, shadow', scanner(blur=1.5, noise=4.0, colour=True), 0.5),
    Condition('photo, tilt 0-10 deg', camera(0, 10, 0.03, 0.2), 1.0),
    Condition('photo, tilt 20-30 deg, lens distortion, uneven light', camera(20, 30, 0.06, 0.4), 1.0),
    Condition('photo, tilt 30-35 deg', camera(30, 35, 0.06, 0.4), 1.0),
    Condition('photo, strong vignetting, a phone\'s smoothing and sharpening', camera(5, 25, 0.03, 0.2, vignette=0.5,
                                                                                     phone=True), 1.0),
    Condition('photo, the sheet half in shadow', camera(5, 25, 0.03, 0.2, shade=0.5), 1.0),
    Condition('photo, HEIC', camera(5, 25, 0.03, 0.3), 1.0),
    # A sheet that is not flat: a page moved 1.5 mm must still fail, or the picture be refused.
    Condition('photo, long edges curled up 1-6 mm, tilt 15-30 deg', camera(15, 30, 0.03, 0.3, (1, 6), curl='edges'),
              1.5),
    Condition('photo, folded across the middle, 1-6 mm, tilt 15-30 deg', camera(15, 30, 0.03, 0.3, (1, 6),
                                                                                curl='fold'), 1.5),
    Condition('photo, a corner lifted 1-6 mm, tilt 15-30 deg', camera(15, 30, 0.03, 0.3, (1, 6), curl='corner'),
              1.5),
)
SHADOWS = ('left', 'top', 'right', 'bottom')


def picture(condition, printed, page, path, rng, case):
    device = condition.device(rng)
    if isinstance(device, model.Scanner):
        if 'shadow' in condition.name:
            device.shadow = SHADOWS[case % 4]
        return device.scan(printed, page, path + ('.png' if 'PNG' in condition.name else '.jpg'), rng)
    return device.photograph(printed, page, path + ('.heic' if 'HEIC' in condition.name else '.jpg'), rng)


def run_case(condition, page, mode, case, workdir):
    """(errors by figure, whether the verdict came out right or None where none is asked for or
    the picture was refused); errors None where the picture could not be judged."""
    rng = np.random.default_rng([CONDITIONS.index(condition), case, len(mode)])
    if case == 0:
        printer = model.ModelPrinter()
    elif case == 1:
        printer = model.ModelPrinter(offset=(0.0, condition.moved))
    else:
        printer = model.ModelPrinter(offset=tuple(rng.uniform(-1.5, 1.5, 2)), skew=rng.uniform(-0.3, 0.3),
                                scale=tuple(rng.uniform(-0.3, 0.3, 2)))
    path = picture(condition, printer.print(page), page, os.path.join(workdir, f'{mode}-{case}'), rng, case)
    try:
        pictured = read_pictured(path, ASKED, workdir)
    except PictureError as problem:
        print(f'  {condition.name}, {mode}, case {case}: not judged: {problem}', flush=True)
        return None, None
    finally:
        os.remove(path)
    checks = picture_checks(pictured, CAPTIONS[mode], True)
    apart = pictured.registration.minus(printer.truth(page))
    errors = {'registration': max(abs(apart.leading), abs(apart.side)), 'skew': abs(apart.skew),
              'scale': max(abs(apart.along), abs(apart.across))}
    edges = next(check for check in checks if check.name == EDGES)
    right = None
    if case == 0:
        right = all(check.passed for check in checks)
    elif case == 1:
        right = edges.passed is False and edges.figure.startswith('moved: top, bottom;')
    return errors, right


def main(arguments):
    parser = argparse.ArgumentParser(prog='sheet-accuracy.sh', description=DESCRIPTION,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--cases', type=int, default=4, help='cases per condition and mode, at least 2 (default 4)')
    parser.add_argument('--only', metavar='WORD', help='only the conditions whose name has WORD (scan, photo, JPEG...)')
    options = parser.parse_args(arguments)
    if options.cases < 2:
        parser.error('--cases: at least 2')
    conditions = [condition for condition in CONDITIONS if not options.only or options.only in condition.name]
    print('| Condition | Mode | Judged | Refused | Misjudged | Registration mm max / mean | Skew deg max / mean | '
          'Scale % max / mean |')
    print('|---|---|---|---|---|---|---|---|')
    with tempfile.TemporaryDirectory() as workdir:
        pages = {mode: model.real_page(mode, workdir) for mode in model.PAGES}
        for condition in conditions:
            for mode, page in pages.items():
                found = [run_case(condition, page, mode, case, workdir) for case in range(options.cases)]
                judged = [errors for errors, _ in found if errors]
                misjudged = sum(right is False for _, right in found)
                cells = [f'{max(e[name] for e in judged):.3f} / {np.mean([e[name] for e in judged]):.3f}'
                         if judged else 'none judged' for name in ('registration', 'skew', 'scale')]
                print(f'| {condition.name} | {mode} | {len(judged)} of {len(found)} | {len(found) - len(judged)} | '
                      f'{misjudged} | {" | ".join(cells)} |', flush=True)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
