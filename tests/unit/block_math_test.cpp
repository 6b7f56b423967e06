#include "engine/block_loop.h"
#include "base/buffers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

using namespace tonbrix;

namespace {

std::size_t at(uint32_t channels, uint32_t inputs, uint32_t instance, uint32_t input,
               uint32_t channel)
{
    return channel + channels * (input + inputs * instance);
}

} // namespace

TEST(MixInputs, EachInputGetsTheMeanOfItsChannels)
{
    // Three file channels; instance 0 input 0 takes channels 0 and 1, input 1
    // takes all three; instance 1 input 0 takes nothing, input 1 channel 2.
    const uint32_t K = 3, N = 2, I = 2, B = 4;
    std::vector<uint8_t> matrix(N * I * K, 0);
    matrix[at(K, I, 0, 0, 0)] = 1;
    matrix[at(K, I, 0, 0, 1)] = 1;
    matrix[at(K, I, 0, 1, 0)] = 1;
    matrix[at(K, I, 0, 1, 1)] = 1;
    matrix[at(K, I, 0, 1, 2)] = 1;
    matrix[at(K, I, 1, 1, 2)] = 1;
    const std::vector<float> file = {0.5f, -0.25f, 3.0f, //
                                     1.0f, 2.0f, 3.0f};
    std::vector<float> ports(N * I * B, 9.0f);
    mix_inputs(file.data(), 2, K, N, I, matrix.data(), B, ports.data());

    EXPECT_FLOAT_EQ(ports[0 * B + 0], 0.125f);
    EXPECT_FLOAT_EQ(ports[0 * B + 1], 1.5f);
    EXPECT_FLOAT_EQ(ports[1 * B + 0], (0.5f - 0.25f + 3.0f) / 3.0f);
    EXPECT_FLOAT_EQ(ports[1 * B + 1], 2.0f);
    EXPECT_EQ(ports[2 * B + 0], 0.0f);
    EXPECT_EQ(ports[2 * B + 1], 0.0f);
    EXPECT_EQ(ports[3 * B + 0], 3.0f);
    EXPECT_EQ(ports[3 * B + 1], 3.0f);
    // Frames past the block read keep what they had.
    for (uint32_t port = 0; port < N * I; ++port) {
        EXPECT_EQ(ports[port * B + 2], 9.0f);
        EXPECT_EQ(ports[port * B + 3], 9.0f);
    }
}

TEST(MixInputs, OnlyTheValueOneConnects)
{
    const uint32_t K = 2, N = 1, I = 1, B = 1;
    const std::vector<uint8_t> matrix = {1, 2};
    const std::vector<float> file = {0.25f, 8.0f};
    std::vector<float> ports(1, 0.0f);
    mix_inputs(file.data(), 1, K, N, I, matrix.data(), B, ports.data());
    EXPECT_EQ(ports[0], 0.25f);
}

TEST(MixInputs, NothingHappensWithoutFrames)
{
    const std::vector<uint8_t> matrix = {1};
    const std::vector<float> file = {0.25f};
    std::vector<float> ports(1, 7.0f);
    mix_inputs(file.data(), 0, 1, 1, 1, matrix.data(), 1, ports.data());
    mix_inputs(file.data(), -3, 1, 1, 1, matrix.data(), 1, ports.data());
    EXPECT_EQ(ports[0], 7.0f);
}

TEST(InterleaveOutputs, PlacesInstanceOutputsSideBySide)
{
    // Two instances with two outputs each: channel m * O + q.
    const uint32_t N = 2, O = 2, B = 3;
    std::vector<float> ports(N * O * B);
    for (uint32_t port = 0; port < N * O; ++port) {
        for (uint32_t f = 0; f < B; ++f) {
            ports[port * B + f] = static_cast<float>(port * 10 + f);
        }
    }
    std::vector<float> out(N * O * B, -1.0f);
    interleave_outputs(2, N, O, B, ports.data(), out.data());
    const std::vector<float> expected = {0, 10, 20, 30, 1, 11, 21, 31, -1, -1, -1, -1};
    EXPECT_EQ(out, expected);
}

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

TEST(FloatToPcm16, RoundsToNearestAndSaturates)
{
    const float lsb = 1.0f / 32768.0f;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float sample;
        int16_t expected;
    };
    const Case cases[] = {
        {0.0f, 0},           {-0.0f, 0},           {100.7f * lsb, 101},   {100.3f * lsb, 100},
        {-100.7f * lsb, -101}, {-100.3f * lsb, -100}, {100.5f * lsb, 100}, {101.5f * lsb, 102},
        {32767 * lsb, 32767}, {-1.0f, -32768},     {1.0f, 32767},         {1.5f, 32767},
        {-1.5f, -32768},     {inf, 32767},         {-inf, -32768},        {nan, 0},
        {32766.6f * lsb, 32767}, {-32767.6f * lsb, -32768},
    };
    // Long enough for the vector path and its scalar tail to see every case.
    std::vector<float> samples;
    std::vector<int16_t> expected;
    for (int copy = 0; copy < 3; ++copy) {
        for (const Case& c : cases) {
            samples.push_back(c.sample);
            expected.push_back(c.expected);
        }
    }
    std::vector<int16_t> out(samples.size(), 1234);
    float_to_pcm16(samples.data(), samples.size(), out.data());
    EXPECT_EQ(out, expected);
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
