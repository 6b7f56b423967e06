#pragma once

#include <cstdint>

namespace tonbrix {

// What a container's 32-bit size fields allow for an output of a known
// length.
enum class SizeFit {
    fits,     // the format as it is
    rf64,     // a WAV output that must be written as RF64 to hold it all
    too_long, // an AIFF output that no variant of the type can hold
};

// The most bytes of samples a WAV or AIFF output is given: its 32-bit size
// fields count to 4 GiB, less room for the header and the strings.
inline constexpr uint64_t riff_data_limit = 0xFFFFFFFFull - (1ull << 20);

// Whether `frames` frames of `channels` channels fit in the libsndfile
// format `format`; compressed encodings count as one byte per sample at most.
SizeFit fit_output_size(int format, int channels, uint64_t frames);

// The format with its type changed to RF64 (encoding and byte order kept).
int rf64_format(int format);

} // namespace tonbrix
