"""Printing the test page with the real printtest.exe under Wine and judging what reaches a CUPS
queue, or a page printed anywhere: the one driving and measuring code of the end-to-end tests and
of the check's commands. Packages in layers, each using only those below it:

    core < readers < measure < report, stack < sheets < commands
"""
