#include "io/interleave.h"

#include <cstddef>
#include <cstring>

namespace tonbrix {

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

} // namespace tonbrix
