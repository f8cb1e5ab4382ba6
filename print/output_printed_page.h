#pragma once

#include <windows.h>
#include <commdlg.h>

#include <string>

// Puts the test page inside PageSetup's margins on the started page of PrinterDC: drawn
// straight onto it in Direct mode, copied from an off-screen page in Bitmap mode.
int OutputPrintedPage(HDC& PrinterDC, int& PrintMode, std::string& PageText, PAGESETUPDLGA& PageSetup);
