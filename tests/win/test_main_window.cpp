// The main window as the user meets it: its class, title and menu, its painting in both modes,
// the mode toggle, the layout after sizing, Page Setup and its hand-over of printer handles,
// and the release of everything it holds.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "app/menu_ids.h"
#include "app/shell_state.h"
#include "render/draw_test_page.h"
#include "test_support.h"

namespace
{

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetProgram();
        Window = OpenMainWindow();
        ASSERT_NE(Window, nullptr);
    }
    void TearDown() override
    {
        if (IsWindow(Window))
            DestroyWindow(Window);
        PumpMessages(20);
    }

    LRESULT Command(int Id) { return SendMessageA(Window, WM_COMMAND, Id, 0); }

    void Repaint()
    {
        RedrawWindow(Window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        PumpMessages(30);
    }

    UINT MenuState(int Id) { return GetMenuState(GetMenu(Window), Id, MF_BYCOMMAND); }

    HWND Window = nullptr;
};

// The page as the renderer draws it for a client area of the window's size.
Pixels ReferencePage(const RECT& Client, const char* Caption)
{
    DibCanvas Canvas(Client.right, Client.bottom);
    HDC Dc = Canvas.Dc;
    HDC Unused = nullptr;
    HBITMAP None = nullptr;
    RECT Page = Client;
    std::string Text = Caption;
    int Mode = PRINT_MODE_DIRECT;
    DrawTestPage(Dc, Unused, None, Page, Text, Mode);
    Pixels Result;
    Result.Width = Canvas.Width;
    Result.Height = Canvas.Height;
    Result.Bits.assign(Canvas.Bits, Canvas.Bits + Canvas.Width * Canvas.Height);
    return Result;
}

int DifferentPixels(const Pixels& A, const Pixels& B)
{
    if (A.Width != B.Width || A.Height != B.Height)
        return -1;
    int Count = 0;
    for (int Y = 0; Y < A.Height; ++Y)
        for (int X = 0; X < A.Width; ++X)
            Count += A.At(X, Y) != B.At(X, Y);
    return Count;
}

TEST_F(MainWindowTest, HasItsClassTitleAndFileMenu)
{
    char Text[128];
    GetClassNameA(Window, Text, sizeof(Text));
    EXPECT_STREQ(Text, "PRINTER_QUOMBRIX32");
    GetWindowTextA(Window, Text, sizeof(Text));
    EXPECT_STREQ(Text, "Print Test Program");

    HMENU Bar = GetMenu(Window);
    ASSERT_EQ(GetMenuItemCount(Bar), 1);
    GetMenuStringA(Bar, 0, Text, sizeof(Text), MF_BYPOSITION);
    EXPECT_STREQ(Text, "&File");
    HMENU File = GetSubMenu(Bar, 0);
    ASSERT_EQ(File, Shell.FileMenu);

    struct Item { const char* Text; int Id; bool Separator; };
    const Item Expected[] = {
        {"Page &Setup ...", IDM_PAGESETUP, false}, {"&Print ...", IDM_PRINT, false}, {"", 0, true},
        {"Mode: Print Direct", IDM_MODE_DIRECT, false}, {"Mode: Print Bitmap", IDM_MODE_BITMAP, false},
        {"", 0, true}, {"E&xit", IDM_EXIT, false}};
    ASSERT_EQ(GetMenuItemCount(File), 7);
    for (int Position = 0; Position < 7; ++Position)
    {
        MENUITEMINFOA Info = {};
        Info.cbSize = sizeof(Info);
        Info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_STATE;
        Info.dwTypeData = Text;
        Info.cch = sizeof(Text);
        Text[0] = '\0';
        ASSERT_TRUE(GetMenuItemInfoA(File, Position, TRUE, &Info));
        EXPECT_EQ((Info.fType & MFT_SEPARATOR) != 0, Expected[Position].Separator) << Position;
        if (!Expected[Position].Separator)
        {
            EXPECT_STREQ(Text, Expected[Position].Text);
            EXPECT_EQ(Info.wID, static_cast<UINT>(Expected[Position].Id));
        }
    }
    EXPECT_TRUE(MenuState(IDM_MODE_DIRECT) & MF_CHECKED);
    EXPECT_FALSE(MenuState(IDM_MODE_BITMAP) & MF_CHECKED);
    EXPECT_EQ(Shell.PrintMode, PRINT_MODE_DIRECT);
    EXPECT_EQ(Shell.ModeCaption, "Print Mode: Direct Print");
}

TEST_F(MainWindowTest, PaintsTheSamePageInBothModes)
{
    RECT Client;
    GetClientRect(Window, &Client);
    ASSERT_GT(Client.right, 200);
    Repaint();
    Pixels Direct = ReadWindowClient(Window);
    EXPECT_EQ(DifferentPixels(Direct, ReferencePage(Client, "Print Mode: Direct Print")), 0);
    ExpectTestPage(Direct, 96);

    Command(IDM_MODE_BITMAP);
    Repaint();
    Pixels Bitmap = ReadWindowClient(Window);
    EXPECT_EQ(DifferentPixels(Bitmap, ReferencePage(Client, "Print Mode: Bitmap Print")), 0);
    ExpectTestPage(Bitmap, 96);

    char Title[64];
    GetWindowTextA(Window, Title, sizeof(Title));
    EXPECT_STREQ(Title, "Print Test Program");
}

TEST_F(MainWindowTest, EitherModeItemTogglesTheMode)
{
    for (int Id : {IDM_MODE_DIRECT, IDM_MODE_BITMAP})
    {
        Command(Id);
        EXPECT_EQ(Shell.PrintMode, PRINT_MODE_BITMAP) << Id;
        EXPECT_EQ(Shell.ModeCaption, "Print Mode: Bitmap Print");
        EXPECT_TRUE(MenuState(IDM_MODE_BITMAP) & MF_CHECKED);
        EXPECT_FALSE(MenuState(IDM_MODE_DIRECT) & MF_CHECKED);
        EXPECT_TRUE(IsLiveObject(Shell.PageCacheDC));
        EXPECT_TRUE(IsLiveObject(Shell.PageCacheBitmap));

        Command(Id);
        EXPECT_EQ(Shell.PrintMode, PRINT_MODE_DIRECT) << Id;
        EXPECT_EQ(Shell.ModeCaption, "Print Mode: Direct Print");
        EXPECT_TRUE(MenuState(IDM_MODE_DIRECT) & MF_CHECKED);
        EXPECT_FALSE(MenuState(IDM_MODE_BITMAP) & MF_CHECKED);
    }
}

TEST_F(MainWindowTest, BitmapPaintsCopyTheCacheWithoutRendering)
{
    Command(IDM_MODE_BITMAP);
    // Mark the cache: a paint that copies it shows the mark, one that renders would not.
    HBRUSH Red = CreateSolidBrush(RGB(255, 0, 0));
    RECT Mark = {40, 40, 60, 60};
    FillRect(Shell.PageCacheDC, &Mark, Red);
    DeleteObject(Red);
    Repaint();
    Pixels Shown = ReadWindowClient(Window);
    EXPECT_EQ(Shown.At(50, 50), 0xFF0000u);
}

TEST_F(MainWindowTest, SizingEndsLayTheCacheOutAgain)
{
    Command(IDM_MODE_BITMAP);
    RECT Before = Shell.ClientRect;
    SetWindowPos(Window, nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER);
    PumpMessages(30);
    // While sizing the layout keeps its last measurement.
    EXPECT_EQ(Shell.ClientRect.right, Before.right);
    SendMessageA(Window, WM_EXITSIZEMOVE, 0, 0);
    RECT Client;
    GetClientRect(Window, &Client);
    EXPECT_EQ(Shell.ClientRect.right, Client.right);
    EXPECT_EQ(Shell.ClientRect.bottom, Client.bottom);
    BITMAP Info = {};
    GetObjectA(Shell.PageCacheBitmap, sizeof(Info), &Info);
    EXPECT_EQ(Info.bmWidth, Client.right);
    EXPECT_EQ(Info.bmHeight, Client.bottom);
    Repaint();
    EXPECT_EQ(DifferentPixels(ReadWindowClient(Window), ReferencePage(Client, "Print Mode: Bitmap Print")), 0);
}

TEST_F(MainWindowTest, MaximiseAndRestoreLayOutAgainButMinimiseDoesNot)
{
    Command(IDM_MODE_BITMAP);
    SetWindowPos(Window, nullptr, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER);
    SendMessageA(Window, WM_EXITSIZEMOVE, 0, 0);
    RECT Small = Shell.ClientRect;

    // The caption's buttons act on the active window.
    SetForegroundWindow(Window);
    PumpMessages(50);
    SendMessageA(Window, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    PumpMessages(100);
    EXPECT_TRUE(IsZoomed(Window));
    RECT Client;
    GetClientRect(Window, &Client);
    EXPECT_GT(Client.right, Small.right);
    EXPECT_EQ(Shell.ClientRect.right, Client.right);
    EXPECT_EQ(Shell.ClientRect.bottom, Client.bottom);

    HBITMAP Cache = Shell.PageCacheBitmap;
    RECT Maximised = Shell.ClientRect;
    SendMessageA(Window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    PumpMessages(100);
    EXPECT_TRUE(IsIconic(Window));
    EXPECT_EQ(Shell.ClientRect.right, Maximised.right);
    EXPECT_EQ(Shell.PageCacheBitmap, Cache);

    // Restoring from minimised, and then from maximised, measures again each time.
    SendMessageA(Window, WM_SYSCOMMAND, SC_RESTORE, 0);
    PumpMessages(100);
    GetClientRect(Window, &Client);
    EXPECT_EQ(Shell.ClientRect.right, Client.right);
    SendMessageA(Window, WM_SYSCOMMAND, SC_RESTORE, 0);
    PumpMessages(100);
    GetClientRect(Window, &Client);
    EXPECT_EQ(Shell.ClientRect.right, Client.right);
    EXPECT_EQ(Shell.ClientRect.right, Small.right);
}

TEST_F(MainWindowTest, DirectModeUsesTheLastMeasurement)
{
    Command(IDM_MODE_BITMAP);
    RECT Measured = Shell.ClientRect;
    SetWindowPos(Window, nullptr, 0, 0, 450, 350, SWP_NOMOVE | SWP_NOZORDER);
    PumpMessages(30);
    Command(IDM_MODE_DIRECT);
    EXPECT_EQ(Shell.ClientRect.right, Measured.right);
    EXPECT_EQ(Shell.ClientRect.bottom, Measured.bottom);
}

TEST_F(MainWindowTest, AnUnknownCommandChangesNothing)
{
    Command(IDM_MODE_BITMAP);
    ShellState Before = Shell;
    for (int Id : {0, 6, 99, 0xFFFF})
        EXPECT_EQ(Command(Id), 0);
    EXPECT_EQ(Shell.PrintMode, Before.PrintMode);
    EXPECT_EQ(Shell.ModeCaption, Before.ModeCaption);
    EXPECT_EQ(Shell.PageCacheDC, Before.PageCacheDC);
    EXPECT_EQ(Shell.PageCacheBitmap, Before.PageCacheBitmap);
    EXPECT_EQ(Shell.PageSetup.hDevMode, Before.PageSetup.hDevMode);
    EXPECT_EQ(Shell.PrintSetup.hDevMode, Before.PrintSetup.hDevMode);
    EXPECT_TRUE(IsLiveObject(Shell.PageCacheDC));
}

TEST_F(MainWindowTest, NoEarlierCacheSurvivesManyTogglesAndLayouts)
{
    std::vector<HGDIOBJ> Earlier;
    for (int Round = 0; Round < 200; ++Round)
    {
        if (Shell.PrintMode == PRINT_MODE_DIRECT)
            Command(IDM_MODE_BITMAP);
        Earlier.push_back(Shell.PageCacheDC);
        Earlier.push_back(Shell.PageCacheBitmap);
        SendMessageA(Window, WM_EXITSIZEMOVE, 0, 0);
        Earlier.push_back(Shell.PageCacheDC);
        Earlier.push_back(Shell.PageCacheBitmap);
        Repaint();
        if (Round % 2 == 0)
        {
            Command(IDM_MODE_DIRECT);
            ASSERT_EQ(Shell.PageCacheDC, nullptr);
            Repaint();
        }
    }
    std::set<HGDIOBJ> Current = {Shell.PageCacheDC, Shell.PageCacheBitmap};
    int Live = 0;
    for (HGDIOBJ Object : Earlier)
        if (!Current.count(Object) && IsLiveObject(Object))
            ++Live;
    EXPECT_EQ(Live, 0);
}

TEST_F(MainWindowTest, ExitReleasesEverythingAndRunningTheTeardownAgainFreesNothing)
{
    Command(IDM_MODE_BITMAP);
    HDC CacheDc = Shell.PageCacheDC;
    HBITMAP CacheBitmap = Shell.PageCacheBitmap;
    HGLOBAL DevMode = Shell.PageSetup.hDevMode;
    ASSERT_NE(DevMode, nullptr) << "the default printer's settings were not fetched";
    Command(IDM_EXIT);
    EXPECT_FALSE(IsLiveObject(CacheDc));
    EXPECT_FALSE(IsLiveObject(CacheBitmap));
    EXPECT_EQ(GlobalSize(DevMode), 0u) << "DEVMODE not freed";
    EXPECT_EQ(Shell.PageSetup.hDevMode, nullptr);
    EXPECT_EQ(Shell.PageSetup.hDevNames, nullptr);
    EXPECT_TRUE(IsWindow(Window)) << "Exit does not destroy the window";
    MSG Quit;
    EXPECT_TRUE(PeekMessageA(&Quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(Quit.wParam, 0u);

    // Closing the window after Exit runs the teardown again: every handle is already 0.
    HGLOBAL Probe = GlobalAlloc(GMEM_MOVEABLE, 16);
    DestroyWindow(Window);
    EXPECT_NE(GlobalSize(Probe), 0u);
    GlobalFree(Probe);
}

// Page Setup, answered by a second thread as a user would.
TEST_F(MainWindowTest, ConfirmedPageSetupHandsTheSameHandlesToThePrintRecord)
{
    // The print record holds a pair of its own: confirming must free both, exactly once.
    HGLOBAL OldMode = GlobalAlloc(GMEM_MOVEABLE, 64);
    HGLOBAL OldNames = GlobalAlloc(GMEM_MOVEABLE, 64);
    Shell.PrintSetup.hDevMode = OldMode;
    Shell.PrintSetup.hDevNames = OldNames;
    {
        DialogDriver Ok([](HWND Dialog) {
            SetDlgItemTextA(Dialog, 0x483 /* edt4: left margin */, "1.00");
            PressButton(Dialog, IDOK);
        });
        Command(IDM_PAGESETUP);
        EXPECT_TRUE(Ok.Acted());
    }
    EXPECT_NE(Shell.PageSetup.hDevMode, nullptr);
    EXPECT_EQ(Shell.PrintSetup.hDevMode, Shell.PageSetup.hDevMode);
    EXPECT_EQ(Shell.PrintSetup.hDevNames, Shell.PageSetup.hDevNames);
    EXPECT_EQ(GlobalSize(OldMode), 0u);
    EXPECT_EQ(GlobalSize(OldNames), 0u);
    EXPECT_EQ(Shell.PageSetup.rtMargin.left, 1000);

    // Confirming again with the records already sharing the pair frees nothing they hold.
    {
        DialogDriver Ok([](HWND Dialog) { PressButton(Dialog, IDOK); });
        Command(IDM_PAGESETUP);
        EXPECT_TRUE(Ok.Acted());
    }
    EXPECT_EQ(Shell.PrintSetup.hDevMode, Shell.PageSetup.hDevMode);
    EXPECT_NE(GlobalSize(Shell.PageSetup.hDevMode), 0u);
    EXPECT_NE(GlobalSize(Shell.PageSetup.hDevNames), 0u);
}

TEST_F(MainWindowTest, CancelledPageSetupChangesNothing)
{
    PAGESETUPDLGA PageBefore = Shell.PageSetup;
    PRINTDLGA PrintBefore = Shell.PrintSetup;
    {
        DialogDriver Cancel([](HWND Dialog) {
            SetDlgItemTextA(Dialog, 0x483, "2.00");
            PressButton(Dialog, IDCANCEL);
        });
        Command(IDM_PAGESETUP);
        EXPECT_TRUE(Cancel.Acted());
    }
    EXPECT_EQ(Shell.PageSetup.hDevMode, PageBefore.hDevMode);
    EXPECT_EQ(Shell.PageSetup.hDevNames, PageBefore.hDevNames);
    EXPECT_EQ(Shell.PageSetup.rtMargin.left, PageBefore.rtMargin.left);
    EXPECT_EQ(Shell.PrintSetup.hDevMode, PrintBefore.hDevMode);
    EXPECT_EQ(Shell.PrintSetup.hDevNames, PrintBefore.hDevNames);
    EXPECT_NE(GlobalSize(Shell.PageSetup.hDevMode), 0u);
}

TEST_F(MainWindowTest, StartUpFetchesTheDefaultPrinterAndAsksForMargins)
{
    // The sizes the common dialogs accept in a 32-bit and in a 64-bit process.
    const DWORD PageSetupSize = sizeof(void*) == 4 ? 84 : 128;
    const DWORD PrintSetupSize = sizeof(void*) == 4 ? 66 : 120;
    EXPECT_EQ(Shell.PageSetup.lStructSize, PageSetupSize);
    EXPECT_EQ(Shell.PageSetup.hwndOwner, Window);
    EXPECT_NE(Shell.PageSetup.hDevMode, nullptr);
    EXPECT_NE(Shell.PageSetup.hDevNames, nullptr);
    EXPECT_EQ(Shell.PageSetup.Flags & PSD_RETURNDEFAULT, 0u);
    EXPECT_NE(Shell.PageSetup.Flags & PSD_MARGINS, 0u);
    EXPECT_EQ(Shell.PrintSetup.lStructSize, PrintSetupSize);
    EXPECT_EQ(Shell.PrintSetup.Flags, static_cast<DWORD>(PD_HIDEPRINTTOFILE | PD_NOSELECTION));
    EXPECT_EQ(Shell.PrintSetup.hDevMode, nullptr);

    const DEVNAMES* Names = static_cast<const DEVNAMES*>(GlobalLock(Shell.PageSetup.hDevNames));
    ASSERT_NE(Names, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(Names) + Names->wDeviceOffset, QueueShort);
    GlobalUnlock(Shell.PageSetup.hDevNames);
}

}  // namespace
