#include "render/page_geometry.h"

#include <algorithm>

#include "render/rounding.h"

PageMetrics ComputePageMetrics(int LogPixelsX, int LogPixelsY)
{
    PageMetrics Metrics;
    Metrics.InsetX = RoundHalfEven(LogPixelsX / 32.0);
    Metrics.InsetY = RoundHalfEven(LogPixelsY / 32.0);
    Metrics.ProbeX = RoundHalfEven(LogPixelsX / 16.0 + 1.0);
    Metrics.FontHeight = RoundHalfEven(-48.0 * LogPixelsY / 72.0);
    return Metrics;
}

TextBox CentreTextBox(int Left, int Top, int Right, int Bottom, int Cx, int Cy)
{
    // The whole sum is rounded, not the half: with Left 1 and a spare 5 the text starts at 4.
    TextBox Box;
    Box.left = std::max(RoundHalfEven(Left + (static_cast<double>(Right) - Left - Cx) / 2.0), Left);
    Box.right = std::min(Box.left + Cx, Right);
    Box.top = std::max(RoundHalfEven(Top + (static_cast<double>(Bottom) - Top - Cy) / 2.0), Top);
    Box.bottom = std::min(Box.top + Cy, Bottom);
    return Box;
}
