#include "io/clip_stage.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>

namespace tonbrix {
#endif

unsigned repair_samples(float* samples, std::size_t count, bool clamp)
{
    // Without branches, so that it vectorizes; NaN fails the comparison
    // like any sample beyond full scale.
    int flawed = 0;
    for (std::size_t i = 0; i < count; ++i) {
        flawed |= static_cast<int>(!(std::fabs(samples[i]) <= 1.0f));
    }
    if (flawed == 0) {
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

void float_to_pcm16(const float* samples, std::size_t count, int16_t* out)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    // The conversion rounds by the current rounding mode, to nearest, like
    // lrintf below; packing saturates what the clamp leaves.
    const __m128 scale = _mm_set1_ps(32768.0f);
    const __m128 highest = _mm_set1_ps(32767.0f);
    const __m128 lowest = _mm_set1_ps(-32768.0f);
    for (; i + 8 <= count; i += 8) {
        __m128 a = _mm_mul_ps(_mm_loadu_ps(samples + i), scale);
        __m128 b = _mm_mul_ps(_mm_loadu_ps(samples + i + 4), scale);
        a = _mm_and_ps(a, _mm_cmpord_ps(a, a)); // NaN becomes 0
        b = _mm_and_ps(b, _mm_cmpord_ps(b, b));
        a = _mm_max_ps(_mm_min_ps(a, highest), lowest);
        b = _mm_max_ps(_mm_min_ps(b, highest), lowest);
        const __m128i packed = _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
    }
#endif
    for (; i < count; ++i) {
        const float scaled = samples[i] * 32768.0f;
        if (std::isnan(scaled)) {
            out[i] = 0;
        } else if (scaled >= 32767.0f) {
            out[i] = 32767;
        } else if (scaled <= -32768.0f) {
            out[i] = -32768;
        } else {
            out[i] = static_cast<int16_t>(std::lrintf(scaled));
        }
    }
}

} // namespace tonbrix
