// Paint costs of the main window, measured in-process: the window is made as WinMain makes it
// and sized to each client area given, then painted many times with RedrawWindow, each paint
// timed with QueryPerformanceCounter. Beside each figure, its floor is timed the same way:
// the same drawing on a plain memory DC, one bare BitBlt onto the window, and the same window
// painting that one BitBlt with a bare window procedure.
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

// One timing in microseconds of Act, its GDI batch flushed.
double TimeOnce(const std::function<void()>& Act)
{
    LARGE_INTEGER Frequency, Before, After;
    QueryPerformanceFrequency(&Frequency);
    QueryPerformanceCounter(&Before);
    Act();
    GdiFlush();
    QueryPerformanceCounter(&After);
    return (After.QuadPart - Before.QuadPart) * 1e6 / Frequency.QuadPart;
}

// The median timing of each act, the acts taking turns Runs times so that a change in the
// machine's load falls on all of them alike.
std::vector<double> Interleaved(int Runs, const std::vector<std::function<void()>>& Acts)
{
    std::vector<std::vector<double>> Samples(Acts.size());
    for (int Run = 0; Run < Runs; ++Run)
        for (size_t Index = 0; Index < Acts.size(); ++Index)
            Samples[Index].push_back(TimeOnce(Acts[Index]));
    std::vector<double> Medians;
    for (const auto& Each : Samples)
        Medians.push_back(Median(Each));
    return Medians;
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

// The bare paint: the program's Bitmap-mode paint without the program, one BitBlt from Source.
HDC BareSource;
LRESULT CALLBACK BareWindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam)
{
    if (Message != WM_PAINT)
        return MAINWNDPROC(Window, Message, WParam, LParam);
    PAINTSTRUCT Paint;
    HDC Dc = BeginPaint(Window, &Paint);
    RECT Client;
    GetClientRect(Window, &Client);
    BitBlt(Dc, 0, 0, Client.right, Client.bottom, BareSource, 0, 0, SRCCOPY);
    EndPaint(Window, &Paint);
    return 0;
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

void Measure(HWND Main, int Paints, int Width, int Height)
{
    const UINT Repaint = RDW_INVALIDATE | RDW_UPDATENOW;
    auto RepaintMain = [&] { RedrawWindow(Main, nullptr, nullptr, Repaint); };
    RECT Page = {0, 0, Width, Height};
    std::string Caption = DirectModeCaption;
    int DirectMode = PRINT_MODE_DIRECT, BitmapMode = PRINT_MODE_BITMAP;

    // Direct mode against the same drawing on a plain memory DC.
    SendMessageA(Main, WM_EXITSIZEMOVE, 0, 0);
    UpdateWindow(Main);
    {
        ScreenPage Plain(Width, Height);
        HDC Target = Plain.Dc, Unused = nullptr;
        HBITMAP UnusedBitmap = nullptr;
        auto Medians = Interleaved(Paints, {RepaintMain, [&] {
                                                DrawTestPage(Target, Unused, UnusedBitmap, Page, Caption, DirectMode);
                                            }});
        Report("direct_paint", Width, Height, Medians[0]);
        Report("draw_floor", Width, Height, Medians[1]);
    }

    // Bitmap mode: the repaint against one bare BitBlt onto the window, and against the same
    // window painting that BitBlt with a bare window procedure.
    SendMessageA(Main, WM_COMMAND, MAKEWPARAM(IDM_MODE_BITMAP, 0), 0);
    UpdateWindow(Main);
    {
        ScreenPage Source(Width, Height);
        BareSource = Source.Dc;
        auto Program = reinterpret_cast<LONG_PTR>(MAINWNDPROC);
        auto Bare = reinterpret_cast<LONG_PTR>(BareWindowProc);
        auto Medians = Interleaved(Paints, {RepaintMain,
                                            [&] {
                                                HDC Dc = GetDC(Main);
                                                BitBlt(Dc, 0, 0, Width, Height, Source.Dc, 0, 0, SRCCOPY);
                                                ReleaseDC(Main, Dc);
                                            },
                                            [&] {
                                                SetWindowLongPtrA(Main, GWLP_WNDPROC, Bare);
                                                RepaintMain();
                                                SetWindowLongPtrA(Main, GWLP_WNDPROC, Program);
                                            }});
        Report("bitmap_paint", Width, Height, Medians[0]);
        Report("blit_floor", Width, Height, Medians[1]);
        Report("bare_paint", Width, Height, Medians[2]);
    }

    // The page cache rebuilt when sizing ends, against the renderer making a new page alone.
    {
        std::string BitmapCaption = BitmapModeCaption;
        HDC PageDc = nullptr;
        HBITMAP PageBitmap = nullptr;
        auto Medians = Interleaved(Paints, {[&] {
                                                SendMessageA(Main, WM_EXITSIZEMOVE, 0, 0);
                                                ValidateRect(Main, nullptr);
                                            },
                                            [&] {
                                                if (PageDc)
                                                {
                                                    DeleteDC(PageDc);
                                                    DeleteObject(PageBitmap);
                                                }
                                                HDC Screen = nullptr;
                                                DrawTestPage(Screen, PageDc, PageBitmap, Page, BitmapCaption,
                                                             BitmapMode);
                                            }});
        DeleteDC(PageDc);
        DeleteObject(PageBitmap);
        Report("cache_rebuild", Width, Height, Medians[0]);
        Report("rebuild_floor", Width, Height, Medians[1]);
    }
    SendMessageA(Main, WM_COMMAND, MAKEWPARAM(IDM_MODE_DIRECT, 0), 0);
    UpdateWindow(Main);
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
        Measure(Main, Paints, Width, Height);
    }
    DestroyWindow(Main);
    return Status;
}
