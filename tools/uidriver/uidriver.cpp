// Drives a running printtest.exe the way a user does: menu commands, the Page Setup and Print
// dialogs, the cancel dialog of a job. It runs as a separate Windows process in the same Wine
// session and returns 0 when the step it was asked for happened, 1 otherwise.
//
//   uidriver wait-window                 the main window is up, enabled and no dialog is open
//   uidriver command ID                  chooses the File menu item ID
//   uidriver page-setup L T R B [portrait|landscape [PAPER]]
//                                        picks PAPER (as the paper list names it), sets the
//                                        orientation and the margins (in the dialog's units) and
//                                        presses OK
//   uidriver print [PRINTER]             presses OK in the Print dialog, after picking PRINTER
//   uidriver cancel-print                presses Cancel in the Print dialog
//   uidriver print-cancelled [PRINTER]   prints as print does and presses Cancel in the job's
//                                        cancel dialog the moment it opens
//   uidriver message                     waits until the program has done what it was asked; when
//                                        it shows a message box, prints the box's text and
//                                        presses OK
//   uidriver print-watched [PRINTER]     prints as print does, and watches that the main window
//                                        is disabled while the job's cancel dialog is up
//   uidriver memory                      writes the program's private memory in bytes
//   uidriver exit                        chooses File > Exit and waits for the process to end
//   uidriver serve                       runs the steps above read from its input, one a line,
//                                        arguments separated by tabs; after each step writes
//                                        "uidriver: N", N what the step would have returned
#include <windows.h>
#include <dlgs.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/menu_ids.h"
#include "tools/winauto/winauto.h"

namespace
{

const char MainClass[] = "PRINTER_QUOMBRIX32";
const char DialogClass[] = "#32770";
const char* const JobCaptions[] = {"Print Mode: Direct Print", "Print Mode: Bitmap Print"};
// Long enough for a Bitmap page at a high resolution, whose job has taken over two minutes beside
// the test suite's other runs on a 2-core machine; only reached when something is wrong.
const DWORD Patience = 300000;
const UINT ReplyTimeout = 60000;
// Often enough that a step ends within a hundredth of a second of the program being ready.
const DWORD PollInterval = 10;

bool Fail(const char* Text)
{
    std::fprintf(stderr, "uidriver: %s\n", Text);
    return false;
}

bool Wait(const std::function<bool()>& Done) { return WaitFor(Done, Patience, PollInterval); }

HWND MainWindow() { return FindWindowA(MainClass, nullptr); }

std::string Caption(HWND Window)
{
    char Text[256] = {};
    GetWindowTextA(Window, Text, sizeof(Text));
    return Text;
}

bool IsJobCaption(const std::string& Text)
{
    for (const char* Known : JobCaptions)
        if (Text == Known)
            return true;
    return false;
}

// A visible top-level dialog of the program's process that Wanted accepts, 0 when none.
HWND FindDialog(DWORD Process, const std::function<bool(HWND)>& Wanted)
{
    return FindProcessWindow(Process, DialogClass, Wanted);
}

bool AnyDialog(HWND) { return true; }
bool IsJobDialog(HWND Dialog) { return IsJobCaption(Caption(Dialog)); }
bool IsCommonDialog(HWND Dialog) { return !IsJobDialog(Dialog) && !IsMessageBox(Dialog); }

// The main window, once it is there and a user could use its menu: enabled, with no dialog of
// the program open.
HWND ReadyMainWindow()
{
    HWND Main = nullptr;
    bool Ready = Wait([&] {
        Main = MainWindow();
        return Main && IsWindowVisible(Main) && IsWindowEnabled(Main) &&
               !FindDialog(ProcessOf(Main), AnyDialog);
    });
    if (!Ready)
    {
        if (!Main)
            Fail("no main window");
        else if (HWND Open = FindDialog(ProcessOf(Main), AnyDialog))
            std::fprintf(stderr, "uidriver: a dialog stays open: \"%s\"\n", Caption(Open).c_str());
        else
            Fail("the main window stays disabled");
        return nullptr;
    }
    return Synchronise(Main, ReplyTimeout) ? Main : nullptr;
}

// Chooses a menu command and returns the common dialog it opens, ready for input.
HWND OpenDialog(int Command)
{
    HWND Main = ReadyMainWindow();
    if (!Main)
        return nullptr;
    PostMessageA(Main, WM_COMMAND, MAKEWPARAM(Command, 0), 0);
    HWND Dialog = nullptr;
    if (!Wait([&] { return (Dialog = FindDialog(ProcessOf(Main), IsCommonDialog)) != nullptr; }))
    {
        Fail("the dialog did not open");
        return nullptr;
    }
    return Synchronise(Dialog, ReplyTimeout) ? Dialog : nullptr;
}

bool Press(HWND Dialog, int Button)
{
    HWND Control = GetDlgItem(Dialog, Button);
    if (!Control)
        return Fail("the dialog has no such button");
    DWORD_PTR Result = 0;
    return SendMessageTimeoutA(Control, BM_CLICK, 0, 0, SMTO_NORMAL, ReplyTimeout, &Result) != 0 ||
           Fail("the button did not answer");
}

// Presses the button and waits until the dialog is destroyed and its owner has taken a
// message again, i.e. the program has moved on from the dialog.
bool PressAndWaitClosed(HWND Dialog, int Button)
{
    HWND Owner = GetWindow(Dialog, GW_OWNER);
    if (!Press(Dialog, Button))
        return false;
    if (!Wait([&] { return !IsWindow(Dialog); }))
        return Fail("the dialog stayed open");
    return !Owner || Synchronise(Owner, ReplyTimeout);
}

bool SetText(HWND Dialog, int Edit, const char* Text)
{
    if (!GetDlgItem(Dialog, Edit))
        return Fail("the dialog has no such edit box");
    return SetDlgItemTextA(Dialog, Edit, Text) || Fail("the edit box refused the text");
}

bool PageSetup(int Argc, char** Argv)
{
    if (Argc < 6)
        return Fail("page-setup needs four margins");
    HWND Dialog = OpenDialog(IDM_PAGESETUP);
    if (!Dialog)
        return false;
    if (Argc > 7 && !ChooseComboItem(Dialog, cmb2, Argv[7]))
    {
        std::fprintf(stderr, "uidriver: no paper \"%s\" in Page Setup's list: %s\n", Argv[7],
                     ComboItems(Dialog, cmb2).c_str());
        PressAndWaitClosed(Dialog, IDCANCEL);
        return false;
    }
    // The orientation next: turning the paper turns the margins with it.
    if (Argc > 6 && !Press(Dialog, std::strcmp(Argv[6], "landscape") == 0 ? rad2 : rad1))
        return false;
    const int Edits[] = {edt4, edt5, edt6, edt7};
    for (int I = 0; I < 4; ++I)
        if (!SetText(Dialog, Edits[I], Argv[2 + I]))
            return false;
    return PressAndWaitClosed(Dialog, IDOK);
}

// The Print dialog, open with PRINTER (the optional argument) chosen.
HWND OpenPrintDialog(int Argc, char** Argv)
{
    HWND Dialog = OpenDialog(IDM_PRINT);
    if (Dialog && Argc > 2 && !PickPrinter(Dialog, Argv[2]))
        return Fail("the printer is not in the Print dialog's list"), nullptr;
    return Dialog;
}

bool Print(int Argc, char** Argv)
{
    HWND Dialog = OpenPrintDialog(Argc, Argv);
    return Dialog && PressAndWaitClosed(Dialog, IDOK);
}

// The job runs in the program's thread, inside the Print command: the press returns at once,
// and the job's cancel dialog comes up over the disabled main window.
bool PrintWatched(int Argc, char** Argv)
{
    HWND Dialog = OpenPrintDialog(Argc, Argv);
    if (!Dialog)
        return false;
    HWND Main = MainWindow();
    PostMessageA(GetDlgItem(Dialog, IDOK), BM_CLICK, 0, 0);
    HWND JobDialog = nullptr;
    if (!Wait([&] { return (JobDialog = FindDialog(ProcessOf(Main), IsJobDialog)) != nullptr; }))
        return Fail("no cancel dialog came up");
    if (IsWindowEnabled(Main))
        return Fail("the main window is enabled while the job runs");
    return ReadyMainWindow() != nullptr;
}

bool Memory()
{
    HWND Main = ReadyMainWindow();
    HANDLE Process = Main ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ProcessOf(Main)) : nullptr;
    if (!Process)
        return Fail("the program's process cannot be read");
    PROCESS_MEMORY_COUNTERS Counters = {};
    Counters.cb = sizeof(Counters);
    bool Read = GetProcessMemoryInfo(Process, &Counters, sizeof(Counters)) != 0;
    CloseHandle(Process);
    if (Read)
        std::printf("%llu\n", static_cast<unsigned long long>(Counters.PagefileUsage));
    return Read || Fail("the program's memory cannot be read");
}

bool CancelPrint()
{
    HWND Dialog = OpenDialog(IDM_PRINT);
    return Dialog && PressAndWaitClosed(Dialog, IDCANCEL);
}

// The program serves its messages during a job only when the spooler calls its abort
// procedure, which Wine does once, as the document starts, right after the cancel dialog has
// opened. A press made from here would come too late; so a hook in the program's thread
// (press_cancel_hook.dll, next to this program) posts it as the dialog opens.
bool PrintCancelled(int Argc, char** Argv)
{
    HWND Main = ReadyMainWindow();
    if (!Main)
        return false;
    char Path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, Path, sizeof(Path));
    char* Slash = std::strrchr(Path, '\\');
    std::strcpy(Slash ? Slash + 1 : Path, "press_cancel_hook.dll");
    HMODULE Module = LoadLibraryA(Path);
    HOOKPROC Hook = Module ? reinterpret_cast<HOOKPROC>(GetProcAddress(Module, "PressCancelOnOpen")) : nullptr;
    if (!Hook)
        return Fail("press_cancel_hook.dll is missing");
    HHOOK Installed = SetWindowsHookExA(WH_CALLWNDPROCRET, Hook, Module, GetWindowThreadProcessId(Main, nullptr));
    if (!Installed)
        return Fail("the hook could not be set");
    bool Done = Print(Argc, Argv);
    // The job ends with its cancel dialog gone and the program back in its message loop.
    Done = Done && ReadyMainWindow() != nullptr;
    UnhookWindowsHookEx(Installed);
    return Done;
}

bool AnswerMessage()
{
    HWND Main = MainWindow();
    if (!Main)
        return Fail("no main window");
    DWORD Process = ProcessOf(Main);
    HWND Box = nullptr;
    auto Idle = [&] { return IsWindowEnabled(Main) && !FindDialog(Process, AnyDialog); };
    // Idle before and after the program's thread has taken a message: not merely between the
    // closing of the Print dialog and the start of the job.
    bool Settled = Wait([&] {
        return (Box = FindDialog(Process, IsMessageBox)) != nullptr ||
               (Idle() && Synchronise(Main, ReplyTimeout) && Idle());
    });
    if (!Settled)
        return Fail("the program stays busy");
    if (Box)
    {
        std::printf("%s\n", MessageText(Box).c_str());
        if (!Synchronise(Box, ReplyTimeout) || !PressAndWaitClosed(Box, IDOK))
            return false;
    }
    return ReadyMainWindow() != nullptr;
}

bool Command(int Argc, char** Argv)
{
    if (Argc < 3)
        return Fail("command needs a menu id");
    HWND Main = ReadyMainWindow();
    if (!Main)
        return false;
    PostMessageA(Main, WM_COMMAND, MAKEWPARAM(std::atoi(Argv[2]), 0), 0);
    return Synchronise(Main, ReplyTimeout);
}

bool Exit()
{
    HWND Main = ReadyMainWindow();
    if (!Main)
        return false;
    HANDLE Process = OpenProcess(SYNCHRONIZE, FALSE, ProcessOf(Main));
    PostMessageA(Main, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
    bool Ended = Process ? WaitForSingleObject(Process, Patience) == WAIT_OBJECT_0
                         : Wait([&] { return !IsWindow(Main); });
    if (Process)
        CloseHandle(Process);
    return Ended || Fail("the program did not end");
}

int Step(int Argc, char** Argv)
{
    if (Argc < 2)
        return Fail("no sub-command"), 2;
    std::string Verb = Argv[1];
    bool Done = false;
    if (Verb == "wait-window")
        Done = ReadyMainWindow() != nullptr;
    else if (Verb == "command")
        Done = Command(Argc, Argv);
    else if (Verb == "page-setup")
        Done = PageSetup(Argc, Argv);
    else if (Verb == "print")
        Done = Print(Argc, Argv);
    else if (Verb == "cancel-print")
        Done = CancelPrint();
    else if (Verb == "print-cancelled")
        Done = PrintCancelled(Argc, Argv);
    else if (Verb == "message")
        Done = AnswerMessage();
    else if (Verb == "print-watched")
        Done = PrintWatched(Argc, Argv);
    else if (Verb == "memory")
        Done = Memory();
    else if (Verb == "exit")
        Done = Exit();
    else
        return Fail("unknown sub-command"), 2;
    return Done ? 0 : 1;
}

// A run of steps costs one start of this program under Wine instead of one a step.
int Serve(char* Self)
{
    char Line[4096];
    while (std::fgets(Line, sizeof(Line), stdin))
    {
        Line[std::strcspn(Line, "\r\n")] = '\0';
        std::vector<char*> Args = {Self};
        for (char* Arg = std::strtok(Line, "\t"); Arg; Arg = std::strtok(nullptr, "\t"))
            Args.push_back(Arg);
        int Result = Step(static_cast<int>(Args.size()), Args.data());
        std::fflush(stderr);
        std::printf("uidriver: %d\n", Result);
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int Argc, char** Argv)
{
    if (Argc == 2 && std::strcmp(Argv[1], "serve") == 0)
        return Serve(Argv[0]);
    return Step(Argc, Argv);
}
