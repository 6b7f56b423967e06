#include "io/clip_stage.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tonbrix {

bool samples_are_sound(const float* samples, std::size_t count)
{
    // Without branches, so that it vectorizes; NaN fails the comparison
    // like any sample beyond full scale.
    int flawed = 0;
    for (std::size_t i = 0; i < count; ++i) {
        flawed |= static_cast<int>(!(std::fabs(samples[i]) <= 1.0f));
    }
    return flawed == 0;
}

unsigned repair_samples(float* samples, std::size_t count, bool clamp)
{
    if (samples_are_sound(samples, count)) {
        return 0;
    }
    unsigned flaws = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const float v = samples[i];
        if (std::isnan(v)) {
            samples[i] = 0.0f;
            flaws |= not_a_number;
        } else if (v > 1.0f || v < -1.0f) {
            flaws |= beyond_full_scale;
            if (clamp) {
                samples[i] = v > 1.0f ? 1.0f : -1.0f;
            }
        }
    }
    return flaws;
}

namespace {

// One sample as float_to_pcm16 converts it.
int16_t sample_to_pcm16(float sample)
{
    const float scaled = sample * 32768.0f;
    if (std::isnan(scaled)) {
        return 0;
    }
    if (scaled >= 32767.0f) {
        return 32767;
    }
    if (scaled <= -32768.0f) {
        return -32768;
    }
    return static_cast<int16_t>(std::lrintf(scaled));
}

#if defined(__SSE2__)
// Eight samples as sample_to_pcm16 converts them. The conversion rounds by
// the current rounding mode, to nearest, like lrintf; packing saturates what
// the clamp leaves.
__m128i eight_to_pcm16(const float* samples)
{
    const __m128 scale = _mm_set1_ps(32768.0f);
    const __m128 highest = _mm_set1_ps(32767.0f);
    const __m128 lowest = _mm_set1_ps(-32768.0f);
    __m128 a = _mm_mul_ps(_mm_loadu_ps(samples), scale);
    __m128 b = _mm_mul_ps(_mm_loadu_ps(samples + 4), scale);
    a = _mm_and_ps(a, _mm_cmpord_ps(a, a)); // NaN becomes 0
    b = _mm_and_ps(b, _mm_cmpord_ps(b, b));
    a = _mm_max_ps(_mm_min_ps(a, highest), lowest);
    b = _mm_max_ps(_mm_min_ps(b, highest), lowest);
    return _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
}
#endif

} // namespace

void float_to_pcm16(const float* samples, std::size_t count, int16_t* out)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 8 <= count; i += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), eight_to_pcm16(samples + i));
    }
#endif
    for (; i < count; ++i) {
        out[i] = sample_to_pcm16(samples[i]);
    }
}

void interleave_pcm16(const float* const* channels, uint32_t count, std::size_t frames,
                      int16_t* out)
{
    if (count == 1) {
        float_to_pcm16(channels[0], frames, out);
        return;
    }
    std::size_t f = 0;
#if defined(__SSE2__)
    if (count == 2) {
        for (; f + 8 <= frames; f += 8) {
            const __m128i left = eight_to_pcm16(channels[0] + f);
            const __m128i right = eight_to_pcm16(channels[1] + f);
            auto* frame = reinterpret_cast<__m128i*>(out + 2 * f);
            _mm_storeu_si128(frame, _mm_unpacklo_epi16(left, right));
            _mm_storeu_si128(frame + 1, _mm_unpackhi_epi16(left, right));
        }
    } else {
        alignas(16) int16_t converted[8];
        for (; f + 8 <= frames; f += 8) {
            for (uint32_t c = 0; c < count; ++c) {
                _mm_store_si128(reinterpret_cast<__m128i*>(converted),
                                eight_to_pcm16(channels[c] + f));
                for (std::size_t i = 0; i < 8; ++i) {
                    out[(f + i) * count + c] = converted[i];
                }
            }
        }
    }
#endif
    for (; f < frames; ++f) {
        for (uint32_t c = 0; c < count; ++c) {
            out[f * count + c] = sample_to_pcm16(channels[c][f]);
        }
    }
}

} // namespace tonbrix
