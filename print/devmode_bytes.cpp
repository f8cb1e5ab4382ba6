#include "print/devmode_bytes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace
{

struct WordMember
{
    size_t Offset;
    unsigned Field;
};

const WordMember WordMembers[] = {
    {DevModeOrientationOffset, FieldOrientation},     {DevModePaperSizeOffset, FieldPaperSize},
    {DevModePaperLengthOffset, FieldPaperLength},     {DevModePaperWidthOffset, FieldPaperWidth},
    {DevModeScaleOffset, FieldScale},                 {DevModeCopiesOffset, FieldCopies},
    {DevModeDefaultSourceOffset, FieldDefaultSource}, {DevModePrintQualityOffset, FieldPrintQuality},
    {DevModeColorOffset, FieldColor},                 {DevModeDuplexOffset, FieldDuplex},
    {DevModeYResolutionOffset, FieldYResolution},     {DevModeTTOptionOffset, FieldTTOption},
    {DevModeCollateOffset, FieldCollate},
};

uint16_t ReadWord(const unsigned char* DevMode, size_t Offset)
{
    uint16_t Word;
    std::memcpy(&Word, DevMode + Offset, sizeof Word);
    return Word;
}

std::string TextWithin(const unsigned char* DevMode, size_t Offset, size_t Size)
{
    const unsigned char* Start = DevMode + Offset;
    const unsigned char* End = std::find(Start, Start + Size, 0);
    return std::string(Start, End);
}

}

void CopyPublicDevMode(const unsigned char* Block, size_t BlockSize, unsigned char Saved[DevModePublicSize])
{
    size_t Taken = std::min(BlockSize, DevModePublicSize);
    std::memset(Saved, 0, DevModePublicSize);
    if (Taken > 0)
        std::memcpy(Saved, Block, Taken);
}

void CurrentDevModeFrom(const std::vector<unsigned char>& DriverOut, unsigned char Current[DevModePublicSize])
{
    size_t Taken = std::min(DriverOut.size(), DevModePublicSize);
    std::memset(Current, ' ', DevModePublicSize);
    if (Taken > 0)
        std::memcpy(Current, DriverOut.data(), Taken);
}

unsigned MarkChangedFields(unsigned char Saved[DevModePublicSize], const unsigned char Current[DevModePublicSize])
{
    uint32_t Fields;
    std::memcpy(&Fields, Saved + DevModeFieldsOffset, sizeof Fields);
    for (const WordMember& Member : WordMembers)
    {
        if (ReadWord(Saved, Member.Offset) != ReadWord(Current, Member.Offset))
            Fields |= Member.Field;
    }
    if (TextWithin(Saved, DevModeFormNameOffset, DevModeFormNameSize) !=
        TextWithin(Current, DevModeFormNameOffset, DevModeFormNameSize))
        Fields |= FieldFormName;
    std::memcpy(Saved + DevModeFieldsOffset, &Fields, sizeof Fields);
    return Fields;
}

void AssembleDevModeBuffers(const unsigned char Saved[DevModePublicSize], std::vector<unsigned char>& Out,
                            std::vector<unsigned char>& In)
{
    size_t Taken = std::min(In.size(), DevModePublicSize);
    if (Taken > 0)
        std::memcpy(In.data(), Saved, Taken);
    Out = In;
}

std::string DevModeDeviceName(const unsigned char Saved[DevModePublicSize])
{
    return TextWithin(Saved, DevModeDeviceNameOffset, DevModeDeviceNameSize);
}

size_t DevModeClaimedSize(const unsigned char Saved[DevModePublicSize])
{
    return size_t{ReadWord(Saved, DevModeSizeOffset)} + ReadWord(Saved, DevModeDriverExtraOffset);
}
