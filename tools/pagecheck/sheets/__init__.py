"""Scans and photos of a printed sheet: the picture read, the sheet found in it and brought onto
its own edges as a reader hands a page back, then measured. Uses core, readers and measure;
never the printing stack, so that judging a picture loads neither libcups nor Wine."""
