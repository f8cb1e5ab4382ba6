#include "render/rounding.h"

#include <gtest/gtest.h>

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour)
{
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3.5), 4);
    EXPECT_EQ(RoundHalfEven(4.5), 4);
    EXPECT_EQ(RoundHalfEven(38.5), 38);
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1948.5), 1948);
}

TEST(RoundHalfEven, NegativeValues)
{
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
    EXPECT_EQ(RoundHalfEven(-3.5), -4);
    EXPECT_EQ(RoundHalfEven(-66.67), -67);
    EXPECT_EQ(RoundHalfEven(-0.4), 0);
}

TEST(RoundHalfEven, NonHalvesGoToTheNearest)
{
    EXPECT_EQ(RoundHalfEven(2.4999), 2);
    EXPECT_EQ(RoundHalfEven(2.5001), 3);
    EXPECT_EQ(RoundHalfEven(7.0), 7);
    EXPECT_EQ(RoundHalfEven(-7.0), -7);
}
