#include "app/menu_ids.h"
#include "app/print_command.h"
#include "app/printer_handover.h"
#include "app/shell_state.h"
#include "render/draw_test_page.h"

namespace
{

void AppendFileMenu(HMENU FileMenu)
{
    AppendMenuA(FileMenu, MF_STRING, IDM_PAGESETUP, "Page &Setup ...");
    AppendMenuA(FileMenu, MF_STRING, IDM_PRINT, "&Print ...");
    AppendMenuA(FileMenu, MF_SEPARATOR, 0, "");
    AppendMenuA(FileMenu, MF_STRING, IDM_MODE_DIRECT, "Mode: Print Direct");
    AppendMenuA(FileMenu, MF_STRING, IDM_MODE_BITMAP, "Mode: Print Bitmap");
    AppendMenuA(FileMenu, MF_SEPARATOR, 0, "");
    AppendMenuA(FileMenu, MF_STRING, IDM_EXIT, "E&xit");
}

// Renders the window's off-screen page at the size of ClientRect. The previous page is
// released first, since the renderer overwrites both handles.
void RenderPageCache()
{
    ReleasePageCache();
    HDC Screen = nullptr;
    DrawTestPage(Screen, Shell.PageCacheDC, Shell.PageCacheBitmap, Shell.ClientRect,
                 Shell.ModeCaption, Shell.PrintMode);
}

void FreeGlobal(HGLOBAL& Handle)
{
    if (Handle)
        GlobalFree(Handle);
    Handle = nullptr;
}

// Releases what the window holds. Every handle is cleared as it is freed, so running this a
// second time frees nothing again.
void Teardown(HWND Window)
{
    ReleasePageCache();
    PAGESETUPDLGA& PageSetup = Shell.PageSetup;
    PRINTDLGA& PrintSetup = Shell.PrintSetup;
    if (PrintSetup.hDC)
    {
        ReleaseDC(Window, PrintSetup.hDC);
        PrintSetup.hDC = nullptr;
    }
    // The print record shares the page-setup pair; it only ever owns memory of its own when
    // it holds a handle the page-setup record does not.
    if (PrintSetup.hDevMode == PageSetup.hDevMode)
        PrintSetup.hDevMode = nullptr;
    if (PrintSetup.hDevNames == PageSetup.hDevNames)
        PrintSetup.hDevNames = nullptr;
    FreeGlobal(PageSetup.hDevMode);
    FreeGlobal(PageSetup.hDevNames);
    FreeGlobal(PrintSetup.hDevMode);
    FreeGlobal(PrintSetup.hDevNames);
}

void InvalidatePage(HWND Window)
{
    InvalidateRect(Window, nullptr, TRUE);
}

LRESULT OnCreate(HWND Window)
{
    Shell.MenuBar = CreateMenu();
    Shell.FileMenu = CreateMenu();
    AppendFileMenu(Shell.FileMenu);
    AppendMenuA(Shell.MenuBar, MF_POPUP, reinterpret_cast<UINT_PTR>(Shell.FileMenu), "&File");
    SetMenu(Window, Shell.MenuBar);
    CheckMenuItem(Shell.MenuBar, IDM_MODE_DIRECT, MF_BYCOMMAND | MF_CHECKED);

    Shell.PrintMode = PRINT_MODE_DIRECT;
    Shell.ModeCaption = DirectModeCaption;

    // Fetch the default printer's settings without showing a dialog, nor a warning when there
    // is no printer; from then on every Page Setup dialog opens with the margins last chosen.
    PAGESETUPDLGA& PageSetup = Shell.PageSetup;
    PageSetup.lStructSize = sizeof(PAGESETUPDLGA);
    PageSetup.hwndOwner = Window;
    PageSetup.Flags = PSD_RETURNDEFAULT | PSD_NOWARNING;
    PageSetupDlgA(&PageSetup);
    PageSetup.Flags = ((PageSetup.Flags ^ PSD_RETURNDEFAULT) & ~PSD_NOWARNING) | PSD_MARGINS;

    PRINTDLGA& PrintSetup = Shell.PrintSetup;
    PrintSetup.lStructSize = sizeof(PRINTDLGA);
    PrintSetup.hwndOwner = Window;
    PrintSetup.Flags = PD_HIDEPRINTTOFILE | PD_ALLPAGES | PD_NOSELECTION;

    GetClientRect(Window, &Shell.ClientRect);
    return 0;
}

LRESULT OnSysCommand(HWND Window, WPARAM WParam, LPARAM LParam)
{
    // Posted, not sent: it arrives after default processing has resized the window.
    WPARAM Command = WParam & 0xFFF0;
    if (Command == SC_MAXIMIZE || Command == SC_RESTORE)
        PostMessageA(Window, WM_EXITSIZEMOVE, 0, 0);
    return DefWindowProcA(Window, WM_SYSCOMMAND, WParam, LParam);
}

LRESULT OnExitSizeMove(HWND Window)
{
    GetClientRect(Window, &Shell.ClientRect);
    if (Shell.PrintMode == PRINT_MODE_BITMAP)
        RenderPageCache();
    InvalidatePage(Window);
    return 0;
}

void ToggleMode(HWND Window)
{
    if (Shell.PrintMode == PRINT_MODE_DIRECT)
    {
        Shell.PrintMode = PRINT_MODE_BITMAP;
        Shell.ModeCaption = BitmapModeCaption;
        CheckMenuItem(Shell.MenuBar, IDM_MODE_DIRECT, MF_BYCOMMAND | MF_UNCHECKED);
        CheckMenuItem(Shell.MenuBar, IDM_MODE_BITMAP, MF_BYCOMMAND | MF_CHECKED);
        GetClientRect(Window, &Shell.ClientRect);
        RenderPageCache();
    }
    else
    {
        Shell.PrintMode = PRINT_MODE_DIRECT;
        Shell.ModeCaption = DirectModeCaption;
        CheckMenuItem(Shell.MenuBar, IDM_MODE_BITMAP, MF_BYCOMMAND | MF_UNCHECKED);
        CheckMenuItem(Shell.MenuBar, IDM_MODE_DIRECT, MF_BYCOMMAND | MF_CHECKED);
        // Direct mode paints without the off-screen page; its paints would otherwise lose it.
        ReleasePageCache();
    }
    InvalidatePage(Window);
}

void ShowPageSetup()
{
    PAGESETUPDLGA& PageSetup = Shell.PageSetup;
    // The dialog may write margins and units into the record while the user edits them, also
    // when they then cancel: a cancelled dialog must leave the last confirmed choice in force.
    DWORD Flags = PageSetup.Flags;
    RECT Margins = PageSetup.rtMargin;
    POINT PaperSize = PageSetup.ptPaperSize;
    if (!PageSetupDlgA(&PageSetup))
    {
        PageSetup.Flags = Flags;
        PageSetup.rtMargin = Margins;
        PageSetup.ptPaperSize = PaperSize;
        return;
    }
    if (PageSetup.hDevMode)
        HandOverPrinter(PageSetup.hDevMode, PageSetup.hDevNames, Shell.PrintSetup.hDevMode,
                        Shell.PrintSetup.hDevNames);
}

LRESULT OnCommand(HWND Window, WPARAM WParam)
{
    Shell.MenuBar = GetMenu(Window);
    switch (LOWORD(WParam))
    {
    case IDM_MODE_DIRECT:
    case IDM_MODE_BITMAP:
        ToggleMode(Window);
        break;
    case IDM_PAGESETUP:
        ShowPageSetup();
        break;
    case IDM_PRINT:
        PrintCommand();
        break;
    case IDM_EXIT:
        Teardown(Window);
        PostQuitMessage(0);
        break;
    default:
        break;
    }
    return 0;
}

LRESULT OnPaint(HWND Window)
{
    PAINTSTRUCT Paint;
    HDC PaintDC = BeginPaint(Window, &Paint);
    if (Shell.PrintMode == PRINT_MODE_BITMAP)
        BitBlt(PaintDC, 0, 0, Shell.ClientRect.right, Shell.ClientRect.bottom, Shell.PageCacheDC,
               0, 0, SRCCOPY);
    else
        DrawTestPage(PaintDC, Shell.PageCacheDC, Shell.PageCacheBitmap, Shell.ClientRect,
                     Shell.ModeCaption, Shell.PrintMode);
    EndPaint(Window, &Paint);
    return 0;
}

LRESULT OnDestroy(HWND Window)
{
    Teardown(Window);
    PostQuitMessage(0);
    return 0;
}

}  // namespace

void ReleasePageCache()
{
    if (Shell.PageCacheDC)
    {
        DeleteDC(Shell.PageCacheDC);
        Shell.PageCacheDC = nullptr;
    }
    if (Shell.PageCacheBitmap)
    {
        DeleteObject(Shell.PageCacheBitmap);
        Shell.PageCacheBitmap = nullptr;
    }
}

extern "C" LRESULT CALLBACK MAINWNDPROC(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam)
{
    switch (Message)
    {
    case WM_CREATE:
        return OnCreate(Window);
    case WM_SYSCOMMAND:
        return OnSysCommand(Window, WParam, LParam);
    case WM_EXITSIZEMOVE:
        return OnExitSizeMove(Window);
    case WM_COMMAND:
        return OnCommand(Window, WParam);
    case WM_PAINT:
        return OnPaint(Window);
    case WM_DESTROY:
        return OnDestroy(Window);
    default:
        return DefWindowProcA(Window, Message, WParam, LParam);
    }
}
