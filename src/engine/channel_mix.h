#pragma once

#include <tonbrix/graph.h>

#include <cstddef>
#include <cstdint>

namespace tonbrix {

// Feeds one instance's `inputs` audio inputs from the chunk's channels,
// plain or interleaved, frames offset to offset + frames: each input sample
// becomes the mean of the channels the routing row connects to it
// (matrix[p * channels + c] is 1 when channel c feeds input p), 0 when none
// does. Input p's samples go to port_buffers + p * block_size; frames past
// `frames` are left alone.
void mix_channels(const ChunkInput& input, uint32_t channels, std::size_t offset,
                  std::size_t frames, uint32_t inputs, const uint8_t* matrix, uint32_t block_size,
                  float* port_buffers);

// Asks the cache for `count` samples ahead of their use.
void prefetch_samples(const float* samples, std::size_t count);

} // namespace tonbrix
