#pragma once

#include <tonbrix/mastering.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tonbrix {

// The scale from full-scale floats to integers of the libsndfile format's
// encoding, for the linear encodings shorter than 32 bits (8, 16, 24 bits);
// 0 for every other encoding (floats, 32-bit, companded and lossy ones).
double dither_scale(int format);

// One value of TPDF noise in (-1, 1) LSB for a channel's frame: the same
// for the same (seed, channel, frame) whatever the threads or chunks.
float tpdf_noise(uint64_t seed, uint32_t channel, uint64_t frame);

// Adds dither of one channel ahead of rounding at `scale`, frame by frame
// from `first_frame`. The shaped kind keeps its error history per channel:
// call it for each channel's frames in order.
class Ditherer {
public:
    Ditherer(DitherKind kind, double scale, uint64_t seed = 0) : kind_(kind), scale_(scale), seed_(seed) {}

    void add(float* samples, std::size_t frames, uint32_t channel, uint64_t first_frame);

    // The noise shaping filter's taps (error feedback, most recent first):
    // the five-tap E-weighted filter of Lipshitz, Vanderkooy and Wannamaker,
    // which moves the noise out of the band where the ear is most sensitive.
    static constexpr int taps = 5;
    static constexpr double shaping[taps] = {2.033, -2.165, 1.959, -1.590, 0.6149};

private:
    struct History {
        double error[taps] = {};
    };
    DitherKind kind_;
    double scale_;
    uint64_t seed_;
    History history_[64] = {}; // by channel; channels beyond share the last
};

} // namespace tonbrix
