#include <gtest/gtest.h>

#include <string>

#include "app/command_line.h"

TEST(SkipProgramName, SkipsTheNameAndTheSpacesAfterIt)
{
    EXPECT_STREQ(SkipProgramName("printtest.exe  /x y"), "/x y");
    EXPECT_STREQ(SkipProgramName("printtest.exe"), "");
    EXPECT_STREQ(SkipProgramName(""), "");
}

TEST(SkipProgramName, AQuotedNameEndsAtTheNextQuote)
{
    EXPECT_STREQ(SkipProgramName("\"C:\\Program Files\\printtest.exe\" -a"), "-a");
    EXPECT_STREQ(SkipProgramName("\"unterminated name"), "");
    EXPECT_STREQ(SkipProgramName("\"\"rest"), "rest");
}

TEST(SkipProgramName, AnUnquotedNameEndsAtAControlCharacter)
{
    EXPECT_STREQ(SkipProgramName("printtest.exe\targ"), "\targ");
    // Bytes above 0x7F belong to the name.
    EXPECT_STREQ(SkipProgramName("pr\xE9nt.exe arg"), "arg");
}
