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

}  // namespace
