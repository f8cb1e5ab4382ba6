#include "render/draw_test_page.h"

#include <cstdlib>
#include <cstring>

#include "common/program_names.h"
#include "render/page_geometry.h"

namespace
{

const int WindowExtent = 1000;  // logical half-page of the figure's centred space
const int EllipseHalf = 500;    // the ellipse spans the middle half of the page

// Makes the off-screen page: a memory DC compatible with the target (or the screen) holding a
// white bitmap of W x H in the target's colour format.
void CreatePageBitmap(HDC& hTargetDC, HDC& hDrawDC, HBITMAP& hPageBitmap, int Width, int Height)
{
    hDrawDC = CreateCompatibleDC(hTargetDC);
    bool BorrowedScreen = false;
    if (!hTargetDC)
    {
        hTargetDC = GetDC(nullptr);
        BorrowedScreen = true;
    }
    // Compatible with the target, not with the memory DC, which would make it monochrome.
    hPageBitmap = CreateCompatibleBitmap(hTargetDC, Width, Height);
    if (BorrowedScreen)
        ReleaseDC(nullptr, hTargetDC);

    SelectObject(hDrawDC, hPageBitmap);
    HGDIOBJ OldBrush = SelectObject(hDrawDC, GetStockObject(WHITE_BRUSH));
    PatBlt(hDrawDC, 0, 0, Width, Height, PATCOPY);
    SelectObject(hDrawDC, OldBrush);
}

void DrawBorderAndDiagonals(HDC Dc, const RECT& Page, const PageMetrics& Metrics)
{
    int Ix = Metrics.InsetX;
    int Iy = Metrics.InsetY;
    HPEN BorderPen = CreatePen(PS_SOLID, 2 * Ix, RGB(0, 0, 0));
    HGDIOBJ OldPen = SelectObject(Dc, BorderPen);
    Rectangle(Dc, Page.left + Ix, Page.top + Iy, Page.right - Ix + 1, Page.bottom - Iy + 1);
    MoveToEx(Dc, Page.left + Ix, Page.top + Iy, nullptr);
    LineTo(Dc, Page.right - Ix, Page.bottom - Iy);
    MoveToEx(Dc, Page.right - Ix, Page.top + Iy, nullptr);
    LineTo(Dc, Page.left + Ix, Page.bottom - Iy);
    SelectObject(Dc, OldPen);
    DeleteObject(BorderPen);
}

// Draws the ellipse in a 1000 x 1000 space centred on the page with y upward. Its pen is measured
// in that space so that it is ProbeX - 1 device pixels wide.
void DrawEllipse(HDC Dc, const RECT& Page, const PageMetrics& Metrics)
{
    int HalfWidth = (Page.right - Page.left) / 2;
    int HalfHeight = (Page.bottom - Page.top) / 2;

    SaveDC(Dc);
    SetMapMode(Dc, MM_ANISOTROPIC);
    SetWindowExtEx(Dc, WindowExtent, WindowExtent, nullptr);
    SetViewportExtEx(Dc, HalfWidth, -HalfHeight, nullptr);
    SetViewportOrgEx(Dc, Page.left + HalfWidth, Page.top + HalfHeight, nullptr);

    POINT Probe[2] = {{1, 1}, {Metrics.ProbeX, 1}};
    DPtoLP(Dc, Probe, 2);
    HPEN EllipsePen = CreatePen(PS_SOLID, std::abs(Probe[1].x - Probe[0].x), RGB(0, 0, 0));
    HGDIOBJ OldPen = SelectObject(Dc, EllipsePen);
    Ellipse(Dc, -EllipseHalf, -EllipseHalf, EllipseHalf, EllipseHalf);
    RestoreDC(Dc, -1);

    SelectObject(Dc, OldPen);
    DeleteObject(EllipsePen);
}

void DrawCentredText(HDC Dc, const RECT& Page, const PageMetrics& Metrics, const std::string& Text)
{
    LOGFONTA Font = {};
    Font.lfHeight = Metrics.FontHeight;
    Font.lfWeight = FW_NORMAL;
    Font.lfCharSet = DEFAULT_CHARSET;
    std::strncpy(Font.lfFaceName, FontFace.c_str(), LF_FACESIZE - 1);

    HFONT TextFont = CreateFontIndirectA(&Font);
    HGDIOBJ OldFont = SelectObject(Dc, TextFont);
    SetTextColor(Dc, RGB(0, 0, 0));

    int Length = static_cast<int>(Text.size());
    SIZE Extent = {};
    GetTextExtentPoint32A(Dc, Text.c_str(), Length, &Extent);
    TextBox Box = CentreTextBox(Page.left, Page.top, Page.right, Page.bottom, Extent.cx, Extent.cy);
    RECT Clip = {Box.left, Box.top, Box.right, Box.bottom};
    ExtTextOutA(Dc, Box.left, Box.top, ETO_OPAQUE | ETO_CLIPPED, &Clip, Text.c_str(),
                static_cast<UINT>(Length), nullptr);

    SelectObject(Dc, OldFont);
    DeleteObject(TextFont);
}

}  // namespace

int DrawTestPage(HDC& hTargetDC, HDC& hDrawDC, HBITMAP& hPageBitmap, RECT& PageRect,
                 std::string& PageText, int& PrintMode)
{
    if (PrintMode == PRINT_MODE_BITMAP)
        CreatePageBitmap(hTargetDC, hDrawDC, hPageBitmap, PageRect.right - PageRect.left,
                         PageRect.bottom - PageRect.top);
    else
        hDrawDC = hTargetDC;

    HDC Dc = hDrawDC;
    SetBkMode(Dc, OPAQUE);
    PageMetrics Metrics = ComputePageMetrics(GetDeviceCaps(Dc, LOGPIXELSX), GetDeviceCaps(Dc, LOGPIXELSY));
    DrawBorderAndDiagonals(Dc, PageRect, Metrics);
    DrawEllipse(Dc, PageRect, Metrics);
    SetBkMode(Dc, OPAQUE);
    DrawCentredText(Dc, PageRect, Metrics, PageText);

    if (PrintMode != PRINT_MODE_BITMAP)
        hDrawDC = nullptr;
    return 0;
}
