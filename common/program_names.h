#pragma once

#include <string>

// The names every subsystem shares: the shell keeps them, the renderer and the print job read them.

// Face name of the test page's text font.
extern std::string FontFace;

// The values a print mode takes; no other is ever stored.
enum PrintModeValue
{
    PRINT_MODE_DIRECT = 0,
    PRINT_MODE_BITMAP = 1,
};

// The text naming each mode: the page's text line, the job's document name, the cancel
// dialog's caption.
extern const char DirectModeCaption[];
extern const char BitmapModeCaption[];
