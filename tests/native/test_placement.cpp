#include "print/placement_math.h"

#include <climits>

#include <gtest/gtest.h>

namespace
{

PlacementInput LetterAt600(int Margin, unsigned Flags)
{
    PlacementInput In{};
    In.Flags = Flags;
    In.MarginLeft = In.MarginTop = In.MarginRight = In.MarginBottom = Margin;
    In.DpiX = In.DpiY = 600;
    In.PhysicalOffsetX = In.PhysicalOffsetY = 100;
    In.PhysicalWidth = 5100;
    In.PhysicalHeight = 6600;
    return In;
}

void ExpectBox(const MarginBox& Box, int Left, int Top, int Width, int Height)
{
    EXPECT_EQ(Box.Left, Left);
    EXPECT_EQ(Box.Top, Top);
    EXPECT_EQ(Box.Width, Width);
    EXPECT_EQ(Box.Height, Height);
}

void ExpectRect(const PixelRect& Rect, int Left, int Top, int Right, int Bottom)
{
    EXPECT_EQ(Rect.left, Left);
    EXPECT_EQ(Rect.top, Top);
    EXPECT_EQ(Rect.right, Right);
    EXPECT_EQ(Rect.bottom, Bottom);
}

}

TEST(MarginBox, InchMarginsOnALetterPage)
{
    MarginBox Box = ComputeMarginBox(LetterAt600(1000, 0));
    ExpectBox(Box, 500, 500, 3900, 5400);
}

TEST(MarginBox, OnlyBit8SelectsMillimetres)
{
    PlacementInput In = LetterAt600(2540, 0x8);
    In.PhysicalOffsetX = In.PhysicalOffsetY = 0;
    ExpectBox(ComputeMarginBox(In), 600, 600, 5100 - 1200, 6600 - 1200);

    In.Flags = 0x8 | 0x4 | 0x1;
    ExpectBox(ComputeMarginBox(In), 600, 600, 5100 - 1200, 6600 - 1200);

    // The thousandths bit, or none, both mean thousandths of an inch.
    PlacementInput Inches = LetterAt600(1000, 0x4);
    ExpectBox(ComputeMarginBox(Inches), 500, 500, 3900, 5400);
    Inches.Flags = 0x7;
    ExpectBox(ComputeMarginBox(Inches), 500, 500, 3900, 5400);
}

TEST(MarginBox, HalfPixelsRoundToEven)
{
    PlacementInput In{};
    In.DpiX = In.DpiY = 300;
    In.PhysicalWidth = 2550;
    In.PhysicalHeight = 3300;
    In.MarginLeft = 1005;
    In.MarginRight = 1000;
    In.MarginTop = 1025;
    In.MarginBottom = 1000;
    MarginBox Box = ComputeMarginBox(In);
    EXPECT_EQ(Box.Width, 1948);  // 2550 - 601.5
    EXPECT_EQ(Box.Top, 308);     // 307.5
    EXPECT_EQ(Box.Height, 2692); // 3300 - 607.5
}

TEST(MarginBox, LeftAndTopDivideBeforeMultiplying)
{
    // 1005 / 1000 is a shade under 1.005, so 300 times it falls just short of 301.5;
    // multiplying first would give exactly 301.5 and round to 302.
    PlacementInput In{};
    In.DpiX = In.DpiY = 300;
    In.PhysicalWidth = 2550;
    In.PhysicalHeight = 3300;
    In.MarginLeft = 1005;
    In.MarginTop = 1005;
    MarginBox Box = ComputeMarginBox(In);
    EXPECT_EQ(Box.Left, 301);
    EXPECT_EQ(Box.Top, 301);
}

TEST(MarginBox, AxesUseTheirOwnResolutionAndOffset)
{
    PlacementInput In{};
    In.DpiX = 300;
    In.DpiY = 600;
    In.PhysicalOffsetX = 10;
    In.PhysicalOffsetY = 40;
    In.PhysicalWidth = 2550;
    In.PhysicalHeight = 6600;
    In.MarginLeft = 500;
    In.MarginRight = 0;
    In.MarginTop = 250;
    In.MarginBottom = 750;
    ExpectBox(ComputeMarginBox(In), 140, 110, 2400, 6000);
}

TEST(MarginBox, ZeroMarginsGiveThePhysicalPage)
{
    PlacementInput In = LetterAt600(0, 0);
    In.PhysicalOffsetX = 75;
    In.PhysicalOffsetY = 90;
    ExpectBox(ComputeMarginBox(In), -75, -90, 5100, 6600);
}

TEST(MarginBox, CrossingMarginsAreNotClamped)
{
    PlacementInput In = LetterAt600(5000, 0);
    MarginBox Box = ComputeMarginBox(In);
    EXPECT_EQ(Box.Width, 5100 - 6000);
    EXPECT_EQ(Box.Height, 6600 - 6000);

    In.MarginLeft = In.MarginRight = 4250;
    EXPECT_EQ(ComputeMarginBox(In).Width, 0);
}

TEST(MarginBox, MarginSumDoesNotOverflow)
{
    PlacementInput In{};
    In.DpiX = In.DpiY = 1;
    In.PhysicalWidth = In.PhysicalHeight = 0;
    In.MarginLeft = In.MarginRight = INT_MAX;
    In.MarginTop = In.MarginBottom = INT_MAX;
    MarginBox Box = ComputeMarginBox(In);
    // 2 * INT_MAX / 1000 = 4294967.294
    EXPECT_EQ(Box.Width, -4294967);
    EXPECT_EQ(Box.Height, -4294967);
    EXPECT_EQ(Box.Left, 2147484); // 2147483.647
}

TEST(DrawRect, DirectAndBitmapModes)
{
    MarginBox Box = ComputeMarginBox(LetterAt600(1000, 0));
    ExpectRect(ComputeDrawRect(Box, 0), 500, 500, 4400, 5900);
    ExpectRect(ComputeDrawRect(Box, 1), 0, 0, 3900, 5400);
    ExpectRect(ComputeDrawRect(Box, 2), 500, 500, 4400, 5900);
    ExpectRect(ComputeDrawRect(Box, -1), 500, 500, 4400, 5900);
}

TEST(DrawRect, EmptyOrNegativeBoxKeepsItsSize)
{
    MarginBox Box{-75, 20, -900, 0};
    ExpectRect(ComputeDrawRect(Box, 0), -75, 20, -975, 20);
    ExpectRect(ComputeDrawRect(Box, 1), 0, 0, -900, 0);
}
