#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The public members of DEVMODEA, dmDeviceName through dmReserved2, as little-endian bytes.
constexpr size_t DevModePublicSize = 148;
constexpr size_t DevModeDeviceNameOffset = 0;
constexpr size_t DevModeDeviceNameSize = 32;
constexpr size_t DevModeSizeOffset = 36;
constexpr size_t DevModeDriverExtraOffset = 38;
constexpr size_t DevModeFieldsOffset = 40;
constexpr size_t DevModeOrientationOffset = 44;
constexpr size_t DevModePaperSizeOffset = 46;
constexpr size_t DevModePaperLengthOffset = 48;
constexpr size_t DevModePaperWidthOffset = 50;
constexpr size_t DevModeScaleOffset = 52;
constexpr size_t DevModeCopiesOffset = 54;
constexpr size_t DevModeDefaultSourceOffset = 56;
constexpr size_t DevModePrintQualityOffset = 58;
constexpr size_t DevModeColorOffset = 60;
constexpr size_t DevModeDuplexOffset = 62;
constexpr size_t DevModeYResolutionOffset = 64;
constexpr size_t DevModeTTOptionOffset = 66;
constexpr size_t DevModeCollateOffset = 68;
constexpr size_t DevModeFormNameOffset = 70;
constexpr size_t DevModeFormNameSize = 32;

// dmFields bits, with the platform's values.
constexpr unsigned FieldOrientation = 0x1;
constexpr unsigned FieldPaperSize = 0x2;
constexpr unsigned FieldPaperLength = 0x4;
constexpr unsigned FieldPaperWidth = 0x8;
constexpr unsigned FieldScale = 0x10;
constexpr unsigned FieldCopies = 0x100;
constexpr unsigned FieldDefaultSource = 0x200;
constexpr unsigned FieldPrintQuality = 0x400;
constexpr unsigned FieldColor = 0x800;
constexpr unsigned FieldDuplex = 0x1000;
constexpr unsigned FieldYResolution = 0x2000;
constexpr unsigned FieldTTOption = 0x4000;
constexpr unsigned FieldCollate = 0x8000;
constexpr unsigned FieldFormName = 0x10000;

// Copies min(BlockSize, 148) bytes, the rest zero. Block may be nullptr only when BlockSize is 0.
void CopyPublicDevMode(const unsigned char* Block, size_t BlockSize, unsigned char Saved[DevModePublicSize]);

// The driver's output buffer's first 148 bytes, padded with spaces (0x20) when it is shorter.
void CurrentDevModeFrom(const std::vector<unsigned char>& DriverOut, unsigned char Current[DevModePublicSize]);

// ORs into Saved's dmFields the bit of each of the 14 members (orientation through collate, and the
// form name up to its first NUL, compared exactly) that differs in Current; never clears a bit.
// Returns the new dmFields.
unsigned MarkChangedFields(unsigned char Saved[DevModePublicSize], const unsigned char Current[DevModePublicSize]);

// Overwrites the start of In with Saved (only In.size() bytes when In is shorter than 148; In keeps
// its length and its bytes after 148), then Out = In.
void AssembleDevModeBuffers(const unsigned char Saved[DevModePublicSize], std::vector<unsigned char>& Out,
                            std::vector<unsigned char>& In);

// dmDeviceName up to its first NUL, never past its 32 bytes.
std::string DevModeDeviceName(const unsigned char Saved[DevModePublicSize]);

// dmSize + dmDriverExtra: how many bytes a driver reads from a device mode with this header.
size_t DevModeClaimedSize(const unsigned char Saved[DevModePublicSize]);
