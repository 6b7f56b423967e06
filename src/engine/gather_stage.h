#pragma once

#include <cstddef>
#include <cstdint>

// Gathers the outputs of every instance into interleaved frames of
// instances * outputs samples: instance m's output q is channel m * outputs + q.
void interleave_outputs(int64_t frames, uint32_t instances, uint32_t outputs, uint32_t block_size,
                        const float* port_buffers, float* out_block);

// Puts `frames` samples of one plain channel into every `width`-th place
// of `destination` (the channel's slot in interleaved frames).
void place_channel(const float* source, std::size_t frames, std::size_t width,
                   float* destination);

// Interleaves `frames` frames of `width` plain channels into `out`.
void interleave_channels(std::size_t frames, const float* const* sources, std::size_t width,
                         float* out);
