#include "winauto.h"

#include <cstring>

namespace
{

struct WindowSearch
{
    DWORD Process;
    const char* ClassName;
    const std::function<bool(HWND)>& Wanted;
    HWND Found;
};

BOOL CALLBACK MatchWindow(HWND Window, LPARAM Param)
{
    WindowSearch* Search = reinterpret_cast<WindowSearch*>(Param);
    char ClassName[64] = {};
    GetClassNameA(Window, ClassName, sizeof(ClassName));
    if (ProcessOf(Window) == Search->Process && IsWindowVisible(Window) &&
        std::strcmp(ClassName, Search->ClassName) == 0 && (!Search->Wanted || Search->Wanted(Window)))
    {
        Search->Found = Window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

DWORD ProcessOf(HWND Window)
{
    DWORD Process = 0;
    GetWindowThreadProcessId(Window, &Process);
    return Process;
}

HWND FindProcessWindow(DWORD Process, const char* ClassName, const std::function<bool(HWND)>& Wanted)
{
    WindowSearch Search = {Process, ClassName, Wanted, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&Search));
    return Search.Found;
}
