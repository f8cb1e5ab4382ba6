#pragma once

// Where the margins put the drawing on a printer page, in device pixels.
// Margins are in thousandths of an inch, or hundredths of a millimetre when Flags has bit 0x8.
struct PlacementInput
{
    unsigned Flags;
    int MarginLeft, MarginTop, MarginRight, MarginBottom;
    int DpiX, DpiY, PhysicalOffsetX, PhysicalWidth, PhysicalOffsetY, PhysicalHeight;
};

// Relative to the printable area's corner; a width or height at or below zero is kept as it is.
struct MarginBox
{
    int Left, Top, Width, Height;
};

struct PixelRect
{
    int left, top, right, bottom;
};

constexpr unsigned PlacementFlagHundredthsOfMillimetre = 0x8;

// Print mode in which the drawing goes to a bitmap of the box's size rather than straight to the page.
constexpr int PlacementPrintModeBitmap = 1;

MarginBox ComputeMarginBox(const PlacementInput& In);
PixelRect ComputeDrawRect(const MarginBox& Box, int PrintMode);
