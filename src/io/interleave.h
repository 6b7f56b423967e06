#pragma once

#include <cstddef>
#include <cstdint>

namespace tonbrix {

// Puts `frames` samples of one plain channel into every `width`-th place
// of `destination` (the channel's slot in interleaved frames).
void place_channel(const float* source, std::size_t frames, std::size_t width,
                   float* destination);

// Interleaves `frames` frames of `width` plain channels into `out`.
void interleave_channels(std::size_t frames, const float* const* sources, std::size_t width,
                         float* out);

} // namespace tonbrix
