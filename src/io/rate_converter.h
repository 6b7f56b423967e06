#pragma once

#include <tonbrix/error.h>
#include <tonbrix/mastering.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

struct soxr;

namespace tonbrix {

// The frames a conversion of `frames` frames from `in` to `out` Hz gives:
// round(frames * out / in), computed exactly.
uint64_t converted_frames(uint64_t frames, int in, int out);

// A sample-rate conversion of plain float channels by libsoxr at its
// very-high quality. The converter's latency is taken out: the output
// starts at the input's frame 0 and, once flushed, holds exactly
// converted_frames() of all the input.
class RateConverter {
public:
    RateConverter() = default;
    RateConverter(const RateConverter&) = delete;
    RateConverter& operator=(const RateConverter&) = delete;
    ~RateConverter();

    // The failure's message when libsoxr refuses the conversion.
    std::optional<Error> start(int in, int out, uint32_t channels);

    // Converts up to `frames` input frames into at most `capacity` output
    // frames; says how many of each were used. Give the rest of the input
    // again until it is all taken. `input` null flushes what is left.
    std::optional<Error> convert(const float* const* input, std::size_t frames, std::size_t& taken,
                                 float* const* output, std::size_t capacity, std::size_t& given);

    // How many output frames may still come out beyond those already given
    // for the input taken so far, at most: the exact total less those given.
    uint64_t frames_left() const;

    int in_rate() const { return in_; }
    int out_rate() const { return out_; }

private:
    struct Free {
        void operator()(soxr* converter) const noexcept;
    };
    std::unique_ptr<soxr, Free> soxr_;
    int in_ = 0;
    int out_ = 0;
    uint32_t channels_ = 0;
    uint64_t taken_ = 0; // input frames so far
    uint64_t given_ = 0; // output frames so far
    bool flushed_ = false;
};

} // namespace tonbrix
