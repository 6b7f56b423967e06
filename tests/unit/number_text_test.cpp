// Number texts of --info and --json: the shortest text that reads back as
// the same float, and times of block boundaries that read back exactly.
#include <tonbrix/number_text.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

using namespace tonbrix;

TEST(NumberText, FloatsInTheirShortestText)
{
    struct Case {
        float value;
        const char* text;
    };
    const Case cases[] = {
        {0.1f, "0.1"},        {-90.0f, "-90"},
        {24.0f, "24"},        {1e-05f, "1e-05"},
        {0.001f, "0.001"},    {3.0517578e-05f, "3.0517578e-05"},
        {0.9990001f, "0.9990001"}, {std::numeric_limits<float>::max(), "3.4028235e+38"},
        {-0.0f, "-0"},        {std::numeric_limits<float>::infinity(), "inf"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(float_text(c.value), c.text);
    }
    EXPECT_EQ(float_text(std::numeric_limits<float>::quiet_NaN()), "nan");
}

TEST(NumberText, FloatAsDecimalReadsBackAsTheSameFloat)
{
    for (const float value : {0.1f, 0.7f, -0.1f, 1e-45f, 0.333333343f, 16777217.0f, 440.0f,
                              std::numeric_limits<float>::max(), std::numeric_limits<float>::min()}) {
        const double decimal = float_as_decimal(value);
        EXPECT_EQ(static_cast<float>(decimal), value) << float_text(value);
        // The double is the one the float's text names: 0.1f becomes 0.1.
        EXPECT_EQ(decimal, std::strtod(float_text(value).c_str(), nullptr));
    }
    EXPECT_EQ(float_as_decimal(0.1f), 0.1);
}

TEST(NumberText, SecondsOfFramesReadBackExactly)
{
    struct Case {
        uint64_t frames;
        double rate;
        const char* text;
    };
    const Case cases[] = {
        {600000, 48000, "12.5"},
        {24064, 48000, "0.5013333333333333"},
        {44100, 44100, "1"},
        {0, 48000, "0"},
        {1, 1000, "0.001"},
    };
    for (const Case& c : cases) {
        const std::string text = seconds_text(c.frames, c.rate);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), static_cast<double>(c.frames) / c.rate);
    }
}
