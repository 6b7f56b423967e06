#pragma once

#include "engine/output_store.h"
#include "lv2/run_buffers.h"
#include "lv2/worker.h"

#include <lilv/lilv.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace tonbrix {

// One chunk of input for the instances: `frames` interleaved file frames,
// or silence when `samples` is null. Blocks of B frames are run in turn;
// a last block shorter than B is still run with B frames.
struct ChunkInput {
    const float* samples = nullptr;
    std::size_t frames = 0;
};

// Where the instances put their outputs for one chunk. Instance m's output
// q is channel c = m * O + q; frame f of it goes to
// samples[c * channel_stride + f * frame_stride] (interleaved frames: 1 and
// the width; plain channels one after the other: the chunk's frames and 1).
// With no `samples` the outputs go to the instances' stores.
struct ChunkOutput {
    float* samples = nullptr;
    std::size_t channel_stride = 1;
    std::size_t frame_stride = 1;
};

// Called after each block of an instance, on the thread that runs it and
// before its next block, with the instance and the frames the block ran:
// the instance's control outputs then hold their values after that block.
using BlockDone = void (*)(void* context, std::size_t instance, uint32_t frames) noexcept;

// Everything the instances need to run over chunks. Each instance reads the
// shared input chunk and touches only its own buffers and output store, so
// different instances may run on different threads.
struct RunStage {
    BlockShape shape;
    const uint8_t* matrix = nullptr;
    RunBuffers* buffers = nullptr;
    const std::vector<LilvInstance*>* instances = nullptr;
    // By instance, null where the plugin has no worker: its responses are
    // delivered after each run.
    const std::vector<WorkerContext*>* workers = nullptr;
    uint32_t sequence_type = 0;
    uint32_t chunk_type = 0;
    // Index among the control outputs of the latency output, -1 for none;
    // read after an instance's first run when compensating.
    int32_t latency_output = -1;
    bool compensate_latency = false;
    // The input chunks come from another thread: fetch each block's input
    // into the cache ahead of the mix.
    bool prefetch_input = false;
    BlockDone block_done = nullptr; // none when null
    void* block_context = nullptr;
    std::vector<OutputStore> stores;         // by instance
    std::vector<uint8_t> ran;                // by instance: has run once
    std::vector<float> invalid_latencies;    // readings that were taken as 0
    std::vector<uint8_t> invalid_latency;    // by instance
};

// Runs instance `m` over the chunk: mixes its inputs, runs it block by
// block, and puts its outputs where `output` says. Without latency to take
// out, they may go straight into the output chunk; else they are kept in
// the store until every instance has them.
void run_instance_chunk(RunStage& stage, std::size_t m, const ChunkInput& input,
                        const ChunkOutput& output);

// Threads that run the instances of one chunk side by side. Instance m
// always runs on thread m % thread count, the calling thread being thread 0,
// so no instance is ever run by two threads at once.
struct InstancePool {
    RunStage* stage = nullptr;
    std::size_t thread_count = 1;
    ChunkInput input;
    ChunkOutput output;
    // A chunk starts when `generation` grows and is done when `pending`
    // (the threads still at work) is back to 0. Waiting blocks at once
    // rather than spinning: the pool shares the cores with the reader and
    // the writer.
    std::mutex mutex;
    std::condition_variable start;
    std::condition_variable done;
    uint64_t generation = 0;
    std::size_t pending = 0;
    bool stopping = false;
    std::vector<std::thread> threads;

    InstancePool() = default;
    InstancePool(const InstancePool&) = delete;
    InstancePool& operator=(const InstancePool&) = delete;
    ~InstancePool();
};

// Starts thread_count - 1 threads (none for 1). False when a thread could
// not be started; the pool then runs everything on the calling thread.
bool start_instance_pool(InstancePool& pool, RunStage& stage, std::size_t thread_count);

// Runs every instance over the chunk and returns when all are done.
void run_chunk(InstancePool& pool, const ChunkInput& input, const ChunkOutput& output);

// Stops and joins the threads.
void stop_instance_pool(InstancePool& pool) noexcept;

} // namespace tonbrix
