// Pieces of the block loop that carry frames between stages, and the
// option values they depend on.
#include "engine/chunk_queue.h"
#include "engine/gather_stage.h"
#include "engine/output_store.h"
#include "cli/option_values.h"

#include <gtest/gtest.h>

#include <thread>

using namespace tonbrix;
using namespace tonbrix::cli;

TEST(OutputStore, SkipsTheLatencyThenKeepsFramesInOrder)
{
    OutputStore store;
    reset_output_store(store, 2, 8);
    store.skip = 5;
    // Two outputs, stride 4: output 0 holds 0..3, output 1 holds 10..13.
    const float ports[8] = {0, 1, 2, 3, 10, 11, 12, 13};
    append_outputs(store, ports, 4, 4); // all four skipped
    EXPECT_EQ(store.frames, 0u);
    append_outputs(store, ports, 4, 3); // one more skipped, two kept
    ASSERT_EQ(store.frames, 2u);
    EXPECT_EQ(store.channels[0][0], 1.0f);
    EXPECT_EQ(store.channels[1][1], 12.0f);
    append_outputs(store, ports, 4, 4);
    consume_outputs(store, 3);
    ASSERT_EQ(store.frames, 3u);
    EXPECT_EQ((std::vector<float>(store.channels[0].begin(), store.channels[0].end())),
              (std::vector<float>{1, 2, 3}));
    consume_outputs(store, 99);
    EXPECT_EQ(store.frames, 0u);
}

TEST(GatherStage, InterleavesAnyWidth)
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

TEST(ChunkQueue, CarriesItemsInOrderAndWakesBothSidesOnClose)
{
    // A consumer that waits for several items at once gets them all too,
    // also when it asks for more than fit, and the last ones on close.
    for (const std::size_t refill : {1u, 2u, 3u}) {
        ChunkQueue<int> q;
        q.capacity = 2;
        std::vector<int> seen;
        std::thread consumer([&] {
            int item = 0;
            while (queue_pop(q, item, refill)) {
                seen.push_back(item);
            }
        });
        for (int i = 0; i < 101; ++i) {
            ASSERT_TRUE(queue_push(q, i));
        }
        queue_close(q);
        consumer.join();
        ASSERT_EQ(seen.size(), 101u) << refill;
        for (int i = 0; i < 101; ++i) {
            EXPECT_EQ(seen[i], i) << refill;
        }
        EXPECT_FALSE(queue_push(q, 1));
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
