"""Where the test page belongs on a sheet and how far what was printed lies from it: the sheet
read as ink and paper, the placement, the measuring, the checks and their verdicts, the
registration; and a document read and measured as one page. Uses core and readers."""
