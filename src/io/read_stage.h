#pragma once

#include <sndfile.h>

#include <tonbrix/error.h>

#include <cstddef>
#include <cstdint>

namespace tonbrix {

// What one read of the input gave: frames, or none at the end of the
// input, and libsndfile's error code when the read failed. A read can give
// frames and fail: the decoder may stop in the middle of a chunk.
struct ReadOutcome {
    std::size_t frames = 0;
    int error = 0;
};

// Reads up to `frames` interleaved frames into `buffer`. A short read is
// checked for an error at once: the decoder may not say it again.
ReadOutcome read_chunk(SNDFILE* input, float* buffer, std::size_t frames);
// The same as 16-bit integers, which libsndfile gives a 16-bit PCM file's
// frames in without converting them.
ReadOutcome read_chunk(SNDFILE* input, int16_t* buffer, std::size_t frames);

// The message of a failed read.
Error read_error(int error);

} // namespace tonbrix
