#pragma once

#include "lv2/run_buffers.h"
#include "lv2/urid_table.h"
#include "lv2/worker.h"

#include <lilv/lilv.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace tonbrix {

// What running the instances on silence until they have taken their --set
// values found.
enum class SettleResult {
    settled,      // the plugin went quiet: no work pending, control outputs steady
    plugin_error, // the plugin logged an error or a warning on the way
    unfinished,   // still busy after the longest wait
    stopped,      // `stop` was set: the run is to end
};

// The instances, their buffers, and what tells that a plugin is at work.
struct SettleRun {
    BlockShape shape;
    RunBuffers* buffers = nullptr;
    const std::vector<LilvInstance*>* instances = nullptr;
    const std::vector<WorkerContext*>* workers = nullptr; // by instance; null: no worker
    const Urids* urids = nullptr;
    const std::atomic<uint64_t>* log_errors = nullptr;
    uint64_t longest_frames = 0; // the wait gives up after this many frames of silence
    const std::atomic<int>* stop = nullptr; // when set, the wait ends at once
};

// Runs every instance once, one block, on what its input buffers hold:
// atom outputs offered whole before, worker responses delivered and atom
// inputs emptied after, as a render does.
void run_instances_block(const SettleRun& run);

// Consecutive quiet blocks after which a plugin counts as settled.
inline constexpr int settle_quiet_blocks = 4;

// Runs every instance on silent blocks, outputs discarded, until for
// settle_quiet_blocks blocks in a row no instance scheduled work and no
// control output changed. A file that a plugin loads in the background is
// then in use from the first block of the input. For a linear plugin the
// silence leaves no trace in its output.
SettleResult settle_parameters(const SettleRun& run);

} // namespace tonbrix
