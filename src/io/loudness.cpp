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
    peaks_ = measures != Measures::loudness;
    if (peaks_) {
        peak_.start(channels);
    }
    state_.reset();
    if (measures == Measures::true_peak) {
        return std::nullopt;
    }
    state_.reset(ebur128_init(channels, static_cast<unsigned long>(rate),
                              EBUR128_MODE_I | EBUR128_MODE_LRA));
    if (!state_) {
        return Error{"Error: the loudness of " + std::to_string(channels) + " channels at " +
                     std::to_string(rate) + " Hz cannot be measured.\n"};
    }
    return std::nullopt;
}

std::optional<Error> LoudnessMeter::add(const float* interleaved, std::size_t frames)
{
    if (state_ && ebur128_add_frames_float(state_of(state_), interleaved, frames) != EBUR128_SUCCESS) {
        return Error{"Error: the loudness measurement failed.\n"};
    }
    if (peaks_) {
        for (uint32_t c = 0; c < channels_; ++c) {
            peak_.add(c, interleaved + c, frames, channels_);
        }
    }
    return std::nullopt;
}

Loudness LoudnessMeter::result() const
{
    Loudness loudness;
    loudness.integrated_lufs = -std::numeric_limits<double>::infinity();
    if (state_) {
        double integrated = 0.0;
        if (ebur128_loudness_global(state_of(state_), &integrated) == EBUR128_SUCCESS &&
            std::isfinite(integrated)) {
            loudness.integrated_lufs = integrated;
        }
        double range = 0.0;
        loudness.range_lu =
            ebur128_loudness_range(state_of(state_), &range) == EBUR128_SUCCESS ? range : 0.0;
    }
    const double peak = peaks_ ? peak_.peak() : 0.0;
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
