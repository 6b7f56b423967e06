#include "engine/channel_mix.h"

namespace tonbrix {

namespace {

// Copies one channel whose frames are `step` samples apart as 0 + x, as in
// the general sum: -0.0 becomes +0.0. A step known when compiled (plain
// channels, stereo frames) lets the copy run on vectors.
template <std::size_t Step>
void take_channel(const float* source, std::size_t step, std::size_t frames, float* destination)
{
    const std::size_t s = Step != 0 ? Step : step;
    for (std::size_t f = 0; f < frames; ++f) {
        destination[f] = 0.0f + source[f * s];
    }
}

} // namespace

void mix_channels(const ChunkInput& input, uint32_t channels, std::size_t offset,
                  std::size_t frames, uint32_t inputs, const uint8_t* matrix, uint32_t block_size,
                  float* port_buffers)
{
    const std::size_t step = input.step;
    for (uint32_t p = 0; p < inputs; ++p) {
        const uint8_t* row = matrix + std::size_t{channels} * p;
        float* destination = port_buffers + std::size_t{p} * block_size;
        uint32_t count = 0;
        uint32_t only = 0;
        for (uint32_t c = 0; c < channels; ++c) {
            if (row[c] == 1) {
                ++count;
                only = c;
            }
        }
        if (count == 0) {
            for (std::size_t f = 0; f < frames; ++f) {
                destination[f] = 0.0f;
            }
        } else if (count == 1) {
            const float* source = input.channel(only) + offset * step;
            if (step == 1) {
                take_channel<1>(source, step, frames, destination);
            } else if (step == 2) {
                take_channel<2>(source, step, frames, destination);
            } else {
                take_channel<0>(source, step, frames, destination);
            }
        } else {
            const float divisor = static_cast<float>(count);
            for (std::size_t f = 0; f < frames; ++f) {
                float sum = 0.0f;
                for (uint32_t c = 0; c < channels; ++c) {
                    if (row[c] == 1) {
                        sum += input.sample(c, offset + f);
                    }
                }
                destination[f] = sum / divisor;
            }
        }
    }
}

void prefetch_samples(const float* samples, std::size_t count)
{
    constexpr std::size_t line = 64 / sizeof(float);
    for (std::size_t i = 0; i < count; i += line) {
        __builtin_prefetch(samples + i);
    }
}

} // namespace tonbrix
