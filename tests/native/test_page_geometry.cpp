#include <gtest/gtest.h>

#include "render/page_geometry.h"

TEST(PageMetrics, FollowTheResolutionWithHalvesToEven)
{
    struct Case { int Dpi; int Inset; int Probe; };
    // 144: 4.5 -> 4; 600: 18.75 -> 19 and 37.5 + 1 = 38.5 -> 38, the sum rounded, not 39.
    for (Case C : {Case{96, 3, 7}, Case{144, 4, 10}, Case{600, 19, 38}, Case{300, 9, 20}})
    {
        PageMetrics M = ComputePageMetrics(C.Dpi, C.Dpi);
        EXPECT_EQ(M.InsetX, C.Inset) << C.Dpi;
        EXPECT_EQ(M.InsetY, C.Inset) << C.Dpi;
        EXPECT_EQ(M.ProbeX, C.Probe) << C.Dpi;
    }
    PageMetrics Mixed = ComputePageMetrics(600, 96);
    EXPECT_EQ(Mixed.InsetX, 19);
    EXPECT_EQ(Mixed.InsetY, 3);
}

TEST(PageMetrics, FontHeightIsA48PointCharacterHeight)
{
    EXPECT_EQ(ComputePageMetrics(96, 96).FontHeight, -64);
    EXPECT_EQ(ComputePageMetrics(96, 600).FontHeight, -400);
    EXPECT_EQ(ComputePageMetrics(96, 100).FontHeight, -67);
    EXPECT_EQ(ComputePageMetrics(96, 300).FontHeight, -200);
}

TEST(CentreTextBox, RoundsTheWholeSumNotTheHalf)
{
    EXPECT_EQ(CentreTextBox(0, 0, 105, 50, 100, 20).left, 2);   // 2.5 -> 2
    EXPECT_EQ(CentreTextBox(1, 0, 106, 50, 100, 20).left, 4);   // 3.5 -> 4
    TextBox Box = CentreTextBox(10, 20, 810, 620, 400, 60);
    EXPECT_EQ(Box.left, 210);
    EXPECT_EQ(Box.right, 610);
    EXPECT_EQ(Box.top, 290);
    EXPECT_EQ(Box.bottom, 350);
}

TEST(CentreTextBox, TextLargerThanThePageIsCutAtItsEdges)
{
    TextBox Wide = CentreTextBox(20, 0, 220, 400, 700, 74);
    EXPECT_EQ(Wide.left, 20);
    EXPECT_EQ(Wide.right, 220);
    TextBox Tall = CentreTextBox(0, 30, 600, 70, 500, 74);
    EXPECT_EQ(Tall.top, 30);
    EXPECT_EQ(Tall.bottom, 70);
    // An inverted page keeps the text at its left and top edges.
    TextBox Inverted = CentreTextBox(100, 100, 50, 50, 10, 10);
    EXPECT_EQ(Inverted.left, 100);
    EXPECT_EQ(Inverted.right, 50);
}
