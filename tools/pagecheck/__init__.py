"""Printing the test page with the real printtest.exe under Wine and judging what reaches a
CUPS queue: the one driving and measuring code of the end-to-end test, scripts/printed-page.sh
and scripts/check-printer.sh."""
