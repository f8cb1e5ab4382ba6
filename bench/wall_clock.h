#pragma once

#include <windows.h>

// The system's wall clock in microseconds since 1970, the clock the spooler's side is read with.
inline long long WallClockMicroseconds()
{
    FILETIME Now;
    GetSystemTimePreciseAsFileTime(&Now);
    ULARGE_INTEGER Ticks;
    Ticks.LowPart = Now.dwLowDateTime;
    Ticks.HighPart = Now.dwHighDateTime;
    const unsigned long long EpochOffset = 116444736000000000ULL;  // 1601 to 1970 in 100 ns
    return static_cast<long long>((Ticks.QuadPart - EpochOffset) / 10);
}
