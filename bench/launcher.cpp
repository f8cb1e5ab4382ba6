// Starts the programs the benchmark measures from outside, as a user's shell would.
//
//   launcher startup EXE RUNS     starts EXE RUNS times; prints, one a line, the microseconds
//                                 from CreateProcess to the return of its first paint, which
//                                 the program notes itself (first_paint_probe.cpp)
//   launcher print EXE QUEUE direct|bitmap
//                                 starts the program, chooses the mode, picks QUEUE in the Print
//                                 dialog and presses OK; once the job has left the program it
//                                 prints the wall-clock time of the press (microseconds since
//                                 1970), the microseconds the program was busy with the job, the
//                                 process's peak working set and the largest free block of its
//                                 address space after the job, in bytes, and the text of the
//                                 message box the job ended with ("-" when none), then closes it
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/menu_ids.h"
#include "bench/first_paint.h"
#include "bench/wall_clock.h"
#include "tools/winauto/winauto.h"

namespace
{

const char MainClass[] = "PRINTER_QUOMBRIX32";
const DWORD Patience = 300000;

double Microseconds(LONGLONG Ticks)
{
    LARGE_INTEGER Frequency;
    QueryPerformanceFrequency(&Frequency);
    return Ticks * 1e6 / static_cast<double>(Frequency.QuadPart);
}

bool Start(const char* Exe, PROCESS_INFORMATION& Process)
{
    STARTUPINFOA Startup = {};
    Startup.cb = sizeof(Startup);
    std::string CommandLine = std::string("\"") + Exe + "\"";
    return CreateProcessA(Exe, &CommandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup,
                          &Process) != 0;
}

void Release(PROCESS_INFORMATION& Process)
{
    CloseHandle(Process.hThread);
    CloseHandle(Process.hProcess);
}

int Startup(const char* Exe, int Runs)
{
    HANDLE Mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(FirstPaintBlock), FirstPaintMapping);
    auto* Block = static_cast<volatile FirstPaintBlock*>(MapViewOfFile(Mapping, FILE_MAP_WRITE, 0, 0, sizeof(FirstPaintBlock)));
    for (int Run = 0; Run < Runs; ++Run)
    {
        Block->PaintedAt = 0;
        PROCESS_INFORMATION Process;
        LARGE_INTEGER Before;
        QueryPerformanceCounter(&Before);
        if (!Start(Exe, Process))
        {
            std::fprintf(stderr, "launcher: cannot start %s\n", Exe);
            return 1;
        }
        bool Ended = WaitForSingleObject(Process.hProcess, 60000) == WAIT_OBJECT_0;
        Release(Process);
        if (!Ended || Block->PaintedAt == 0)
        {
            std::fprintf(stderr, "launcher: %s did not paint and end\n", Exe);
            return 1;
        }
        std::printf("%.0f\n", Microseconds(Block->PaintedAt - Before.QuadPart));
        std::fflush(stdout);
    }
    return 0;
}

// The largest run of free addresses in the process's user address space, however wide it is:
// the query fails past its end.
unsigned long long LargestFreeBlock(HANDLE Process)
{
    unsigned long long Largest = 0;
    MEMORY_BASIC_INFORMATION Region;
    for (uintptr_t Address = 0; VirtualQueryEx(Process, reinterpret_cast<void*>(Address), &Region, sizeof(Region));)
    {
        if (Region.State == MEM_FREE && Region.RegionSize > Largest)
            Largest = Region.RegionSize;
        // The last region may end at the top of the addresses this launcher can name.
        if (Region.RegionSize == 0 || Address + Region.RegionSize < Address)
            break;
        Address += Region.RegionSize;
    }
    return Largest;
}

int Print(const char* Exe, const char* Queue, bool BitmapMode)
{
    PROCESS_INFORMATION Process;
    if (!Start(Exe, Process))
    {
        std::fprintf(stderr, "launcher: cannot start %s\n", Exe);
        return 1;
    }
    HWND Main = nullptr;
    WaitFor([&] { return (Main = FindProcessWindow(Process.dwProcessId, MainClass)) != nullptr; }, Patience);
    if (!Main || !Synchronise(Main, Patience))
    {
        std::fprintf(stderr, "launcher: no main window\n");
        return 1;
    }
    if (BitmapMode)
    {
        PostMessageA(Main, WM_COMMAND, MAKEWPARAM(IDM_MODE_BITMAP, 0), 0);
        Synchronise(Main, Patience);
    }
    PostMessageA(Main, WM_COMMAND, MAKEWPARAM(IDM_PRINT, 0), 0);
    HWND Dialog = nullptr;
    WaitFor([&] { return (Dialog = FindProcessWindow(Process.dwProcessId, "#32770")) != nullptr; }, Patience);
    // The dialog fills its controls after it shows; it is ready once it takes messages.
    if (!Dialog || !Synchronise(Dialog, Patience) || !PickPrinter(Dialog, Queue))
    {
        std::fprintf(stderr, "launcher: no Print dialog or no queue %s in it\n", Queue);
        TerminateProcess(Process.hProcess, 1);
        return 1;
    }

    LARGE_INTEGER Pressed, Done;
    long long PressedAt = WallClockMicroseconds();
    QueryPerformanceCounter(&Pressed);
    PostMessageA(GetDlgItem(Dialog, IDOK), BM_CLICK, 0, 0);
    // The job has left the program when its window is enabled again with no dialog open and its
    // thread is back in the message loop.
    auto Idle = [&] {
        return !IsWindow(Dialog) && IsWindowEnabled(Main) && !FindProcessWindow(Process.dwProcessId, "#32770");
    };
    // A job that ends in the program's message box: its text is noted and the box answered.
    HWND Box = nullptr;
    auto MessageShown = [&] {
        return (Box = FindProcessWindow(Process.dwProcessId, "#32770", IsMessageBox)) != nullptr;
    };
    bool Finished = WaitFor([&] { return MessageShown() || (Idle() && Synchronise(Main, Patience) && Idle()); },
                            Patience);
    QueryPerformanceCounter(&Done);
    std::string Message = "-";
    if (Box)
    {
        Message = MessageText(Box);
        PostMessageA(GetDlgItem(Box, IDOK), BM_CLICK, 0, 0);
        Finished = WaitFor([&] { return Idle() && Synchronise(Main, Patience) && Idle(); }, Patience);
    }

    PROCESS_MEMORY_COUNTERS Memory = {};
    Memory.cb = sizeof(Memory);
    GetProcessMemoryInfo(Process.hProcess, &Memory, sizeof(Memory));
    unsigned long long FreeBlock = LargestFreeBlock(Process.hProcess);
    PostMessageA(Main, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
    if (WaitForSingleObject(Process.hProcess, 30000) != WAIT_OBJECT_0)
        TerminateProcess(Process.hProcess, 1);
    Release(Process);
    if (!Finished)
    {
        std::fprintf(stderr, "launcher: the job did not finish\n");
        return 1;
    }
    std::printf("%lld %.0f %llu %llu %s\n", PressedAt, Microseconds(Done.QuadPart - Pressed.QuadPart),
                static_cast<unsigned long long>(Memory.PeakWorkingSetSize), FreeBlock, Message.c_str());
    return 0;
}

}  // namespace

int main(int Argc, char** Argv)
{
    if (Argc == 4 && std::strcmp(Argv[1], "startup") == 0)
        return Startup(Argv[2], std::atoi(Argv[3]));
    if (Argc == 5 && std::strcmp(Argv[1], "print") == 0)
        return Print(Argv[2], Argv[3], std::strcmp(Argv[4], "bitmap") == 0);
    std::fprintf(stderr, "usage: launcher startup EXE RUNS | print EXE QUEUE direct|bitmap\n");
    return 2;
}
