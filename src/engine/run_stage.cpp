#include "engine/run_stage.h"

#include "engine/gather_stage.h"
#include "engine/mix_stage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <system_error>

namespace tonbrix {

namespace {

void read_latency(RunStage& stage, std::size_t m)
{
    const float reading = stage.buffers->instances[m].control_outputs[stage.latency_output];
    if (!std::isfinite(reading) || reading < 0.0f) {
        stage.invalid_latency[m] = 1;
        stage.invalid_latencies[m] = reading;
        return;
    }
    stage.stores[m].skip = static_cast<uint64_t>(std::llround(static_cast<double>(reading)));
}

void run_share(InstancePool& pool, std::size_t thread)
{
    RunStage& stage = *pool.stage;
    for (std::size_t m = thread; m < stage.instances->size(); m += pool.thread_count) {
        run_instance_chunk(stage, m, pool.input, pool.output);
    }
}

void pool_thread(InstancePool* pool, std::size_t thread)
{
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(pool->mutex);
            pool->start.wait(lock, [&] { return pool->stopping || pool->generation != seen; });
            if (pool->stopping) {
                return;
            }
            seen = pool->generation;
        }
        run_share(*pool, thread);
        std::lock_guard lock(pool->mutex);
        if (--pool->pending == 0) {
            pool->done.notify_one();
        }
    }
}

} // namespace

void run_instance_chunk(RunStage& stage, std::size_t m, const ChunkInput& input,
                        const ChunkOutput& output)
{
    const BlockShape& s = stage.shape;
    LilvInstance* instance = (*stage.instances)[m];
    InstanceBuffers& own = stage.buffers->instances[m];
    float* port_inputs = stage.buffers->input_ports.data + m * std::size_t{s.inputs} * s.block_size;
    const float* port_outputs =
        stage.buffers->output_ports.data + m * std::size_t{s.outputs} * s.block_size;
    const uint8_t* matrix = stage.matrix + m * std::size_t{s.inputs} * s.channels;
    const std::size_t input_samples = std::size_t{s.inputs} * s.block_size;

    const bool prefetch = stage.prefetch_input && input.samples != nullptr;
    if (prefetch) {
        prefetch_samples(input.samples,
                         std::min<std::size_t>(s.block_size, input.frames) * s.channels);
    }
    for (std::size_t offset = 0; offset < input.frames; offset += s.block_size) {
        const std::size_t frames = std::min<std::size_t>(s.block_size, input.frames - offset);
        const std::size_t next = offset + s.block_size;
        if (prefetch && next < input.frames) {
            // The next block's input arrives while the plugin runs.
            prefetch_samples(input.samples + next * s.channels,
                             std::min<std::size_t>(s.block_size, input.frames - next) * s.channels);
        }
        if (input.samples != nullptr) {
            mix_inputs(input.samples + offset * s.channels, static_cast<int64_t>(frames),
                       s.channels, 1, s.inputs, matrix, s.block_size, port_inputs);
            if (frames < s.block_size) {
                // The last block of the input is run whole: silence after its end.
                for (uint32_t i = 0; i < s.inputs; ++i) {
                    std::memset(port_inputs + std::size_t{i} * s.block_size + frames, 0,
                                (s.block_size - frames) * sizeof(float));
                }
            }
        } else {
            std::memset(port_inputs, 0, input_samples * sizeof(float));
        }
        for (AtomBuffer& atoms : own.atom_outputs) {
            prepare_atom_output(atoms, stage.chunk_type);
        }
        lilv_instance_run(instance, s.block_size);
        if (stage.workers != nullptr && (*stage.workers)[m] != nullptr) {
            end_worker_run(*(*stage.workers)[m]);
        }
        for (AtomBuffer& atoms : own.atom_inputs) {
            reset_atom_input(atoms, stage.sequence_type);
        }
        if (stage.block_done != nullptr) {
            stage.block_done(stage.block_context, m, s.block_size);
        }
        if (!stage.ran[m]) {
            stage.ran[m] = 1;
            if (stage.compensate_latency && stage.latency_output >= 0) {
                read_latency(stage, m);
            }
        }
        if (output.samples != nullptr) {
            float* first = output.samples + offset * output.frame_stride +
                           m * std::size_t{s.outputs} * output.channel_stride;
            for (uint32_t q = 0; q < s.outputs; ++q) {
                place_channel(port_outputs + std::size_t{q} * s.block_size, frames,
                              output.frame_stride, first + q * output.channel_stride);
            }
        } else {
            append_outputs(stage.stores[m], port_outputs, s.block_size, frames);
        }
    }
}

bool start_instance_pool(InstancePool& pool, RunStage& stage, std::size_t thread_count)
{
    pool.stage = &stage;
    pool.thread_count = 1;
    if (thread_count <= 1) {
        return true;
    }
    pool.thread_count = thread_count;
    try {
        pool.threads.reserve(thread_count - 1);
        for (std::size_t t = 1; t < thread_count; ++t) {
            pool.threads.emplace_back(pool_thread, &pool, t);
        }
    } catch (const std::system_error&) {
        // Everything runs on the calling thread instead.
        stop_instance_pool(pool);
        return false;
    }
    return true;
}

void run_chunk(InstancePool& pool, const ChunkInput& input, const ChunkOutput& output)
{
    pool.input = input;
    pool.output = output;
    if (pool.threads.empty()) {
        for (std::size_t m = 0; m < pool.stage->instances->size(); ++m) {
            run_instance_chunk(*pool.stage, m, input, output);
        }
        return;
    }
    {
        std::lock_guard lock(pool.mutex);
        pool.pending = pool.threads.size();
        ++pool.generation;
    }
    pool.start.notify_all();
    run_share(pool, 0);
    std::unique_lock lock(pool.mutex);
    pool.done.wait(lock, [&] { return pool.pending == 0; });
}

void stop_instance_pool(InstancePool& pool) noexcept
{
    {
        std::lock_guard lock(pool.mutex);
        pool.stopping = true;
    }
    pool.start.notify_all();
    for (std::thread& thread : pool.threads) {
        thread.join();
    }
    pool.threads.clear();
    pool.thread_count = 1;
}

InstancePool::~InstancePool()
{
    stop_instance_pool(*this);
}

} // namespace tonbrix
