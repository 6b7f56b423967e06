#pragma once

#include "io/clip_stage.h"
#include "engine/gather_stage.h"
#include "engine/mix_stage.h"
#include "engine/run_stage.h"
#include "lv2/run_buffers.h"
#include "lv2/urid_table.h"
#include "lv2/worker.h"
#include "io/write_stage.h"

#include <lilv/lilv.h>
#include <sndfile.h>

#include <tonbrix/error.h>
#include <tonbrix/events.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace tonbrix {

enum class LoopResult { finished, out_of_memory, read_failed, write_failed, interrupted };

struct BlockLoop {
    BlockShape shape;
    const uint8_t* matrix = nullptr;
    RunBuffers* buffers = nullptr;
    const std::vector<LilvInstance*>* instances = nullptr;
    const std::vector<WorkerContext*>* workers = nullptr; // by instance, null where none
    SNDFILE* input = nullptr;
    SNDFILE* output = nullptr;
    // Or a 16-bit FLAC stream of `flac_info` to encode in segments, `jobs`
    // at a time, into `flac_fd`.
    int flac_fd = -1;
    SF_INFO flac_info{};
    SoundStrings flac_strings;
    EventSink* events = nullptr; // receives the warnings
    const Urids* urids = nullptr;
    bool pcm16_output = false; // write 16-bit integers converted here
    bool check_clipping = true;
    // Threads: 1 runs everything on the calling thread; more reads and
    // writes on threads of their own and runs up to that many instances
    // side by side.
    int jobs = 1;
    // The plugins print lines while they run (the worker's trace): run
    // everything on the calling thread a block at a time, so that the
    // warnings fall between those lines right after the block they concern.
    bool plugins_print = false;
    // Index among the control outputs of the latency output, -1 for none.
    int32_t latency_output = -1;
    bool compensate_latency = false;
    uint64_t tail_frames = 0; // frames run on silence after the input
    const std::atomic<int>* stop = nullptr; // set to end the run early
    // Called after each block of each instance (see RunStage); none when null.
    BlockDone block_done = nullptr;
    void* block_context = nullptr;
    uint64_t* frames_written = nullptr; // set to the frames handed to the writer, unless null
    ProgressHooks progress;
};

// Reads, mixes, runs, gathers, clamps and writes until the input is
// exhausted (and, with a tail or latency compensation, the silence after
// it). A failure leaves its message in `error`.
LoopResult run_block_loop(const BlockLoop& loop, Error& error);

} // namespace tonbrix
