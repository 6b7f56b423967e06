#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonbrix {

// The true peak of float channels by ITU-R BS.1770-4 annex 2: each channel
// oversampled four times by the annex's 48-tap FIR, the largest magnitude
// of the oversampled signal or of the samples themselves. Silence before
// the first sample fills the FIR; none is added after the last (the
// ringing of an edge made up there is not the signal's).
class TruePeakMeter {
public:
    void start(uint32_t channels);

    // Adds `frames` frames of channel `channel`, every `step`-th float from
    // `samples` on (1 for a plain channel, the channel count for
    // interleaved frames).
    void add(uint32_t channel, const float* samples, std::size_t frames, std::size_t step = 1);

    // The largest linear true peak of any channel so far (0 for none).
    double peak() const;

    // Samples a channel is filtered in at once.
    static constexpr std::size_t piece = 512;
    // The FIR's taps for each of the four phases.
    static constexpr std::size_t taps = 12;

private:
    struct Channel {
        // The last taps - 1 samples, then a piece of samples.
        float samples[taps - 1 + piece] = {};
        std::size_t filled = 0; // samples of the piece so far
        float top[piece] = {};  // the largest magnitude per position
    };
    // Filters the piece after the history, the largest magnitude of each
    // position into `top`.
    static void filter(const float* samples, float* top);
    // Filters a full piece and keeps its last samples as the history.
    static void advance(Channel& channel);
    std::vector<Channel> channels_;
};

} // namespace tonbrix
