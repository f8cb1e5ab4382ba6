// The real printtest.exe as a separate process: how it starts and how it ends.
#include <gtest/gtest.h>

#include <string>

#include "app/menu_ids.h"
#include "test_support.h"

namespace
{

struct Program
{
    PROCESS_INFORMATION Process = {};
    HWND Window = nullptr;
};

// The program's path as Wine sees it: the fixture names it with a Unix path.
std::string ProgramPath()
{
    std::string Path = FixturePath("PRINTTEST_EXE");
    if (!Path.empty() && Path[0] == '/')
    {
        for (char& C : Path)
            if (C == '/')
                C = '\\';
        Path = "Z:" + Path;
    }
    return Path;
}

Program Start(const std::string& Arguments, bool UseShowWindow = false, WORD ShowCommand = SW_SHOWNORMAL)
{
    Program Started;
    std::string CommandLine = "\"" + ProgramPath() + "\"" + Arguments;
    STARTUPINFOA Startup = {};
    Startup.cb = sizeof(Startup);
    if (UseShowWindow)
    {
        Startup.dwFlags = STARTF_USESHOWWINDOW;
        Startup.wShowWindow = ShowCommand;
    }
    if (!CreateProcessA(nullptr, &CommandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup,
                        &Started.Process))
        return Started;
    WaitForInputIdle(Started.Process.hProcess, 10000);
    for (int Try = 0; Try < 1000 && !Started.Window; ++Try)
    {
        Started.Window = FindProcessWindow(Started.Process.dwProcessId, "PRINTER_QUOMBRIX32");
        if (!Started.Window)
            Sleep(10);
    }
    return Started;
}

DWORD WaitForExit(Program& Started)
{
    DWORD Code = STILL_ACTIVE;
    if (WaitForSingleObject(Started.Process.hProcess, 20000) == WAIT_OBJECT_0)
        GetExitCodeProcess(Started.Process.hProcess, &Code);
    else
        TerminateProcess(Started.Process.hProcess, 99);
    CloseHandle(Started.Process.hProcess);
    CloseHandle(Started.Process.hThread);
    return Code;
}

TEST(Process, ExitFromTheFileMenuEndsWithCodeZero)
{
    Program Started = Start("");
    ASSERT_NE(Started.Window, nullptr);
    char Title[64] = {};
    GetWindowTextA(Started.Window, Title, sizeof(Title));
    EXPECT_STREQ(Title, "Print Test Program");
    PostMessageA(Started.Window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(WaitForExit(Started), 0u);
}

TEST(Process, ClosingTheWindowEndsWithCodeZero)
{
    Program Started = Start("");
    ASSERT_NE(Started.Window, nullptr);
    PostMessageA(Started.Window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(WaitForExit(Started), 0u);
}

TEST(Process, CommandLineArgumentsChangeNothing)
{
    Program Started = Start(" /p \"some file.txt\" -x --help");
    ASSERT_NE(Started.Window, nullptr);
    char Title[64] = {};
    GetWindowTextA(Started.Window, Title, sizeof(Title));
    EXPECT_STREQ(Title, "Print Test Program");
    EXPECT_TRUE(IsWindowVisible(Started.Window));
    EXPECT_FALSE(IsIconic(Started.Window));
    PostMessageA(Started.Window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(WaitForExit(Started), 0u);
}

TEST(Process, TheStartersShowCommandIsObeyed)
{
    Program Started = Start("", true, SW_SHOWMINNOACTIVE);
    ASSERT_NE(Started.Window, nullptr);
    EXPECT_TRUE(IsIconic(Started.Window));
    PostMessageA(Started.Window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(Started), 0u);
}

// Gives the processes started from now on a screen of Dpi dots per inch, as the display settings
// do; puts the setting back as it was when it goes, also when the test fails, because every
// test after this one shares the prefix.
class ScreenResolution
{
public:
    explicit ScreenResolution(DWORD Dpi)
    {
        RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &Key,
                        nullptr);
        DWORD Size = sizeof(Saved);
        HadValue = RegQueryValueExA(Key, Name, nullptr, nullptr, reinterpret_cast<BYTE*>(&Saved), &Size) ==
                   ERROR_SUCCESS;
        RegSetValueExA(Key, Name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&Dpi), sizeof(Dpi));
    }
    ~ScreenResolution()
    {
        if (HadValue)
            RegSetValueExA(Key, Name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&Saved), sizeof(Saved));
        else
            RegDeleteValueA(Key, Name);
        RegCloseKey(Key);
    }

private:
    static constexpr const char* Name = "LogPixels";
    HKEY Key = nullptr;
    DWORD Saved = 0;
    bool HadValue = false;
};

// Has the program's own thread note on Window what its process says of its DPI awareness, through
// dpi_report_hook.dll next to this test.
void AskAboutDpiAwareness(HWND Window)
{
    char Path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, Path, sizeof(Path));
    std::string Hook = Path;
    Hook = Hook.substr(0, Hook.find_last_of("\\/") + 1) + "dpi_report_hook.dll";
    HMODULE Module = LoadLibraryA(Hook.c_str());
    ASSERT_NE(Module, nullptr) << Hook;
    FARPROC Found = GetProcAddress(Module, "NoteDpiAwareness");
    HHOOK Installed = SetWindowsHookExA(WH_CALLWNDPROC, reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(Found)),
                                        Module, GetWindowThreadProcessId(Window, nullptr));
    ASSERT_NE(Installed, nullptr);
    SendMessageA(Window, WM_NULL, 0, 0);
    UnhookWindowsHookEx(Installed);
    FreeLibrary(Module);
}

const HANDLE Yes = reinterpret_cast<HANDLE>(2);

// Rows of the page's text line, found inside the ellipse around the page's centre, where nothing
// else is drawn.
int TextInkHeight(const Pixels& Page)
{
    int First = -1, Last = -1;
    for (int Y = Page.Height / 3; Y < Page.Height * 2 / 3; ++Y)
        for (int X = Page.Width / 2 - Page.Width / 16; X < Page.Width / 2 + Page.Width / 16; ++X)
            if (Page.IsInk(X, Y))
            {
                First = First < 0 ? Y : First;
                Last = Y;
                break;
            }
    return First < 0 ? 0 : Last - First + 1;
}

TEST(Process, ThePageKeepsItsPhysicalSizeOnAHighResolutionScreen)
{
    struct Screen
    {
        DWORD Dpi;
        int BorderPen;  // 2 x (dpi / 32), rounded half to even: 1/16 inch
        int Em;         // 48 points
    };
    for (Screen Case : {Screen{96, 6, 64}, Screen{144, 8, 96}})
    {
        ScreenResolution Resolution(Case.Dpi);
        Program Started = Start("");
        ASSERT_NE(Started.Window, nullptr);
        AskAboutDpiAwareness(Started.Window);
        EXPECT_EQ(GetPropA(Started.Window, "DpiAware"), Yes) << Case.Dpi;
        // Wine holds every process DPI aware; the manifest's setting, as the process took it,
        // tells whether it would be on Windows.
        EXPECT_EQ(GetPropA(Started.Window, "ManifestDpiAware"), Yes) << Case.Dpi;

        Pixels Page = ReadWindowClient(Started.Window);
        EXPECT_EQ(InkRunInColumn(Page, Page.Width / 8).second, Case.BorderPen) << Case.Dpi;
        // Arial's capitals and ascenders, and those of its metric twin, rise 0.7 em.
        EXPECT_NEAR(TextInkHeight(Page), 0.7 * Case.Em, 0.03 * Case.Em) << Case.Dpi;

        PostMessageA(Started.Window, WM_COMMAND, IDM_EXIT, 0);
        EXPECT_EQ(WaitForExit(Started), 0u);
    }
}

}  // namespace
