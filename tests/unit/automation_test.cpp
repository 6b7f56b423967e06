#include "engine/automation.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

using AutomationParse = tonbrix::Result<tonbrix::Automation>;
using tonbrix::AutomationPoint;

TEST(AutomationParse, ReadsTheSymbolAndEveryPoint)
{
    struct Case {
        const char* text;
        const char* symbol;
        std::vector<AutomationPoint> points;
    };
    const Case cases[] = {
        {"gain:0=-30,2=0", "gain", {{0.0, -30.0}, {2.0, 0.0}}},
        {"gain:1.5=0.25", "gain", {{1.5, 0.25}}},
        {"cutoff:0=200,.5=+1e3,1.=2E+3,3e1=-0.5", "cutoff", {{0.0, 200.0}, {0.5, 1000.0}, {1.0, 2000.0}, {30.0, -0.5}}},
        {"x:-0=1", "x", {{0.0, 1.0}}},
        {"lv2_port_2:0=3.4028234e38", "lv2_port_2", {{0.0, 3.4028234e38}}},
    };
    for (const Case& c : cases) {
        const AutomationParse parsed = tonbrix::parse_automation(c.text);
        ASSERT_TRUE(parsed) << c.text << ": " << parsed.error().message;
        EXPECT_EQ(parsed->symbol, c.symbol);
        ASSERT_EQ(parsed->points.size(), c.points.size()) << c.text;
        for (std::size_t i = 0; i < c.points.size(); ++i) {
            EXPECT_DOUBLE_EQ(parsed->points[i].seconds, c.points[i].seconds) << c.text;
            EXPECT_DOUBLE_EQ(parsed->points[i].value, c.points[i].value) << c.text;
        }
    }
}

TEST(AutomationParse, RefusesWhatIsNotAnIncreasingListOfNumbers)
{
    struct Case {
        const char* text;
        const char* what;
    };
    const Case cases[] = {
        {"", "expected SYMBOL:TIME=VALUE[,TIME=VALUE...]"},
        {"gain", "expected SYMBOL:TIME=VALUE[,TIME=VALUE...]"},
        {"gain=0=1", "expected SYMBOL:TIME=VALUE[,TIME=VALUE...]"},
        {":0=1", "no port symbol before the colon"},
        {"gain:", "no points after the colon; give at least one TIME=VALUE"},
        {"gain:0=1,", "point 2 is empty"},
        {"gain:,0=1", "point 1 is empty"},
        {"gain:0=1,,2=3", "point 2 is empty"},
        {"gain:5", "point 1 '5' is not TIME=VALUE"},
        {"gain:0=1,2", "point 2 '2' is not TIME=VALUE"},
        {"gain:=1", "the time '' of point 1 is not a number of seconds"},
        {"gain:a=1", "the time 'a' of point 1 is not a number of seconds"},
        {"gain:1s=1", "the time '1s' of point 1 is not a number of seconds"},
        {"gain: 1=1", "the time ' 1' of point 1 is not a number of seconds"},
        {"gain:0x10=1", "the time '0x10' of point 1 is not a number of seconds"},
        {"gain:inf=1", "the time 'inf' of point 1 is not a number of seconds"},
        {"gain:nan=1", "the time 'nan' of point 1 is not a number of seconds"},
        {"gain:1e=1", "the time '1e' of point 1 is not a number of seconds"},
        {"gain:.=1", "the time '.' of point 1 is not a number of seconds"},
        {"gain:1..2=1", "the time '1..2' of point 1 is not a number of seconds"},
        {"gain:--1=1", "the time '--1' of point 1 is not a number of seconds"},
        {"a:b:0=1", "the time 'b:0' of point 1 is not a number of seconds"},
        {"gain:1e999=1", "the time '1e999' of point 1 is out of range"},
        {"gain:-1=1", "the time '-1' of point 1 is before the start (0)"},
        {"gain:-1e-9=1", "the time '-1e-9' of point 1 is before the start (0)"},
        {"gain:0=", "the value '' of point 1 is not a number"},
        {"gain:0=loud", "the value 'loud' of point 1 is not a number"},
        {"gain:0=1=2", "the value '1=2' of point 1 is not a number"},
        {"gain:0=-inf", "the value '-inf' of point 1 is not a number"},
        {"gain:0=1,1=2 ", "the value '2 ' of point 2 is not a number"},
        {"gain:0=1e39", "the value '1e39' of point 1 is out of range"},
        {"gain:0=-1e400", "the value '-1e400' of point 1 is out of range"},
        {"gain:1=0,1=1", "the time '1' of point 2 does not come after the time '1' of point 1; times must increase"},
        {"gain:0=0,2=1,1.5=2",
         "the time '1.5' of point 3 does not come after the time '2' of point 2; times must increase"},
        {"gain:0.10=0,0.1=1",
         "the time '0.1' of point 2 does not come after the time '0.10' of point 1; times must increase"},
    };
    for (const Case& c : cases) {
        const AutomationParse parsed = tonbrix::parse_automation(c.text);
        ASSERT_FALSE(parsed) << c.text;
        EXPECT_EQ(parsed.error().message,
                  "Error: invalid --automate value '" + std::string(c.text) + "': " + c.what + "\n");
    }
}

TEST(AutomationValue, HoldsTheEndsAndFollowsStraightLinesBetweenPoints)
{
    const std::vector<AutomationPoint> fade = {{1.0, -30.0}, {3.0, 0.0}, {4.0, 0.0}, {5.0, 10.0}};
    struct Case {
        double seconds;
        double value;
    };
    const Case cases[] = {
        {0.0, -30.0}, {0.999, -30.0}, {1.0, -30.0}, {1.5, -22.5}, {2.0, -15.0}, {3.0, 0.0},
        {3.5, 0.0},   {4.5, 5.0},     {5.0, 10.0},  {100.0, 10.0}, {-1.0, -30.0},
        {std::numeric_limits<double>::infinity(), 10.0},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(tonbrix::automation_value(fade, c.seconds), c.value) << "at " << c.seconds;
    }
    const std::vector<AutomationPoint> single = {{2.0, 0.75}};
    for (double t : {0.0, 2.0, 9.0}) {
        EXPECT_DOUBLE_EQ(tonbrix::automation_value(single, t), 0.75) << "at " << t;
    }
}

TEST(AutomationValue, FadeOfEgAmpAtEveryBlockStart)
{
    // The fade of the example: −30 dB at 0 s to 0 dB at 2 s, read at the start
    // of each 512-frame block at 48 kHz.
    const AutomationParse parsed = tonbrix::parse_automation("gain:0=-30,2=0");
    ASSERT_TRUE(parsed) << parsed.error().message;
    for (int block = 0; block < 200; ++block) {
        const double start = block * 512 / 48000.0;
        const double expected = start >= 2.0 ? 0.0 : -30.0 + 15.0 * start;
        EXPECT_NEAR(tonbrix::automation_value(parsed->points, start), expected, 1e-12) << "block " << block;
    }
}
