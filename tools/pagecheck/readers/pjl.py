"""PJL jobs: the parts of a job a printer hands its languages, and the job's name."""
import re

# The Universal Exit Language command: it opens and closes a PJL job and, wherever it comes,
# hands the printer back to PJL.
UEL = b'\x1b%-12345X'
PJL_LINE = re.compile(rb'[ \t\r\n]*@PJL[^\n]*\n?')
ENTER = re.compile(rb'@PJL[ \t]+ENTER[ \t]+LANGUAGE[ \t]*=[ \t]*(\w+)', re.I)
# hpcups writes JOBNAME, and SET JOBNAME, where PJL has JOB NAME; brlaser and some other drivers
# name the job JOBID/USER/TITLE ("12/root/Print Test"), of which the title is the document's.
JOB_NAME = re.compile(rb'@PJL[ \t]+(?:SET[ \t]+)?JOB[ \t]*NAME[ \t]*=[ \t]*"(?:\d+/[^/"]*/)?([^"]*)"', re.I)


def job_parts(raw):
    """The parts of a job in the languages a printer would hand them to, as (language, data): after
    each UEL come PJL command lines; ENTER LANGUAGE names the language of what follows its line,
    else the printer tells it by its first bytes; either runs to the next UEL. language is the
    name the job gives it, upper-case, or None."""
    if not raw.startswith(UEL):
        return [(None, raw)]
    parts = []
    for block in raw.split(UEL)[1:]:
        at, language = 0, None
        while language is None and (line := PJL_LINE.match(block, at)):
            at = line.end()
            entered = ENTER.search(line.group())
            language = entered and entered.group(1).decode('ascii').upper()
        if block[at:].strip():
            parts.append((language, block[at:]))
    return parts


def job_name(raw):
    """The title a PJL job's name gives, as bytes, or None."""
    found = JOB_NAME.search(raw)
    return found and found.group(1)
