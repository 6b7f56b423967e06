#pragma once

#include "base/buffers.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonbrix {

// Plain channels of a stage's own, `capacity` frames each, in one block.
struct ChannelBuffers {
    FloatBuffer block;
    std::vector<float*> channels;
    std::size_t capacity = 0;

    // False when the memory cannot be had.
    bool allocate(uint32_t count, std::size_t frames)
    {
        std::size_t size = 0;
        capacity = std::max<std::size_t>(frames, 1);
        if (!checked_product({capacity, count}, size) ||
            !block.allocate(size)) {
            return false;
        }
        channels.resize(count);
        for (uint32_t c = 0; c < count; ++c) {
            channels[c] = block.data + c * capacity;
        }
        return true;
    }
};

} // namespace tonbrix
