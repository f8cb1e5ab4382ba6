#pragma once

// Sizes of the test page that follow the device's resolution, so lines and text keep their
// physical size on the screen and on paper.
struct PageMetrics
{
    int InsetX;         // border inset, 1/32 inch; the border pen is twice as wide
    int InsetY;
    int ProbeX;         // device x of the second point that measures the ellipse pen (1/16 inch + 1)
    int FontHeight;     // lfHeight of a 48-point character height (negative)
};

PageMetrics ComputePageMetrics(int LogPixelsX, int LogPixelsY);

struct TextBox
{
    int left, top, right, bottom;
};

// Centres a text of Cx by Cy on the page; a text larger than the page starts at its left or top
// edge and is cut at its right or bottom edge.
TextBox CentreTextBox(int Left, int Top, int Right, int Bottom, int Cx, int Cy);
