#pragma once

#include <cstddef>
#include <vector>

namespace tonbrix {

// Delays one channel by a fixed number of frames, silence coming first:
// what a connection does to line its channel up with later ones.
class DelayLine {
public:
    void set_delay(std::size_t frames) { held_.assign(frames, 0.0f); }
    std::size_t delay() const { return held_.size(); }

    // Delays `frames` samples in place; what goes beyond is kept for the
    // next call.
    void apply(float* samples, std::size_t frames);

private:
    std::vector<float> held_; // the frames due next, oldest first
    std::vector<float> work_;
};

} // namespace tonbrix
