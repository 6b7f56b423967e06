#pragma once

#include "io/interleave.h"

#include <cstddef>
#include <cstdint>

namespace tonbrix {

// Gathers the outputs of every instance into interleaved frames of
// instances * outputs samples: instance m's output q is channel m * outputs + q.
void interleave_outputs(int64_t frames, uint32_t instances, uint32_t outputs, uint32_t block_size,
                        const float* port_buffers, float* out_block);

} // namespace tonbrix
