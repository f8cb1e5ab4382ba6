"""The bottom layer, which every other package may use and which uses none of them: units, the
paper table, the modes and their captions, the page set-up and run records, errors."""
