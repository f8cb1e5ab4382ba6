"""Scans and photos of a printed sheet: the picture read, the sheet found in it and brought onto
its own edges as a reader hands a page back, then measured. Uses core, readers, measure and
report; never the printing stack."""
