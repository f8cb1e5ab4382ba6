"""PPDs read through libcups (python3-cups, and libcups itself for what it does not bind), as the
scheduler reads them: *Include followed, the last of a keyword's defaults taken, cupsFilter2
lines in place of cupsFilter ones."""
import cups


def open_ppd(path):
    return cups.PPD(path)


def value(ppd, keyword):
    """The value of a cups.PPD's first *keyword line, without its quotes; None when it has none."""
    found = ppd.findAttr(keyword)
    return found.value.strip() if found and found.value else None


def values(ppd, keyword):
    """The values of each of a cups.PPD's *keyword lines, in order."""
    return [found.value for found in ppd.attributes if found.name == keyword]


def filters(ppd):
    """The filter lines the scheduler runs: cupsFilter2 lines, else cupsFilter ones."""
    return values(ppd, 'cupsFilter2') or values(ppd, 'cupsFilter')


def option_choices(ppd):
    """{option keyword: its choices, in the PPD's order}, of every option in every group."""
    found = {}
    groups = list(ppd.optionGroups)
    while groups:
        group = groups.pop(0)
        groups += group.subgroups
        for option in group.options:
            found[option.keyword] = [choice['choice'] for choice in option.choices]
    return found


def page_size_titles(ppd):
    """{page size: the name the PPD shows users for it (its translation string)}."""
    page_size = ppd.findOption('PageSize')
    return {choice['choice']: choice['text'] for choice in page_size.choices} if page_size else {}
