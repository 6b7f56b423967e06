#include "engine/mix_stage.h"

#include <cstddef>

namespace tonbrix {

void prefetch_samples(const float* samples, std::size_t count)
{
    constexpr std::size_t line = 64 / sizeof(float);
    for (std::size_t i = 0; i < count; i += line) {
        __builtin_prefetch(samples + i);
    }
}

void mix_inputs(const float* file_block, int64_t frames, uint32_t channels, uint32_t instances,
                uint32_t inputs, const uint8_t* matrix, uint32_t block_size, float* port_buffers)
{
    if (frames <= 0) {
        return;
    }
    const std::size_t n = static_cast<std::size_t>(frames);
    for (std::size_t m = 0; m < instances; ++m) {
        for (std::size_t p = 0; p < inputs; ++p) {
            const uint8_t* row = matrix + channels * (p + inputs * m);
            float* destination = port_buffers + (m * inputs + p) * block_size;
            uint32_t count = 0;
            uint32_t only = 0;
            for (uint32_t c = 0; c < channels; ++c) {
                if (row[c] == 1) {
                    ++count;
                    only = c;
                }
            }
            if (count == 0) {
                for (std::size_t f = 0; f < n; ++f) {
                    destination[f] = 0.0f;
                }
            } else if (count == 1) {
                // 0 + x, as in the general sum: -0.0 becomes +0.0.
                const float* source = file_block + only;
                for (std::size_t f = 0; f < n; ++f) {
                    destination[f] = 0.0f + source[f * channels];
                }
            } else {
                const float divisor = static_cast<float>(count);
                for (std::size_t f = 0; f < n; ++f) {
                    const float* frame = file_block + f * channels;
                    float sum = 0.0f;
                    for (uint32_t c = 0; c < channels; ++c) {
                        if (row[c] == 1) {
                            sum += frame[c];
                        }
                    }
                    destination[f] = sum / divisor;
                }
            }
        }
    }
}

} // namespace tonbrix
