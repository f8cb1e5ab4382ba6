"""Page languages read onto whole sheets, one module a language behind one registry (registry),
with what a reader is given and hands back (base), the document a queue or a file holds
(document), and the programs that interpret for them wrapped once (ghostscript, ghostpcl). Uses
core only."""
