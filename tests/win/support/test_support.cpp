#include "test_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/shell_state.h"

const char QueueShort[] = "PTQUEUE";
const char QueueLong[] = "PRINT_TEST_QUEUE_WITH_A_NAME_OF_45_CHARACTERS";
const char Queue600[] = "PTQUEUE600";
const char Queue2400[] = "PTQUEUE2400";
const char Queue30[] = "PT_A_NAME_OF_THIRTY_CHARACTERS";
const char Queue31[] = "APT_A_NAME_OF_THIRTY_CHARACTERS";
const char QueueRejecting[] = "PTREJECT";

namespace
{
bool Dark(uint32_t Colour)
{
    int R = (Colour >> 16) & 0xFF, G = (Colour >> 8) & 0xFF, B = Colour & 0xFF;
    return R + G + B < 3 * 128;
}
}

DibCanvas::DibCanvas(int W, int H, uint32_t Fill) : Width(W), Height(H)
{
    BITMAPINFO Info = {};
    Info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    Info.bmiHeader.biWidth = W;
    Info.bmiHeader.biHeight = -H;
    Info.bmiHeader.biPlanes = 1;
    Info.bmiHeader.biBitCount = 32;
    Info.bmiHeader.biCompression = BI_RGB;
    void* Memory = nullptr;
    Bitmap = CreateDIBSection(nullptr, &Info, DIB_RGB_COLORS, &Memory, nullptr, 0);
    Bits = static_cast<uint32_t*>(Memory);
    Dc = CreateCompatibleDC(nullptr);
    OldBitmap = SelectObject(Dc, Bitmap);
    for (int I = 0; I < W * H; ++I)
        Bits[I] = Fill;
}

DibCanvas::~DibCanvas()
{
    SelectObject(Dc, OldBitmap);
    DeleteDC(Dc);
    DeleteObject(Bitmap);
}

bool DibCanvas::IsInk(int X, int Y) const { return Dark(At(X, Y)); }
bool Pixels::IsInk(int X, int Y) const { return Dark(At(X, Y)); }

Pixels ReadBitmap(HDC AnyDc, HBITMAP Bitmap)
{
    BITMAP Info = {};
    GetObjectA(Bitmap, sizeof(Info), &Info);
    Pixels Result;
    Result.Width = Info.bmWidth;
    Result.Height = Info.bmHeight;
    Result.Bits.resize(static_cast<size_t>(Info.bmWidth) * Info.bmHeight);
    BITMAPINFO Header = {};
    Header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    Header.bmiHeader.biWidth = Info.bmWidth;
    Header.bmiHeader.biHeight = -Info.bmHeight;
    Header.bmiHeader.biPlanes = 1;
    Header.bmiHeader.biBitCount = 32;
    Header.bmiHeader.biCompression = BI_RGB;
    GetDIBits(AnyDc, Bitmap, 0, Info.bmHeight, Result.Bits.data(), &Header, DIB_RGB_COLORS);
    return Result;
}

Pixels ReadWindowClient(HWND Window)
{
    RECT Client;
    GetClientRect(Window, &Client);
    HDC WindowDc = GetDC(Window);
    HDC Copy = CreateCompatibleDC(WindowDc);
    HBITMAP Bitmap = CreateCompatibleBitmap(WindowDc, Client.right, Client.bottom);
    HGDIOBJ Old = SelectObject(Copy, Bitmap);
    BitBlt(Copy, 0, 0, Client.right, Client.bottom, WindowDc, 0, 0, SRCCOPY);
    SelectObject(Copy, Old);
    Pixels Result = ReadBitmap(Copy, Bitmap);
    DeleteDC(Copy);
    DeleteObject(Bitmap);
    ReleaseDC(Window, WindowDc);
    return Result;
}

void ResetProgram()
{
    ClearProgramData();
    FontFace = "Arial";
}

HWND OpenMainWindow(int ShowCommand)
{
    HINSTANCE Instance = GetModuleHandleA(nullptr);
    RegisterMainWindowClass(Instance);
    HWND Window = CreateMainWindow(Instance);
    ShowWindow(Window, ShowCommand);
    UpdateWindow(Window);
    PumpMessages();
    return Window;
}

void PumpMessages(int Milliseconds)
{
    DWORD End = GetTickCount() + Milliseconds;
    do
    {
        MSG Message;
        while (PeekMessageA(&Message, nullptr, 0, 0, PM_REMOVE))
        {
            TranslateMessage(&Message);
            DispatchMessageA(&Message);
        }
        Sleep(5);
    } while (static_cast<int>(End - GetTickCount()) > 0);
}

bool PumpUntil(const std::function<bool()>& Done, int Milliseconds)
{
    DWORD End = GetTickCount() + Milliseconds;
    while (!Done())
    {
        if (static_cast<int>(End - GetTickCount()) <= 0)
            return Done();
        PumpMessages(10);
    }
    return true;
}

DialogDriver::DialogDriver(std::function<void(HWND)> Act, DWORD ProcessId, std::function<bool(HWND)> Wanted)
{
    Worker = std::thread([this, Act, ProcessId, Wanted] {
        HWND Dialog = nullptr;
        WaitFor([&] { return Stop || (Dialog = FindProcessWindow(ProcessId, "#32770", Wanted)) != nullptr; }, 30000);
        if (!Dialog)
            return;
        // A dialog is shown once initialised; answered once its thread takes messages in its
        // modal loop.
        if (!Synchronise(Dialog, 30000))
            return;
        Act(Dialog);
        Done = true;
    });
}

bool DialogDriver::Acted()
{
    Stop = true;
    if (Worker.joinable())
        Worker.join();
    return Done;
}

DialogDriver::~DialogDriver() { Acted(); }

void PressButton(HWND Dialog, int ButtonId)
{
    SendMessageA(GetDlgItem(Dialog, ButtonId), BM_CLICK, 0, 0);
}

std::string FixturePath(const char* Variable)
{
    const char* Value = std::getenv(Variable);
    return Value ? Value : "";
}

namespace
{

const char* const FixtureQueues[] = {QueueShort, QueueLong, Queue600, Queue2400, Queue30, Queue31, QueueRejecting};

bool PrinterListed(const std::vector<std::string>& Names, const char* Name)
{
    for (const std::string& Listed : Names)
        if (Listed == Name)
            return true;
    return false;
}

std::vector<std::string> InstalledPrinters()
{
    DWORD Needed = 0, Returned = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &Needed, &Returned);
    std::vector<BYTE> Block(Needed + sizeof(PRINTER_INFO_4A));
    std::vector<std::string> Names;
    if (!EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, Block.data(), static_cast<DWORD>(Block.size()), &Needed,
                       &Returned))
        return Names;
    const PRINTER_INFO_4A* Info = reinterpret_cast<const PRINTER_INFO_4A*>(Block.data());
    for (DWORD Index = 0; Index < Returned; ++Index)
        Names.push_back(Info[Index].pPrinterName ? Info[Index].pPrinterName : "");
    return Names;
}

// Wine brings its printer list in line with the scheduler while a process starts, and not at
// once: every test program first waits until it sees the fixture's queues, or none of them when
// it runs against the empty scheduler.
class SpoolerReady : public ::testing::Environment
{
public:
    void SetUp() override
    {
        bool Empty = FixturePath("CUPS_SERVER").find("cups-empty") != std::string::npos;
        for (int Try = 0; Try < 600; ++Try)
        {
            std::vector<std::string> Names = InstalledPrinters();
            bool AllListed = std::all_of(std::begin(FixtureQueues), std::end(FixtureQueues),
                                         [&Names](const char* Queue) { return PrinterListed(Names, Queue); });
            bool Ready = Empty ? Names.empty() : AllListed;
            if (Ready)
                return;
            Sleep(50);
        }
    }
};

const ::testing::Environment* const Spooler = ::testing::AddGlobalTestEnvironment(new SpoolerReady);

// Unbuffered, so that a test killed for hanging still shows how far it got.
const int OutputUnbuffered = std::setvbuf(stdout, nullptr, _IONBF, 0);

}  // namespace
