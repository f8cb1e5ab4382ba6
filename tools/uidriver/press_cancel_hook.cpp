// Loaded into printtest.exe by uidriver's hook: presses the Cancel button of a job's cancel
// dialog as soon as the dialog has opened. The press is posted, so the program takes it the next
// time it serves its messages, as it would take a click made at that moment.
#include <windows.h>

#include <cstring>

namespace
{
const char* const JobCaptions[] = {"Print Mode: Direct Print", "Print Mode: Bitmap Print"};

bool IsJobDialog(HWND Window)
{
    char ClassName[32] = {};
    char Caption[64] = {};
    GetClassNameA(Window, ClassName, sizeof(ClassName));
    GetWindowTextA(Window, Caption, sizeof(Caption));
    if (std::strcmp(ClassName, "#32770") != 0)
        return false;
    for (const char* Known : JobCaptions)
        if (std::strcmp(Caption, Known) == 0)
            return true;
    return false;
}
}  // namespace

// A WH_CALLWNDPROCRET hook: it sees WM_INITDIALOG once the dialog has set its caption.
extern "C" __declspec(dllexport) LRESULT CALLBACK PressCancelOnOpen(int Code, WPARAM WParam, LPARAM LParam)
{
    if (Code == HC_ACTION)
    {
        const CWPRETSTRUCT* Call = reinterpret_cast<const CWPRETSTRUCT*>(LParam);
        if (Call->message == WM_INITDIALOG && IsJobDialog(Call->hwnd))
            PostMessageA(GetDlgItem(Call->hwnd, IDCANCEL), BM_CLICK, 0, 0);
    }
    return CallNextHookEx(nullptr, Code, WParam, LParam);
}
