// The floor of the printing figures: a one-page job with one rectangle on the queue named by the
// first argument. Prints the wall-clock time at which the job began (microseconds since 1970),
// the process's peak working set in bytes, and the DC's resolution.
#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "bench/wall_clock.h"

int main(int Argc, char** Argv)
{
    if (Argc < 2)
    {
        std::fprintf(stderr, "usage: minimal_job QUEUE\n");
        return 2;
    }
    long long Start = WallClockMicroseconds();
    HDC Printer = CreateDCA("WINEPS.DRV", Argv[1], nullptr, nullptr);
    if (!Printer)
    {
        std::fprintf(stderr, "minimal_job: no DC for %s\n", Argv[1]);
        return 1;
    }
    DOCINFOA Document = {};
    Document.cbSize = sizeof(Document);
    Document.lpszDocName = "Minimal Job";
    int Dpi = GetDeviceCaps(Printer, LOGPIXELSX);
    bool Printed = StartDocA(Printer, &Document) > 0 && StartPage(Printer) > 0;
    if (Printed)
    {
        Rectangle(Printer, Dpi, Dpi, 2 * Dpi, 2 * Dpi);
        Printed = EndPage(Printer) > 0 && EndDoc(Printer) > 0;
    }
    DeleteDC(Printer);
    PROCESS_MEMORY_COUNTERS Memory = {};
    Memory.cb = sizeof(Memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &Memory, sizeof(Memory));
    std::printf("%lld %lu %d\n", Start, static_cast<unsigned long>(Memory.PeakWorkingSetSize), Dpi);
    return Printed ? 0 : 1;
}
