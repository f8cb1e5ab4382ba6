"""scripts/printer-languages.sh: the language each printer model of the installed CUPS drivers
finally sends the printer, and whether the check reads it; see --help.

The models are the ones `lpinfo -m` lists, asked of CUPS's driver helper (cups-driverd) without
the scheduler. A model's language comes from its driver's PPDs read the way the driver stores
them, not from writing out every PPD (stack/models.py). The result is kept in build/ for the
driver packages' versions."""
import argparse
import random
import sys
import time

from ..core.errors import UsageError
from ..stack.models import (OTHER, ListingError, cached_languages, is_read, list_models, packages_of, source_file,
                             versions_of)

DESCRIPTION = """Lists every printer model the installed CUPS drivers offer (as `lpinfo -m` does, without the
scheduler), classifies the language each one finally sends the printer, and prints two Markdown
tables: per language its models, their share of all, whether the check reads it, and the driver
packages they come from, then the share of models the check reads; and per driver package its
models, how many the check reads, and their languages.

With --list it prints instead every model the check reads, one a line; with --sample N, N of them
drawn at random: at least one of each language it reads, the rest in proportion to the
languages' models. Names with white space are left out, as the shell would split them, so that
  scripts/check-printer.sh $(scripts/printer-languages.sh --sample 30 --seed 1)
checks them. --seed makes the draw the same each time; without it the seed drawn is written to
standard error.

The classification is kept in build/printer-languages for the driver packages' versions.
Exit status: 0 on success, 1 when the drivers cannot be listed, 2 for bad arguments."""


def table(languages, packages):
    """The Markdown table: per language its models, share, whether it is read and from which
    packages; read languages first, each part by models."""
    by_language = {}
    for uri, language in languages.items():
        by_language.setdefault(language, []).append(uri)
    total = len(languages)
    order = sorted(by_language, key=lambda language: (not is_read(language), language.startswith(OTHER),
                                                      -len(by_language[language]), language))
    lines = ['| Language | Models | Share | Read | Driver packages |', '|---|---:|---:|---|---|']
    for language in order:
        uris = by_language[language]
        counts = {}
        for uri in uris:
            counts[packages[uri]] = counts.get(packages[uri], 0) + 1
        drivers = ', '.join(f'{package} {count}' for package, count in
                            sorted(counts.items(), key=lambda item: (-item[1], item[0])))
        lines.append(f'| {language} | {len(uris)} | {100 * len(uris) / total:.1f} % | '
                     f'{"yes" if is_read(language) else "no"} | {drivers} |')
    read = sum(1 for language in languages.values() if is_read(language))
    lines += ['', f'Read: {read} of {total} models ({100 * read / total:.1f} %).']
    return '\n'.join(lines)


def package_table(languages, packages):
    """The Markdown table by driver package: its models, how many the check reads, and its
    languages with their models; packages by models."""
    by_package = {}
    for uri, language in languages.items():
        by_package.setdefault(packages[uri], {}).setdefault(language, 0)
        by_package[packages[uri]][language] += 1
    lines = ['| Driver package | Models | Read | Languages |', '|---|---:|---:|---|']
    for package, counts in sorted(by_package.items(), key=lambda item: (-sum(item[1].values()), item[0])):
        models = sum(counts.values())
        read = sum(count for language, count in counts.items() if is_read(language))
        spoken = ', '.join(f'{language} {count}' for language, count in
                           sorted(counts.items(), key=lambda item: (-item[1], item[0])))
        lines.append(f'| {package} | {models} | {read} ({100 * read / models:.1f} %) | {spoken} |')
    return '\n'.join(lines)


def allocate(sizes, count):
    """How many to draw of each group: one of each, the rest in proportion to the groups' sizes
    (by highest quotient), none beyond a group's size."""
    drawn = {group: 1 for group in sizes}
    extra = {group: 0 for group in sizes}
    for _ in range(count - len(sizes)):
        open_groups = [group for group in sizes if drawn[group] < sizes[group]]
        group = max(open_groups, key=lambda group: sizes[group] / (extra[group] + 1))
        drawn[group] += 1
        extra[group] += 1
    return drawn


def read_models(languages):
    """{language: [model]} of the models the check reads, their names without white space."""
    groups = {}
    for uri, language in languages.items():
        if is_read(language) and not any(character.isspace() for character in uri):
            groups.setdefault(language, []).append(uri)
    return groups


def sample(languages, count, seed):
    """count read models at random, stratified by language; UsageError when it cannot be done."""
    groups = read_models(languages)
    available = sum(len(uris) for uris in groups.values())
    if count < len(groups) or count > available:
        raise UsageError(f'--sample must be from {len(groups)} (one model of each read language) '
                         f'to {available} (every read model)')
    order = sorted(groups)
    drawn = allocate({language: len(groups[language]) for language in order}, count)
    chosen = random.Random(seed)
    return [(language, uri) for language in order
            for uri in sorted(chosen.sample(sorted(groups[language]), drawn[language]))]


def arguments(argv):
    parser = argparse.ArgumentParser(prog='scripts/printer-languages.sh', description=DESCRIPTION,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--sample', type=int, metavar='N', help='print N models the check reads, drawn at random')
    parser.add_argument('--seed', type=int, metavar='S', help='the seed of the --sample draw')
    parser.add_argument('--list', action='store_true', help='print every model the check reads, one a line')
    options = parser.parse_args(argv)
    if options.seed is not None and options.sample is None:
        parser.error('--seed goes with --sample')
    if options.list and options.sample is not None:
        parser.error('--list and --sample are one or the other')
    return parser, options


def main(argv=None):
    parser, options = arguments(sys.argv[1:] if argv is None else argv)
    started = time.monotonic()
    try:
        models = list_models()
        sources = {uri: source_file(uri) for uri in models}
        owners = packages_of(set(sources.values()))
        packages = {uri: owners.get(source, f'(no package: {source})') for uri, source in sources.items()}
        languages = cached_languages(models, versions_of(set(owners.values())))
    except (ListingError, OSError) as problem:
        print(f'printer-languages: {problem}', file=sys.stderr)
        return 1
    if options.list:
        print('\n'.join(sorted(uri for uris in read_models(languages).values() for uri in uris)))
        return 0
    if options.sample is None:
        print(table(languages, packages) + '\n\n' + package_table(languages, packages))
        print(f'{len(models)} models listed and classified in {time.monotonic() - started:.1f} s', file=sys.stderr)
        return 0
    seed = options.seed if options.seed is not None else random.SystemRandom().randrange(1 << 20)
    try:
        drawn = sample(languages, options.sample, seed)
    except UsageError as problem:
        parser.error(str(problem))
    counts = {}
    for language, _ in drawn:
        counts[language] = counts.get(language, 0) + 1
    drawn_counts = ', '.join(f'{language} {count}' for language, count in counts.items())
    print(f'{len(drawn)} models, seed {seed}: {drawn_counts}', file=sys.stderr)
    for _, uri in drawn:
        print(uri)
    return 0


if __name__ == '__main__':
    sys.exit(main())
