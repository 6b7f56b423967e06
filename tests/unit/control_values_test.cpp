#include "lv2/ports.h"
#include "lv2/sample_rate_ports.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tonbrix;

namespace {
const float none = std::numeric_limits<float>::quiet_NaN();
}

TEST(ControlDefault, FollowsDefaultThenRange)
{
    struct Case {
        float value, minimum, maximum, expected;
    };
    const float largest = std::numeric_limits<float>::max();
    const Case cases[] = {
        {0.3f, 0.0f, 1.0f, 0.3f},     // the default
        {7.0f, 0.0f, 1.0f, 7.0f},     // not clamped to its range
        {none, -1.0f, 3.0f, 1.0f},     // midpoint
        {none, none, -2.0f, -2.0f},     // only a negative maximum
        {none, none, 5.0f, 0.0f},       // only a positive maximum
        {none, none, 0.0f, 0.0f},
        {none, 0.25f, none, 0.25f},     // only a positive minimum
        {none, -4.0f, none, 0.0f},      // only a negative minimum
        {none, none, none, 0.0f},        // nothing at all
    };
    for (const Case& c : cases) {
        EXPECT_EQ(control_default(c.value, c.minimum, c.maximum), c.expected)
            << c.value << " " << c.minimum << " " << c.maximum;
    }
    // The midpoint sum is taken in single precision and overflows.
    EXPECT_EQ(control_default(none, largest, largest), std::numeric_limits<float>::infinity());
}

TEST(SetControlStartValues, FreewheelPortIsSwitchedOn)
{
    PortIndexLists lists;
    lists.control_inputs = {1, 3, 4};
    lists.freewheel_port = 3;
    const std::vector<float> values = {9.0f, 0.5f, 9.0f, 0.0f, none};
    const std::vector<float> minimums = {none, 0.0f, none, 0.0f, 2.0f};
    const std::vector<float> maximums = {none, 1.0f, none, 1.0f, 4.0f};
    EXPECT_EQ(set_control_start_values(lists, values, minimums, maximums),
              (std::vector<float>{0.5f, 1.0f, 3.0f}));
}

TEST(SampleRateDefaults, OnlyFractionsWithinTheRangeAreScaled)
{
    // The bounds of an lv2:sampleRate port are fractions of the rate; its
    // default is one only when it lies within them, else it is in Hz.
    struct Case {
        const char* what;
        float value, minimum, maximum;
        float start, low, high; // at 48 kHz
    };
    const Case cases[] = {
        {"fraction (swh IIR cutoff)", 0.25f, 0.0625f, 0.5f, 12000.0f, 3000.0f, 24000.0f},
        {"Hz beside fractions (blop oscillator)", 440.0f, 0.0078125f, 0.5f, 440.0f, 375.0f,
         24000.0f},
        {"on the minimum (swh triplePara fc_L)", 0.0625f, 0.0625f, 0.5f, 3000.0f, 3000.0f,
         24000.0f},
        {"on the maximum (swh decimator fs)", 1.0f, 0.0625f, 1.0f, 48000.0f, 3000.0f, 48000.0f},
        {"below the minimum", -0.25f, 0.0f, 0.5f, -0.25f, 0.0f, 24000.0f},
        {"no default: NaN stays", none, 0.0f, 0.5f, none, 0.0f, 24000.0f},
        {"no bounds limit nothing", 0.25f, none, none, 12000.0f, none, none},
        {"only a maximum", 440.0f, none, 0.5f, 440.0f, none, 24000.0f},
        {"only a minimum", 0.25f, 0.125f, none, 12000.0f, 6000.0f, none},
    };
    const auto same = [](float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    for (const Case& c : cases) {
        // Port 1 has the property; port 0 (the same numbers) does not.
        std::vector<float> minimums{c.minimum, c.minimum};
        std::vector<float> maximums{c.maximum, c.maximum};
        std::vector<float> starts{c.value, c.value};
        scale_to_sample_rate({1}, 48000.0, minimums, maximums, starts);
        EXPECT_TRUE(same(starts[1], c.start)) << c.what << ": " << starts[1];
        EXPECT_TRUE(same(minimums[1], c.low)) << c.what << ": " << minimums[1];
        EXPECT_TRUE(same(maximums[1], c.high)) << c.what << ": " << maximums[1];
        EXPECT_TRUE(same(starts[0], c.value) && same(minimums[0], c.minimum) &&
                    same(maximums[0], c.maximum))
            << c.what;
    }
}
