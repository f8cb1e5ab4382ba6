#include "print/output_printed_page.h"

#include "common/program_names.h"
#include "print/placement_math.h"
#include "render/draw_test_page.h"

namespace
{
// The renderer's off-screen page; both are 0 whenever no page is being output.
HDC PageMemDC;
HBITMAP PageBitmap;
}

int OutputPrintedPage(HDC& PrinterDC, int& PrintMode, std::string& PageText, PAGESETUPDLGA& PageSetup)
{
    PlacementInput In = {};
    In.Flags = PageSetup.Flags;
    In.MarginLeft = PageSetup.rtMargin.left;
    In.MarginTop = PageSetup.rtMargin.top;
    In.MarginRight = PageSetup.rtMargin.right;
    In.MarginBottom = PageSetup.rtMargin.bottom;
    In.DpiX = GetDeviceCaps(PrinterDC, LOGPIXELSX);
    In.DpiY = GetDeviceCaps(PrinterDC, LOGPIXELSY);
    In.PhysicalOffsetX = GetDeviceCaps(PrinterDC, PHYSICALOFFSETX);
    In.PhysicalWidth = GetDeviceCaps(PrinterDC, PHYSICALWIDTH);
    In.PhysicalOffsetY = GetDeviceCaps(PrinterDC, PHYSICALOFFSETY);
    In.PhysicalHeight = GetDeviceCaps(PrinterDC, PHYSICALHEIGHT);

    MarginBox Box = ComputeMarginBox(In);
    PixelRect Rect = ComputeDrawRect(Box, PrintMode);
    RECT DrawRect = {Rect.left, Rect.top, Rect.right, Rect.bottom};

    // In Bitmap mode, margins that leave no room make no page: GDI would give a 1 x 1 monochrome
    // bitmap for a zero size and take a negative one as positive.
    bool Bitmap = PrintMode == PRINT_MODE_BITMAP;
    if (!Bitmap || (Box.Width > 0 && Box.Height > 0))
        DrawTestPage(PrinterDC, PageMemDC, PageBitmap, DrawRect, PageText, PrintMode);
    bool PageMade = PageMemDC && PageBitmap;
    // A page bitmap that could be made may still be too large for the driver to take: at
    // 2400 dpi within one-inch margins the copy fails and would leave the sheet blank.
    if (Bitmap && PageMade)
        PageMade = BitBlt(PrinterDC, Box.Left, Box.Top, Box.Width, Box.Height, PageMemDC, 0, 0, SRCCOPY) != 0;
    int Result = Bitmap && !PageMade ? PAGE_OUTPUT_NO_BITMAP : PAGE_OUTPUT_DRAWN;

    // The bitmap is still selected in the memory DC: the DC goes first.
    if (PageMemDC)
    {
        DeleteDC(PageMemDC);
        PageMemDC = nullptr;
    }
    if (PageBitmap)
    {
        DeleteObject(PageBitmap);
        PageBitmap = nullptr;
    }
    return Result;
}
