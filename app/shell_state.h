#pragma once

#include <windows.h>
#include <commdlg.h>

#include <string>

// Everything the main window keeps for the whole run.
struct ShellState
{
    HMENU MenuBar;
    HMENU FileMenu;
    int PrintMode;              // 0 = Direct, 1 = Bitmap
    std::string ModeCaption;    // names the mode: the page's text line, the job's title
    HBITMAP PageCacheBitmap;    // the off-screen page that Bitmap mode paints from
    HDC PageCacheDC;            // memory DC holding PageCacheBitmap
    RECT ClientRect;            // client area at its last measurement
    PAGESETUPDLGA PageSetup;
    PRINTDLGA PrintSetup;
};

enum PrintModeValue
{
    PRINT_MODE_DIRECT = 0,
    PRINT_MODE_BITMAP = 1,
};

extern ShellState Shell;

// Face name of the test page's text font.
extern std::string FontFace;

extern const char MainWindowClass[];
extern const char MainWindowTitle[];
extern const char DirectModeCaption[];
extern const char BitmapModeCaption[];

// Returns the program-wide data to its state at process start: every handle and number 0,
// every text empty.
void ClearProgramData();

// Deletes the off-screen page of the window, the memory DC before its bitmap.
void ReleasePageCache();

extern "C" LRESULT CALLBACK MAINWNDPROC(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);

void RegisterMainWindowClass(HINSTANCE Instance);
HWND CreateMainWindow(HINSTANCE Instance);

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
