#pragma once

#include <windows.h>

// Name of the cancel dialog's template among the program's resources.
extern const char CancelDialogTemplate[];

// The modeless cancel dialog of a print job: any command cancels the job.
INT_PTR CALLBACK CancelDlgProc(HWND Dialog, UINT Message, WPARAM WParam, LPARAM LParam);

// Keeps the program's windows served while the spooler works, and tells it whether to go on.
BOOL CALLBACK PrintAbortProc(HDC PrinterDC, int Error);
