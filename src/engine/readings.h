#pragma once

#include "engine/block_hooks.h"
#include "lv2/run_buffers.h"

#include <tonbrix/readings.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonbrix {

// Takes the readings of --report-every: after the first block that ends at
// or after each multiple of `period_frames`, a copy of the instance's
// control outputs. Each instance has a lane of its own, written only by
// the thread that runs it, right after its block and before its next one.
struct ReadingRecorder {
    double period_frames = 0.0;
    const RunBuffers* buffers = nullptr;
    struct Lane {
        uint64_t frames_run = 0;
        uint64_t next_period = 1; // the multiple of the period waited for
        std::vector<uint64_t> frames;
        std::vector<float> values; // the control outputs at each frame, one after the other
        bool out_of_memory = false;
    };
    std::vector<Lane> lanes; // by instance
};

// Sizes the lanes for `instances` instances.
void start_readings(ReadingRecorder& recorder, double period_frames, const RunBuffers& buffers,
                    std::size_t instances);

// The block hook: instance `instance` has just run a block of `frames`
// frames. Takes a reading when the block ends at or after the next
// multiple of the period.
void record_block(void* recorder, std::size_t instance, uint32_t frames) noexcept;

// The recorder as a plugin node's block hooks.
class ReadingHooks final : public BlockHooks {
public:
    explicit ReadingHooks(ReadingRecorder& recorder) : recorder_(recorder) {}
    void after_block(std::size_t instance, uint64_t, uint32_t frames,
                     std::vector<StreamEvent>*) noexcept override
    {
        record_block(&recorder_, instance, frames);
    }

private:
    ReadingRecorder& recorder_;
};

// The readings taken before `end_frame` (the run's output length), then the
// last one: the control outputs as they are now, at `end_frame`. False
// when a lane ran out of memory.
bool collect_readings(const ReadingRecorder& recorder, uint64_t end_frame,
                      std::vector<Reading>& readings);

// The one reading of a run without a period: the control outputs as they
// are now, at `end_frame`.
Reading final_reading(const RunBuffers& buffers, uint64_t end_frame);

} // namespace tonbrix
