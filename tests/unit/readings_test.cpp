// The readings of --report-every: taken after the first block that ends at
// or after each multiple of the period, kept by instance, and collected up
// to the output's end with the last reading there.
#include "engine/readings.h"

#include <gtest/gtest.h>

using namespace tonbrix;

namespace {

// Runs `blocks` blocks of `block` frames on every instance; after block b
// instance m's control output holds 100 * m + b + 1.
std::vector<Reading> run_blocks(double period, uint32_t block, int blocks, std::size_t instances,
                                uint64_t end_frame)
{
    RunBuffers buffers;
    buffers.instances.resize(instances);
    for (InstanceBuffers& instance : buffers.instances) {
        instance.control_outputs.assign(1, 0.0f);
    }
    ReadingRecorder recorder;
    start_readings(recorder, period, buffers, instances);
    for (int b = 0; b < blocks; ++b) {
        for (std::size_t m = 0; m < instances; ++m) {
            buffers.instances[m].control_outputs[0] = static_cast<float>(100 * m + b + 1);
            record_block(&recorder, m, block);
        }
    }
    std::vector<Reading> readings;
    EXPECT_TRUE(collect_readings(recorder, end_frame, readings));
    return readings;
}

std::vector<uint64_t> frames_of(const std::vector<Reading>& readings)
{
    std::vector<uint64_t> frames;
    for (const Reading& reading : readings) {
        frames.push_back(reading.frame);
    }
    return frames;
}

} // namespace

TEST(Readings, TakenAtTheFirstBoundaryAtOrAfterEachPeriod)
{
    struct Case {
        const char* label;
        double period;
        uint32_t block;
        int blocks;
        uint64_t end;
        std::vector<uint64_t> frames;
    };
    const Case cases[] = {
        {"periods between boundaries", 250, 100, 10, 1000, {300, 500, 800, 1000}},
        {"a period on a boundary", 500, 100, 10, 1000, {500, 1000}},
        {"periods shorter than a block share it", 30, 100, 3, 300, {100, 200, 300}},
        {"a period longer than the run", 5000, 100, 10, 1000, {1000}},
        {"a fractional period", 2.5 * 48000 / 1000.0, 64, 6, 384, {128, 256, 384}},
        {"boundaries past the output's end are left out", 100, 100, 12, 1050,
         {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 1050}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(frames_of(run_blocks(c.period, c.block, c.blocks, 1, c.end)), c.frames)
            << c.label;
    }
}

TEST(Readings, EachInstanceKeepsItsOwnValuesAndTheLastReadingIsTheCurrentOne)
{
    const std::vector<Reading> readings = run_blocks(250, 100, 10, 2, 1000);
    ASSERT_EQ(readings.size(), 4u);
    // After block 3 (frame 300): 3 and 103; the last: the values after block 10.
    EXPECT_EQ(readings[0].values, (std::vector<std::vector<float>>{{3.0f}, {103.0f}}));
    EXPECT_EQ(readings[1].values, (std::vector<std::vector<float>>{{5.0f}, {105.0f}}));
    EXPECT_EQ(readings[3].values, (std::vector<std::vector<float>>{{10.0f}, {110.0f}}));
}
