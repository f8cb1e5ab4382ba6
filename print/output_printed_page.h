#pragma once

#include <windows.h>
#include <commdlg.h>

#include <string>

// What became of the page: 0 when it is on the printer's page.
enum PageOutputResult
{
    PAGE_OUTPUT_DRAWN = 0,
    PAGE_OUTPUT_NO_BITMAP = 1,  // Bitmap mode: the off-screen page could not be made or copied
};

// Puts the test page inside PageSetup's margins on the started page of PrinterDC: drawn
// straight onto it in Direct mode, copied from an off-screen page in Bitmap mode.
int OutputPrintedPage(HDC& PrinterDC, int& PrintMode, std::string& PageText, PAGESETUPDLGA& PageSetup);
