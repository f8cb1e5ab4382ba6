// The floors of the printing figures: a one-page job on the queue named by the first argument.
// With no second argument the page holds one rectangle drawn on the printer; with "bitmap" it is
// what a Bitmap job must do at the least: a bitmap compatible with the printer, of the program's
// page (the whole sheet, as with the zero margins it starts with), filled white, one rectangle
// drawn into it, copied onto the page with one BitBlt. Prints the wall-clock time at which the
// job began (microseconds since 1970), the process's peak working set in bytes, and the DC's
// resolution.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>

#include "bench/wall_clock.h"

namespace
{

bool DrawBitmapPage(HDC Printer, int Dpi)
{
    int Width = GetDeviceCaps(Printer, PHYSICALWIDTH);
    int Height = GetDeviceCaps(Printer, PHYSICALHEIGHT);
    HDC Memory = CreateCompatibleDC(Printer);
    HBITMAP Page = CreateCompatibleBitmap(Printer, Width, Height);
    bool Made = Memory && Page;
    if (Made)
    {
        HGDIOBJ OldBitmap = SelectObject(Memory, Page);
        PatBlt(Memory, 0, 0, Width, Height, WHITENESS);
        Rectangle(Memory, Dpi, Dpi, 2 * Dpi, 2 * Dpi);
        BitBlt(Printer, -GetDeviceCaps(Printer, PHYSICALOFFSETX), -GetDeviceCaps(Printer, PHYSICALOFFSETY), Width,
               Height, Memory, 0, 0, SRCCOPY);
        SelectObject(Memory, OldBitmap);
    }
    if (Memory)
        DeleteDC(Memory);
    if (Page)
        DeleteObject(Page);
    return Made;
}

}  // namespace

int main(int Argc, char** Argv)
{
    if (Argc < 2)
    {
        std::fprintf(stderr, "usage: minimal_job QUEUE [bitmap]\n");
        return 2;
    }
    bool Bitmap = Argc > 2 && std::strcmp(Argv[2], "bitmap") == 0;
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
        if (Bitmap)
            Printed = DrawBitmapPage(Printer, Dpi);
        else
            Rectangle(Printer, Dpi, Dpi, 2 * Dpi, 2 * Dpi);
    }
    if (Printed)
        Printed = EndPage(Printer) > 0 && EndDoc(Printer) > 0;
    else
        AbortDoc(Printer);
    DeleteDC(Printer);
    PROCESS_MEMORY_COUNTERS Memory = {};
    Memory.cb = sizeof(Memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &Memory, sizeof(Memory));
    std::printf("%lld %llu %d\n", Start, static_cast<unsigned long long>(Memory.PeakWorkingSetSize), Dpi);
    return Printed ? 0 : 1;
}
