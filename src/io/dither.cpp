#include "io/dither.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace tonbrix {

std::optional<DitherKind> parse_dither_kind(std::string_view text)
{
    if (text.empty() || text == "triangular") {
        return DitherKind::triangular;
    }
    if (text == "shaped") {
        return DitherKind::shaped;
    }
    return std::nullopt;
}

double dither_scale(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_16:
        return 32768.0; // the file sink's own conversion
    case SF_FORMAT_PCM_24:
        return 8388607.0; // libsndfile's conversion
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 127.0;
    default:
        return 0.0;
    }
}

namespace {

// A 64-bit mix of the bits of a counter (SplitMix64's finaliser).
uint64_t mix(uint64_t x)
{
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

} // namespace

float tpdf_noise(uint64_t seed, uint32_t channel, uint64_t frame)
{
    const uint64_t bits = mix(mix(seed ^ (uint64_t{channel} << 48)) ^ frame);
    // Two independent uniform values of 32 bits each in [0, 1).
    constexpr double unit = 1.0 / 4294967296.0;
    const double a = static_cast<double>(bits & 0xffffffffu) * unit;
    const double b = static_cast<double>(bits >> 32) * unit;
    return static_cast<float>(a - b);
}

void Ditherer::add(float* samples, std::size_t frames, uint32_t channel, uint64_t first_frame)
{
    const double lsb = 1.0 / scale_;
    if (kind_ == DitherKind::triangular) {
        for (std::size_t f = 0; f < frames; ++f) {
            samples[f] = static_cast<float>(samples[f] +
                                            tpdf_noise(seed_, channel, first_frame + f) * lsb);
        }
        return;
    }
    // Error feedback: the rounding error of the earlier samples, filtered,
    // is taken off before the dither and the rounding.
    // The largest integer of the encoding: 32767 for the 16-bit scale of
    // 32768, the scale itself for libsndfile's.
    const double top = scale_ == 32768.0 ? 32767.0 : scale_;
    History& history = history_[std::min<uint32_t>(channel, 63)];
    for (std::size_t f = 0; f < frames; ++f) {
        const double input = static_cast<double>(samples[f]) * scale_;
        double feedback = 0.0;
        for (int k = 0; k < taps; ++k) {
            feedback += shaping[k] * history.error[k];
        }
        const double wanted = input - feedback;
        const double noisy = wanted + tpdf_noise(seed_, channel, first_frame + f);
        // Rounded as the conversion will round, held at full scale as it clips.
        const double rounded = std::clamp(std::nearbyint(noisy), -top - 1.0, top);
        // The error is bounded so that clipping cannot make the loop grow.
        const double error = std::clamp(rounded - wanted, -4.0, 4.0);
        std::copy_backward(history.error, history.error + taps - 1, history.error + taps);
        history.error[0] = error;
        samples[f] = static_cast<float>(rounded * lsb);
    }
}

} // namespace tonbrix
