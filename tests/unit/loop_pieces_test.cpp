// Pieces of the engine that carry frames between lanes, and the option
// values they depend on.
#include "cli/option_values.h"
#include "engine/chunk_ring.h"
#include "engine/delay_line.h"
#include "engine/latency_trim.h"
#include "io/interleave.h"

#include <gtest/gtest.h>

#include <thread>

using namespace tonbrix;
using namespace tonbrix::cli;

TEST(LatencyTrim, SkipsEachChannelsLatencyThenGivesFramesEveryChannelHas)
{
    tonbrix::LatencyTrim trim;
    trim.reset({5, 1});
    // Two channels, stride 4: channel 0 holds 0..3, channel 1 holds 10..13.
    const float chunk[8] = {0, 1, 2, 3, 10, 11, 12, 13};
    trim.append(chunk, 4, 4); // channel 0 skips all four, channel 1 one
    EXPECT_EQ(trim.ready(), 0u);
    trim.append(chunk, 4, 3); // channel 0 skips one more and keeps two
    ASSERT_EQ(trim.ready(), 2u);
    EXPECT_EQ(trim.channel(0)[0], 1.0f);
    EXPECT_EQ(trim.channel(0)[1], 2.0f);
    EXPECT_EQ(trim.channel(1)[0], 11.0f);
    EXPECT_EQ(trim.channel(1)[3], 10.0f);
    trim.consume(2);
    EXPECT_EQ(trim.ready(), 0u);
    trim.append(chunk, 4, 4);
    ASSERT_EQ(trim.ready(), 4u);
    EXPECT_EQ((std::vector<float>(trim.channel(0), trim.channel(0) + 4)),
              (std::vector<float>{0, 1, 2, 3}));
    EXPECT_EQ((std::vector<float>(trim.channel(1), trim.channel(1) + 4)),
              (std::vector<float>{13, 10, 11, 12}));
}

TEST(DelayLine, DelaysAcrossCallsOfAnySize)
{
    for (const std::size_t delay : {0u, 1u, 3u, 10u}) {
        tonbrix::DelayLine line;
        line.set_delay(delay);
        std::vector<float> out;
        float next = 1.0f;
        for (const std::size_t frames : {2u, 0u, 7u, 1u, 13u}) {
            std::vector<float> chunk(frames);
            for (float& x : chunk) {
                x = next++;
            }
            line.apply(chunk.data(), frames);
            out.insert(out.end(), chunk.begin(), chunk.end());
        }
        for (std::size_t f = 0; f < out.size(); ++f) {
            EXPECT_EQ(out[f], f < delay ? 0.0f : static_cast<float>(f - delay + 1))
                << "delay " << delay << ", frame " << f;
        }
    }
}

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

TEST(ChunkRing, CarriesChunksInOrderFromSeveralWritersToSeveralReaders)
{
    // Two writers fill their halves of every chunk and two readers check
    // both halves: no chunk is read before both wrote it, nor overwritten
    // before both read it.
    constexpr uint64_t chunks = 200;
    tonbrix::ChunkRing ring;
    ASSERT_TRUE(ring.allocate(3, 2, 4, 2, 2));
    std::vector<std::thread> threads;
    std::vector<int> bad(2, 0);
    for (uint32_t w = 0; w < 2; ++w) {
        threads.emplace_back([&, w] {
            for (uint64_t k = 0; k < chunks; ++k) {
                tonbrix::RingSlot* slot = ring.begin_write(k);
                ASSERT_NE(slot, nullptr);
                std::fill(slot->samples + w * ring.stride(),
                          slot->samples + (w + 1) * ring.stride(), static_cast<float>(k));
                if (ring.end_write(k)) {
                    slot->info.frames = static_cast<std::size_t>(k);
                    ring.publish(k);
                }
            }
        });
    }
    for (int r = 0; r < 2; ++r) {
        threads.emplace_back([&, r] {
            for (uint64_t k = 0; k < chunks; ++k) {
                const tonbrix::RingSlot* slot = ring.begin_read(k);
                ASSERT_NE(slot, nullptr);
                for (std::size_t i = 0; i < 2 * ring.stride(); ++i) {
                    bad[r] += slot->samples[i] != static_cast<float>(k);
                }
                bad[r] += slot->info.frames != k;
                ring.end_read(k);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(bad, (std::vector<int>{0, 0}));
}

TEST(ChunkRing, ClosingWakesBothSides)
{
    tonbrix::ChunkRing ring;
    ASSERT_TRUE(ring.allocate(1, 1, 1, 1, 1));
    ASSERT_NE(ring.begin_write(0), nullptr);
    std::thread reader([&] { EXPECT_EQ(ring.begin_read(1), nullptr); });
    std::thread writer([&] { EXPECT_EQ(ring.begin_write(1), nullptr); });
    ring.close();
    reader.join();
    writer.join();
    EXPECT_FALSE(ring.wait_published(0));
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
