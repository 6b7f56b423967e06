// The interleaving of a file's frames, and the option values the render
// depends on.
#include "cli/option_values.h"
#include "io/interleave.h"

#include <gtest/gtest.h>

#include <vector>

using namespace tonbrix;
using namespace tonbrix::cli;

TEST(Interleave, InterleavesAnyWidth)
{
    for (std::size_t width : {1u, 2u, 3u}) {
        std::vector<std::vector<float>> channels(width);
        std::vector<const float*> sources;
        for (std::size_t c = 0; c < width; ++c) {
            for (int f = 0; f < 4; ++f) {
                channels[c].push_back(static_cast<float>(f * 10 + c));
            }
            sources.push_back(channels[c].data());
        }
        std::vector<float> out(4 * width, -1.0f);
        interleave_channels(4, sources.data(), width, out.data());
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i], static_cast<float>((i / width) * 10 + i % width)) << width;
        }
    }
}

TEST(OptionValues, TailSeconds)
{
    const struct {
        const char* text;
        bool ok;
        double seconds;
    } cases[] = {
        {"0", true, 0.0},       {"1.5", true, 1.5},     {".25", true, 0.25},
        {"2.", true, 2.0},      {"+3", true, 3.0},      {"1e-3", true, 0.001},
        {"2E+1", true, 20.0},   {"", false, 0},         {"-1", false, 0},
        {"-0", false, 0},       {"abc", false, 0},      {"1s", false, 0},
        {"inf", false, 0},      {"nan", false, 0},      {"0x1p3", false, 0},
        {"1e999", false, 0},    {".", false, 0},        {"1e", false, 0},
        {" 1", false, 0},       {"1..2", false, 0},
    };
    for (const auto& c : cases) {
        double seconds = -7.0;
        EXPECT_EQ(parse_tail_seconds(c.text, seconds), c.ok) << c.text;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(seconds, c.seconds) << c.text;
        }
    }
}

TEST(OptionValues, Jobs)
{
    const struct {
        const char* text;
        bool ok;
        int jobs;
    } cases[] = {
        {"1", true, 1},   {"16", true, 16}, {"0", false, 0},  {"-1", false, 0},
        {"", false, 0},   {"2x", false, 0}, {"1.0", false, 0}, {"99999999999999999999", false, 0},
        {"5000", true, 1024},
    };
    for (const auto& c : cases) {
        int jobs = -7;
        EXPECT_EQ(parse_jobs(c.text, jobs), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(jobs, c.jobs) << c.text;
        }
    }
}
