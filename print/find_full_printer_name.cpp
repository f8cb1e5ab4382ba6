#include "print/find_full_printer_name.h"

#include <windows.h>
#include <winspool.h>

#include <vector>

#include "print/printer_match.h"

namespace
{
const DWORD EnumFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS | PRINTER_ENUM_NETWORK;
const DWORD InfoLevel = 2;
}

int FindFullPrinterName(std::string& DeviceName)
{
    DWORD Needed = 0;
    DWORD Returned = 0;
    EnumPrintersA(EnumFlags, nullptr, InfoLevel, nullptr, 0, &Needed, &Returned);

    // One record more than the needed bytes hold, so the block is always large enough.
    DWORD Records = Needed / sizeof(PRINTER_INFO_2A) + 1;
    std::vector<PRINTER_INFO_2A> Block(Records);
    Returned = 0;
    EnumPrintersA(EnumFlags, nullptr, InfoLevel, reinterpret_cast<BYTE*>(Block.data()),
                  Records * sizeof(PRINTER_INFO_2A), &Needed, &Returned);
    if (Returned == 0)
        return 0;
    if (Returned > Records)
        Returned = Records;

    std::vector<const char*> Names(Returned);
    for (DWORD Index = 0; Index < Returned; ++Index)
        Names[Index] = Block[Index].pPrinterName;

    std::string FullName;
    if (MatchPrinterName(DeviceName, Names.data(), Names.size(), FullName) < 0)
        return 0;
    DeviceName = FullName;
    return 1;
}
