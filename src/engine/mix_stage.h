#pragma once

#include <cstddef>
#include <cstdint>

namespace tonbrix {

// Each plugin input sample becomes the mean of the file channels connected
// to it, 0 when none is. Only frames below `frames` are written.
void mix_inputs(const float* file_block, int64_t frames, uint32_t channels, uint32_t instances,
                uint32_t inputs, const uint8_t* matrix, uint32_t block_size, float* port_buffers);

// Asks the cache for `count` samples from `samples` on, all at once: a
// chunk read on another thread is in another core's cache, and fetching it
// line after line as the mix reads it stalls the mix on every line.
void prefetch_samples(const float* samples, std::size_t count);

} // namespace tonbrix
