// Paint costs of the main window, measured in-process: the window is made as WinMain makes it
// and sized to each client area given, then painted many times with RedrawWindow, each paint
// timed with QueryPerformanceCounter. Beside each figure, its floor is timed the same way:
// the same drawing on a plain memory DC, one bare BitBlt onto the window, and a bare window
// whose paint is that one BitBlt.
//
//   paint_bench PAINTS WxH...
// Prints one line per figure: "NAME WxH MEDIAN_MICROSECONDS".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/menu_ids.h"
#include "app/shell_state.h"
#include "render/draw_test_page.h"

namespace
{

double Median(std::vector<double> Values)
{
    std::sort(Values.begin(), Values.end());
    size_t Half = Values.size() / 2;
    return Values.size() % 2 ? Values[Half] : (Values[Half - 1] + Values[Half]) / 2;
}

// The median in microseconds of Runs timings of Act; Between runs untimed before each.
double Time(int Runs, const std::function<void()>& Act, const std::function<void()>& Between = [] {})
{
    LARGE_INTEGER Frequency;
    QueryPerformanceFrequency(&Frequency);
    std::vector<double> Samples;
    for (int Run = 0; Run < Runs; ++Run)
    {
        Between();
        LARGE_INTEGER Before, After;
        QueryPerformanceCounter(&Before);
        Act();
        GdiFlush();
        QueryPerformanceCounter(&After);
        Samples.push_back((After.QuadPart - Before.QuadPart) * 1e6 / Frequency.QuadPart);
    }
    return Median(Samples);
}

void Pump()
{
    MSG Message;
    while (PeekMessageA(&Message, nullptr, 0, 0, PM_REMOVE))
    {
        TranslateMessage(&Message);
        DispatchMessageA(&Message);
    }
}

// Gives Window a client area of Width x Height; false when the screen cannot hold it.
bool SizeClient(HWND Window, int Width, int Height)
{
    RECT Frame = {0, 0, Width, Height};
    AdjustWindowRectEx(&Frame, static_cast<DWORD>(GetWindowLongA(Window, GWL_STYLE)), GetMenu(Window) != nullptr,
                       static_cast<DWORD>(GetWindowLongA(Window, GWL_EXSTYLE)));
    SetWindowPos(Window, nullptr, 0, 0, Frame.right - Frame.left, Frame.bottom - Frame.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    Pump();
    RECT Client;
    GetClientRect(Window, &Client);
    return Client.right == Width && Client.bottom == Height;
}

void Report(const char* Name, int Width, int Height, double Microseconds)
{
    std::printf("%s %dx%d %.1f\n", Name, Width, Height, Microseconds);
    std::fflush(stdout);
}

LRESULT CALLBACK BareWindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam)
{
    static HDC Source;
    if (Message == WM_USER)
    {
        Source = reinterpret_cast<HDC>(LParam);
        return 0;
    }
    if (Message == WM_PAINT)
    {
        PAINTSTRUCT Paint;
        HDC Dc = BeginPaint(Window, &Paint);
        RECT Client;
        GetClientRect(Window, &Client);
        BitBlt(Dc, 0, 0, Client.right, Client.bottom, Source, 0, 0, SRCCOPY);
        EndPaint(Window, &Paint);
        return 0;
    }
    return DefWindowProcA(Window, Message, WParam, LParam);
}

// A memory DC holding a bitmap compatible with the screen, white, as the window's page is.
struct ScreenPage
{
    ScreenPage(int Width, int Height)
    {
        HDC Screen = GetDC(nullptr);
        Dc = CreateCompatibleDC(Screen);
        Bitmap = CreateCompatibleBitmap(Screen, Width, Height);
        ReleaseDC(nullptr, Screen);
        Old = SelectObject(Dc, Bitmap);
        PatBlt(Dc, 0, 0, Width, Height, WHITENESS);
    }
    ~ScreenPage()
    {
        SelectObject(Dc, Old);
        DeleteDC(Dc);
        DeleteObject(Bitmap);
    }
    HDC Dc;
    HBITMAP Bitmap;
    HGDIOBJ Old;
};

void Measure(HWND Main, HWND Bare, int Paints, int Width, int Height)
{
    const UINT Repaint = RDW_INVALIDATE | RDW_UPDATENOW;
    RECT Page = {0, 0, Width, Height};
    std::string Caption = DirectModeCaption;
    int DirectMode = PRINT_MODE_DIRECT, BitmapMode = PRINT_MODE_BITMAP;

    // Direct mode, then its floor: the same drawing on a plain memory DC.
    SendMessageA(Main, WM_EXITSIZEMOVE, 0, 0);
    UpdateWindow(Main);
    Report("direct_paint", Width, Height, Time(Paints, [&] { RedrawWindow(Main, nullptr, nullptr, Repaint); }));
    {
        ScreenPage Plain(Width, Height);
        HDC Target = Plain.Dc, Unused = nullptr;
        HBITMAP UnusedBitmap = nullptr;
        Report("draw_floor", Width, Height, Time(Paints, [&] {
                   DrawTestPage(Target, Unused, UnusedBitmap, Page, Caption, DirectMode);
               }));
    }

    // Bitmap mode: the repaint, the cache rebuilt when sizing ends, and their floors.
    SendMessageA(Main, WM_COMMAND, MAKEWPARAM(IDM_MODE_BITMAP, 0), 0);
    UpdateWindow(Main);
    Report("bitmap_paint", Width, Height, Time(Paints, [&] { RedrawWindow(Main, nullptr, nullptr, Repaint); }));
    Report("cache_rebuild", Width, Height,
           Time(Paints, [&] { SendMessageA(Main, WM_EXITSIZEMOVE, 0, 0); }, [&] { UpdateWindow(Main); }));
    UpdateWindow(Main);
    {
        std::string BitmapCaption = BitmapModeCaption;
        HDC PageDc = nullptr;
        HBITMAP PageBitmap = nullptr;
        Report("rebuild_floor", Width, Height, Time(Paints, [&] {
                   if (PageDc)
                   {
                       DeleteDC(PageDc);
                       DeleteObject(PageBitmap);
                   }
                   HDC Screen = nullptr;
                   DrawTestPage(Screen, PageDc, PageBitmap, Page, BitmapCaption, BitmapMode);
               }));
        DeleteDC(PageDc);
        DeleteObject(PageBitmap);
    }
    SendMessageA(Main, WM_COMMAND, MAKEWPARAM(IDM_MODE_DIRECT, 0), 0);
    UpdateWindow(Main);

    ScreenPage Source(Width, Height);
    Report("blit_floor", Width, Height, Time(Paints, [&] {
               HDC Dc = GetDC(Main);
               BitBlt(Dc, 0, 0, Width, Height, Source.Dc, 0, 0, SRCCOPY);
               ReleaseDC(Main, Dc);
           }));
    SendMessageA(Bare, WM_USER, 0, reinterpret_cast<LPARAM>(Source.Dc));
    SizeClient(Bare, Width, Height);
    ShowWindow(Bare, SW_SHOWNORMAL);
    UpdateWindow(Bare);
    Report("bare_paint", Width, Height, Time(Paints, [&] { RedrawWindow(Bare, nullptr, nullptr, Repaint); }));
    ShowWindow(Bare, SW_HIDE);
    SendMessageA(Bare, WM_USER, 0, 0);
    Pump();
}

}  // namespace

int main(int Argc, char** Argv)
{
    if (Argc < 3)
    {
        std::fprintf(stderr, "usage: paint_bench PAINTS WxH...\n");
        return 2;
    }
    int Paints = std::atoi(Argv[1]);
    HINSTANCE Instance = GetModuleHandleA(nullptr);
    ClearProgramData();
    FontFace = "Arial";
    RegisterMainWindowClass(Instance);
    HWND Main = CreateMainWindow(Instance);
    ShowWindow(Main, SW_SHOWNORMAL);
    UpdateWindow(Main);

    WNDCLASSA BareClass = {};
    BareClass.lpfnWndProc = BareWindowProc;
    BareClass.hInstance = Instance;
    BareClass.lpszClassName = "BarePaintWindow";
    RegisterClassA(&BareClass);
    HWND Bare = CreateWindowA("BarePaintWindow", "Bare", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                              Instance, nullptr);

    int Status = 0;
    for (int Index = 2; Index < Argc; ++Index)
    {
        int Width = 0, Height = 0;
        if (std::sscanf(Argv[Index], "%dx%d", &Width, &Height) != 2 || !SizeClient(Main, Width, Height))
        {
            std::fprintf(stderr, "paint_bench: cannot give the window a client area of %s\n", Argv[Index]);
            Status = 1;
            continue;
        }
        ShowWindow(Main, SW_SHOWNORMAL);
        Measure(Main, Bare, Paints, Width, Height);
    }
    DestroyWindow(Bare);
    DestroyWindow(Main);
    return Status;
}
