// The floors of the start-up figure: a Win32 program that registers a class, opens a window and
// paints one rectangle, started the way the program is. Built with ASK_PAGE_SETTINGS it also asks
// for the default printer's page settings while its window is created, as the program must.
#include <windows.h>
#include <commdlg.h>

namespace
{

LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam)
{
    switch (Message)
    {
#ifdef ASK_PAGE_SETTINGS
    case WM_CREATE:
    {
        PAGESETUPDLGA PageSetup = {};
        PageSetup.lStructSize = sizeof(PageSetup);
        PageSetup.hwndOwner = Window;
        PageSetup.Flags = PSD_RETURNDEFAULT | PSD_NOWARNING;
        PageSetupDlgA(&PageSetup);
        if (PageSetup.hDevMode)
            GlobalFree(PageSetup.hDevMode);
        if (PageSetup.hDevNames)
            GlobalFree(PageSetup.hDevNames);
        return 0;
    }
#endif
    case WM_PAINT:
    {
        PAINTSTRUCT Paint;
        HDC Dc = BeginPaint(Window, &Paint);
        Rectangle(Dc, 10, 10, 200, 100);
        EndPaint(Window, &Paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(Window, Message, WParam, LParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE Instance, HINSTANCE, LPSTR, int ShowCommand)
{
    WNDCLASSA WindowClass = {};
    WindowClass.lpfnWndProc = WindowProc;
    WindowClass.hInstance = Instance;
    WindowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    WindowClass.lpszClassName = "MinimalWindow";
    RegisterClassA(&WindowClass);
    HWND Window = CreateWindowA("MinimalWindow", "Minimal", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, Instance, nullptr);
    ShowWindow(Window, ShowCommand);
    UpdateWindow(Window);
    MSG Message;
    while (GetMessageA(&Message, nullptr, 0, 0))
    {
        TranslateMessage(&Message);
        DispatchMessageA(&Message);
    }
    return static_cast<int>(Message.wParam);
}
