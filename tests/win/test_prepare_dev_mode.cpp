// The device mode a job is printed with, prepared against the short queue opened through Wine's
// spooler, whose PostScript driver answers the settings queries.
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "print/prepare_dev_mode.h"
#include "test_support.h"

namespace
{

using Saved = unsigned char[DevModePublicSize];

DEVMODEA& AsDevMode(Saved& Bytes) { return *reinterpret_cast<DEVMODEA*>(Bytes); }

class PrepareDevModeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(OpenPrinterA(const_cast<char*>(QueueShort), &Printer, nullptr));
        DriverSize = DocumentPropertiesA(nullptr, Printer, const_cast<char*>(QueueShort), nullptr, nullptr, 0);
        ASSERT_GE(DriverSize, static_cast<LONG>(DevModePublicSize));
        std::vector<unsigned char> Current(static_cast<size_t>(DriverSize));
        ASSERT_EQ(DocumentPropertiesA(nullptr, Printer, const_cast<char*>(QueueShort),
                                      reinterpret_cast<DEVMODEA*>(Current.data()), nullptr, DM_OUT_BUFFER),
                  IDOK);
        std::memcpy(DriverSettings, Current.data(), DevModePublicSize);
    }

    void TearDown() override
    {
        if (Printer)
            ClosePrinter(Printer);
    }

    // The driver's settings as the user's choices, with the given fields marked.
    void StartFromDriver(Saved& Choices, DWORD Fields)
    {
        std::memcpy(Choices, DriverSettings, DevModePublicSize);
        AsDevMode(Choices).dmFields = Fields;
    }

    DWORD Prepare(Saved& Choices)
    {
        Out.assign(7, 0xAA);
        In.assign(300, 0x55);
        PrepareDevMode(Owner, Printer, Choices, Out, In);
        return AsDevMode(Choices).dmFields;
    }

    HWND Owner = nullptr;
    HANDLE Printer = nullptr;
    LONG DriverSize = 0;
    Saved DriverSettings = {};
    std::vector<unsigned char> Out;
    std::vector<unsigned char> In;
};

TEST_F(PrepareDevModeTest, TheDriversOwnSettingsMarkNothingNew)
{
    Saved Choices;
    DWORD DriverFields = AsDevMode(DriverSettings).dmFields;
    StartFromDriver(Choices, DriverFields);
    EXPECT_EQ(Prepare(Choices), DriverFields);
    StartFromDriver(Choices, 0);
    EXPECT_EQ(Prepare(Choices), 0u);
}

// Each of the settings the dialogs may change, changed alone, marks its own field and no other.
TEST_F(PrepareDevModeTest, EachChangedSettingMarksExactlyItsField)
{
    struct Change
    {
        const char* Setting;
        DWORD Field;
        std::function<void(DEVMODEA&)> Apply;
    };
    const std::vector<Change> Changes = {
        {"orientation", DM_ORIENTATION, [](DEVMODEA& D) { D.dmOrientation = D.dmOrientation == 1 ? 2 : 1; }},
        {"paper size", DM_PAPERSIZE, [](DEVMODEA& D) { D.dmPaperSize = D.dmPaperSize == 9 ? 1 : 9; }},
        {"paper length", DM_PAPERLENGTH, [](DEVMODEA& D) { D.dmPaperLength += 10; }},
        {"paper width", DM_PAPERWIDTH, [](DEVMODEA& D) { D.dmPaperWidth -= 10; }},
        {"scale", DM_SCALE, [](DEVMODEA& D) { D.dmScale = D.dmScale == 50 ? 100 : 50; }},
        {"copies", DM_COPIES, [](DEVMODEA& D) { D.dmCopies = D.dmCopies + 2; }},
        {"default source", DM_DEFAULTSOURCE, [](DEVMODEA& D) { D.dmDefaultSource = D.dmDefaultSource + 1; }},
        {"print quality", DM_PRINTQUALITY, [](DEVMODEA& D) { D.dmPrintQuality = D.dmPrintQuality == 600 ? 300 : 600; }},
        {"colour", DM_COLOR, [](DEVMODEA& D) { D.dmColor = D.dmColor == DMCOLOR_COLOR ? DMCOLOR_MONOCHROME : DMCOLOR_COLOR; }},
        {"duplex", DM_DUPLEX, [](DEVMODEA& D) { D.dmDuplex = D.dmDuplex == DMDUP_SIMPLEX ? DMDUP_VERTICAL : DMDUP_SIMPLEX; }},
        {"y resolution", DM_YRESOLUTION, [](DEVMODEA& D) { D.dmYResolution = D.dmYResolution == 600 ? 300 : 600; }},
        {"TrueType option", DM_TTOPTION, [](DEVMODEA& D) { D.dmTTOption = D.dmTTOption == DMTT_BITMAP ? DMTT_DOWNLOAD : DMTT_BITMAP; }},
        {"collate", DM_COLLATE, [](DEVMODEA& D) { D.dmCollate = D.dmCollate == DMCOLLATE_TRUE ? DMCOLLATE_FALSE : DMCOLLATE_TRUE; }},
        {"form name", DM_FORMNAME, [](DEVMODEA& D) { D.dmFormName[0] = '\0'; }},
    };
    for (const Change& Each : Changes)
    {
        SCOPED_TRACE(Each.Setting);
        Saved Choices;
        StartFromDriver(Choices, 0);
        Each.Apply(AsDevMode(Choices));
        EXPECT_EQ(Prepare(Choices), Each.Field);
    }
}

TEST_F(PrepareDevModeTest, AFormNameInOtherCaseIsAChangeButBytesAfterItsEndAreNot)
{
    std::string Form = reinterpret_cast<const char*>(AsDevMode(DriverSettings).dmFormName);
    ASSERT_FALSE(Form.empty());
    ASSERT_LT(Form.size() + 8, sizeof(AsDevMode(DriverSettings).dmFormName));
    std::string Flipped = Form;
    for (char& Byte : Flipped)
    {
        if (Byte >= 'a' && Byte <= 'z')
            Byte = static_cast<char>(Byte - 'a' + 'A');
        else if (Byte >= 'A' && Byte <= 'Z')
            Byte = static_cast<char>(Byte - 'A' + 'a');
    }
    ASSERT_NE(Flipped, Form);

    Saved Choices;
    StartFromDriver(Choices, 0);
    std::memcpy(AsDevMode(Choices).dmFormName, Flipped.c_str(), Flipped.size() + 1);
    EXPECT_EQ(Prepare(Choices), static_cast<DWORD>(DM_FORMNAME)) << Form << " against " << Flipped;

    StartFromDriver(Choices, 0);
    std::memcpy(AsDevMode(Choices).dmFormName + Form.size() + 1, "rubbish", 7);
    EXPECT_EQ(Prepare(Choices), 0u);
}

TEST_F(PrepareDevModeTest, AMarkedFieldStaysMarkedAndAnEqualSettingNeverClearsOne)
{
    Saved Choices;
    StartFromDriver(Choices, DM_ORIENTATION | DM_COPIES);
    EXPECT_EQ(Prepare(Choices), static_cast<DWORD>(DM_ORIENTATION | DM_COPIES));

    AsDevMode(Choices).dmCollate = AsDevMode(Choices).dmCollate == DMCOLLATE_TRUE ? DMCOLLATE_FALSE : DMCOLLATE_TRUE;
    EXPECT_EQ(Prepare(Choices), static_cast<DWORD>(DM_ORIENTATION | DM_COPIES | DM_COLLATE));
    // Prepared again, now that collate is marked and every other setting equal.
    EXPECT_EQ(Prepare(Choices), static_cast<DWORD>(DM_ORIENTATION | DM_COPIES | DM_COLLATE));
}

TEST_F(PrepareDevModeTest, BothBuffersHoldTheChoicesThenSpacesAtTheDriversSize)
{
    Saved Choices;
    StartFromDriver(Choices, 0);
    AsDevMode(Choices).dmCopies = 3;
    AsDevMode(Choices).dmOrientation = DMORIENT_LANDSCAPE;
    Prepare(Choices);
    ASSERT_EQ(Out.size(), static_cast<size_t>(DriverSize));
    ASSERT_EQ(In.size(), static_cast<size_t>(DriverSize));
    EXPECT_TRUE(Out == In);
    EXPECT_EQ(std::memcmp(Out.data(), Choices, DevModePublicSize), 0) << "the choices, as marked, come first";
    EXPECT_EQ(AsDevMode(Choices).dmFields, static_cast<DWORD>(DM_COPIES | DM_ORIENTATION));
    for (size_t Index = DevModePublicSize; Index < Out.size(); ++Index)
        EXPECT_EQ(Out[Index], ' ') << "byte " << Index;
}

TEST_F(PrepareDevModeTest, APrinterThatNamesNoSizeLeavesBothBuffersEmptyAndNothingMarked)
{
    Saved Choices;
    StartFromDriver(Choices, 0);
    AsDevMode(Choices).dmCopies = 5;
    Saved Before;
    std::memcpy(Before, Choices, DevModePublicSize);
    ClosePrinter(Printer);
    ASSERT_LE(DocumentPropertiesA(nullptr, Printer, const_cast<char*>(QueueShort), nullptr, nullptr, 0), 0);
    Prepare(Choices);
    Printer = nullptr;
    EXPECT_TRUE(Out.empty());
    EXPECT_TRUE(In.empty());
    EXPECT_EQ(std::memcmp(Choices, Before, DevModePublicSize), 0);
}

}  // namespace
