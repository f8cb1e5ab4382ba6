// Linked into a start-up benchmark program: notes the moment the first paint of a top-level
// window of the main thread has returned, in the launcher's shared block, and then closes the
// window so the process ends. Installed from a static initialiser, before main runs.
#include <windows.h>

#include "bench/first_paint.h"

namespace
{

HHOOK Hook;
bool Noted;

LRESULT CALLBACK AfterMessage(int Code, WPARAM WParam, LPARAM LParam)
{
    const CWPRETSTRUCT* Message = reinterpret_cast<const CWPRETSTRUCT*>(LParam);
    if (Code == HC_ACTION && !Noted && Message->message == WM_PAINT && !GetParent(Message->hwnd))
    {
        LARGE_INTEGER Now;
        QueryPerformanceCounter(&Now);
        Noted = true;
        HANDLE Mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, FirstPaintMapping);
        if (Mapping)
        {
            auto* Block = static_cast<FirstPaintBlock*>(MapViewOfFile(Mapping, FILE_MAP_WRITE, 0, 0, sizeof(FirstPaintBlock)));
            if (Block)
            {
                Block->PaintedAt = Now.QuadPart;
                UnmapViewOfFile(Block);
            }
            CloseHandle(Mapping);
        }
        PostMessageA(Message->hwnd, WM_CLOSE, 0, 0);
    }
    return CallNextHookEx(Hook, Code, WParam, LParam);
}

struct Installer
{
    Installer() { Hook = SetWindowsHookExA(WH_CALLWNDPROCRET, AfterMessage, nullptr, GetCurrentThreadId()); }
} Install;

}  // namespace
