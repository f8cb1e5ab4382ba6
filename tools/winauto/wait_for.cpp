#include "winauto.h"

bool WaitFor(const std::function<bool()>& Done, DWORD Milliseconds, DWORD Interval)
{
    DWORD Start = GetTickCount();
    while (!Done())
    {
        if (GetTickCount() - Start > Milliseconds)
            return false;
        Sleep(Interval);
    }
    return true;
}

bool Synchronise(HWND Window, UINT Milliseconds)
{
    DWORD_PTR Result = 0;
    return SendMessageTimeoutA(Window, WM_NULL, 0, 0, SMTO_NORMAL, Milliseconds, &Result) != 0;
}
