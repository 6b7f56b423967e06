#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonbrix {

// The audio outputs of one instance that are not yet written, one plain
// channel per output. The first `skip` frames the instance produces are
// dropped: that is how its latency is taken out of the output.
struct OutputStore {
    std::vector<std::vector<float>> channels;
    std::size_t frames = 0;
    uint64_t skip = 0;
};

// Empties the store and keeps room for `frames` frames of `outputs` channels.
void reset_output_store(OutputStore& store, uint32_t outputs, std::size_t frames);

// Appends `frames` frames of each output (output q at ports + q * stride),
// less what is still to be skipped.
void append_outputs(OutputStore& store, const float* ports, std::size_t stride,
                    std::size_t frames);

// Drops the first `frames` frames (no more than the store holds).
void consume_outputs(OutputStore& store, std::size_t frames);

} // namespace tonbrix
