#pragma once

#include <windows.h>
#include <winspool.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "render/page_geometry.h"
#include "tools/winauto/winauto.h"

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

// Runs Act on the first dialog ("#32770") of ProcessId that appears and that Wanted accepts (any
// when none is given), from a second thread, the way a user would answer a modal dialog that the
// test thread is blocked in.
class DialogDriver
{
public:
    explicit DialogDriver(std::function<void(HWND)> Act, DWORD ProcessId = GetCurrentProcessId(),
                          std::function<bool(HWND)> Wanted = nullptr);
    ~DialogDriver();
    // Whether it acted, once its thread has finished: the dialog has been answered, or none is
    // looked for any more.
    bool Acted();

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
extern const char Queue2400[];
extern const char Queue30[];
extern const char Queue31[];
extern const char QueueRejecting[];

// A folder of the test fixture: the environment variable's value.
std::string FixturePath(const char* Variable);

// True when the GDI handle still names a live object.
inline bool IsLiveObject(HGDIOBJ Object) { return Object && GetObjectType(Object) != 0; }

// The geometry every page must show, measured on any picture of a W x H page at (0, 0).
template <typename Image> void ExpectTestPage(const Image& Picture, int Dpi)
{
    PageMetrics Metrics = ComputePageMetrics(Dpi, Dpi);
    int W = Picture.Width, H = Picture.Height;

    // The border: a 2 * ix wide line centred on the inset, on all four sides.
    auto Top = InkRunInColumn(Picture, W / 8);
    EXPECT_NEAR(Top.first + Top.second / 2.0, Metrics.InsetY, 1.0);
    EXPECT_NEAR(Top.second, 2 * Metrics.InsetY, 1);
    auto Left = InkRunInRow(Picture, H / 8 * 7);
    EXPECT_NEAR(Left.first + Left.second / 2.0, Metrics.InsetX, 1.0);
    EXPECT_NEAR(Left.second, 2 * Metrics.InsetX, 1);
    int RightEdge = W - 1;
    while (!Picture.IsInk(RightEdge, H / 8 * 7))
        --RightEdge;
    EXPECT_NEAR(RightEdge, W - 1, 1);
    int BottomEdge = H - 1;
    while (!Picture.IsInk(W / 8, BottomEdge))
        --BottomEdge;
    EXPECT_NEAR(BottomEdge, H - 1, 1);

    // The diagonals, corner to corner of the border, outside the ellipse.
    for (int X : {W / 10, W - W / 10})
    {
        int Ix = Metrics.InsetX, Iy = Metrics.InsetY;
        double Y1 = Iy + (X - Ix) * double(H - 2 * Iy) / (W - 2 * Ix);
        double Y2 = Iy + ((W - Ix) - X) * double(H - 2 * Iy) / (W - 2 * Ix);
        EXPECT_TRUE(Picture.IsInk(X, int(Y1 + 0.5))) << "first diagonal at x " << X;
        EXPECT_TRUE(Picture.IsInk(X, int(Y2 + 0.5))) << "second diagonal at x " << X;
    }

    // The ellipse spans the middle half: its outline crosses the centre column at H/4 and
    // 3H/4, with a pen of p - 1 device pixels.
    auto Upper = InkRunInColumn(Picture, W / 2, Metrics.InsetY * 3);
    EXPECT_NEAR(Upper.first + Upper.second / 2.0, H / 4.0, 2.0);
    EXPECT_NEAR(Upper.second, Metrics.ProbeX - 1, 1);
    auto Side = InkRunInRow(Picture, H / 2 - H / 5, W / 8);
    EXPECT_GT(Side.first, W / 4 - 2);
    // Its interior is filled white: the diagonals stop at its outline.
    EXPECT_FALSE(Picture.IsInk(W / 2 - W / 16, H / 2 - H / 8 + H / 32));
}
