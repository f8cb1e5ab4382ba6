// The test page drawn on real device contexts: pixels read back from DIB sections and from the
// off-screen pages the renderer hands out, and the GDI record of an enhanced metafile.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <vector>

#include "app/shell_state.h"
#include "render/draw_test_page.h"
#include "render/page_geometry.h"
#include "test_support.h"

namespace
{

class DrawTestPageTest : public ::testing::Test
{
protected:
    void SetUp() override { ResetProgram(); }

    int Draw(HDC Target, HDC& DrawDc, HBITMAP& PageBitmap, RECT Page, int Mode,
             std::string Text = DirectModeCaption)
    {
        return DrawTestPage(Target, DrawDc, PageBitmap, Page, Text, Mode);
    }
};

TEST_F(DrawTestPageTest, DirectModeDrawsThePageOnAScreenCompatibleDib)
{
    DibCanvas Canvas(800, 600);
    ASSERT_EQ(GetDeviceCaps(Canvas.Dc, LOGPIXELSX), 96);
    HDC DrawDc = reinterpret_cast<HDC>(0x1234);
    HBITMAP Sentinel = reinterpret_cast<HBITMAP>(0x5678);
    EXPECT_EQ(Draw(Canvas.Dc, DrawDc, Sentinel, {0, 0, 800, 600}, PRINT_MODE_DIRECT), 0);
    EXPECT_EQ(DrawDc, nullptr);
    EXPECT_EQ(Sentinel, reinterpret_cast<HBITMAP>(0x5678));
    ExpectTestPage(Canvas, 96);
}

TEST_F(DrawTestPageTest, BitmapModeGivesTheSamePictureAsDirectMode)
{
    DibCanvas Direct(640, 480);
    HDC Unused = nullptr;
    HBITMAP None = nullptr;
    Draw(Direct.Dc, Unused, None, {0, 0, 640, 480}, PRINT_MODE_DIRECT, BitmapModeCaption);

    HDC Screen = nullptr;
    HDC PageDc = nullptr;
    HBITMAP PageBitmap = nullptr;
    Draw(Screen, PageDc, PageBitmap, {0, 0, 640, 480}, PRINT_MODE_BITMAP, BitmapModeCaption);
    ASSERT_TRUE(IsLiveObject(PageDc));
    ASSERT_TRUE(IsLiveObject(PageBitmap));
    EXPECT_EQ(GetObjectType(PageDc), static_cast<DWORD>(OBJ_MEMDC));
    EXPECT_EQ(GetCurrentObject(PageDc, OBJ_BITMAP), PageBitmap);

    BITMAP Info = {};
    GetObjectA(PageBitmap, sizeof(Info), &Info);
    EXPECT_EQ(Info.bmWidth, 640);
    EXPECT_EQ(Info.bmHeight, 480);
    HDC ScreenDc = GetDC(nullptr);
    EXPECT_EQ(Info.bmBitsPixel, GetDeviceCaps(ScreenDc, BITSPIXEL)) << "not the screen's colour format";
    ReleaseDC(nullptr, ScreenDc);

    Pixels Cached = ReadBitmap(PageDc, PageBitmap);
    int Different = 0;
    for (int Y = 0; Y < 480; ++Y)
        for (int X = 0; X < 640; ++X)
            Different += Cached.At(X, Y) != Direct.At(X, Y);
    EXPECT_EQ(Different, 0);
    ExpectTestPage(Cached, 96);
    DeleteDC(PageDc);
    DeleteObject(PageBitmap);
}

TEST_F(DrawTestPageTest, BitmapModeFillsWhiteAndNeverReleasesWhatTheCallerHeld)
{
    HDC Screen = nullptr;
    HDC FirstDc = nullptr;
    HBITMAP FirstBitmap = nullptr;
    Draw(Screen, FirstDc, FirstBitmap, {0, 0, 300, 200}, PRINT_MODE_BITMAP);
    HDC SecondDc = FirstDc;
    HBITMAP SecondBitmap = FirstBitmap;
    Draw(Screen, SecondDc, SecondBitmap, {0, 0, 300, 200}, PRINT_MODE_BITMAP);

    EXPECT_NE(SecondDc, FirstDc);
    EXPECT_NE(SecondBitmap, FirstBitmap);
    EXPECT_TRUE(IsLiveObject(FirstDc));
    EXPECT_TRUE(IsLiveObject(FirstBitmap));
    EXPECT_EQ(GetCurrentObject(FirstDc, OBJ_BITMAP), FirstBitmap);

    // White where the page draws nothing: between the border, the diagonals and the ellipse.
    Pixels Page = ReadBitmap(SecondDc, SecondBitmap);
    EXPECT_EQ(Page.At(150, 30), 0xFFFFFFu);
    EXPECT_EQ(Page.At(100, 185), 0xFFFFFFu);
    for (HDC Dc : {FirstDc, SecondDc})
        DeleteDC(Dc);
    for (HBITMAP Bitmap : {FirstBitmap, SecondBitmap})
        DeleteObject(Bitmap);
}

TEST_F(DrawTestPageTest, BitmapModeWithAPageAwayFromTheOriginKeepsItsCoordinates)
{
    HDC Screen = nullptr;
    HDC PageDc = nullptr;
    HBITMAP PageBitmap = nullptr;
    Draw(Screen, PageDc, PageBitmap, {100, 50, 500, 350}, PRINT_MODE_BITMAP);
    Pixels Page = ReadBitmap(PageDc, PageBitmap);
    EXPECT_EQ(Page.Width, 400);
    EXPECT_EQ(Page.Height, 300);
    // The border's left side lies at x 103, its top at y 53, in the bitmap's own coordinates.
    auto Left = InkRunInRow(Page, 280);
    EXPECT_NEAR(Left.first + Left.second / 2.0, 103, 1.0);
    auto Top = InkRunInColumn(Page, 350);
    EXPECT_NEAR(Top.first + Top.second / 2.0, 53, 1.0);
    DeleteDC(PageDc);
    DeleteObject(PageBitmap);
}

TEST_F(DrawTestPageTest, TextWiderOrTallerThanThePageIsClippedToIt)
{
    // 48-point text is far wider than 200 pixels and taller than 40.
    for (RECT Page : {RECT{20, 0, 220, 400}, RECT{0, 30, 600, 70}})
    {
        DibCanvas Canvas(640, 480);
        HDC Unused = nullptr;
        HBITMAP None = nullptr;
        Draw(Canvas.Dc, Unused, None, Page, PRINT_MODE_DIRECT);
        for (int Y = 0; Y < Canvas.Height; ++Y)
            for (int X = 0; X < Canvas.Width; ++X)
            {
                if (X < Page.left || X >= Page.right + 1 || Y < Page.top || Y >= Page.bottom + 1)
                {
                    ASSERT_FALSE(Canvas.IsInk(X, Y)) << X << "," << Y << " lies outside the page";
                }
            }
    }
}

TEST_F(DrawTestPageTest, TextLineIsCentredInTheFontOfTheResolution)
{
    DibCanvas Canvas(900, 500);
    HDC Unused = nullptr;
    HBITMAP None = nullptr;
    std::string Text = DirectModeCaption;
    Draw(Canvas.Dc, Unused, None, {0, 0, 900, 500}, PRINT_MODE_DIRECT, Text);

    LOGFONTA Font = {};
    Font.lfHeight = -64;
    Font.lfWeight = FW_NORMAL;
    Font.lfCharSet = DEFAULT_CHARSET;
    lstrcpyA(Font.lfFaceName, "Arial");
    HFONT Measure = CreateFontIndirectA(&Font);
    HGDIOBJ Old = SelectObject(Canvas.Dc, Measure);
    SIZE Extent;
    GetTextExtentPoint32A(Canvas.Dc, Text.c_str(), int(Text.size()), &Extent);
    SelectObject(Canvas.Dc, Old);
    DeleteObject(Measure);
    TextBox Box = CentreTextBox(0, 0, 900, 500, Extent.cx, Extent.cy);

    // Inside the opaque box only the glyphs are dark; the box hides the diagonals there.
    int MinX = 900, MaxX = -1;
    for (int Y = Box.top + 2; Y < Box.bottom - 2; ++Y)
        for (int X = Box.left; X < Box.right; ++X)
            if (Canvas.IsInk(X, Y))
            {
                MinX = std::min(MinX, X);
                MaxX = std::max(MaxX, X);
            }
    ASSERT_LT(MinX, MaxX);
    EXPECT_NEAR((MinX + MaxX) / 2.0, 450, 6.0);
    EXPECT_GT(MaxX - MinX, Extent.cx * 9 / 10);
    // White just inside the box's corners, where the diagonals would otherwise cross it.
    EXPECT_FALSE(Canvas.IsInk(Box.left + 1, Box.top + 1));
}

// A memory DC made for a 600 dpi printer measures in printer pixels: the page drawn there has
// the printer's insets and pens.
TEST_F(DrawTestPageTest, BitmapModeOnAPrinterFollowsItsResolution)
{
    HDC Printer = CreateDCA("WINEPS.DRV", Queue600, nullptr, nullptr);
    ASSERT_NE(Printer, nullptr) << "no 600 dpi queue";
    ASSERT_EQ(GetDeviceCaps(Printer, LOGPIXELSX), 600);
    HDC PageDc = nullptr;
    HBITMAP PageBitmap = nullptr;
    Draw(Printer, PageDc, PageBitmap, {0, 0, 3000, 2000}, PRINT_MODE_BITMAP);
    ASSERT_TRUE(IsLiveObject(PageDc));
    EXPECT_EQ(GetDeviceCaps(PageDc, LOGPIXELSX), 600);
    Pixels Page = ReadBitmap(PageDc, PageBitmap);
    EXPECT_EQ(Page.Width, 3000);
    ExpectTestPage(Page, 600);
    DeleteDC(PageDc);
    DeleteObject(PageBitmap);
    DeleteDC(Printer);
}

// The renderer's GDI sequence, as an enhanced metafile records it: every pen and font it
// creates is selected out again before it is deleted, and nothing it creates is left over.
int CALLBACK CollectRecord(HDC, HANDLETABLE*, const ENHMETARECORD* Record, int, LPARAM Param)
{
    reinterpret_cast<std::vector<std::vector<DWORD>>*>(Param)->emplace_back(
        Record->dParm, Record->dParm + (Record->nSize - 8) / 4);
    reinterpret_cast<std::vector<std::vector<DWORD>>*>(Param)->back().insert(
        reinterpret_cast<std::vector<std::vector<DWORD>>*>(Param)->back().begin(), Record->iType);
    return 1;
}

TEST_F(DrawTestPageTest, EveryObjectItCreatesIsRestoredAndDeleted)
{
    HDC Metafile = CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr);
    HDC Unused = nullptr;
    HBITMAP None = nullptr;
    HGDIOBJ PenBefore = GetCurrentObject(Metafile, OBJ_PEN);
    HGDIOBJ FontBefore = GetCurrentObject(Metafile, OBJ_FONT);
    HGDIOBJ BrushBefore = GetCurrentObject(Metafile, OBJ_BRUSH);
    Draw(Metafile, Unused, None, {0, 0, 800, 600}, PRINT_MODE_DIRECT);
    EXPECT_EQ(GetCurrentObject(Metafile, OBJ_PEN), PenBefore);
    EXPECT_EQ(GetCurrentObject(Metafile, OBJ_FONT), FontBefore);
    EXPECT_EQ(GetCurrentObject(Metafile, OBJ_BRUSH), BrushBefore);
    EXPECT_EQ(GetMapMode(Metafile), MM_TEXT);
    HENHMETAFILE Recorded = CloseEnhMetaFile(Metafile);

    std::vector<std::vector<DWORD>> Records;
    EnumEnhMetaFile(nullptr, Recorded, CollectRecord, &Records, nullptr);
    DeleteEnhMetaFile(Recorded);

    // Which of our objects is selected, per kind, with the DC's saved states.
    enum Kind { Pen, Font };
    std::map<DWORD, Kind> Ours;
    std::map<Kind, DWORD> Selected;
    std::vector<std::map<Kind, DWORD>> Saved;
    const DWORD Stock = 0x80000000u;
    int Created = 0;
    for (const auto& Record : Records)
    {
        DWORD Type = Record[0];
        if (Type == EMR_CREATEPEN || Type == EMR_EXTCREATEFONTINDIRECTW)
        {
            Ours[Record[1]] = Type == EMR_CREATEPEN ? Pen : Font;
            ++Created;
        }
        else if (Type == EMR_SELECTOBJECT && Ours.count(Record[1]))
        {
            Selected[Ours[Record[1]]] = Record[1];
        }
        else if (Type == EMR_SELECTOBJECT && (Record[1] & Stock))
        {
            DWORD StockId = Record[1] & ~Stock;
            bool IsPen = StockId == WHITE_PEN || StockId == BLACK_PEN || StockId == NULL_PEN || StockId == DC_PEN;
            bool IsFont = StockId >= OEM_FIXED_FONT && StockId <= DEFAULT_GUI_FONT && StockId != DEFAULT_PALETTE;
            if (IsPen)
                Selected.erase(Pen);
            if (IsFont)
                Selected.erase(Font);
        }
        else if (Type == EMR_SAVEDC)
            Saved.push_back(Selected);
        else if (Type == EMR_RESTOREDC && !Saved.empty())
        {
            Selected = Saved.back();
            Saved.pop_back();
        }
        else if (Type == EMR_DELETEOBJECT)
        {
            ASSERT_TRUE(Ours.count(Record[1]));
            Kind ItsKind = Ours[Record[1]];
            EXPECT_FALSE(Selected.count(ItsKind) && Selected[ItsKind] == Record[1])
                << "object " << Record[1] << " deleted while selected";
            Ours.erase(Record[1]);
        }
    }
    EXPECT_TRUE(Saved.empty()) << "SaveDC without RestoreDC";
    EXPECT_EQ(Created, 3) << "two pens and one font";
    EXPECT_TRUE(Ours.empty()) << Ours.size() << " objects never deleted";
}

}  // namespace
