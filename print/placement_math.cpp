#include "print/placement_math.h"

#include "render/rounding.h"

MarginBox ComputeMarginBox(const PlacementInput& In)
{
    // The order of the operations is fixed: it decides the rounding the printed page shows.
    double Units = (In.Flags & PlacementFlagHundredthsOfMillimetre) != 0 ? 2540.0 : 1000.0;
    double Left = In.MarginLeft;
    double Top = In.MarginTop;
    double Across = Left + static_cast<double>(In.MarginRight);
    double Down = Top + static_cast<double>(In.MarginBottom);

    MarginBox Box;
    Box.Left = RoundHalfEven(In.DpiX * (Left / Units) - In.PhysicalOffsetX);
    Box.Width = RoundHalfEven(In.PhysicalWidth - (In.DpiX * Across) / Units);
    Box.Top = RoundHalfEven(In.DpiY * (Top / Units) - In.PhysicalOffsetY);
    Box.Height = RoundHalfEven(In.PhysicalHeight - (In.DpiY * Down) / Units);
    return Box;
}

PixelRect ComputeDrawRect(const MarginBox& Box, int PrintMode)
{
    if (PrintMode == PlacementPrintModeBitmap)
        return PixelRect{0, 0, Box.Width, Box.Height};
    return PixelRect{Box.Left, Box.Top, Box.Left + Box.Width, Box.Top + Box.Height};
}
