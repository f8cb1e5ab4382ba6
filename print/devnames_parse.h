#pragma once

#include <cstddef>
#include <string>

// A DEVNAMES block: four little-endian 16-bit words (driver, device and output offsets, counted
// in bytes from the block's start, then the default flag), followed by the names.
constexpr size_t DevNamesHeaderSize = 8;
constexpr size_t DevNamesDriverOffsetAt = 0;
constexpr size_t DevNamesDeviceOffsetAt = 2;
constexpr size_t DevNamesOutputOffsetAt = 4;

struct DevNamesText
{
    unsigned char Header[DevNamesHeaderSize];
    std::string DriverName;
    std::string DeviceName;
};

// Header gets the first 8 bytes (zero-filled after a short block). Each name runs from its offset
// to a zero byte, the next offset, or the block's end, whichever comes first; an offset not below
// the next one, or at or past the end, gives an empty name. Returns false, with both names empty,
// when the block is shorter than its header. Block may be nullptr only when BlockSize is 0.
bool ParseDevNames(const unsigned char* Block, size_t BlockSize, DevNamesText& Out);
