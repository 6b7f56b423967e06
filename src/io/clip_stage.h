#pragma once

#include <cstddef>
#include <cstdint>

namespace tonbrix {

// What repair_samples found: bits of SampleFlaw.
enum SampleFlaw : unsigned {
    beyond_full_scale = 1u, // beyond +-1.0, infinity included
    not_a_number = 2u,
};

// Writes NaN samples as 0 and, when `clamp`, clamps samples beyond +-1.0;
// returns the SampleFlaw bits of what it found (0 for none). The common
// case, nothing to do, costs one branch-free pass.
unsigned repair_samples(float* samples, std::size_t count, bool clamp);

// True when every sample is a number within +-1.0: repair_samples would
// find nothing. One branch-free pass.
bool samples_are_sound(const float* samples, std::size_t count);

// Converts samples to 16-bit integers scaled by 32768, rounded to the
// nearest (ties to even), saturated to the 16-bit range; NaN gives 0. A
// 16-bit input read as floats thus comes back unchanged.
void float_to_pcm16(const float* samples, std::size_t count, int16_t* out);

// Converts `frames` frames of `count` plain channels as float_to_pcm16 does
// and writes them to `out` as interleaved frames.
void interleave_pcm16(const float* const* channels, uint32_t count, std::size_t frames,
                      int16_t* out);

inline constexpr const char* clipping_warning =
    "WARNING: Clipping output.\nTry changing parameters of the plugin to lower the output "
    "volume, or if that's not possible, try lowering the volume of the input before "
    "processing.\n";

inline constexpr const char* invalid_samples_warning =
    "WARNING: The plugin produced invalid samples (NaN); they were written as silence.\n";

} // namespace tonbrix
