#include "app/shell_state.h"

void RegisterMainWindowClass(HINSTANCE Instance)
{
    WNDCLASSEXA WindowClass = {};
    WindowClass.cbSize = sizeof(WindowClass);
    WindowClass.style = 0;  // no redraw on size: the page is laid out again when sizing ends
    WindowClass.lpfnWndProc = MAINWNDPROC;
    WindowClass.hInstance = Instance;
    WindowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    WindowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    WindowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    WindowClass.lpszMenuName = nullptr;  // the menu is built when the window is created
    WindowClass.lpszClassName = MainWindowClass;
    WindowClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    RegisterClassExA(&WindowClass);
}

HWND CreateMainWindow(HINSTANCE Instance)
{
    return CreateWindowExA(0, MainWindowClass, MainWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, Instance, nullptr);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow)
{
    FontFace = "Arial";
    RegisterMainWindowClass(hInstance);
    HWND Window = CreateMainWindow(hInstance);
    // Without a window nothing would ever post WM_QUIT, so the run ends here.
    if (!Window)
        return 0;

    ShowWindow(Window, nCmdShow);
    UpdateWindow(Window);

    MSG Message;
    while (GetMessageA(&Message, nullptr, 0, 0))
    {
        TranslateMessage(&Message);
        DispatchMessageA(&Message);
    }
    return static_cast<int>(Message.wParam);
}
