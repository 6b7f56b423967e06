#include "engine/gather_stage.h"

#include <cstddef>
#include <cstring>

void interleave_outputs(int64_t frames, uint32_t instances, uint32_t outputs, uint32_t block_size,
                        const float* port_buffers, float* out_block)
{
    if (frames <= 0) {
        return;
    }
    const std::size_t width = std::size_t{instances} * outputs;
    for (std::size_t channel = 0; channel < width; ++channel) {
        place_channel(port_buffers + channel * block_size, static_cast<std::size_t>(frames), width,
                      out_block + channel);
    }
}

void place_channel(const float* source, std::size_t frames, std::size_t width,
                   float* destination)
{
    if (width == 1) {
        std::memcpy(destination, source, frames * sizeof(float));
        return;
    }
    for (std::size_t f = 0; f < frames; ++f) {
        destination[f * width] = source[f];
    }
}

void interleave_channels(std::size_t frames, const float* const* sources, std::size_t width,
                         float* out)
{
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
        place_channel(sources[channel], frames, width, out + channel);
    }
}
