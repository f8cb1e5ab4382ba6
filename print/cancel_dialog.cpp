#include "print/cancel_dialog.h"

#include "print/print_job_state.h"

const char CancelDialogTemplate[] = "CancelPrintDlgBox";

INT_PTR CALLBACK CancelDlgProc(HWND Dialog, UINT Message, WPARAM, LPARAM)
{
    switch (Message)
    {
    case WM_INITDIALOG:
        SetWindowTextA(Dialog, PrintJob.DialogCaption);
        EnableMenuItem(GetSystemMenu(Dialog, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
        return TRUE;
    case WM_COMMAND:
        PrintJob.UserAbort = 1;
        // The owner is enabled before the dialog goes, so activation returns to it.
        EnableWindow(GetParent(Dialog), TRUE);
        DestroyWindow(Dialog);
        PrintJob.CancelDialog = nullptr;
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL CALLBACK PrintAbortProc(HDC, int)
{
    MSG Message;
    while (PeekMessageA(&Message, nullptr, 0, 0, PM_REMOVE))
    {
        if (PrintJob.CancelDialog && IsDialogMessageA(PrintJob.CancelDialog, &Message))
            continue;
        TranslateMessage(&Message);
        DispatchMessageA(&Message);
    }
    return !PrintJob.UserAbort;
}
