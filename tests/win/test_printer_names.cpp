// Device names resolved against the printers Wine's spooler lists from the private scheduler.
// Built a second time with EMPTY_SPOOLER and run against a scheduler with no queue at all: Wine
// brings its printer list in line with the scheduler as each process starts, so that process
// sees no printer.
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

#include "print/find_full_printer_name.h"
#include "test_support.h"

namespace
{

std::vector<std::string> ListedPrinters()
{
    DWORD Needed = 0;
    DWORD Returned = 0;
    const DWORD Flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS | PRINTER_ENUM_NETWORK;
    EnumPrintersA(Flags, nullptr, 2, nullptr, 0, &Needed, &Returned);
    std::vector<BYTE> Block(Needed + sizeof(PRINTER_INFO_2A));
    EnumPrintersA(Flags, nullptr, 2, Block.data(), static_cast<DWORD>(Block.size()), &Needed, &Returned);
    std::vector<std::string> Names;
    const PRINTER_INFO_2A* Info = reinterpret_cast<const PRINTER_INFO_2A*>(Block.data());
    for (DWORD Index = 0; Index < Returned; ++Index)
        Names.push_back(Info[Index].pPrinterName);
    return Names;
}

std::string Lower(std::string Text)
{
    for (char& Byte : Text)
        if (Byte >= 'A' && Byte <= 'Z')
            Byte = static_cast<char>(Byte - 'A' + 'a');
    return Text;
}

#ifndef EMPTY_SPOOLER

// Wine's spooler keeps a printer of its own, one the scheduler does not know, for as long as
// it is not deleted: a name with spaces around it and small letters, which no queue may have.
const char LocalPrinter[] = "  Print test local printer  ";
const char LocalPrinterFound[] = "PRINT TEST LOCAL PRINTER";

void DeleteLocalPrinter()
{
    HANDLE Printer = nullptr;
    PRINTER_DEFAULTSA Access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterA(const_cast<char*>(LocalPrinter), &Printer, &Access))
    {
        DeletePrinter(Printer);
        ClosePrinter(Printer);
    }
}

class PrinterNameTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        DeleteLocalPrinter();
        PRINTER_INFO_2A Info = {};
        Info.pPrinterName = const_cast<char*>(LocalPrinter);
        Info.pDriverName = const_cast<char*>(QueueShort);
        Info.pPortName = const_cast<char*>("FILE:");
        Info.pPrintProcessor = const_cast<char*>("WinPrint");
        Info.pDatatype = const_cast<char*>("RAW");
        HANDLE Added = AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&Info));
        if (Added)
            ClosePrinter(Added);
    }

    static void TearDownTestSuite() { DeleteLocalPrinter(); }

    void SetUp() override
    {
        std::vector<std::string> Listed = ListedPrinters();
        auto Has = [&Listed](const char* Name) {
            for (const std::string& Each : Listed)
                if (Each == Name)
                    return true;
            return false;
        };
        ASSERT_TRUE(Has(QueueShort) && Has(QueueLong) && Has(Queue600)) << "the fixture's queues are not listed";
        ASSERT_TRUE(Has(LocalPrinter)) << "the local printer could not be added";
    }
};

TEST_F(PrinterNameTest, TheLongQueuesNameCutShortResolvesToItsFullName)
{
    const std::string Full = QueueLong;
    for (size_t Length : {31u, 35u, 44u})
    {
        for (bool Small : {false, true})
        {
            std::string Name = Full.substr(0, Length);
            if (Small)
                Name = Lower(Name);
            SCOPED_TRACE(Name);
            EXPECT_EQ(FindFullPrinterName(Name), 1);
            EXPECT_EQ(Name, Full);
        }
    }
    std::string Whole = Lower(Full);
    EXPECT_EQ(FindFullPrinterName(Whole), 1);
    EXPECT_EQ(Whole, Full);
}

TEST_F(PrinterNameTest, APrintersNameComesBackUpperCasedWithoutItsSpaces)
{
    for (std::string Name : {"local printer", "Print test local", " TEST LOCAL PRINTER"})
    {
        SCOPED_TRACE(Name);
        EXPECT_EQ(FindFullPrinterName(Name), 1);
        EXPECT_EQ(Name, LocalPrinterFound);
    }
}

TEST_F(PrinterNameTest, ANameSeveralPrintersContainGivesTheFirstListed)
{
    std::vector<std::string> Listed = ListedPrinters();
    auto FirstListed = [&Listed](std::vector<std::string> Names) {
        for (const std::string& Each : Listed)
            for (const std::string& Name : Names)
                if (Each == Name)
                    return Name == LocalPrinter ? std::string(LocalPrinterFound) : Name;
        return std::string();
    };
    struct Case
    {
        std::string Pattern;
        std::string Expected;
    };
    for (const Case& Each : {Case{"ptqueue", FirstListed({QueueShort, Queue600})},
                             Case{"QUEUE", FirstListed({QueueShort, Queue600, QueueLong})},
                             Case{"Print", FirstListed({QueueLong, LocalPrinter})},
                             Case{"ptqueue6", Queue600}})
    {
        SCOPED_TRACE(Each.Pattern);
        std::string Name = Each.Pattern;
        EXPECT_EQ(FindFullPrinterName(Name), 1);
        EXPECT_EQ(Name, Each.Expected);
    }
}

TEST_F(PrinterNameTest, ANameNoPrinterContainsIsLeftAsItWas)
{
    for (std::string Name : {std::string(QueueLong) + "_", std::string("Print_Test_Queue_With_A_Name_Of_46"),
                             std::string("no such printer anywhere at all"), std::string("LOCAL PRINTER  "),
                             std::string("PTQUEUE PTQUEUE600")})
    {
        SCOPED_TRACE(Name);
        std::string Before = Name;
        EXPECT_EQ(FindFullPrinterName(Name), 0);
        EXPECT_EQ(Name, Before);
    }
}

#else

TEST(PrinterNameWithNoPrinterTest, NoNameIsFoundAndNoneIsChanged)
{
    ASSERT_TRUE(ListedPrinters().empty()) << "Wine still lists the printers of another scheduler";
    for (std::string Name : {std::string(QueueLong).substr(0, 31), Lower(QueueLong), std::string(QueueShort),
                             std::string()})
    {
        SCOPED_TRACE(Name);
        std::string Before = Name;
        EXPECT_EQ(FindFullPrinterName(Name), 0);
        EXPECT_EQ(Name, Before);
    }
}

#endif

}  // namespace
