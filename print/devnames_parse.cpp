#include "print/devnames_parse.h"

#include <cstdint>
#include <cstring>

namespace
{

long ReadWord(const unsigned char* Block, size_t At)
{
    uint16_t Word;
    std::memcpy(&Word, Block + At, sizeof Word);
    return Word;
}

std::string TakeName(const unsigned char* Block, size_t BlockSize, long Start, long Next)
{
    std::string Name;
    long Limit = Next - Start;
    for (long Taken = 0; Taken < Limit; ++Taken)
    {
        size_t At = static_cast<size_t>(Start + Taken);
        if (At >= BlockSize || Block[At] == 0)
            break;
        Name.push_back(static_cast<char>(Block[At]));
    }
    return Name;
}

}

bool ParseDevNames(const unsigned char* Block, size_t BlockSize, DevNamesText& Out)
{
    std::memset(Out.Header, 0, sizeof Out.Header);
    Out.DriverName.clear();
    Out.DeviceName.clear();
    if (BlockSize < DevNamesHeaderSize)
    {
        if (BlockSize > 0)
            std::memcpy(Out.Header, Block, BlockSize);
        return false;
    }
    std::memcpy(Out.Header, Block, DevNamesHeaderSize);

    long Driver = ReadWord(Block, DevNamesDriverOffsetAt);
    long Device = ReadWord(Block, DevNamesDeviceOffsetAt);
    long Output = ReadWord(Block, DevNamesOutputOffsetAt);
    Out.DriverName = TakeName(Block, BlockSize, Driver, Device);
    Out.DeviceName = TakeName(Block, BlockSize, Device, Output);
    return true;
}
