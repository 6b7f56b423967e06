#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonbrix {

// The last node's channels on their way to the sink, each with its latency
// taken out: channel c drops its first skip[c] frames, and a frame goes out
// once every channel has it.
class LatencyTrim {
public:
    void reset(const std::vector<uint64_t>& skip);

    // Appends `frames` frames of each channel (channel c at samples + c * stride).
    void append(const float* samples, std::size_t stride, std::size_t frames);
    // Frames every channel holds.
    std::size_t ready() const;
    float* channel(std::size_t c) { return channels_[c].data(); }
    // Drops the first `frames` frames of every channel.
    void consume(std::size_t frames);

private:
    std::vector<std::vector<float>> channels_;
    std::vector<uint64_t> skip_;
};

} // namespace tonbrix
