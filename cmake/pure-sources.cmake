# Computations that include no windows.h: built into the program, and natively (with the
# sanitizers) for their own tests and the fuzz target.
set(PURE_SOURCES
    app/command_line.cpp
    render/page_geometry.cpp
    render/rounding.cpp
    print/placement_math.cpp
    print/devnames_parse.cpp
    print/devmode_bytes.cpp
    print/printer_match.cpp
)
