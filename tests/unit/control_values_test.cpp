#include "lv2/ports.h"

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
