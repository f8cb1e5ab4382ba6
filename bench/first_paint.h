#pragma once

#include <windows.h>

// The block a start-up run shares between the launcher and the program it starts.
struct FirstPaintBlock
{
    LONGLONG PaintedAt;  // QueryPerformanceCounter when the first paint returned, 0 before
};

inline const char FirstPaintMapping[] = "PrintTestBenchFirstPaint";
