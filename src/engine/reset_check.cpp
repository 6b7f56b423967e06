#include "engine/reset_check.h"

#include <cstring>

namespace tonbrix {

namespace {

// The next sample of a fixed sequence of noise in [-0.5, 0.5).
float next_noise(uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
}

// Fills every audio input of every instance with the noise's next samples.
void fill_with_noise(const SettleRun& run, uint32_t& state)
{
    const std::size_t count =
        std::size_t{run.shape.instances} * run.shape.inputs * run.shape.block_size;
    float* samples = run.buffers->input_ports.data;
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = next_noise(state);
    }
}

bool stopped(const SettleRun& run)
{
    return run.stop != nullptr && run.stop->load() != 0;
}

bool same_bytes(const float* a, const float* b, std::size_t count)
{
    return count == 0 || std::memcmp(a, b, count * sizeof(float)) == 0;
}

bool same_outputs(const SettleRun& a, const SettleRun& b)
{
    const BlockShape& s = a.shape;
    if (!same_bytes(a.buffers->output_ports.data, b.buffers->output_ports.data,
                    std::size_t{s.instances} * s.outputs * s.block_size)) {
        return false;
    }
    for (std::size_t m = 0; m < a.buffers->instances.size(); ++m) {
        const std::vector<float>& x = a.buffers->instances[m].control_outputs;
        const std::vector<float>& y = b.buffers->instances[m].control_outputs;
        if (x.size() != y.size() || !same_bytes(x.data(), y.data(), x.size())) {
            return false;
        }
    }
    return true;
}

} // namespace

void run_on_noise(const SettleRun& run, uint64_t frames)
{
    uint32_t state = 0x2545f491u;
    for (uint64_t done = 0; done < frames && !stopped(run); done += run.shape.block_size) {
        fill_with_noise(run, state);
        run_instances_block(run);
    }
}

bool same_response(const SettleRun& a, const SettleRun& b, uint64_t frames)
{
    const BlockShape& s = a.shape;
    if (s.instances != b.shape.instances || s.inputs != b.shape.inputs ||
        s.outputs != b.shape.outputs || s.block_size != b.shape.block_size ||
        a.buffers->instances.size() != b.buffers->instances.size()) {
        return false;
    }
    uint32_t state_a = 0x9e3779b9u;
    uint32_t state_b = state_a;
    for (uint64_t done = 0; done < frames; done += s.block_size) {
        if (stopped(a)) {
            return false;
        }
        fill_with_noise(a, state_a);
        fill_with_noise(b, state_b);
        run_instances_block(a);
        run_instances_block(b);
        if (!same_outputs(a, b)) {
            return false;
        }
    }
    return true;
}

} // namespace tonbrix
