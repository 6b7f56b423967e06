#pragma once

#include <tonbrix/error.h>
#include <tonbrix/mastering.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace tonbrix {

// Measures interleaved float frames of one rate and channel count.
class LoudnessMeter {
public:
    LoudnessMeter() = default;
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;
    ~LoudnessMeter();

    // What a meter measures: the loudness (integrated and range), the
    // true peak (oversampled four times, the costly part), or both.
    enum class Measures { loudness, true_peak, both };

    // The failure's message when libebur128 cannot measure such audio.
    std::optional<Error> start(uint32_t channels, int rate, Measures measures = Measures::both);
    std::optional<Error> add(const float* interleaved, std::size_t frames);
    Loudness result() const;

    // Frees libebur128's state (an unnamed struct there, so held untyped here).
    struct Free {
        void operator()(void* state) const noexcept;
    };

private:
    std::unique_ptr<void, Free> state_;
    uint32_t channels_ = 0;
};

// The gain a normalisation applies and what it reaches.
struct LoudnessGain {
    double gain_db = 0.0;
    bool limited = false; // lowered so that the true peak meets the ceiling
    bool silent = false;  // nothing to measure: written unscaled
    Loudness reached;     // the measurement of the scaled audio
};

// The gain that brings `measured` to `target_lufs`, lowered when the
// true peak would rise above `ceiling_dbtp`.
LoudnessGain loudness_gain(const Loudness& measured, double target_lufs, double ceiling_dbtp);

} // namespace tonbrix
