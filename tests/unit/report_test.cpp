#include "engine/report.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tonbrix;

namespace {

InstanceBuffers with_outputs(std::vector<float> values)
{
    InstanceBuffers buffers;
    buffers.control_outputs = std::move(values);
    return buffers;
}

} // namespace

TEST(Report, OneLinePerControlOutputInPortOrder)
{
    EXPECT_EQ(report_text({"dr", "peak", "rms"}, {with_outputs({12.f, -0.5f, 1e-7f})}),
              "dr: 12\npeak: -0.5\nrms: 1e-07\n");
}

TEST(Report, SeveralInstancesAreNumberedFromOneInstanceByInstance)
{
    EXPECT_EQ(report_text({"level", "gain"},
                          {with_outputs({0.25f, 3.f}), with_outputs({1.f / 3.f, NAN})}),
              "1.level: 0.25\n1.gain: 3\n2.level: 0.333333\n2.gain: nan\n");
}

TEST(Report, NothingWithoutControlOutputs)
{
    EXPECT_EQ(report_text({}, {with_outputs({}), with_outputs({})}), "");
}
