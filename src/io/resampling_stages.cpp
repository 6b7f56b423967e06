#include "io/resampling_stages.h"

#include <algorithm>
#include <cstring>

namespace tonbrix {

namespace {

// The most output frames `frames` input frames give at once, with room
// for what the converter holds back from earlier input.
std::size_t output_capacity(std::size_t frames, int in, int out)
{
    return static_cast<std::size_t>(converted_frames(frames, in, out)) + 4096;
}

} // namespace

std::optional<Error> ResamplingSink::prepare(uint32_t channels, std::size_t frames, unsigned jobs)
{
    try {
        converters_ = std::vector<RateConverter>(channels);
        pending_.resize(channels);
        taken_.assign(channels, 0);
        given_.assign(channels, 0);
        errors_.assign(channels, std::nullopt);
    } catch (const std::bad_alloc&) {
        return Error{insufficient_memory_message};
    }
    for (RateConverter& converter : converters_) {
        if (std::optional<Error> error = converter.start(in_, out_, 1)) {
            return error;
        }
    }
    if (!converted_.allocate(channels, output_capacity(frames, in_, out_))) {
        return Error{insufficient_memory_message};
    }
    side_from_ = channels;
    if (jobs > 1 && channels > 1 && side_.open()) {
        side_from_ = (channels + 1) / 2;
    }
    return inner_.prepare(channels, converted_.capacity, jobs);
}

void ResamplingSink::convert_channels(uint32_t first, uint32_t last, bool flushing,
                                      std::size_t frames)
{
    for (uint32_t c = first; c < last; ++c) {
        const float* input = pending_[c];
        float* output = converted_.channels[c];
        errors_[c] = converters_[c].convert(flushing ? nullptr : &input, frames, taken_[c], &output,
                                            converted_.capacity, given_[c]);
    }
}

std::optional<Error> ResamplingSink::convert_all(std::size_t frames, std::size_t& taken,
                                                 std::size_t& given)
{
    const bool flushing = frames == 0;
    const auto count = static_cast<uint32_t>(converters_.size());
    if (side_from_ < count) {
        side_.start([this, flushing, frames, count] {
            convert_channels(side_from_, count, flushing, frames);
        });
    }
    convert_channels(0, side_from_, flushing, frames);
    if (side_from_ < count) {
        side_.wait();
    }
    for (uint32_t c = 0; c < count; ++c) {
        if (errors_[c]) {
            return errors_[c];
        }
        if (taken_[c] != taken_[0] || given_[c] != given_[0]) {
            return Error{"Error: the sample-rate conversion failed: its channels came out of step.\n"};
        }
    }
    taken = count > 0 ? taken_[0] : 0;
    given = count > 0 ? given_[0] : 0;
    return std::nullopt;
}

std::optional<Error> ResamplingSink::write(const float* const* channels, uint32_t count,
                                           std::size_t frames)
{
    pending_.assign(channels, channels + count);
    written_ += frames;
    std::size_t left = frames;
    while (left > 0) {
        std::size_t taken = 0;
        std::size_t given = 0;
        if (std::optional<Error> error = convert_all(left, taken, given)) {
            return error;
        }
        for (const float*& channel : pending_) {
            channel += taken;
        }
        left -= taken;
        if (given > 0) {
            if (std::optional<Error> error =
                    inner_.write(converted_.channels.data(), count, given)) {
                return error;
            }
        }
        if (taken == 0 && given == 0) {
            break; // nothing moves: never the case with libsoxr, but no loop
        }
    }
    return std::nullopt;
}

std::optional<Error> ResamplingSink::finish()
{
    const uint32_t count = static_cast<uint32_t>(converted_.channels.size());
    if (length_) {
        const uint64_t length = length_(written_);
        for (RateConverter& converter : converters_) {
            converter.set_total(length);
        }
    }
    for (;;) {
        std::size_t taken = 0;
        std::size_t given = 0;
        if (std::optional<Error> error = convert_all(0, taken, given)) {
            return error;
        }
        if (given == 0) {
            break;
        }
        if (std::optional<Error> error = inner_.write(converted_.channels.data(), count, given)) {
            return error;
        }
    }
    return inner_.finish();
}

std::optional<Error> ResamplingSource::start()
{
    started_ = true;
    const uint32_t count = inner_.channels();
    if (std::optional<Error> error = converter_.start(in_, out_, count)) {
        return error;
    }
    if (!input_.allocate(count, piece_frames)) {
        return Error{insufficient_memory_message};
    }
    pending_.resize(count);
    targets_.resize(count);
    return std::nullopt;
}

SourceRead ResamplingSource::read(const ChunkOutput& output, std::size_t frames)
{
    SourceRead result;
    if (!started_) {
        if (std::optional<Error> error = start()) {
            result.error = std::move(error);
            return result;
        }
    }
    const uint32_t count = inner_.channels();
    // The render's channels are plain (step 1) unless it asked for
    // interleaved frames, which this source does not write.
    while (result.frames < frames && !done_) {
        if (input_at_ == input_frames_ && !input_ended_) {
            ChunkOutput piece{input_.block.data, input_.capacity, 1};
            const SourceRead got = inner_.read(piece, input_.capacity);
            input_at_ = 0;
            input_frames_ = got.frames;
            input_read_.fetch_add(got.frames, std::memory_order_release);
            if (got.error) {
                result.error = got.error;
                return result; // the frames so far count; the input ends
            }
            input_ended_ = got.frames == 0;
        }
        for (uint32_t c = 0; c < count; ++c) {
            pending_[c] = input_.channels[c] + input_at_;
            targets_[c] = output.channel(c) + result.frames;
        }
        std::size_t taken = 0;
        std::size_t given = 0;
        const bool flushing = input_ended_;
        if (std::optional<Error> error = converter_.convert(
                flushing ? nullptr : pending_.data(), input_frames_ - input_at_, taken,
                targets_.data(), frames - result.frames, given)) {
            result.error = std::move(error);
            return result;
        }
        input_at_ += taken;
        result.frames += given;
        if (flushing && given == 0) {
            done_ = true;
        }
    }
    return result;
}

} // namespace tonbrix
