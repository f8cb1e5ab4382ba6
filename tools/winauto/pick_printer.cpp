#include "winauto.h"

#include <dlgs.h>

bool PickPrinter(HWND PrintDialog, const char* Printer)
{
    HWND Combo = GetDlgItem(PrintDialog, cmb4);
    if (!Combo)
        return false;
    // The list holds wide strings; the ANSI form of the message does not reach them across
    // processes.
    wchar_t Wanted[256] = {};
    MultiByteToWideChar(CP_ACP, 0, Printer, -1, Wanted, 255);
    LRESULT Count = SendMessageW(Combo, CB_GETCOUNT, 0, 0);
    for (LRESULT Index = 0; Index < Count; ++Index)
    {
        wchar_t Name[256] = {};
        if (SendMessageW(Combo, CB_GETLBTEXTLEN, Index, 0) >= 255)
            continue;
        SendMessageW(Combo, CB_GETLBTEXT, Index, reinterpret_cast<LPARAM>(Name));
        if (lstrcmpiW(Name, Wanted) != 0)
            continue;
        SendMessageW(Combo, CB_SETCURSEL, Index, 0);
        // What the list box tells its dialog when the user picks an entry.
        SendMessageW(PrintDialog, WM_COMMAND, MAKEWPARAM(cmb4, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Combo));
        return true;
    }
    return false;
}
