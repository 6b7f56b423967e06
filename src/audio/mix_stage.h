#pragma once

#include <cstdint>

// Each plugin input sample becomes the mean of the file channels connected
// to it, 0 when none is. Only frames below `frames` are written.
void mix_inputs(const float* file_block, int64_t frames, uint32_t channels, uint32_t instances,
                uint32_t inputs, const uint8_t* matrix, uint32_t block_size, float* port_buffers);
