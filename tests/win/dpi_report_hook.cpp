// Loaded into printtest.exe by a test's hook: notes on the window what only the process itself
// can say about its DPI awareness.
#include <windows.h>

#include <cwchar>

namespace
{
// The setting of the process's manifest, as the loader took it at start-up.
bool ManifestSaysDpiAware()
{
    wchar_t Value[16] = {};
    return QueryActCtxSettingsW(0, nullptr, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware",
                                Value, sizeof(Value) / sizeof(Value[0]), nullptr) &&
           std::wcscmp(Value, L"true") == 0;
}

void Note(HWND Window, const char* Name, bool Value)
{
    SetPropA(Window, Name, reinterpret_cast<HANDLE>(INT_PTR{1} + Value));
}
}  // namespace

// A WH_CALLWNDPROC hook: a WM_NULL sent to a window leaves two properties on it, "DpiAware"
// (IsProcessDPIAware) and "ManifestDpiAware", each 1 for no and 2 for yes; 0 means the hook
// never ran.
extern "C" __declspec(dllexport) LRESULT CALLBACK NoteDpiAwareness(int Code, WPARAM WParam, LPARAM LParam)
{
    if (Code == HC_ACTION)
    {
        const CWPSTRUCT* Call = reinterpret_cast<const CWPSTRUCT*>(LParam);
        if (Call->message == WM_NULL)
        {
            Note(Call->hwnd, "DpiAware", IsProcessDPIAware());
            Note(Call->hwnd, "ManifestDpiAware", ManifestSaysDpiAware());
        }
    }
    return CallNextHookEx(nullptr, Code, WParam, LParam);
}
