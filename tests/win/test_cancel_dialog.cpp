// The cancel dialog made from the program's own template with a real main window as its owner,
// and the abort procedure that serves the program's windows while a job runs.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/shell_state.h"
#include "print/cancel_dialog.h"
#include "print/print_job_state.h"
#include "test_support.h"

namespace
{

// Every message a watched window's procedure receives, sent or dispatched, in order.
struct Delivery
{
    HWND Window;
    UINT Message;
    WPARAM WParam;
};
std::vector<Delivery> Deliveries;
std::map<HWND, WNDPROC> WatchedProcedures;

LRESULT CALLBACK RecordDelivery(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam)
{
    Deliveries.push_back({Window, Message, WParam});
    WNDPROC Original = WatchedProcedures[Window];
    LRESULT Result = CallWindowProcA(Original, Window, Message, WParam, LParam);
    if (Message == WM_NCDESTROY)
        WatchedProcedures.erase(Window);
    return Result;
}

void Watch(HWND Window)
{
    WatchedProcedures[Window] = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(Window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordDelivery)));
}

int DeliveriesOf(HWND Window, UINT Message)
{
    int Count = 0;
    for (const Delivery& Seen : Deliveries)
        Count += Seen.Window == Window && Seen.Message == Message;
    return Count;
}

// Position of the first matching delivery, -1 when there was none.
int PositionOf(HWND Window, UINT Message, WPARAM WParam)
{
    for (size_t Index = 0; Index < Deliveries.size(); ++Index)
    {
        const Delivery& Seen = Deliveries[Index];
        if (Seen.Window == Window && Seen.Message == Message && Seen.WParam == WParam)
            return static_cast<int>(Index);
    }
    return -1;
}

// A key press as the keyboard posts it: the virtual key and its scan code.
void PostKey(HWND Target, WPARAM Key, UINT ScanCode)
{
    PostMessageA(Target, WM_KEYDOWN, Key, 1 | (static_cast<LPARAM>(ScanCode) << 16));
}

bool QueueIsEmpty()
{
    MSG Message;
    return !PeekMessageA(&Message, nullptr, 0, 0, PM_NOREMOVE);
}

// One main window serves the whole suite: each window that goes costs Wine's X driver a wait
// for a window manager that the test display does not run.
class CancelDialogTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ResetProgram();
        Owner = OpenMainWindow();
    }

    static void TearDownTestSuite()
    {
        DestroyWindow(Owner);
        // Also takes the quit message the main window posts as it goes.
        PumpMessages();
    }

    void SetUp() override
    {
        PrintJob = PrintJobState{};
        PrintJob.MainWindow = Owner;
        EnableWindow(Owner, TRUE);
        PumpMessages();
        Deliveries.clear();
    }

    void TearDown() override
    {
        if (PrintJob.CancelDialog && IsWindow(PrintJob.CancelDialog))
            DestroyWindow(PrintJob.CancelDialog);
        for (const auto& Watched : WatchedProcedures)
            SetWindowLongPtrA(Watched.first, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Watched.second));
        WatchedProcedures.clear();
        EnableWindow(Owner, TRUE);
    }

    // Opens the dialog as a job does: the owner disabled, the job not cancelled.
    HWND OpenDialog(const char* Caption = DirectModeCaption)
    {
        lstrcpynA(PrintJob.DialogCaption, Caption, sizeof(PrintJob.DialogCaption));
        EnableWindow(Owner, FALSE);
        PrintJob.UserAbort = 0;
        PrintJob.CancelDialog =
            CreateDialogParamA(GetModuleHandleA(nullptr), CancelDialogTemplate, Owner, CancelDlgProc, 0);
        return PrintJob.CancelDialog;
    }

    // Where a key typed into the dialog goes: its focus, or its button when it has none.
    HWND KeyTarget(HWND Dialog)
    {
        HWND Focus = GetFocus();
        return Focus && IsChild(Dialog, Focus) ? Focus : GetDlgItem(Dialog, IDCANCEL);
    }

    static HWND Owner;
};

HWND CancelDialogTest::Owner = nullptr;

TEST_F(CancelDialogTest, OpensVisibleOnItsOwnerWithTheJobsCaptionAndNoCloseItem)
{
    const char Long[] = "Print Mode: Direct Print, 300 dpi, cut";
    for (const char* Caption : {BitmapModeCaption, Long})
    {
        SCOPED_TRACE(Caption);
        HWND Dialog = OpenDialog(Caption);
        ASSERT_NE(Dialog, nullptr) << "template " << CancelDialogTemplate << " not found";
        EXPECT_TRUE(IsWindowVisible(Dialog));
        EXPECT_EQ(GetWindow(Dialog, GW_OWNER), Owner);

        char Shown[64] = {};
        GetWindowTextA(Dialog, Shown, sizeof(Shown));
        EXPECT_STREQ(Shown, PrintJob.DialogCaption);
        EXPECT_EQ(std::string(Shown), std::string(Caption).substr(0, 29));

        UINT CloseState = GetMenuState(GetSystemMenu(Dialog, FALSE), SC_CLOSE, MF_BYCOMMAND);
        ASSERT_NE(CloseState, static_cast<UINT>(-1)) << "the system menu has no Close item";
        EXPECT_TRUE(CloseState & MF_GRAYED);

        // Opening it neither cancels the job nor gives the owner back.
        EXPECT_EQ(PrintJob.UserAbort, 0);
        EXPECT_FALSE(IsWindowEnabled(Owner));
        DestroyWindow(Dialog);
        PrintJob.CancelDialog = nullptr;
    }
}

TEST_F(CancelDialogTest, OnlyInitialisationAndCommandsAreHandled)
{
    HWND Dialog = OpenDialog();
    for (UINT Message : {WM_TIMER, WM_CLOSE, WM_SYSCOMMAND, WM_USER, WM_APP})
        EXPECT_EQ(CancelDlgProc(Dialog, Message, SC_CLOSE, 0), FALSE) << "message " << Message;
    EXPECT_TRUE(IsWindow(Dialog));
    EXPECT_EQ(PrintJob.UserAbort, 0);
    EXPECT_EQ(CancelDlgProc(Dialog, WM_INITDIALOG, 0, 0), TRUE);
}

enum class CancelWay
{
    ButtonClick,
    EnterKey,
    EscapeKey,
    AnyCommand,
};

class CancelDialogCancelTest : public CancelDialogTest, public ::testing::WithParamInterface<CancelWay>
{
};

TEST_P(CancelDialogCancelTest, CancelsTheJobAndGivesTheOwnerBackBeforeItGoes)
{
    HWND Dialog = OpenDialog();
    ASSERT_NE(Dialog, nullptr);
    PumpMessages();
    Watch(Owner);
    Watch(Dialog);

    int Answer = -1;
    switch (GetParam())
    {
    case CancelWay::ButtonClick:
        PressButton(Dialog, IDCANCEL);
        break;
    case CancelWay::EnterKey:
        PostKey(KeyTarget(Dialog), VK_RETURN, 0x1C);
        PostMessageA(Owner, WM_APP, 0, 0);
        Answer = PrintAbortProc(nullptr, 0);
        break;
    case CancelWay::EscapeKey:
        PostKey(KeyTarget(Dialog), VK_ESCAPE, 0x01);
        PostMessageA(Owner, WM_APP, 0, 0);
        Answer = PrintAbortProc(nullptr, 0);
        break;
    case CancelWay::AnyCommand:
        SendMessageA(Dialog, WM_COMMAND, MAKEWPARAM(0x4321, 7), 0);
        break;
    }

    EXPECT_EQ(PrintJob.UserAbort, 1);
    EXPECT_EQ(PrintJob.CancelDialog, nullptr);
    EXPECT_FALSE(IsWindow(Dialog));
    EXPECT_TRUE(IsWindowEnabled(Owner));
    int Enabled = PositionOf(Owner, WM_ENABLE, TRUE);
    int Destroyed = PositionOf(Dialog, WM_DESTROY, 0);
    ASSERT_GE(Enabled, 0) << "the owner was never enabled";
    ASSERT_GE(Destroyed, 0) << "the dialog was never destroyed";
    EXPECT_LT(Enabled, Destroyed) << "the owner was enabled only after the dialog had gone";

    if (Answer != -1)
    {
        // The same call that cancelled went on until the queue was empty, and said stop.
        EXPECT_EQ(Answer, 0);
        EXPECT_EQ(DeliveriesOf(Owner, WM_APP), 1);
        EXPECT_TRUE(QueueIsEmpty());
    }
    for (int Call = 0; Call < 3; ++Call)
    {
        PostMessageA(Owner, WM_APP + 1, 0, 0);
        EXPECT_EQ(PrintAbortProc(nullptr, 0), 0) << "call " << Call;
    }
    EXPECT_EQ(DeliveriesOf(Owner, WM_APP + 1), 3);
}

const char* const CancelWayNames[] = {"ButtonClick", "EnterKey", "EscapeKey", "AnyCommand"};

void PrintTo(CancelWay Way, std::ostream* Out) { *Out << CancelWayNames[static_cast<int>(Way)]; }

std::string CancelWayName(const ::testing::TestParamInfo<CancelWay>& Info)
{
    return CancelWayNames[static_cast<int>(Info.param)];
}

INSTANTIATE_TEST_SUITE_P(EveryWay, CancelDialogCancelTest,
                         ::testing::Values(CancelWay::ButtonClick, CancelWay::EnterKey, CancelWay::EscapeKey,
                                           CancelWay::AnyCommand),
                         CancelWayName);

TEST_F(CancelDialogTest, AbortProcWithAnEmptyQueueAnswersGoOn)
{
    PumpMessages();
    ASSERT_TRUE(QueueIsEmpty());
    EXPECT_NE(PrintAbortProc(nullptr, 0), 0);

    HWND Dialog = OpenDialog();
    PumpMessages();
    ASSERT_TRUE(QueueIsEmpty());
    EXPECT_NE(PrintAbortProc(nullptr, 0), 0);
    EXPECT_TRUE(IsWindow(Dialog));
    EXPECT_EQ(PrintJob.UserAbort, 0);
}

TEST_F(CancelDialogTest, AbortProcWithoutADialogDispatchesEveryMessage)
{
    PrintJob.CancelDialog = nullptr;
    PumpMessages();
    Watch(Owner);
    InvalidateRect(Owner, nullptr, TRUE);
    PostMessageA(Owner, WM_APP, 0, 0);
    PostKey(Owner, 'A', 0x1E);
    PostThreadMessageA(GetCurrentThreadId(), WM_APP + 2, 0, 0);

    EXPECT_NE(PrintAbortProc(nullptr, 0), 0);
    EXPECT_EQ(DeliveriesOf(Owner, WM_PAINT), 1);
    RECT Update;
    EXPECT_FALSE(GetUpdateRect(Owner, &Update, FALSE)) << "the main window was left unpainted";
    EXPECT_EQ(DeliveriesOf(Owner, WM_APP), 1);
    EXPECT_EQ(DeliveriesOf(Owner, WM_KEYDOWN), 1);
    // The key was translated, and the character it gave was dispatched by the same call.
    EXPECT_EQ(DeliveriesOf(Owner, WM_CHAR), 1);
    EXPECT_TRUE(QueueIsEmpty());
}

TEST_F(CancelDialogTest, AbortProcLetsTheDialogHandleItsMessagesOnlyOnce)
{
    HWND Dialog = OpenDialog();
    PumpMessages();
    HWND Button = GetDlgItem(Dialog, IDCANCEL);
    Watch(Owner);
    Watch(Dialog);
    Watch(Button);
    PostMessageA(Button, WM_APP, 0, 0);
    PostKey(Button, VK_F5, 0x3F);
    PostMessageA(Dialog, WM_APP + 1, 0, 0);
    PostMessageA(Owner, WM_APP, 0, 0);

    EXPECT_NE(PrintAbortProc(nullptr, 0), 0);
    EXPECT_EQ(DeliveriesOf(Button, WM_APP), 1);
    EXPECT_EQ(DeliveriesOf(Button, WM_KEYDOWN), 1);
    EXPECT_EQ(DeliveriesOf(Dialog, WM_APP + 1), 1);
    EXPECT_EQ(DeliveriesOf(Owner, WM_APP), 1);
    EXPECT_TRUE(QueueIsEmpty());
    EXPECT_TRUE(IsWindow(Dialog));
    EXPECT_EQ(PrintJob.CancelDialog, Dialog);
    EXPECT_EQ(PrintJob.UserAbort, 0);
    EXPECT_FALSE(IsWindowEnabled(Owner));
}

}  // namespace
