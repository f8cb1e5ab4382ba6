#pragma once

#include <windows.h>
#include <commdlg.h>

#include <string>

#include "common/program_names.h"

// Everything the main window keeps for the whole run.
struct ShellState
{
    HMENU MenuBar;
    HMENU FileMenu;
    int PrintMode;              // a PrintModeValue
    std::string ModeCaption;    // names the mode: the page's text line, the job's title
    HBITMAP PageCacheBitmap;    // the off-screen page that Bitmap mode paints from
    HDC PageCacheDC;            // memory DC holding PageCacheBitmap
    RECT ClientRect;            // client area at its last measurement
    PAGESETUPDLGA PageSetup;
    PRINTDLGA PrintSetup;
};

extern ShellState Shell;

extern const char MainWindowClass[];
extern const char MainWindowTitle[];

// Returns the program-wide data to its state at process start: every handle and number 0,
// every text empty.
void ClearProgramData();

// Deletes the off-screen page of the window, the memory DC before its bitmap.
void ReleasePageCache();

extern "C" LRESULT CALLBACK MAINWNDPROC(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);

void RegisterMainWindowClass(HINSTANCE Instance);
HWND CreateMainWindow(HINSTANCE Instance);

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
