#include "base/buffers.h"
#include "io/clip_stage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using namespace tonbrix;

TEST(CheckedProduct, RefusesOverflow)
{
    std::size_t product = 0;
    EXPECT_TRUE(checked_product({3, 4, 5}, product));
    EXPECT_EQ(product, 60u);
    EXPECT_TRUE(checked_product({7, 0, SIZE_MAX}, product));
    EXPECT_EQ(product, 0u);
    EXPECT_FALSE(checked_product({SIZE_MAX / 2, 3}, product));
    EXPECT_FALSE(checked_product({1u << 31, 1u << 31, 1u << 31}, product));
}

namespace {

struct Pcm16Case {
    float sample;
    int16_t expected;
};

const float lsb = 1.0f / 32768.0f;
const float nan = std::numeric_limits<float>::quiet_NaN();
const float inf = std::numeric_limits<float>::infinity();

// Rounding to nearest (ties to even), saturation, infinities and NaN.
const std::vector<Pcm16Case> pcm16_cases = {
    {0.0f, 0},           {-0.0f, 0},           {100.7f * lsb, 101},   {100.3f * lsb, 100},
    {-100.7f * lsb, -101}, {-100.3f * lsb, -100}, {100.5f * lsb, 100}, {101.5f * lsb, 102},
    {32767 * lsb, 32767}, {-1.0f, -32768},     {1.0f, 32767},         {1.5f, 32767},
    {-1.5f, -32768},     {inf, 32767},         {-inf, -32768},        {nan, 0},
    {32766.6f * lsb, 32767}, {-32767.6f * lsb, -32768},
};

} // namespace

TEST(FloatToPcm16, RoundsToNearestAndSaturates)
{
    // Long enough for the vector path and its scalar tail to see every case.
    std::vector<float> samples;
    std::vector<int16_t> expected;
    for (int copy = 0; copy < 3; ++copy) {
        for (const Pcm16Case& c : pcm16_cases) {
            samples.push_back(c.sample);
            expected.push_back(c.expected);
        }
    }
    std::vector<int16_t> out(samples.size(), 1234);
    float_to_pcm16(samples.data(), samples.size(), out.data());
    EXPECT_EQ(out, expected);
}

TEST(InterleavePcm16, ConvertsEveryChannelAndPutsItsSamplesInPlace)
{
    // Every case lands in every channel, at vector and at tail positions,
    // for widths with a path of their own (1, 2) and without (3, 5).
    const std::size_t n = pcm16_cases.size();
    for (const uint32_t count : {1u, 2u, 3u, 5u}) {
        for (const std::size_t frames : {0u, 1u, 7u, 8u, 9u, 17u, 40u}) {
            SCOPED_TRACE(std::to_string(count) + " channels, " + std::to_string(frames) +
                         " frames");
            std::vector<std::vector<float>> channels(count);
            std::vector<const float*> sources;
            std::vector<int16_t> expected(frames * count + 4, 1234);
            for (uint32_t c = 0; c < count; ++c) {
                for (std::size_t f = 0; f < frames; ++f) {
                    const Pcm16Case& pick = pcm16_cases[(f + 5 * c) % n];
                    channels[c].push_back(pick.sample);
                    expected[f * count + c] = pick.expected;
                }
                sources.push_back(channels[c].data());
            }
            std::vector<int16_t> out(frames * count + 4, 1234);
            interleave_pcm16(sources.data(), count, frames, out.data());
            EXPECT_EQ(out, expected);
        }
    }
}

TEST(FloatToPcm16, EveryShortSurvivesTheRoundTrip)
{
    std::vector<float> samples;
    std::vector<int16_t> expected;
    for (int v = -32768; v <= 32767; ++v) {
        samples.push_back(static_cast<float>(v) / 32768.0f);
        expected.push_back(static_cast<int16_t>(v));
    }
    std::vector<int16_t> out(samples.size());
    float_to_pcm16(samples.data(), samples.size(), out.data());
    EXPECT_EQ(out, expected);
}

TEST(RepairSamples, SilencesNaNAndClampsWhenAsked)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float above_one = std::nextafter(1.0f, 2.0f);
    const float tiny = std::numeric_limits<float>::denorm_min();
    struct Case {
        const char* label;
        std::vector<float> in;
        std::vector<float> clamped;   // with clamping
        std::vector<float> unclamped; // NaN silenced only
        unsigned flaws;
    };
    const Case cases[] = {
        {"within full scale", {1.0f, -1.0f, 0.0f, -0.0f, tiny, 0.5f}, {1, -1, 0, -0.0f, tiny, 0.5f},
         {1, -1, 0, -0.0f, tiny, 0.5f}, 0},
        {"empty", {}, {}, {}, 0},
        {"just beyond", {above_one, -above_one}, {1, -1}, {above_one, -above_one},
         beyond_full_scale},
        {"infinities", {inf, 0.25f, -inf}, {1, 0.25f, -1}, {inf, 0.25f, -inf}, beyond_full_scale},
        {"NaN of either sign", {nan, 0.5f, -nan}, {0, 0.5f, 0}, {0, 0.5f, 0}, not_a_number},
        {"both, after a long clean run",
         [&] {
             std::vector<float> v(1000, 0.125f);
             v[997] = nan;
             v[999] = -3.0f;
             return v;
         }(),
         [&] {
             std::vector<float> v(1000, 0.125f);
             v[997] = 0;
             v[999] = -1.0f;
             return v;
         }(),
         [&] {
             std::vector<float> v(1000, 0.125f);
             v[997] = 0;
             v[999] = -3.0f;
             return v;
         }(),
         beyond_full_scale | not_a_number},
    };
    for (const Case& c : cases) {
        for (const bool clamp : {true, false}) {
            std::vector<float> samples = c.in;
            EXPECT_EQ(repair_samples(samples.data(), samples.size(), clamp), c.flaws) << c.label;
            const std::vector<float>& expected = clamp ? c.clamped : c.unclamped;
            ASSERT_EQ(samples.size(), expected.size()) << c.label;
            for (std::size_t i = 0; i < samples.size(); ++i) {
                // Bit for bit: silenced NaN is +0.
                EXPECT_EQ(std::memcmp(&samples[i], &expected[i], sizeof(float)), 0)
                    << c.label << ", sample " << i << ": " << samples[i];
            }
        }
    }
}
