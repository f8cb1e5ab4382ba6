#pragma once

#include <windows.h>
#include <commdlg.h>
#include <winspool.h>

#include <vector>

#include "print/devmode_bytes.h"

// Everything a print job keeps; the cancel dialog and the abort procedure share it with the job.
struct PrintJobState
{
    char DialogCaption[30];             // caption of the cancel dialog, at most 29 characters
    int UserAbort;                      // set once the user cancels
    HWND CancelDialog;                  // 0 when there is none
    HWND MainWindow;
    DEVNAMES DevNamesHeader;
    unsigned char SavedDevMode[DevModePublicSize];  // the user's choices, public members only
    HDC PrinterDC;
    HANDLE PrinterHandle;
    std::vector<unsigned char> DevModeOut;  // the device mode the printer DC is created with
    std::vector<unsigned char> DevModeIn;
    int JobStatus;                      // last result of StartDocA, StartPage or EndPage
    DOCINFOA DocInfo;
    char DocName[MAX_PATH];
};

extern PrintJobState PrintJob;
