// Whole print jobs run in-process with a real main window: the messages of the jobs that cannot
// start, as a user sees and answers them, and the jobs that reach the private scheduler's
// queues, read back from its page log and from the PostScript each queue writes.
#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>
#include <winspool.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/shell_state.h"
#include "print/find_full_printer_name.h"
#include "print/print_job_state.h"
#include "print/print_test_page.h"
#include "test_support.h"

namespace
{

// A printer Wine's spooler keeps although its driver's PPD file does not exist: it opens, but
// its driver can make no device context for it.
const char PrinterWithoutPpd[] = "PT printer without PPD";
const char DriverWithoutPpd[] = "PT driver without PPD";

void DeletePrinterNamed(const char* Name)
{
    HANDLE Printer = nullptr;
    PRINTER_DEFAULTSA Access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterA(const_cast<char*>(Name), &Printer, &Access))
    {
        DeletePrinter(Printer);
        ClosePrinter(Printer);
    }
}

void RemovePrinterWithoutPpd()
{
    DeletePrinterNamed(PrinterWithoutPpd);
    DeletePrinterDriverA(nullptr, nullptr, const_cast<char*>(DriverWithoutPpd));
}

bool AddPrinterWithoutPpd()
{
    RemovePrinterWithoutPpd();
    DRIVER_INFO_3A Driver = {};
    Driver.cVersion = 3;
    Driver.pName = const_cast<char*>(DriverWithoutPpd);
    Driver.pDriverPath = const_cast<char*>("wineps.drv");
    Driver.pConfigFile = const_cast<char*>("wineps.drv");
    Driver.pDataFile = const_cast<char*>("pt-no-such-file.ppd");
    if (!AddPrinterDriverA(nullptr, 3, reinterpret_cast<BYTE*>(&Driver)))
        return false;
    PRINTER_INFO_2A Info = {};
    Info.pPrinterName = const_cast<char*>(PrinterWithoutPpd);
    Info.pDriverName = const_cast<char*>(DriverWithoutPpd);
    Info.pPortName = const_cast<char*>("FILE:");
    Info.pPrintProcessor = const_cast<char*>("WinPrint");
    Info.pDatatype = const_cast<char*>("RAW");
    HANDLE Added = AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&Info));
    if (!Added)
        return false;
    ClosePrinter(Added);
    return true;
}

// A Unix path of the fixture as this process reaches it.
std::string WindowsPath(const std::string& UnixPath)
{
    std::string Path = "Z:" + UnixPath;
    for (char& Byte : Path)
        if (Byte == '/')
            Byte = '\\';
    return Path;
}

std::vector<std::string> LinesOf(const std::string& UnixPath)
{
    std::ifstream File(WindowsPath(UnixPath), std::ios::binary);
    std::vector<std::string> Lines;
    std::string Line;
    while (std::getline(File, Line))
    {
        if (!Line.empty() && Line.back() == '\r')
            Line.pop_back();
        Lines.push_back(Line);
    }
    return Lines;
}

// The folder of the scheduler the tests print to, which holds its socket.
std::string SchedulerFolder()
{
    std::string Socket = FixturePath("CUPS_SERVER");
    return Socket.substr(0, Socket.rfind('/'));
}

// The scheduler's record of finished jobs: one line per job, "QUEUE USER ID [TIME] total PAGES
// - HOST TITLE MEDIA SIDES".
std::vector<std::string> FinishedJobs()
{
    std::vector<std::string> Jobs;
    for (const std::string& Line : LinesOf(SchedulerFolder() + "/log/page_log"))
        if (Line.find("] total ") != std::string::npos)
            Jobs.push_back(Line);
    return Jobs;
}

bool WaitForFinishedJobs(size_t Count)
{
    return PumpUntil([Count] { return FinishedJobs().size() >= Count; }, 60000);
}

// The document title of the last job a queue wrote out.
std::string LastTitleWritten(const std::string& Queue)
{
    std::string Title;
    for (const std::string& Line : LinesOf(SchedulerFolder() + "/out/" + Queue + ".ps"))
        if (Line.rfind("%%Title: ", 0) == 0)
            Title = Line.substr(9);
    return Title;
}

HGLOBAL GlobalCopy(const void* Bytes, size_t Size)
{
    HGLOBAL Handle = GlobalAlloc(GMEM_MOVEABLE, Size);
    std::memcpy(GlobalLock(Handle), Bytes, Size);
    GlobalUnlock(Handle);
    return Handle;
}

HGLOBAL MakeDevNames(const std::string& Driver, const std::string& Device, const std::string& Output)
{
    std::vector<unsigned char> Block(sizeof(DEVNAMES));
    DEVNAMES Header = {};
    Header.wDriverOffset = static_cast<WORD>(Block.size());
    Block.insert(Block.end(), Driver.begin(), Driver.end());
    Block.push_back(0);
    Header.wDeviceOffset = static_cast<WORD>(Block.size());
    Block.insert(Block.end(), Device.begin(), Device.end());
    Block.push_back(0);
    Header.wOutputOffset = static_cast<WORD>(Block.size());
    Block.insert(Block.end(), Output.begin(), Output.end());
    Block.push_back(0);
    std::memcpy(Block.data(), &Header, sizeof(Header));
    return GlobalCopy(Block.data(), Block.size());
}

HGLOBAL MakeDevNamesFor(const std::string& Device) { return MakeDevNames("winspool", Device, "CUPS:" + Device); }

// The short queue's driver settings, with the device name the dialogs would give for Device:
// no more than its first 31 characters. Only the first Size bytes are kept when Size is given.
HGLOBAL MakeDevMode(const std::string& Device, size_t Size = 0)
{
    HANDLE Printer = nullptr;
    OpenPrinterA(const_cast<char*>(QueueShort), &Printer, nullptr);
    LONG DriverSize = DocumentPropertiesA(nullptr, Printer, const_cast<char*>(QueueShort), nullptr, nullptr, 0);
    std::vector<unsigned char> Settings(static_cast<size_t>(DriverSize > 0 ? DriverSize : sizeof(DEVMODEA)));
    DocumentPropertiesA(nullptr, Printer, const_cast<char*>(QueueShort), reinterpret_cast<DEVMODEA*>(Settings.data()),
                        nullptr, DM_OUT_BUFFER);
    ClosePrinter(Printer);
    DEVMODEA* Mode = reinterpret_cast<DEVMODEA*>(Settings.data());
    std::memset(Mode->dmDeviceName, 0, sizeof(Mode->dmDeviceName));
    std::memcpy(Mode->dmDeviceName, Device.c_str(), std::min(Device.size(), sizeof(Mode->dmDeviceName) - 1));
    return GlobalCopy(Settings.data(), Size ? Size : Settings.size());
}

bool PrinterHandleIsClosed(HANDLE Printer)
{
    DWORD Needed = 0;
    SetLastError(0);
    return !GetPrinterA(Printer, 2, nullptr, 0, &Needed) && GetLastError() == ERROR_INVALID_HANDLE;
}

// What the user saw of a message box, read from a second thread before pressing its OK button.
struct SeenMessage
{
    std::string Caption = "(no message box)";
    std::string Text;
    HWND Owner = nullptr;
    std::vector<int> Buttons;  // the ids of its visible buttons
    bool MainWindowEnabled = false;
    bool PrinterDcAlive = true;
};

BOOL CALLBACK CollectButton(HWND Child, LPARAM Param)
{
    char ClassName[16] = {};
    GetClassNameA(Child, ClassName, sizeof(ClassName));
    if (lstrcmpiA(ClassName, "Button") == 0 && IsWindowVisible(Child))
        reinterpret_cast<std::vector<int>*>(Param)->push_back(GetDlgCtrlID(Child));
    return TRUE;
}

// Whether a dialog can be the job's message box: any live dialog but the job's cancel dialog. Its
// caption is read without a message to the job's thread, which may be busy, or destroying the
// dialog, meanwhile.
bool MayBeMessageBox(HWND Dialog, const std::string& JobCaption)
{
    wchar_t Caption[64] = {};
    if (InternalGetWindowText(Dialog, Caption, 64) == 0)
        return false;
    std::string Cut = JobCaption.substr(0, sizeof(PrintJob.DialogCaption) - 1);
    return std::wstring(Cut.begin(), Cut.end()) != Caption;
}

// Presses the cancel dialog's button the moment it shows, as a quick user would. Wine asks the
// abort procedure only once, as the document starts; so while the dialog is being shown, the
// job's thread waits until the click is in its queue, and that call finds it there.
class QuickCancel
{
public:
    explicit QuickCancel(const std::string& Caption)
    {
        Clicked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        Instance = this;
        Hook = SetWindowsHookExA(WH_CALLWNDPROCRET, HoldWhileShown, nullptr, GetCurrentThreadId());
        Watcher = std::thread([this, Caption] {
            for (int Try = 0; Try < 6000 && !Stop; ++Try)
            {
                HWND Dialog = FindWindowA("#32770", Caption.c_str());
                if (Dialog && IsWindowVisible(Dialog))
                {
                    HWND Button = GetDlgItem(Dialog, IDCANCEL);
                    PostMessageA(Button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
                    PostMessageA(Button, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
                    Found = Dialog;
                    SetEvent(Clicked);
                    return;
                }
                Sleep(5);
            }
        });
    }

    ~QuickCancel()
    {
        Stop = true;
        Watcher.join();
        UnhookWindowsHookEx(Hook);
        CloseHandle(Clicked);
        Instance = nullptr;
    }

    std::atomic<HWND> Found{nullptr};
    bool HeldTheJob = false;

private:
    static LRESULT CALLBACK HoldWhileShown(int Code, WPARAM WParam, LPARAM LParam)
    {
        const CWPRETSTRUCT* Call = reinterpret_cast<const CWPRETSTRUCT*>(LParam);
        if (Code == HC_ACTION && Instance && Call->message == WM_WINDOWPOSCHANGED &&
            (reinterpret_cast<const WINDOWPOS*>(Call->lParam)->flags & SWP_SHOWWINDOW))
        {
            char ClassName[16] = {};
            GetClassNameA(Call->hwnd, ClassName, sizeof(ClassName));
            if (lstrcmpA(ClassName, "#32770") == 0)
                Instance->HeldTheJob = WaitForSingleObject(Instance->Clicked, 30000) == WAIT_OBJECT_0;
        }
        return CallNextHookEx(nullptr, Code, WParam, LParam);
    }

    static QuickCancel* Instance;
    HANDLE Clicked;
    HHOOK Hook;
    std::thread Watcher;
    std::atomic<bool> Stop{false};
};

QuickCancel* QuickCancel::Instance = nullptr;

// One main window serves the whole suite: each window that goes costs Wine's X driver a wait
// for a window manager that the test display does not run.
class PrintJobTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ResetProgram();
        Main = OpenMainWindow();
        PrinterWithoutPpdAdded = AddPrinterWithoutPpd();
    }

    static void TearDownTestSuite()
    {
        RemovePrinterWithoutPpd();
        DestroyWindow(Main);
        // Also takes the quit message the main window posts as it goes.
        PumpMessages();
    }

    void SetUp() override
    {
        PrintJob = PrintJobState{};
        Setup = {};
        Setup.lStructSize = sizeof(Setup);
        Setup.hwndOwner = Main;
        Setup.Flags = PSD_MARGINS | PSD_INTHOUSANDTHSOFINCHES;
        Setup.rtMargin = {1000, 1000, 1000, 1000};
        ASSERT_TRUE(IsWindowEnabled(Main));
    }

    void TearDown() override
    {
        ReleasePrinter();
        EnableWindow(Main, TRUE);
    }

    void ReleasePrinter()
    {
        if (Setup.hDevMode)
            GlobalFree(Setup.hDevMode);
        if (Setup.hDevNames)
            GlobalFree(Setup.hDevNames);
        Setup.hDevMode = Setup.hDevNames = nullptr;
    }

    void Print(int Mode = PRINT_MODE_DIRECT, std::string Caption = DirectModeCaption)
    {
        PrintTestPage(Setup, Mode, Caption);
    }

    // Hands the job the settings and names of Device, as the Print dialog would.
    void UsePrinter(const std::string& Device)
    {
        ReleasePrinter();
        Setup.hDevMode = MakeDevMode(Device);
        Setup.hDevNames = MakeDevNamesFor(Device);
    }

    // Runs the job with a second thread answering the one message box it must show.
    SeenMessage PrintAndAnswer(int Mode, const std::string& Caption)
    {
        SeenMessage Seen;
        {
            DialogDriver Answer([&Seen](HWND Box) {
                char Text[256] = {};
                GetWindowTextA(Box, Text, sizeof(Text));
                Seen.Caption = Text;
                GetDlgItemTextA(Box, 0xFFFF, Text, sizeof(Text));
                Seen.Text = Text;
                Seen.Owner = GetWindow(Box, GW_OWNER);
                EnumChildWindows(Box, CollectButton, reinterpret_cast<LPARAM>(&Seen.Buttons));
                Seen.MainWindowEnabled = IsWindowEnabled(Main);
                Seen.PrinterDcAlive = IsLiveObject(PrintJob.PrinterDC);
                PressButton(Box, IDOK);
            }, GetCurrentProcessId(), [&Caption](HWND Dialog) { return MayBeMessageBox(Dialog, Caption); });
            Print(Mode, Caption);
        }
        return Seen;
    }

    // The message shows once the job has gone, over a main window the user can use again.
    void ExpectMessage(const char* Text, int Mode = PRINT_MODE_DIRECT, const std::string& Caption = DirectModeCaption)
    {
        SeenMessage Seen = PrintAndAnswer(Mode, Caption);
        EXPECT_EQ(Seen.Caption, MessageCaption);
        EXPECT_EQ(Seen.Text, Text);
        EXPECT_EQ(Seen.Owner, nullptr) << "the message box has an owner";
        EXPECT_EQ(Seen.Buttons, std::vector<int>{IDOK});
        EXPECT_TRUE(Seen.MainWindowEnabled) << "the main window was disabled under the message";
        EXPECT_FALSE(Seen.PrinterDcAlive) << "the printer DC was alive under the message";
    }

    // Prints a Direct page titled Caption on Queue and waits for it: the only job to finish
    // since JobsBefore.
    void ExpectPrinted(const std::string& Queue, const std::string& Caption, size_t JobsBefore)
    {
        UsePrinter(Queue);
        Print(PRINT_MODE_DIRECT, Caption);
        ExpectNothingLeft();
        ASSERT_TRUE(WaitForFinishedJobs(JobsBefore + 1)) << "no job finished";
        std::vector<std::string> Jobs = FinishedJobs();
        EXPECT_EQ(Jobs.size(), JobsBefore + 1) << "a job that failed reached a queue: " << Jobs.back();
        EXPECT_EQ(Jobs.back().rfind(Queue + " ", 0), 0u) << Jobs.back();
        EXPECT_EQ(LastTitleWritten(Queue), Caption);
    }

    // Whatever became of the job, the program is left as it was before it.
    void ExpectNothingLeft()
    {
        EXPECT_TRUE(IsWindowEnabled(Main)) << "the main window was left disabled";
        EXPECT_EQ(FindProcessWindow(GetCurrentProcessId(), "#32770"), nullptr) << "a dialog was left open";
        EXPECT_TRUE(PrintJob.CancelDialog == nullptr || !IsWindow(PrintJob.CancelDialog));
        EXPECT_FALSE(IsLiveObject(PrintJob.PrinterDC)) << "the printer DC was left alive";
        EXPECT_TRUE(PrinterHandleIsClosed(PrintJob.PrinterHandle)) << "the printer was left open";
    }

    static HWND Main;
    static bool PrinterWithoutPpdAdded;
    PAGESETUPDLGA Setup = {};
};

HWND PrintJobTest::Main = nullptr;
bool PrintJobTest::PrinterWithoutPpdAdded = false;

TEST_F(PrintJobTest, ALongNameNoPrinterContainsIsReported)
{
    const std::string Name = "NO_QUEUE_IS_NAMED_ANYTHING_LIKE_THIS_ONE";
    ASSERT_EQ(Name.size(), 40u);
    Setup.hDevMode = MakeDevMode(Name);
    Setup.hDevNames = MakeDevNamesFor(Name);
    size_t JobsBefore = FinishedJobs().size();
    ExpectMessage("Could not find Printer Name");
    ExpectNothingLeft();
    EXPECT_EQ(FinishedJobs().size(), JobsBefore);
}

TEST_F(PrintJobTest, APrinterThatCannotBeOpenedIsReported)
{
    Setup.hDevMode = MakeDevMode("PTQUEUE_GONE");
    Setup.hDevNames = MakeDevNamesFor("PTQUEUE_GONE");
    ExpectMessage("Unable to write to selected printer!");
    ExpectNothingLeft();
}

TEST_F(PrintJobTest, SettingsThatCannotBeReadAreReportedAsAPrinterNotWrittenTo)
{
    HGLOBAL DevMode = MakeDevMode(QueueShort);
    HGLOBAL DevNames = MakeDevNamesFor(QueueShort);
    for (bool WithoutDevMode : {true, false})
    {
        SCOPED_TRACE(WithoutDevMode ? "no DEVMODE" : "no DEVNAMES");
        Setup.hDevMode = WithoutDevMode ? nullptr : DevMode;
        Setup.hDevNames = WithoutDevMode ? DevNames : nullptr;
        ExpectMessage("Unable to write to selected printer!");
        ExpectNothingLeft();
    }
    Setup.hDevMode = DevMode;
    Setup.hDevNames = DevNames;
}

TEST_F(PrintJobTest, DevNamesWithOffsetsPastItsEndNameNoPrinter)
{
    Setup.hDevMode = MakeDevMode(QueueShort);
    const WORD Header[4] = {200, 300, 400, 1};
    Setup.hDevNames = GlobalCopy(Header, sizeof(Header));
    ExpectMessage("Unable to write to selected printer!");
    ExpectNothingLeft();
}

TEST_F(PrintJobTest, APrinterWithoutADeviceContextIsReportedAndClosed)
{
    ASSERT_TRUE(PrinterWithoutPpdAdded) << "the printer without a PPD could not be added";
    Setup.hDevMode = MakeDevMode(PrinterWithoutPpd);
    Setup.hDevNames = MakeDevNamesFor(PrinterWithoutPpd);
    ExpectMessage("Unable to create printer DC!");
    EXPECT_NE(PrintJob.PrinterHandle, nullptr) << "the printer was never opened";
    EXPECT_EQ(PrintJob.PrinterDC, nullptr);
    ExpectNothingLeft();
}

TEST_F(PrintJobTest, TheMainWindowsJobReachesTheQueueTitledWithItsMode)
{
    size_t JobsBefore = FinishedJobs().size();
    PrintTestPage(Shell.PageSetup, Shell.PrintMode, Shell.ModeCaption);
    ExpectNothingLeft();
    EXPECT_EQ(PrintJob.UserAbort, 0);
    ASSERT_TRUE(WaitForFinishedJobs(JobsBefore + 1)) << "no job finished";
    std::vector<std::string> Jobs = FinishedJobs();
    EXPECT_EQ(Jobs.size(), JobsBefore + 1);
    EXPECT_EQ(Jobs.back().rfind(std::string(QueueShort) + " ", 0), 0u) << Jobs.back();
    EXPECT_NE(Jobs.back().find(std::string(" ") + DirectModeCaption + " "), std::string::npos) << Jobs.back();
    EXPECT_EQ(LastTitleWritten(QueueShort), DirectModeCaption);
}

TEST_F(PrintJobTest, ANameCutShortPrintsOnTheQueueThatContainsIt)
{
    std::string Cut = std::string(QueueLong).substr(0, 40);
    Setup.hDevMode = MakeDevMode(Cut);
    Setup.hDevNames = MakeDevNamesFor(Cut);
    size_t JobsBefore = FinishedJobs().size();
    Print(PRINT_MODE_DIRECT, "Print Mode: Direct Print, long queue");
    ExpectNothingLeft();
    ASSERT_TRUE(WaitForFinishedJobs(JobsBefore + 1)) << "no job finished";
    EXPECT_EQ(FinishedJobs().back().rfind(std::string(QueueLong) + " ", 0), 0u) << FinishedJobs().back();
    EXPECT_EQ(LastTitleWritten(QueueLong), "Print Mode: Direct Print, long queue");
}

TEST_F(PrintJobTest, ADevModeShorterThanItsPublicPartStillPrints)
{
    Setup.hDevMode = MakeDevMode(QueueShort, 60);
    Setup.hDevNames = MakeDevNamesFor(QueueShort);
    size_t JobsBefore = FinishedJobs().size();
    Print(PRINT_MODE_DIRECT, "Print Mode: Direct Print, short DEVMODE");
    ExpectNothingLeft();
    ASSERT_TRUE(WaitForFinishedJobs(JobsBefore + 1)) << "no job finished";
    EXPECT_EQ(LastTitleWritten(QueueShort), "Print Mode: Direct Print, short DEVMODE");
}

TEST_F(PrintJobTest, ACancelledJobPrintsNothingAndTheNextOnePrints)
{
    Setup.hDevMode = MakeDevMode(QueueShort);
    Setup.hDevNames = MakeDevNamesFor(QueueShort);
    size_t JobsBefore = FinishedJobs().size();
    {
        QuickCancel User(BitmapModeCaption);
        Print(PRINT_MODE_BITMAP, BitmapModeCaption);
        ASSERT_NE(User.Found.load(), nullptr) << "no cancel dialog captioned " << BitmapModeCaption;
        EXPECT_TRUE(User.HeldTheJob);
        EXPECT_FALSE(IsWindow(User.Found.load()));
    }
    EXPECT_EQ(PrintJob.UserAbort, 1);
    ExpectNothingLeft();

    Print(PRINT_MODE_BITMAP, "Print Mode: Bitmap Print, after a cancel");
    EXPECT_EQ(PrintJob.UserAbort, 0);
    ExpectNothingLeft();
    ASSERT_TRUE(WaitForFinishedJobs(JobsBefore + 1)) << "the job after the cancelled one did not finish";
    std::vector<std::string> Jobs = FinishedJobs();
    EXPECT_EQ(Jobs.size(), JobsBefore + 1) << "the cancelled job reached the queue";
    EXPECT_NE(Jobs.back().find("after a cancel"), std::string::npos) << Jobs.back();
    EXPECT_EQ(LastTitleWritten(QueueShort), "Print Mode: Bitmap Print, after a cancel");
}

// A whole Letter sheet at 2400 dpi needs a bitmap of 20400 x 26400 x 4 bytes, 2.15 GB in one
// piece: more than a 32-bit process has, and more than GDI makes in one bitmap in a 64-bit one.
TEST_F(PrintJobTest, ABitmapPageThatCannotBeMadeIsReportedAndNothingPrinted)
{
    UsePrinter(Queue2400);
    size_t JobsBefore = FinishedJobs().size();
    Setup.rtMargin = {0, 0, 0, 0};
    ExpectMessage("Unable to create page bitmap!", PRINT_MODE_BITMAP, BitmapModeCaption);
    ExpectNothingLeft();
    Setup.rtMargin = {1000, 1000, 1000, 1000};
    ExpectPrinted(Queue2400, "Print Mode: Direct Print, 2400 dpi", JobsBefore);
}

TEST_F(PrintJobTest, BitmapMarginsThatLeaveNoRoomAreReportedAndNothingPrinted)
{
    UsePrinter(QueueShort);
    size_t JobsBefore = FinishedJobs().size();
    // A Letter sheet is 8.5 x 11 inches: the left and right margins meet, the top and bottom cross.
    for (RECT Margins : {RECT{4250, 1000, 4250, 1000}, RECT{1000, 6000, 1000, 6000}})
    {
        SCOPED_TRACE(Margins.left);
        Setup.rtMargin = Margins;
        ExpectMessage("Unable to create page bitmap!", PRINT_MODE_BITMAP, BitmapModeCaption);
        ExpectNothingLeft();
    }
    Setup.rtMargin = {1000, 1000, 1000, 1000};
    ExpectPrinted(QueueShort, "Print Mode: Direct Print, after no room", JobsBefore);
}

TEST_F(PrintJobTest, ANameOf30CharactersIsUsedAsItIsAndOneOf31IsLookedUp)
{
    ASSERT_EQ(std::strlen(Queue30), 30u);
    ASSERT_EQ(std::strlen(Queue31), 31u);
    std::string LookedUp = Queue30;
    ASSERT_TRUE(FindFullPrinterName(LookedUp) && LookedUp == Queue31)
        << "the longer queue must be found first for the shorter name, or its use as it is would not show";
    for (const char* Queue : {Queue30, Queue31})
    {
        SCOPED_TRACE(Queue);
        ExpectPrinted(Queue, std::string("Print Mode: Direct Print, ") + Queue, FinishedJobs().size());
    }
}

// The spooler's folder for the files of jobs being spooled, moved away while the object lives.
struct SpoolFolderMissing
{
    SpoolFolderMissing()
    {
        char System[MAX_PATH] = {};
        GetSystemDirectoryA(System, sizeof(System));
        Folder = std::string(System) + "\\spool\\printers";
        Moved = MoveFileA(Folder.c_str(), (Folder + ".away").c_str()) != 0;
    }
    ~SpoolFolderMissing() { MoveFileA((Folder + ".away").c_str(), Folder.c_str()); }
    std::string Folder;
    bool Moved;
};

// What Wine does (checked): a queue that refuses jobs lets StartDocA succeed and fails EndDoc;
// without its spool folder the spooler fails StartDocA.
TEST_F(PrintJobTest, DocumentsTheSpoolerFailsLeaveNothingBehindAndTheNextJobPrints)
{
    size_t JobsBefore = FinishedJobs().size();
    UsePrinter(QueueRejecting);
    Print(PRINT_MODE_BITMAP, BitmapModeCaption);
    EXPECT_GT(PrintJob.JobStatus, 0) << "the page was not ended";
    ExpectNothingLeft();

    UsePrinter(QueueShort);
    {
        SpoolFolderMissing Missing;
        ASSERT_TRUE(Missing.Moved) << Missing.Folder;
        Print(PRINT_MODE_BITMAP, BitmapModeCaption);
        EXPECT_LE(PrintJob.JobStatus, 0) << "the document started without a spool folder";
    }
    ExpectNothingLeft();
    ExpectPrinted(QueueShort, "Print Mode: Direct Print, after failed documents", JobsBefore);
}

}  // namespace
