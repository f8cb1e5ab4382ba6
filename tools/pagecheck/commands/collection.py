"""scripts/check-collection.sh: every printer model of the installed drivers that the check reads,
on its default paper and the other of A4 and Letter, in both modes, run in resumable shards; see
--help."""
import argparse
import concurrent.futures
import gzip
import hashlib
import json
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import time

from ..core.project import ROOT
from ..report import results
from ..report.findings import BY_ID, UNEXPLAINED, moved_edges
from ..report.rows import driver_of as written_by
from ..report.summary import report_run
from ..stack.accounting import run_accounted, usage
from ..stack.models import (DRIVERD, DRIVERD_CACHE, OPENPRINTING, WORKERS, ListingError, archive_key,
                            cached_languages, is_read, list_models, openprinting_stretches,
                            packages_of, read_gutenprint_families, source_file, versions_of)

DESCRIPTION = """Checks the whole collection of printer models the installed CUPS drivers offer and the check
reads (scripts/printer-languages.sh tells which), each on its PPD's default paper and on the other
of A4 and Letter where the PPD offers it, portrait, in both modes, with scripts/check-printer.sh.

Models whose pages are the same by construction are printed once: a model and paper are grouped
by a key made of what in the PPD reaches the job or the driver (the filters and their command
lines, the drivers' own main keywords but the names and version strings, every option's default
choice with its code, that paper's page size code, page region, imageable area and dimensions,
and for Gutenprint the driver family, model number and parameters of its printer list); each
group is printed on its first model, and a random 2 % of the other members alongside, to show
that they agree with it.

  plan     lists the models and groups them into collection/plan.json.gz, the work cut into
           shards of one paper each; planned again for the same driver versions (--again, or
           by a newer version of this command), the shards planned before are kept and only the
           work not yet in them is added
  run      runs the shards not yet done (or those given), each a check-printer.sh run of its own
           into build/collection/shards/N; a finished shard's results, without pictures, go to
           collection/shards/N.json.gz, so a run cut off is resumed shard by shard
  status   how many shards, models and pages are done
  merge    the report of the shards done, from their results as kept (no pictures), into
           build/collection/report or --out DIR: report.html, a page for each printer, report.md

Exit status: 0 on success, 1 when a step fails, 2 for bad arguments."""

FOLDER = os.path.join(ROOT, 'collection')
PLAN = os.path.join(FOLDER, 'plan.json.gz')
SHARDS = os.path.join(FOLDER, 'shards')
WORK = os.path.join(ROOT, 'build', 'collection')
ENTRIES = os.path.join(WORK, 'entries.json.gz')
ACCOUNTING = 'processes.acct'
CHECK = os.path.join(ROOT, 'scripts', 'check-printer.sh')
PLAN_FORMAT = 'printtest-collection-plan'
PLAN_VERSION = 2
# A shard is one check-printer.sh run: printers of one paper, some ten minutes' work.
SHARD_PRINTERS = 40
SAMPLE_SHARE = 0.02
SEED = 28
A4, LETTER = 'iso_a4_210x297mm', 'na_letter_8.5x11in'
# A PPD's A4 and Letter, within 5 points as libcups matches sizes.
SIZES = {A4: (595.28, 841.89), LETTER: (612.0, 792.0)}
SIZE_SLACK = 5
# What reaches the job or the driver and can move or scale the page: the filters and their
# command lines, the drivers' own keywords, the PostScript level and font rasterizer, every
# option's default choice; names and version strings are left out.
KEY_KEYWORDS = re.compile(r'(cupsFilter2?|cups\w+|hp\w+|HP\w+|Foomatic\w+|Stp\w+|JCL\w+|LanguageLevel|TTRasterizer|'
                          r'ColorDevice|Default\w+)')
NAMING = {'cupsVersion', 'cupsLanguages', 'StpDriverName', 'StpPPDLocation', 'StpLocale'}
PAPER_KEYWORDS = ('PageSize', 'PageRegion', 'ImageableArea', 'PaperDimension')
ENTRY = re.compile(rb'^\*([^\s:%]+)(?:[ \t]+([^:/\n]+?)(?:/[^:\n]*)?)?:[ \t]*("[^"]*"|[^\n]*)', re.M)
DIMENSION = re.compile(r'"?\s*([\d.]+)\s+([\d.]+)')


class PlanError(Exception):
    pass


def ppd_entries(text):
    """Of a PPD's text, the main keywords of the key {keyword: [values]} and the choices of its
    paper keywords and every option's default choice {(keyword, choice): value}."""
    keywords, offered = {}, []
    for keyword, choice, value in ENTRY.findall(text):
        keyword, value = keyword.decode('latin-1'), value.decode('latin-1').strip()
        if choice:
            offered.append((keyword, choice.decode('latin-1').strip(), value))
        elif KEY_KEYWORDS.fullmatch(keyword) and keyword not in NAMING:
            keywords.setdefault(keyword, []).append(value)
    choices = {}
    for keyword, choice, value in offered:
        if keyword in PAPER_KEYWORDS or choice == (keywords.get('Default' + keyword) or [None])[0]:
            choices.setdefault((keyword, choice), value)
    return keywords, choices


def paper_name(choices, pwg):
    """The PPD's name for the PWG size, its usual name first, else the first within the slack."""
    width, height = SIZES[pwg]
    found = []
    for (keyword, choice), value in choices.items():
        size = DIMENSION.match(value) if keyword == 'PaperDimension' else None
        if size and abs(float(size.group(1)) - width) <= SIZE_SLACK and abs(float(size.group(2)) - height) <= SIZE_SLACK:
            found.append(choice)
    usual = 'A4' if pwg == A4 else 'Letter'
    return usual if usual in found else (found[0] if found else None)


def papers_of(entries):
    """[(paper as the check is asked for it, the PPD's name)]: the default paper, then the other of
    A4 and Letter where the PPD offers it."""
    keywords, choices = entries
    default = (keywords.get('DefaultPageSize') or [''])[0]
    names = {pwg: paper_name(choices, pwg) for pwg in SIZES}
    papers = []
    for pwg in SIZES:
        if names[pwg] == default:
            papers.append((pwg, default))
    if not papers and ('PageSize', default) in choices:
        papers.append((default, default))
    for pwg in SIZES:
        if names[pwg] and (pwg, names[pwg]) not in papers and len(papers) < 2:
            papers.append((pwg, names[pwg]))
    return papers


def group_key(entries, paper, extra=''):
    """What makes two models' pages on a paper the same by construction, as a digest."""
    keywords, choices = entries
    parts = [extra]
    for keyword in sorted(keywords):
        parts += [f'*{keyword}: {value}' for value in keywords[keyword]]
    defaults = {keyword[len('Default'):]: values[0] for keyword, values in keywords.items()
                if keyword.startswith('Default')}
    for (keyword, choice), value in sorted(choices.items()):
        if choice == (paper if keyword in PAPER_KEYWORDS else defaults.get(keyword)):
            parts.append(f'*{keyword} {choice}: {value}')
    return hashlib.sha256('\n'.join(parts).encode()).hexdigest()[:20]


def written_entries(uri):
    """The key's entries of a PPD its driver writes out, as JSON keeps them; None when it cannot."""
    written = subprocess.run([DRIVERD, 'cat', uri], capture_output=True, stdin=subprocess.DEVNULL,
                             env=dict(os.environ, CUPS_CACHEDIR=DRIVERD_CACHE))
    if written.returncode != 0 or not written.stdout.startswith(b'*PPD-Adobe'):
        return None
    keywords, choices = ppd_entries(written.stdout)
    return [keywords, [[keyword, choice, value] for (keyword, choice), value in choices.items()]]


def kept_entries(uris, versions, progress):
    """{uri: entries} of the PPDs drivers write out, kept in build/ for the drivers' versions:
    writing out four thousand PPDs takes minutes."""
    try:
        with gzip.open(ENTRIES, 'rt') as kept:
            kept = json.load(kept)
        if kept['key'] == PLAN_VERSION and kept['versions'] == versions and set(uris) <= set(kept['entries']):
            return kept['entries']
    except (OSError, ValueError, EOFError, KeyError, TypeError):
        # Missing, cut short or of another shape: written out again.
        pass
    entries = {}
    with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
        for done, (uri, found) in enumerate(zip(uris, pool.map(written_entries, uris)), 1):
            entries[uri] = found
            if done % 500 == 0:
                progress(f'{done} of {len(uris)} PPDs written out')
    write_gzip(ENTRIES, {'key': PLAN_VERSION, 'versions': versions, 'entries': entries})
    return entries


def model_units(uris, versions, progress):
    """{uri: [(paper, key)]} of the models, each PPD read from the driver's archive or written out."""
    units = {}

    def add(uri, entries, extra=''):
        units[uri] = [(pwg, group_key(entries, name, extra)) for pwg, name in papers_of(entries)] if entries else []
    archived = {}
    for uri in uris:
        if uri.startswith(OPENPRINTING + ':'):
            archived.setdefault(archive_key(uri), []).append(uri)
    if archived:
        program = source_file(next(iter(archived.values()))[0])
        for stretch in openprinting_stretches(program):
            for name, text in stretch.items():
                for uri in archived.pop(name, []):
                    add(uri, ppd_entries(text))
        for missing in archived.values():
            for uri in missing:
                add(uri, None)
    written = [uri for uri in uris if uri not in units]
    families = {}
    for uri, found in kept_entries(written, versions, progress).items():
        if uri not in written:
            continue
        extra = ''
        scheme = uri.split(':', 1)[0]
        if scheme.startswith('gutenprint.'):
            # The printer list's family, model number and parameters are the driver's model.
            if scheme not in families:
                families[scheme] = read_gutenprint_families(scheme)
            extra = repr(families[scheme].get(uri.split('://', 1)[-1].split('/', 1)[0]))
        add(uri, found and (found[0], {(keyword, choice): value for keyword, choice, value in found[1]}), extra)
    return units


def make_plan(languages, units, versions, kept=None):
    """The groups and shards: each group's first model printed, 2 % of the rest alongside. Given
    the plan kept for the same versions, its shards stay as they are, for their results may be
    done: a group's first model is one they print where it can be, the members they sample stay
    in the sample, topped up at random to 2 %, and only the work not in them goes into new shards."""
    kept_shards = kept['shards'] if kept else []
    planned = {(shard['paper'], uri) for shard in kept_shards for uri in shard['printers']}
    kept_sample = {tuple(pair) for pair in kept['sampled']} if kept else set()
    groups = {}
    for uri in sorted(units):
        for paper, key in units[uri]:
            groups.setdefault((paper, key), []).append(uri)
    for (paper, key), uris in groups.items():
        printed = [uri for uri in uris if (paper, uri) in planned]
        first = min(printed, key=lambda uri: ((paper, uri) in kept_sample, uri)) if printed else uris[0]
        uris.remove(first)
        uris.insert(0, first)
    chosen = random.Random(SEED)
    members = [(paper, key, uri) for (paper, key), uris in sorted(groups.items()) for uri in uris[1:]]
    sampled = [member for member in members if (member[0], member[2]) in kept_sample]
    others = [member for member in members if (member[0], member[2]) not in kept_sample]
    sampled += chosen.sample(others, max(0, round(SAMPLE_SHARE * len(members)) - len(sampled)))
    work = {}
    for (paper, key), uris in sorted(groups.items()):
        work.setdefault(paper, []).append(uris[0])
    for paper, key, uri in sorted(sampled):
        work[paper].append(uri)
    shards = list(kept_shards)
    for paper in sorted(work, key=lambda paper: (paper not in SIZES, paper)):
        printers = sorted({uri for uri in work[paper] if (paper, uri) not in planned})
        # Dealt at random so that the shards done at any time are a fair draw of the whole.
        chosen.shuffle(printers)
        for start in range(0, len(printers), SHARD_PRINTERS):
            shards.append({'paper': paper, 'printers': printers[start:start + SHARD_PRINTERS]})
    return {'format': PLAN_FORMAT, 'version': PLAN_VERSION, 'versions': versions,
            'models': {uri: languages[uri] for uri in sorted(units)},
            'unreadable': sorted(uri for uri in units if not units[uri]),
            'groups': [{'paper': paper, 'key': key, 'models': uris} for (paper, key), uris in sorted(groups.items())],
            'sampled': sorted([paper, uri] for paper, _, uri in sampled),
            'shards': shards}


def read_plan(path=PLAN, version=PLAN_VERSION):
    """The plan kept; of any version when version is None."""
    try:
        with gzip.open(path, 'rt') as kept:
            plan = json.load(kept)
    except (OSError, ValueError, EOFError) as problem:
        raise PlanError(f'{os.path.relpath(path, ROOT)} cannot be read ({problem}): run plan first') from None
    if plan.get('format') != PLAN_FORMAT or version is not None and plan.get('version') != version:
        raise PlanError(f'{os.path.relpath(path, ROOT)} is not a collection plan of version {PLAN_VERSION}: '
                        'run plan')
    return plan


def write_gzip(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    # No name nor time in the header, so that the same content gives the same file.
    with open(path + '.new', 'wb') as raw, gzip.GzipFile(fileobj=raw, mode='wb', filename='', mtime=0) as kept:
        kept.write(json.dumps(data, separators=(',', ':'), sort_keys=False).encode())
    os.replace(path + '.new', path)


def current_models():
    models = list_models()
    sources = {uri: source_file(uri) for uri in models}
    owners = packages_of(set(sources.values()))
    drivers = set(owners.values())
    versions = versions_of(drivers | {'cups', 'cups-filters', 'ghostscript', 'wine'})
    languages = cached_languages(models, {package: version for package, version in versions.items()
                                          if package in drivers})
    read = [uri for uri in models if is_read(languages[uri]) and not any(c.isspace() for c in uri)]
    return read, languages, versions


def plan_command(options):
    read, languages, versions = current_models()
    try:
        kept = read_plan(version=None)
    except PlanError:
        kept = None
    if kept and kept['versions'] == versions and kept['version'] == PLAN_VERSION and not options.again:
        print(f'collection: the plan for these versions is kept: {os.path.relpath(PLAN, ROOT)}', file=sys.stderr)
        return 0
    if kept and kept['versions'] != versions:
        kept = None
    if not kept and done_shards():
        # Their results would be taken for the new plan's shards of the same numbers.
        print(f'collection: {os.path.relpath(SHARDS, ROOT)} holds the results of a plan for other versions: '
              'move them away first', file=sys.stderr)
        return 1
    started = time.monotonic()
    units = model_units(read, versions, lambda text: print(f'collection: {text}', file=sys.stderr))
    plan = make_plan(languages, units, versions, kept)
    write_gzip(PLAN, plan)
    added = plan['shards'][len(kept['shards']) if kept else 0:]
    pages = sum(len(shard['printers']) for shard in added) * 2
    print(f'collection: {len(read)} models read by the check, {sum(map(len, units.values()))} model and paper pairs in '
          f'{len(plan["groups"])} groups, {len(plan["sampled"])} members sampled alongside; {len(added)} shards '
          f'of {pages} pages added to {len(plan["shards"]) - len(added)} planned before; planned in '
          f'{time.monotonic() - started:.0f} s', file=sys.stderr)
    return 0


def shard_file(number):
    return os.path.join(SHARDS, f'{number:04d}.json.gz')


def compact(data):
    """A shard's results.json without its pictures' names, its figures to a thousandth."""
    if isinstance(data, float):
        return round(data, 3)
    if isinstance(data, list):
        return [compact(item) for item in data]
    if isinstance(data, dict):
        return {key: dict.fromkeys(value, None) if key == 'pictures' and isinstance(value, dict) else
                None if key == 'difference_picture' else compact(value) for key, value in data.items()}
    return data


def run_shard(plan, number, jobs):
    """One shard checked, its processes accounted; its compact results kept. True when it ran to
    its end."""
    shard = plan['shards'][number - 1]
    out = os.path.join(WORK, 'shards', f'{number:04d}')
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    started = time.monotonic()
    status = run_accounted([CHECK, '--jobs', str(jobs), '--paper', shard['paper'], '--out', out, *shard['printers']],
                           os.path.join(out, ACCOUNTING))
    try:
        data = results.read(out)
    except results.ResultsError as problem:
        print(f'collection: shard {number} ended with status {status} and no results ({problem})', file=sys.stderr)
        return False
    data = compact(data)
    data['collection'] = {'shard': number, 'seconds': round(time.monotonic() - started, 1),
                          'processor_seconds': usage(os.path.join(out, ACCOUNTING))}
    write_gzip(shard_file(number), data)
    return True


def shard_numbers(text, count):
    numbers = []
    for part in text.split(','):
        first, _, last = part.partition('-')
        try:
            numbers += range(int(first), int(last or first) + 1)
        except ValueError:
            raise argparse.ArgumentTypeError(f'--shards: {part} is not N or N-M') from None
    if not all(1 <= number <= count for number in numbers):
        raise argparse.ArgumentTypeError(f'--shards: shards are numbered 1 to {count}')
    return numbers


def run_command(options):
    plan = read_plan()
    count = len(plan['shards'])
    try:
        numbers = shard_numbers(options.shards, count) if options.shards else range(1, count + 1)
    except argparse.ArgumentTypeError as problem:
        print(f'collection: {problem}', file=sys.stderr)
        return 2
    todo = [number for number in numbers if options.again or not os.path.exists(shard_file(number))]
    if options.limit is not None:
        todo = todo[:options.limit]
    failed = 0
    for number in todo:
        shard = plan['shards'][number - 1]
        print(f'collection: shard {number} of {count}: {len(shard["printers"])} printers on {shard["paper"]}',
              file=sys.stderr)
        failed += not run_shard(plan, number, options.jobs)
    return 1 if failed else 0


def done_shards():
    done = {}
    for number in range(1, 10000):
        path = shard_file(number)
        if not os.path.exists(path):
            continue
        with gzip.open(path, 'rt') as kept:
            done[number] = json.load(kept)
    return done


def explained_rows(plan, done):
    """The rows of the shards done, their failing pages matched again with today's findings, each
    with the paper its shard was planned on."""
    rows = []
    for number, data in done.items():
        for row in results.row_records(results.rows_of(data)):
            rows.append(dict(row, planned_paper=plan['shards'][number - 1]['paper']))
    return rows


def sample_agreement(plan, rows):
    """[(member, paper, representative, changes)] of the sampled members run: the figures that
    moved by more than a printer pixel from their group's first model's."""
    first = {}
    for group in plan['groups']:
        for uri in group['models']:
            first[(group['paper'], uri)] = group['models'][0]
    pages = {}
    for row in rows:
        for page in row['pages']:
            pages[(row['planned_paper'], row['ppd'], page['mode'])] = (row, page)
    found = []
    for paper, uri in plan['sampled']:
        representative = first[(paper, uri)]
        for mode in ('direct', 'bitmap'):
            if (paper, uri, mode) in pages and (paper, representative, mode) in pages:
                page, first_page = pages[(paper, uri, mode)][1], pages[(paper, representative, mode)][1]
                changes = results.moves(first_page, page, 1.0)
                verdicts = (first_page['verdict'], page['verdict'])
                found.append((uri, paper, mode, representative, changes, verdicts))
    return found


def status_command(options):
    plan = read_plan()
    done = done_shards()
    rows = explained_rows(plan, done)
    pages = [page for row in rows for page in row['pages']]
    verdicts = {}
    for page in pages:
        verdicts[page['verdict']] = verdicts.get(page['verdict'], 0) + 1
    split = {'stack': 0.0, 'check': 0.0}
    for data in done.values():
        spent = data['collection']['processor_seconds']
        for side in split:
            # The first shard was timed as a whole, before the processes were accounted.
            split[side] += spent[side] if isinstance(spent, dict) else 0.0
    accounted = [data for data in done.values() if isinstance(data['collection']['processor_seconds'], dict)]
    accounted_pages = sum(len(row['pages']) for data in accounted for row in data['rows'])
    processor = sum(split.values())
    elapsed = sum(data['collection']['seconds'] for data in done.values())
    run = {(row['planned_paper'], row['ppd']) for row in rows}
    stood_for = sum(len(group['models']) for group in plan['groups']
                    if (group['paper'], group['models'][0]) in run)
    print(f'{len(done)} of {len(plan["shards"])} shards done: {len(rows)} printers and papers run, standing for '
          f'{stood_for} of {sum(len(group["models"]) for group in plan["groups"])} model and paper pairs '
          f'({len(plan["models"])} models, {len(plan["groups"])} groups)')
    print(f'{len(pages)} pages: ' + ', '.join(f'{verdict} {count}' for verdict, count in sorted(verdicts.items())))
    print(f'{processor / max(1, accounted_pages):.2f} s of processor time a page ({split["stack"] / max(1, accounted_pages):.2f} '
          f'the stack under test, {split["check"] / max(1, accounted_pages):.2f} the check), {processor / 3600:.2f} h '
          f'in all over {accounted_pages} pages accounted; {elapsed / 3600:.2f} h elapsed')
    agreement = sample_agreement(plan, rows)
    differing = [item for item in agreement if item[4] or item[5][0] != item[5][1]]
    print(f'{len(agreement)} pages of sampled members run: {len(agreement) - len(differing)} agree with their '
          f'group\'s first model')
    for uri, paper, mode, representative, changes, verdicts in differing:
        print(f'  differs: {uri} {paper} {mode} from {representative}: {verdicts[0]} -> {verdicts[1]}; ' +
              '; '.join(f'{change["figure"]} {change["px"]}' for change in changes))
    failing = sum(count for verdict, count in verdicts.items() if verdict in ('FAIL', 'disputed'))
    groups = failure_groups(rows)
    unexplained = sum(group['pages'] for group in groups if group['finding'] == UNEXPLAINED)
    print(f'{failing} pages failed or disputed, {unexplained} unexplained ({100 * unexplained / max(1, failing):.1f} %)')
    sizes = {(group['paper'], group['models'][0]): len(group['models']) for group in plan['groups']}
    print('| Finding | Driver | Language | Paper | Models | Pages | Median shift (range), mm | Confidence |')
    print('|---|---|---|---|---:|---:|---|---|')
    for group in groups:
        models = sum(sizes.get(model, 0) for model in group['models'])
        edges = ', '.join(f'{edge} {value:+.2f} ({group["ranges"][edge][0]:+.2f} to {group["ranges"][edge][1]:+.2f})'
                          for edge, value in group['edges'].items())
        found = BY_ID.get(group['finding'])
        print(f'| {group["finding"]} | {group["driver"]} | {group["language"]} | {group["paper"]} | {models} | '
              f'{group["pages"]} | {edges} | {found.confidence if found else ""} |')
    return 0


def merge_command(options):
    """The report of the shards done, from their results as kept: every page's verdict, figures and
    finding, with a page for each printer; the pictures stay with each shard's own report."""
    done = done_shards()
    if not done:
        print('collection: no shard is done', file=sys.stderr)
        return 1
    rows = [row for number in sorted(done) for row in results.rows_of(done[number], number)]
    first = done[min(done)]['run']
    record = dict(first, shard='1/1', merged=[{'dir': os.path.relpath(shard_file(number), ROOT), 'shard': None,
                                              'argv': done[number]['run'].get('argv')} for number in sorted(done)])
    out = options.out or os.path.join(WORK, 'report')
    os.makedirs(out, exist_ok=True)
    report_run(rows, results.stored_run(first, out), print, record)
    results.save(results.document(rows, record), out)
    return 0


def driver_of(row):
    """What a row's pages were written by."""
    return written_by(row.get('ppd'), row.get('driver'))


def failure_groups(rows):
    """The failing and disputed pages grouped by what went wrong, on the same paper, by one driver,
    in one language: by their finding, or where they have none by the same edges moved by about
    the same amount (to half a millimetre); each group with its pages, models and each moved
    edge's median."""
    groups = {}
    for row in rows:
        for page in row['pages']:
            if page['verdict'] not in ('FAIL', 'disputed'):
                continue
            edges = (page.get('figures') or {}).get('edges') or {}
            moved = {edge: edges[edge]['mm'] for edge in moved_edges(page) if edges.get(edge)}
            # A finding's pages are one group whatever each model's figures; the others go by
            # which edges moved and by about how much.
            amounts = () if page.get('finding') != UNEXPLAINED else \
                tuple((edge, round(value * 2)) for edge, value in moved.items())
            key = (row['paper'], driver_of(row), page.get('language') or page.get('kind'), page.get('finding'), amounts)
            group = groups.setdefault(key, {'paper': row['paper'], 'driver': key[1], 'language': key[2],
                                            'finding': key[3], 'pages': 0, 'models': set(), 'moved': {}})
            group['pages'] += 1
            group['models'].add((row.get('planned_paper', row['paper']), row.get('ppd') or row['printer']))
            for edge, value in moved.items():
                group['moved'].setdefault(edge, []).append(value)
    found = []
    for group in groups.values():
        group['edges'] = {edge: round(statistics.median(values), 2) for edge, values in group['moved'].items()}
        group['ranges'] = {edge: (round(min(values), 2), round(max(values), 2))
                           for edge, values in group.pop('moved').items()}
        group['models'] = sorted(group['models'])
        found.append(group)
    return sorted(found, key=lambda group: (group['paper'], group['finding'] == UNEXPLAINED, -group['pages'],
                                            group['finding'] or '', group['driver'] or ''))


COMMANDS = {'plan': plan_command, 'run': run_command, 'status': status_command, 'merge': merge_command}


def arguments(argv):
    parser = argparse.ArgumentParser(prog='scripts/check-collection.sh', description=DESCRIPTION,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('command', choices=COMMANDS)
    parser.add_argument('--again', action='store_true', help='plan: plan again, keeping the shards planned; run: run the shards done too')
    parser.add_argument('--shards', metavar='N[-M][,...]', help='run: these shards only')
    parser.add_argument('--limit', type=int, metavar='K', help='run: at most K shards, then stop')
    parser.add_argument('--jobs', type=int, default=2, metavar='N', help='run: printers checked at once (default 2)')
    parser.add_argument('--out', metavar='DIR', help='merge: where the report goes (default build/collection/report)')
    return parser.parse_args(argv)


def main(argv=None):
    options = arguments(sys.argv[1:] if argv is None else argv)
    try:
        return COMMANDS[options.command](options)
    except (PlanError, ListingError, OSError) as problem:
        print(f'collection: {problem}', file=sys.stderr)
        return 1


if __name__ == '__main__':
    sys.exit(main())
