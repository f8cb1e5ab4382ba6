#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

// A 32-bit top-down DIB section selected into a memory DC: drawing lands in Bits.
struct DibCanvas
{
    DibCanvas(int Width, int Height, uint32_t Fill = 0x00FFFFFF);
    ~DibCanvas();
    DibCanvas(const DibCanvas&) = delete;
    DibCanvas& operator=(const DibCanvas&) = delete;

    uint32_t At(int X, int Y) const { return Bits[Y * Width + X] & 0x00FFFFFF; }
    bool IsInk(int X, int Y) const;  // dark enough to be the page's black

    int Width;
    int Height;
    HDC Dc;
    HBITMAP Bitmap;
    HGDIOBJ OldBitmap;
    uint32_t* Bits;
};

// Pixels of a bitmap, read back as 32-bit top-down rows whatever its own format.
struct Pixels
{
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Bits;
    uint32_t At(int X, int Y) const { return Bits[static_cast<size_t>(Y) * Width + X] & 0x00FFFFFF; }
    bool IsInk(int X, int Y) const;
};
Pixels ReadBitmap(HDC AnyDc, HBITMAP Bitmap);
Pixels ReadWindowClient(HWND Window);

// Lengths of ink along a row or a column, measured from its start: the first run of ink at or
// after From, as (start, length); (-1, 0) when there is none.
template <typename Image> std::pair<int, int> InkRunInRow(const Image& Picture, int Y, int From = 0)
{
    int X = From;
    while (X < Picture.Width && !Picture.IsInk(X, Y))
        ++X;
    if (X == Picture.Width)
        return {-1, 0};
    int Start = X;
    while (X < Picture.Width && Picture.IsInk(X, Y))
        ++X;
    return {Start, X - Start};
}
template <typename Image> std::pair<int, int> InkRunInColumn(const Image& Picture, int X, int From = 0)
{
    int Y = From;
    while (Y < Picture.Height && !Picture.IsInk(X, Y))
        ++Y;
    if (Y == Picture.Height)
        return {-1, 0};
    int Start = Y;
    while (Y < Picture.Height && Picture.IsInk(X, Y))
        ++Y;
    return {Start, Y - Start};
}

// Clears the program's data and sets the font face as WinMain does.
void ResetProgram();

// The program's main window, made as WinMain makes it, shown and painted.
HWND OpenMainWindow(int ShowCommand = SW_SHOWNORMAL);

// Dispatches this thread's messages for about Milliseconds.
void PumpMessages(int Milliseconds = 50);

// Waits, pumping messages, until Done returns true or Milliseconds pass; returns Done().
bool PumpUntil(const std::function<bool()>& Done, int Milliseconds = 5000);

// Finds a visible top-level window of this process with the given class, 0 when none.
HWND FindOwnWindow(const char* ClassName, DWORD ProcessId = GetCurrentProcessId());

// Runs Act on the first dialog ("#32770") of ProcessId that appears, from a second thread, the
// way a user would answer a modal dialog that the test thread is blocked in.
class DialogDriver
{
public:
    explicit DialogDriver(std::function<void(HWND)> Act, DWORD ProcessId = GetCurrentProcessId());
    ~DialogDriver();
    bool Acted() const { return Done; }
    std::string Title;  // the dialog's caption, as found

private:
    std::thread Worker;
    volatile bool Done = false;
    volatile bool Stop = false;
};

// Presses a button of a dialog as a click would.
void PressButton(HWND Dialog, int ButtonId);

// The names the test fixture gave its queues.
extern const char QueueShort[];
extern const char QueueLong[];
extern const char Queue600[];

// A folder of the test fixture: the environment variable's value.
std::string FixturePath(const char* Variable);

// True when the GDI handle still names a live object.
inline bool IsLiveObject(HGDIOBJ Object) { return Object && GetObjectType(Object) != 0; }
