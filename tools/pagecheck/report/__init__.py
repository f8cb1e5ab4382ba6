"""The report of a run: its rows and verdicts, report.html, report.md, junit.xml, results.json and
the pages' pictures. Uses core, readers and measure; never the printing stack."""
