#include "print/printer_match.h"

#include <string>

#include <gtest/gtest.h>

TEST(UpperCaseAscii, OnlyLowerCaseLettersChange)
{
    EXPECT_EQ(UpperCaseAscii("abcxyz ABC 09 `{@["), "ABCXYZ ABC 09 `{@[");
    EXPECT_EQ(UpperCaseAscii(""), "");
    std::string High = "\xe9\xe0\xff\x80 laser\t\x01";
    EXPECT_EQ(UpperCaseAscii(High), "\xe9\xe0\xff\x80 LASER\t\x01");
    std::string WithNul("a\0b", 3);
    EXPECT_EQ(UpperCaseAscii(WithNul), std::string("A\0B", 3));
}

TEST(TrimSpaces, SpacesOnlyAtBothEnds)
{
    EXPECT_EQ(TrimSpaces("  Laser Jet  "), "Laser Jet");
    EXPECT_EQ(TrimSpaces("Laser"), "Laser");
    EXPECT_EQ(TrimSpaces("      "), "");
    EXPECT_EQ(TrimSpaces(""), "");
    EXPECT_EQ(TrimSpaces(" x"), "x");
    EXPECT_EQ(TrimSpaces("x "), "x");
    EXPECT_EQ(TrimSpaces("\tLaser\t"), "\tLaser\t");
    EXPECT_EQ(TrimSpaces(" \t Laser \t "), "\t Laser \t");
    EXPECT_EQ(TrimSpaces("\nLaser\r"), "\nLaser\r");
}

TEST(MatchPrinterName, FirstContainingNameWinsEvenOverALaterExactOne)
{
    const char* Names[] = {"Office Laser Colour", "Laser", "Draft"};
    std::string Match;
    EXPECT_EQ(MatchPrinterName("laser", Names, 3, Match), 0);
    EXPECT_EQ(Match, "OFFICE LASER COLOUR");

    EXPECT_EQ(MatchPrinterName("draft", Names, 3, Match), 2);
    EXPECT_EQ(Match, "DRAFT");
}

TEST(MatchPrinterName, CaseOfPatternAndNameIsIgnored)
{
    const char* Names[] = {"Label Printer"};
    std::string Match;
    EXPECT_EQ(MatchPrinterName("lAbEl pRiNtEr", Names, 1, Match), 0);
    EXPECT_EQ(Match, "LABEL PRINTER");
}

TEST(MatchPrinterName, PatternAfterAServerPrefix)
{
    const char* Names[] = {"\\\\SERVER\\Plotter", "\\\\server\\Laser 2"};
    std::string Match;
    EXPECT_EQ(MatchPrinterName("laser", Names, 2, Match), 1);
    EXPECT_EQ(Match, "\\\\SERVER\\LASER 2");
}

TEST(MatchPrinterName, SpacesTrimmedTabsKept)
{
    const char* Names[] = {"   Laser   ", "\tPlotter\t"};
    std::string Match;
    EXPECT_EQ(MatchPrinterName("laser", Names, 2, Match), 0);
    EXPECT_EQ(Match, "LASER");
    EXPECT_EQ(MatchPrinterName("plotter", Names, 2, Match), 1);
    EXPECT_EQ(Match, "\tPLOTTER\t");

    // Trimming is of the name, not of the pattern: a pattern's spaces must be found in it.
    EXPECT_EQ(MatchPrinterName(" laser", Names, 2, Match), -1);
}

TEST(MatchPrinterName, NullNamesAreSkippedAndIndexesKept)
{
    const char* Names[] = {nullptr, "Draft", nullptr, "Laser"};
    std::string Match;
    EXPECT_EQ(MatchPrinterName("laser", Names, 4, Match), 3);
    EXPECT_EQ(Match, "LASER");
    EXPECT_EQ(MatchPrinterName("", Names, 4, Match), 1);
    EXPECT_EQ(Match, "DRAFT");
}

TEST(MatchPrinterName, NoMatchLeavesMatchAlone)
{
    const char* Names[] = {"Laser", nullptr};
    std::string Match = "before";
    EXPECT_EQ(MatchPrinterName("plotter", Names, 2, Match), -1);
    EXPECT_EQ(Match, "before");

    const char* Nulls[] = {nullptr, nullptr};
    EXPECT_EQ(MatchPrinterName("", Nulls, 2, Match), -1);
    EXPECT_EQ(MatchPrinterName("", nullptr, 0, Match), -1);
    EXPECT_EQ(Match, "before");
}

TEST(MatchPrinterName, CountBoundsTheList)
{
    const char* Names[] = {"Draft", "Laser"};
    std::string Match;
    EXPECT_EQ(MatchPrinterName("laser", Names, 1, Match), -1);
}

TEST(MatchPrinterName, HighBytesMustMatchExactly)
{
    const char* Names[] = {"Imprimante \xc9tage", "Imprimante \xe9tage"};
    std::string Match;
    EXPECT_EQ(MatchPrinterName("\xe9tage", Names, 2, Match), 1);
    EXPECT_EQ(Match, "IMPRIMANTE \xe9TAGE");
}

TEST(MatchPrinterName, EmptyPatternMatchesTheFirstName)
{
    const char* Names[] = {"   ", "Laser"};
    std::string Match = "before";
    EXPECT_EQ(MatchPrinterName("", Names, 2, Match), 0);
    EXPECT_EQ(Match, "");
}
