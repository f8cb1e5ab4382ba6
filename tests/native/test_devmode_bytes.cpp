#include "print/devmode_bytes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using DevMode = std::vector<unsigned char>;

const std::pair<size_t, unsigned> WordMembers[] = {
    {44, 0x1},    {46, 0x2},    {48, 0x4},    {50, 0x8},    {52, 0x10},   {54, 0x100},  {56, 0x200},
    {58, 0x400},  {60, 0x800},  {62, 0x1000}, {64, 0x2000}, {66, 0x4000}, {68, 0x8000},
};

void PutWord(DevMode& Block, size_t Offset, uint16_t Value)
{
    Block[Offset] = static_cast<unsigned char>(Value & 0xFF);
    Block[Offset + 1] = static_cast<unsigned char>(Value >> 8);
}

void PutFields(DevMode& Block, uint32_t Value)
{
    for (size_t Byte = 0; Byte < 4; ++Byte)
        Block[40 + Byte] = static_cast<unsigned char>(Value >> (8 * Byte));
}

uint32_t GetFields(const DevMode& Block)
{
    uint32_t Value = 0;
    for (size_t Byte = 0; Byte < 4; ++Byte)
        Value |= static_cast<uint32_t>(Block[40 + Byte]) << (8 * Byte);
    return Value;
}

void PutText(DevMode& Block, size_t Offset, const std::string& Text)
{
    std::memcpy(Block.data() + Offset, Text.data(), Text.size());
}

// A plausible saved DEVMODE: every member holds a distinct value so a wrong offset shows.
DevMode Sample()
{
    DevMode Block(148, 0);
    PutText(Block, 0, "Office Laser");
    PutWord(Block, 36, 148);
    for (const auto& Member : WordMembers)
        PutWord(Block, Member.first, static_cast<uint16_t>(0x0100 + Member.first));
    PutText(Block, 70, "Letter");
    for (size_t Byte = 102; Byte < 148; ++Byte)
        Block[Byte] = static_cast<unsigned char>(Byte);
    return Block;
}

unsigned Mark(DevMode& Saved, const DevMode& Current)
{
    return MarkChangedFields(Saved.data(), Current.data());
}

}

TEST(DevModeLayout, OffsetsAndBits)
{
    EXPECT_EQ(DevModePublicSize, 148u);
    EXPECT_EQ(DevModeFieldsOffset, 40u);
    EXPECT_EQ(DevModeCollateOffset, 68u);
    EXPECT_EQ(DevModeFormNameOffset, 70u);
    EXPECT_EQ(DevModeFormNameSize, 32u);
    EXPECT_EQ(FieldCopies, 0x100u);
    EXPECT_EQ(FieldCollate, 0x8000u);
    EXPECT_EQ(FieldFormName, 0x10000u);
}

TEST(MarkChangedFields, EqualLeavesFieldsAsTheyWere)
{
    for (uint32_t Fields : {0u, 0x1u, 0x20u | 0x40u | 0x80u, 0xFFFFFFFFu})
    {
        DevMode Saved = Sample();
        PutFields(Saved, Fields);
        DevMode Current = Saved;
        PutFields(Current, 0x12345678);
        DevMode Before = Saved;
        EXPECT_EQ(Mark(Saved, Current), Fields);
        EXPECT_EQ(Saved, Before);
    }
}

TEST(MarkChangedFields, EachWordMemberSetsOnlyItsBit)
{
    for (const auto& Member : WordMembers)
    {
        for (size_t Half = 0; Half < 2; ++Half)
        {
            DevMode Saved = Sample();
            DevMode Current = Saved;
            Current[Member.first + Half] ^= 0x01;
            EXPECT_EQ(Mark(Saved, Current), Member.second) << Member.first << " byte " << Half;
            EXPECT_EQ(GetFields(Saved), Member.second);
        }
    }
}

TEST(MarkChangedFields, OnlyCollateDiffers)
{
    DevMode Saved = Sample();
    PutFields(Saved, 0x1 | 0x2);
    DevMode Current = Saved;
    PutWord(Current, 68, 1);
    EXPECT_EQ(Mark(Saved, Current), 0x1u | 0x2u | 0x8000u);
    EXPECT_EQ(GetFields(Saved), 0x8003u);
}

TEST(MarkChangedFields, BytesOutsideTheMembersAreIgnored)
{
    DevMode Saved = Sample();
    DevMode Current = Saved;
    for (size_t Byte = 0; Byte < 44; ++Byte)
        Current[Byte] ^= 0x5A;
    for (size_t Byte = 102; Byte < 148; ++Byte)
        Current[Byte] ^= 0x5A;
    EXPECT_EQ(Mark(Saved, Current), 0u);
}

TEST(MarkChangedFields, SetBitStaysAndIsNeverCleared)
{
    DevMode Saved = Sample();
    PutFields(Saved, 0x8000 | 0x20);
    DevMode Current = Saved;
    PutWord(Current, 44, 2);
    EXPECT_EQ(Mark(Saved, Current), 0x8000u | 0x20u | 0x1u);
    // Marking again against the same buffer, now equal but for dmFields, adds nothing.
    Current = Saved;
    EXPECT_EQ(Mark(Saved, Current), 0x8000u | 0x20u | 0x1u);
    PutWord(Current, 68, 7);
    EXPECT_EQ(Mark(Saved, Current), 0x8000u | 0x20u | 0x1u);
}

TEST(MarkChangedFields, EverythingDiffersGivesExactlyTheFourteenBits)
{
    DevMode Saved = Sample();
    DevMode Current(148, 0xEE);
    EXPECT_EQ(Mark(Saved, Current), 0x1FF1Fu);
}

TEST(MarkChangedFields, FormNameComparedExactly)
{
    DevMode Saved = Sample();
    DevMode Current = Saved;
    PutText(Current, 70, "LETTER");
    EXPECT_EQ(Mark(Saved, Current), 0x10000u);

    Saved = Sample();
    Current = Saved;
    PutText(Current, 70, "Letter Small");
    EXPECT_EQ(Mark(Saved, Current), 0x10000u);

    Saved = Sample();
    Current = Saved;
    Current[70 + 5] = 0;
    EXPECT_EQ(Mark(Saved, Current), 0x10000u);
}

TEST(MarkChangedFields, FormNameBytesAfterItsNulDoNotCount)
{
    DevMode Saved = Sample();
    DevMode Current = Saved;
    PutText(Current, 70 + 7, "junk after the NUL");
    EXPECT_EQ(Mark(Saved, Current), 0u);
}

TEST(MarkChangedFields, FormNameWithoutNulStopsAtItsThirtyTwoBytes)
{
    DevMode Saved = Sample();
    PutText(Saved, 70, std::string(32, 'F'));
    DevMode Current = Saved;
    // The byte after the form name is dmLogPixels: changing it is no form name change.
    Current[102] ^= 0xFF;
    EXPECT_EQ(Mark(Saved, Current), 0u);
    Current[101] = 'G';
    EXPECT_EQ(Mark(Saved, Current), 0x10000u);
}

TEST(CopyPublicDevMode, CopiesAtMost148BytesAndZeroesTheRest)
{
    DevMode Block(300);
    for (size_t Byte = 0; Byte < Block.size(); ++Byte)
        Block[Byte] = static_cast<unsigned char>(Byte + 1);
    unsigned char Saved[148];

    CopyPublicDevMode(Block.data(), Block.size(), Saved);
    EXPECT_EQ(DevMode(Saved, Saved + 148), DevMode(Block.begin(), Block.begin() + 148));

    DevMode Short(Block.begin(), Block.begin() + 60);
    std::memset(Saved, 0xCC, sizeof Saved);
    CopyPublicDevMode(Short.data(), Short.size(), Saved);
    DevMode Expected(148, 0);
    std::copy(Short.begin(), Short.end(), Expected.begin());
    EXPECT_EQ(DevMode(Saved, Saved + 148), Expected);

    std::memset(Saved, 0xCC, sizeof Saved);
    CopyPublicDevMode(nullptr, 0, Saved);
    EXPECT_EQ(DevMode(Saved, Saved + 148), DevMode(148, 0));
}

TEST(CurrentDevModeFrom, PadsAShortBufferWithSpaces)
{
    DevMode Driver = Sample();
    Driver.resize(60);
    unsigned char Current[148];
    CurrentDevModeFrom(Driver, Current);
    EXPECT_EQ(DevMode(Current, Current + 60), Driver);
    EXPECT_EQ(DevMode(Current + 60, Current + 148), DevMode(88, 0x20));

    // Members the driver left out read as 0x2020 and so count as changed.
    DevMode Saved = Sample();
    EXPECT_EQ(MarkChangedFields(Saved.data(), Current), 0x800u | 0x1000u | 0x2000u | 0x4000u | 0x8000u | 0x10000u);
    for (size_t Offset = 60; Offset <= 68; Offset += 2)
        EXPECT_EQ(Current[Offset] | (Current[Offset + 1] << 8), 0x2020) << Offset;

    CurrentDevModeFrom(DevMode(), Current);
    EXPECT_EQ(DevMode(Current, Current + 148), DevMode(148, 0x20));
}

TEST(CurrentDevModeFrom, TakesTheFirst148BytesOfALongerBuffer)
{
    DevMode Driver = Sample();
    Driver.resize(1000, 0x77);
    unsigned char Current[148];
    CurrentDevModeFrom(Driver, Current);
    EXPECT_EQ(DevMode(Current, Current + 148), Sample());
}

TEST(AssembleDevModeBuffers, DriverSizeAbove148)
{
    DevMode Saved = Sample();
    DevMode In(1000, 0x20);
    DevMode Out(5, 0x01);
    AssembleDevModeBuffers(Saved.data(), Out, In);
    ASSERT_EQ(In.size(), 1000u);
    ASSERT_EQ(Out.size(), 1000u);
    EXPECT_EQ(DevMode(In.begin(), In.begin() + 148), Saved);
    EXPECT_EQ(DevMode(In.begin() + 148, In.end()), DevMode(852, 0x20));
    EXPECT_EQ(Out, In);
}

TEST(AssembleDevModeBuffers, KeepsTheDriversPrivateBytes)
{
    DevMode Saved = Sample();
    DevMode In(200);
    for (size_t Byte = 0; Byte < In.size(); ++Byte)
        In[Byte] = static_cast<unsigned char>(0xFF - Byte);
    DevMode Private(In.begin() + 148, In.end());
    DevMode Out;
    AssembleDevModeBuffers(Saved.data(), Out, In);
    EXPECT_EQ(DevMode(In.begin() + 148, In.end()), Private);
    EXPECT_EQ(Out, In);
}

TEST(AssembleDevModeBuffers, DriverSizeBelow148WritesOnlyThatMuch)
{
    DevMode Saved = Sample();
    DevMode In(100, 0x20);
    DevMode Out;
    AssembleDevModeBuffers(Saved.data(), Out, In);
    ASSERT_EQ(In.size(), 100u);
    EXPECT_EQ(In, DevMode(Saved.begin(), Saved.begin() + 100));
    EXPECT_EQ(Out, In);

    In.clear();
    Out.assign(3, 0);
    AssembleDevModeBuffers(Saved.data(), Out, In);
    EXPECT_TRUE(In.empty());
    EXPECT_TRUE(Out.empty());
}

TEST(DevModeDeviceName, StopsAtNulOrAfter32Bytes)
{
    DevMode Saved = Sample();
    EXPECT_EQ(DevModeDeviceName(Saved.data()), "Office Laser");

    PutText(Saved, 0, std::string(32, 'N'));
    // The version word right after the name must not join it.
    PutWord(Saved, 32, 0x4141);
    EXPECT_EQ(DevModeDeviceName(Saved.data()), std::string(32, 'N'));

    Saved[0] = 0;
    EXPECT_EQ(DevModeDeviceName(Saved.data()), "");
}
