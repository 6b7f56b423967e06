#include "engine/gather_stage.h"

#include <cstddef>
#include <cstring>

namespace tonbrix {

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

} // namespace tonbrix
