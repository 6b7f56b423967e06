#include "audio/gather_stage.h"

#include <cstddef>
#include <cstring>

void interleave_outputs(int64_t frames, uint32_t instances, uint32_t outputs, uint32_t block_size,
                        const float* port_buffers, float* out_block)
{
    if (frames <= 0) {
        return;
    }
    const std::size_t n = static_cast<std::size_t>(frames);
    const std::size_t width = std::size_t{instances} * outputs;
    if (width == 1) {
        std::memcpy(out_block, port_buffers, n * sizeof(float));
        return;
    }
    for (std::size_t channel = 0; channel < width; ++channel) {
        const float* source = port_buffers + channel * block_size;
        float* destination = out_block + channel;
        for (std::size_t f = 0; f < n; ++f) {
            destination[f * width] = source[f];
        }
    }
}

void interleave_channels(std::size_t frames, const float* const* sources, std::size_t width,
                         float* out)
{
    if (width == 1) {
        std::memcpy(out, sources[0], frames * sizeof(float));
        return;
    }
    if (width == 2) {
        const float* left = sources[0];
        const float* right = sources[1];
        for (std::size_t f = 0; f < frames; ++f) {
            out[2 * f] = left[f];
            out[2 * f + 1] = right[f];
        }
        return;
    }
    for (std::size_t channel = 0; channel < width; ++channel) {
        const float* source = sources[channel];
        float* destination = out + channel;
        for (std::size_t f = 0; f < frames; ++f) {
            destination[f * width] = source[f];
        }
    }
}
