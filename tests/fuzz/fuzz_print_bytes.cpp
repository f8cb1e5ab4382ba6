// Feeds consecutive pieces of one input to each byte-level reader and writer in turn and checks
// what each promises.

#include "print/devmode_bytes.h"
#include "print/devnames_parse.h"
#include "print/printer_match.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{

struct Input
{
    const uint8_t* Data;
    size_t Size;
};

void Check(bool Holds)
{
    if (!Holds)
        std::abort();
}

size_t TakeLength(Input& In, size_t Most)
{
    if (In.Size < 2)
        return 0;
    size_t Length = (static_cast<size_t>(In.Data[0]) | (static_cast<size_t>(In.Data[1]) << 8)) % (Most + 1);
    In.Data += 2;
    In.Size -= 2;
    return Length;
}

// Takes up to Length bytes into a buffer of exactly that many, so ASan sees reads past it.
std::vector<uint8_t> TakeBytes(Input& In, size_t Length)
{
    size_t Taken = Length < In.Size ? Length : In.Size;
    std::vector<uint8_t> Bytes(In.Data, In.Data + Taken);
    In.Data += Taken;
    In.Size -= Taken;
    return Bytes;
}

std::unique_ptr<uint8_t[]> ExactCopy(const std::vector<uint8_t>& Bytes)
{
    std::unique_ptr<uint8_t[]> Copy(new uint8_t[Bytes.size()]);
    if (!Bytes.empty())
        std::memcpy(Copy.get(), Bytes.data(), Bytes.size());
    return Copy;
}

uint32_t FieldsOf(const unsigned char* DevMode)
{
    uint32_t Fields;
    std::memcpy(&Fields, DevMode + DevModeFieldsOffset, sizeof Fields);
    return Fields;
}

void FuzzDevNames(Input& In)
{
    std::vector<uint8_t> Block = TakeBytes(In, TakeLength(In, 300));
    std::unique_ptr<uint8_t[]> Exact = ExactCopy(Block);
    DevNamesText Out;
    bool Complete = ParseDevNames(Block.empty() ? nullptr : Exact.get(), Block.size(), Out);
    Check(Complete == (Block.size() >= DevNamesHeaderSize));
    for (size_t Byte = 0; Byte < DevNamesHeaderSize; ++Byte)
        Check(Out.Header[Byte] == (Byte < Block.size() ? Block[Byte] : 0));
    Check(Out.DriverName.find('\0') == std::string::npos);
    Check(Out.DeviceName.find('\0') == std::string::npos);
    Check(Out.DriverName.size() <= Block.size() && Out.DeviceName.size() <= Block.size());
}

void FuzzDevMode(Input& In)
{
    std::vector<uint8_t> SavedBytes = TakeBytes(In, DevModePublicSize);
    unsigned char Saved[DevModePublicSize] = {};
    if (!SavedBytes.empty())
        std::memcpy(Saved, SavedBytes.data(), SavedBytes.size());

    std::vector<uint8_t> Driver = TakeBytes(In, TakeLength(In, 400));
    unsigned char Current[DevModePublicSize];
    CurrentDevModeFrom(Driver, Current);
    for (size_t Byte = 0; Byte < DevModePublicSize; ++Byte)
        Check(Current[Byte] == (Byte < Driver.size() ? Driver[Byte] : 0x20));

    unsigned char Before[DevModePublicSize];
    std::memcpy(Before, Saved, sizeof Saved);
    uint32_t OldFields = FieldsOf(Saved);
    unsigned NewFields = MarkChangedFields(Saved, Current);
    Check(NewFields == FieldsOf(Saved));
    Check((NewFields & OldFields) == OldFields);
    const unsigned Members = 0x1FF1F;
    Check(((NewFields & ~OldFields) & ~Members) == 0);
    for (size_t Byte = 0; Byte < DevModePublicSize; ++Byte)
    {
        if (Byte < DevModeFieldsOffset || Byte >= DevModeFieldsOffset + 4)
            Check(Saved[Byte] == Before[Byte]);
    }
    Check(MarkChangedFields(Saved, Current) == NewFields);

    std::vector<unsigned char> DriverIn(Driver.begin(), Driver.end());
    std::vector<unsigned char> Out(3, 0xAB);
    AssembleDevModeBuffers(Saved, Out, DriverIn);
    Check(DriverIn.size() == Driver.size());
    Check(Out == DriverIn);
    for (size_t Byte = 0; Byte < DriverIn.size(); ++Byte)
        Check(DriverIn[Byte] == (Byte < DevModePublicSize ? Saved[Byte] : Driver[Byte]));

    std::string Name = DevModeDeviceName(Saved);
    Check(Name.size() <= DevModeDeviceNameSize);
    Check(Name.find('\0') == std::string::npos);
    Check(std::memcmp(Name.data(), Saved, Name.size()) == 0);
    Check(Name.size() == DevModeDeviceNameSize || Saved[Name.size()] == 0);
}

void FuzzCopy(Input& In)
{
    std::vector<uint8_t> Block = TakeBytes(In, TakeLength(In, 200));
    std::unique_ptr<uint8_t[]> Exact = ExactCopy(Block);
    unsigned char Saved[DevModePublicSize];
    std::memset(Saved, 0xCC, sizeof Saved);
    CopyPublicDevMode(Block.empty() ? nullptr : Exact.get(), Block.size(), Saved);
    for (size_t Byte = 0; Byte < DevModePublicSize; ++Byte)
        Check(Saved[Byte] == (Byte < Block.size() ? Block[Byte] : 0));
}

void FuzzMatch(Input& In)
{
    std::vector<uint8_t> PatternBytes = TakeBytes(In, TakeLength(In, 8));
    std::string Pattern(PatternBytes.begin(), PatternBytes.end());
    size_t Count = TakeLength(In, 8);
    std::vector<std::string> Texts;
    std::vector<const char*> Names;
    Texts.reserve(Count);
    for (size_t Index = 0; Index < Count; ++Index)
    {
        size_t Length = TakeLength(In, 24);
        std::vector<uint8_t> Bytes = TakeBytes(In, Length);
        Texts.emplace_back(Bytes.begin(), Bytes.end());
        bool Null = !Bytes.empty() && Bytes[0] == 0xFF;
        Names.push_back(Null ? nullptr : Texts.back().c_str());
    }

    std::string Match = "untouched";
    int Found = MatchPrinterName(Pattern, Names.empty() ? nullptr : Names.data(), Names.size(), Match);
    std::string Wanted = UpperCaseAscii(Pattern);
    if (Found < 0)
    {
        Check(Found == -1);
        Check(Match == "untouched");
        for (const char* Name : Names)
            Check(Name == nullptr || TrimSpaces(UpperCaseAscii(Name)).find(Wanted) == std::string::npos);
        return;
    }
    Check(static_cast<size_t>(Found) < Names.size() && Names[Found] != nullptr);
    Check(Match.empty() || (Match.front() != ' ' && Match.back() != ' '));
    Check(Match == TrimSpaces(UpperCaseAscii(Names[Found])));
    Check(Match.find(Wanted) != std::string::npos);
    for (int Earlier = 0; Earlier < Found; ++Earlier)
        Check(Names[Earlier] == nullptr ||
              TrimSpaces(UpperCaseAscii(Names[Earlier])).find(Wanted) == std::string::npos);
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    Input In{Data, Size};
    FuzzDevNames(In);
    FuzzDevMode(In);
    FuzzCopy(In);
    FuzzMatch(In);
    return 0;
}
