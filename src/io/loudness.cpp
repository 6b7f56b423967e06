#include "io/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace tonbrix {

bool Loudness::silent() const
{
    return !std::isfinite(integrated_lufs);
}

namespace {

ebur128_state* state_of(const std::unique_ptr<void, LoudnessMeter::Free>& owner)
{
    return static_cast<ebur128_state*>(owner.get());
}

} // namespace

void LoudnessMeter::Free::operator()(void* state) const noexcept
{
    auto* typed = static_cast<ebur128_state*>(state);
    ebur128_destroy(&typed);
}

LoudnessMeter::~LoudnessMeter() = default;

std::optional<Error> LoudnessMeter::start(uint32_t channels, int rate, Measures measures)
{
    channels_ = channels;
    const int mode = measures == Measures::loudness    ? EBUR128_MODE_I | EBUR128_MODE_LRA
                     : measures == Measures::true_peak ? EBUR128_MODE_TRUE_PEAK
                                                       : EBUR128_MODE_I | EBUR128_MODE_LRA |
                                                             EBUR128_MODE_TRUE_PEAK;
    state_.reset(ebur128_init(channels, static_cast<unsigned long>(rate), mode));
    if (!state_) {
        return Error{"Error: the loudness of " + std::to_string(channels) + " channels at " +
                     std::to_string(rate) + " Hz cannot be measured.\n"};
    }
    return std::nullopt;
}

std::optional<Error> LoudnessMeter::add(const float* interleaved, std::size_t frames)
{
    if (ebur128_add_frames_float(state_of(state_), interleaved, frames) != EBUR128_SUCCESS) {
        return Error{"Error: the loudness measurement failed.\n"};
    }
    return std::nullopt;
}

Loudness LoudnessMeter::result() const
{
    Loudness loudness;
    double integrated = 0.0;
    if (ebur128_loudness_global(state_of(state_), &integrated) != EBUR128_SUCCESS) {
        integrated = -HUGE_VAL;
    }
    loudness.integrated_lufs = std::isfinite(integrated)
                                   ? integrated
                                   : -std::numeric_limits<double>::infinity();
    double range = 0.0;
    loudness.range_lu = ebur128_loudness_range(state_of(state_), &range) == EBUR128_SUCCESS ? range
                                                                                       : 0.0;
    double peak = 0.0;
    for (uint32_t c = 0; c < channels_; ++c) {
        double one = 0.0;
        if (ebur128_true_peak(state_of(state_), c, &one) == EBUR128_SUCCESS) {
            peak = std::max(peak, one);
        }
    }
    loudness.true_peak_dbtp =
        peak > 0.0 ? 20.0 * std::log10(peak) : -std::numeric_limits<double>::infinity();
    return loudness;
}

LoudnessGain loudness_gain(const Loudness& measured, double target_lufs, double ceiling_dbtp)
{
    LoudnessGain gain;
    gain.reached = measured;
    if (measured.silent()) {
        gain.silent = true;
        return gain;
    }
    gain.gain_db = target_lufs - measured.integrated_lufs;
    if (measured.true_peak_dbtp + gain.gain_db > ceiling_dbtp) {
        gain.gain_db = ceiling_dbtp - measured.true_peak_dbtp;
        gain.limited = true;
    }
    gain.reached.integrated_lufs += gain.gain_db;
    gain.reached.true_peak_dbtp += gain.gain_db;
    return gain;
}

} // namespace tonbrix
