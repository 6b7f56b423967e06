#include "io/rate_converter.h"

#include <soxr.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace tonbrix {

uint64_t converted_frames(uint64_t frames, int in, int out)
{
    const unsigned __int128 scaled = static_cast<unsigned __int128>(frames) * 2u *
                                         static_cast<unsigned>(out) +
                                     static_cast<unsigned>(in);
    return static_cast<uint64_t>(scaled / (2u * static_cast<unsigned __int128>(in)));
}

void RateConverter::Free::operator()(soxr* converter) const noexcept
{
    soxr_delete(converter);
}

RateConverter::~RateConverter() = default;

std::optional<Error> RateConverter::start(int in, int out, uint32_t channels)
{
    in_ = in;
    out_ = out;
    channels_ = channels;
    taken_ = 0;
    given_ = 0;
    total_.reset();
    flushed_ = false;
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_.reset(soxr_create(in, out, channels, &error, &io, &quality, &runtime));
    if (error != nullptr || !soxr_) {
        soxr_.reset();
        return Error{std::string("Error: the sample-rate conversion from ") + std::to_string(in) +
                     " Hz to " + std::to_string(out) + " Hz cannot start: " +
                     (error != nullptr ? error : "unknown failure") + ".\n"};
    }
    return std::nullopt;
}

uint64_t RateConverter::frames_left() const
{
    const uint64_t total = total_ ? *total_ : converted_frames(taken_, in_, out_);
    return total > given_ ? total - given_ : 0;
}

std::optional<Error> RateConverter::convert(const float* const* input, std::size_t frames,
                                            std::size_t& taken, float* const* output,
                                            std::size_t capacity, std::size_t& given)
{
    taken = 0;
    given = 0;
    if (input == nullptr && flushed_) {
        // libsoxr has given all it holds; the rest of the exact count is
        // silence (a conversion that came out short by a frame).
        given = static_cast<std::size_t>(std::min<uint64_t>(capacity, frames_left()));
        for (uint32_t c = 0; c < channels_; ++c) {
            std::memset(output[c], 0, given * sizeof(float));
        }
        given_ += given;
        return std::nullopt;
    }
    std::size_t out_done = 0;
    const soxr_error_t error =
        input != nullptr
            ? soxr_process(soxr_.get(), input, frames, &taken, const_cast<float**>(output), capacity,
                           &out_done)
            : soxr_process(soxr_.get(), nullptr, 0, nullptr, const_cast<float**>(output), capacity,
                           &out_done);
    if (error != nullptr) {
        return Error{std::string("Error: the sample-rate conversion failed: ") + error + ".\n"};
    }
    taken_ += taken;
    if (input == nullptr && out_done == 0) {
        flushed_ = true;
        return convert(nullptr, 0, taken, output, capacity, given);
    }
    // Never more than the exact count of the input so far once flushing,
    // nor more than all the input can give while it still comes.
    const uint64_t limit = input == nullptr ? frames_left() : out_done;
    given = static_cast<std::size_t>(std::min<uint64_t>(out_done, limit));
    given_ += given;
    return std::nullopt;
}

} // namespace tonbrix
