// Start-up and Page Setup on a system with no printer at all.
#include <gtest/gtest.h>

#include "app/menu_ids.h"
#include "app/shell_state.h"
#include "test_support.h"

TEST(NoPrinter, StartUpHoldsNoHandlesAndPageSetupStillBehaves)
{
    ResetProgram();
    HWND Window = OpenMainWindow();
    ASSERT_NE(Window, nullptr);
    EXPECT_EQ(Shell.PageSetup.hDevMode, nullptr);
    EXPECT_EQ(Shell.PageSetup.hDevNames, nullptr);
    RedrawWindow(Window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    ExpectTestPage(ReadWindowClient(Window), 96);

    {
        // Whatever the platform shows without a printer is answered with OK.
        DialogDriver Answer([](HWND Dialog) { PressButton(Dialog, IDOK); });
        SendMessageA(Window, WM_COMMAND, IDM_PAGESETUP, 0);
        PumpMessages(200);
    }
    EXPECT_EQ(Shell.PrintSetup.hDevMode, Shell.PageSetup.hDevMode);
    EXPECT_EQ(Shell.PrintSetup.hDevNames, Shell.PageSetup.hDevNames);

    SendMessageA(Window, WM_COMMAND, IDM_MODE_BITMAP, 0);
    EXPECT_TRUE(IsLiveObject(Shell.PageCacheDC));
    DestroyWindow(Window);
    EXPECT_EQ(Shell.PageCacheDC, nullptr);
}
