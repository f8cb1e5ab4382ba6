#include "print/devnames_parse.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

std::vector<unsigned char> Header(uint16_t Driver, uint16_t Device, uint16_t Output, uint16_t Default = 0)
{
    std::vector<unsigned char> Block;
    for (uint16_t Word : {Driver, Device, Output, Default})
    {
        Block.push_back(static_cast<unsigned char>(Word & 0xFF));
        Block.push_back(static_cast<unsigned char>(Word >> 8));
    }
    return Block;
}

void Append(std::vector<unsigned char>& Block, const std::string& Text)
{
    Block.insert(Block.end(), Text.begin(), Text.end());
}

// Parses a copy that ends exactly at the block's size, so ASan sees any read past it.
bool Parse(const std::vector<unsigned char>& Block, DevNamesText& Out)
{
    std::unique_ptr<unsigned char[]> Exact(new unsigned char[Block.size()]);
    std::copy(Block.begin(), Block.end(), Exact.get());
    return ParseDevNames(Exact.get(), Block.size(), Out);
}

}

TEST(DevNames, WellFormedBlock)
{
    std::vector<unsigned char> Block = Header(8, 17, 27, 1);
    Append(Block, std::string("winspool\0", 9));
    Append(Block, std::string("Printer A\0", 10));
    Append(Block, std::string("LPT1:\0", 6));
    DevNamesText Out;
    ASSERT_TRUE(Parse(Block, Out));
    EXPECT_EQ(Out.DriverName, "winspool");
    EXPECT_EQ(Out.DeviceName, "Printer A");
    for (size_t Byte = 0; Byte < 8; ++Byte)
        EXPECT_EQ(Out.Header[Byte], Block[Byte]) << Byte;
}

TEST(DevNames, NamesStopAtTheirZeroByte)
{
    std::vector<unsigned char> Block = Header(8, 20, 40);
    Append(Block, std::string("drv\0garbagegar", 12));
    Append(Block, std::string("dev\0more text here!", 20));
    DevNamesText Out;
    ASSERT_TRUE(Parse(Block, Out));
    EXPECT_EQ(Out.DriverName, "drv");
    EXPECT_EQ(Out.DeviceName, "dev");
}

TEST(DevNames, NamesWithoutZeroByteStopAtTheNextOffset)
{
    std::vector<unsigned char> Block = Header(8, 14, 24, 0x0001);
    Append(Block, "DRIVER");
    Append(Block, "DEVICENAME");
    Append(Block, "PORT");
    DevNamesText Out;
    ASSERT_TRUE(Parse(Block, Out));
    EXPECT_EQ(Out.DriverName, "DRIVER");
    EXPECT_EQ(Out.DeviceName, "DEVICENAME");
    EXPECT_EQ(Out.DeviceName.size(), 24u - 14u);
}

TEST(DevNames, ZeroOrNegativeDifferencesGiveEmptyNames)
{
    std::vector<unsigned char> Block = Header(8, 8, 8);
    Append(Block, "ABCDEFGHIJKLMNOP");
    DevNamesText Out;
    ASSERT_TRUE(Parse(Block, Out));
    EXPECT_EQ(Out.DriverName, "");
    EXPECT_EQ(Out.DeviceName, "");

    // The device name comes before the driver name, the output before the device.
    Block = Header(16, 10, 9);
    Append(Block, "ABCDEFGHIJKLMNOP");
    ASSERT_TRUE(Parse(Block, Out));
    EXPECT_EQ(Out.DriverName, "");
    EXPECT_EQ(Out.DeviceName, "");

    // The offsets are unsigned words, their difference is signed: a device offset below the
    // driver's is no huge count.
    Block = Header(0xFFF0, 8, 0xFFFF);
    Append(Block, "ABCD");
    ASSERT_TRUE(Parse(Block, Out));
    EXPECT_EQ(Out.DriverName, "");
    EXPECT_EQ(Out.DeviceName, "ABCD");
}

TEST(DevNames, OffsetsAtOrPastTheEndGiveEmptyNames)
{
    std::vector<unsigned char> Block = Header(12, 100, 200);
    Append(Block, "ABCD");
    DevNamesText Out;
    ASSERT_TRUE(Parse(Block, Out));
    EXPECT_EQ(Out.DriverName, "");
    EXPECT_EQ(Out.DeviceName, "");

    Block = Header(60000, 61000, 65535);
    ASSERT_TRUE(Parse(Block, Out));
    EXPECT_EQ(Out.DriverName, "");
    EXPECT_EQ(Out.DeviceName, "");
}

TEST(DevNames, NamesCutAtTheBlockEnd)
{
    std::vector<unsigned char> Block = Header(8, 11, 60);
    Append(Block, "drvPRINTER");
    DevNamesText Out;
    ASSERT_TRUE(Parse(Block, Out));
    EXPECT_EQ(Out.DriverName, "drv");
    EXPECT_EQ(Out.DeviceName, "PRINTER");
}

TEST(DevNames, OffsetsInsideTheHeaderReadTheHeader)
{
    DevNamesText Out;
    ASSERT_TRUE(Parse(Header(2, 4, 6), Out));
    EXPECT_EQ(Out.DriverName, std::string("\x04", 1));
    EXPECT_EQ(Out.DeviceName, std::string("\x06", 1));
}

TEST(DevNames, ShortBlockKeepsWhatIsThereAndFails)
{
    DevNamesText Out;
    Out.DriverName = "stale";
    Out.DeviceName = "stale";
    std::memset(Out.Header, 0xAA, sizeof Out.Header);
    std::vector<unsigned char> Block = {0x08, 0x00, 0x0C, 0x00, 0x10};
    EXPECT_FALSE(Parse(Block, Out));
    const unsigned char Expected[8] = {0x08, 0x00, 0x0C, 0x00, 0x10, 0, 0, 0};
    for (size_t Byte = 0; Byte < 8; ++Byte)
        EXPECT_EQ(Out.Header[Byte], Expected[Byte]) << Byte;
    EXPECT_EQ(Out.DriverName, "");
    EXPECT_EQ(Out.DeviceName, "");

    Block = Header(8, 9, 10);
    Block.pop_back();
    EXPECT_FALSE(Parse(Block, Out));
}

TEST(DevNames, EmptyBlock)
{
    DevNamesText Out;
    std::memset(Out.Header, 0xAA, sizeof Out.Header);
    EXPECT_FALSE(ParseDevNames(nullptr, 0, Out));
    for (unsigned char Byte : Out.Header)
        EXPECT_EQ(Byte, 0);
    EXPECT_EQ(Out.DriverName, "");
    EXPECT_EQ(Out.DeviceName, "");
}

TEST(DevNames, HeaderOnlyBlock)
{
    DevNamesText Out;
    EXPECT_TRUE(Parse(Header(8, 8, 8), Out));
    EXPECT_EQ(Out.DriverName, "");
    EXPECT_EQ(Out.DeviceName, "");
}
