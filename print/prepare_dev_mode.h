#pragma once

#include <windows.h>
#include <winspool.h>

#include <vector>

#include "print/devmode_bytes.h"

// Marks in SavedDevMode's dmFields every setting that differs from the printer driver's current
// one, and fills both buffers with SavedDevMode followed by spaces, at the size the driver asks
// for. When the driver names no size, both buffers are left empty and SavedDevMode unmarked, so
// the printer DC is created with the driver's defaults.
int PrepareDevMode(HWND& Owner, HANDLE& Printer, unsigned char (&SavedDevMode)[DevModePublicSize],
                   std::vector<unsigned char>& DevModeOut, std::vector<unsigned char>& DevModeIn);
