#include "io/dithering_sink.h"

#include <algorithm>
#include <cstring>

namespace tonbrix {

std::optional<Error> DitheringSink::prepare(uint32_t channels, std::size_t frames, unsigned jobs)
{
    if (!buffers_.allocate(channels, frames)) {
        return Error{insufficient_memory_message};
    }
    return inner_.prepare(channels, buffers_.capacity, jobs);
}

std::optional<Error> DitheringSink::write(const float* const* channels, uint32_t count,
                                          std::size_t frames)
{
    for (std::size_t done = 0; done < frames; done += buffers_.capacity) {
        const std::size_t piece = std::min(buffers_.capacity, frames - done);
        for (uint32_t c = 0; c < count; ++c) {
            std::memcpy(buffers_.channels[c], channels[c] + done, piece * sizeof(float));
            ditherer_.add(buffers_.channels[c], piece, c, frame_);
        }
        frame_ += piece;
        if (std::optional<Error> error = inner_.write(buffers_.channels.data(), count, piece)) {
            return error;
        }
    }
    return std::nullopt;
}

} // namespace tonbrix
