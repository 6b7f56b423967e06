#include "base/int_text.h"

#include <gtest/gtest.h>

#include <climits>

using namespace tonbrix;


TEST(SaturatingAtoi, ReadsLikeAtoiWithinRange)
{
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {
        {"1", 1},        {"007", 7},       {"3abc", 3},     {" 3", 3},      {"\t\n 42x", 42},
        {"0", 0},        {"+0", 0},        {"-0", 0},       {"-1", -1},     {"+12", 12},
        {"", 0},         {"abc", 0},       {"- 1", 0},      {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},          {"1.5", 1},      {"12:in", 12},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(saturating_atoi(c.text), c.expected) << "text: '" << c.text << "'";
    }
}

TEST(SaturatingAtoi, SaturatesBeyondRange)
{
    EXPECT_EQ(saturating_atoi("2147483648"), INT_MAX);
    EXPECT_EQ(saturating_atoi("99999999999999999999999999"), INT_MAX);
    EXPECT_EQ(saturating_atoi("-2147483649"), INT_MIN);
    EXPECT_EQ(saturating_atoi("-99999999999999999999999999"), INT_MIN);
    EXPECT_EQ(saturating_atoi("000000000000000000000000012"), 12);
}
