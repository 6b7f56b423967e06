#include "io/clamping_sink.h"

#include "io/clip_stage.h"

#include <algorithm>
#include <cstring>

namespace tonbrix {

std::optional<Error> ClampingSink::prepare(uint32_t channels, std::size_t frames, unsigned jobs)
{
    if (!buffers_.allocate(channels, frames)) {
        return Error{insufficient_memory_message};
    }
    return inner_.prepare(channels, buffers_.capacity, jobs);
}

std::optional<Error> ClampingSink::write(const float* const* channels, uint32_t count,
                                         std::size_t frames)
{
    for (std::size_t done = 0; done < frames;) {
        const std::size_t piece = std::min(buffers_.capacity, frames - done);
        unsigned flaws = 0;
        for (uint32_t c = 0; c < count; ++c) {
            std::memcpy(buffers_.channels[c], channels[c] + done, piece * sizeof(float));
            flaws |= repair_samples(buffers_.channels[c], piece, true);
        }
        if ((flaws & beyond_full_scale) != 0 && !warned_) {
            warned_ = true;
            events_.report(EventKind::warning, clipping_warning);
        }
        if (std::optional<Error> error = inner_.write(buffers_.channels.data(), count, piece)) {
            return error;
        }
        done += piece;
    }
    return std::nullopt;
}

} // namespace tonbrix
