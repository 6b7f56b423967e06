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
    if (std::optional<Error> error = converter_.start(in_, out_, channels)) {
        return error;
    }
    if (!converted_.allocate(channels, output_capacity(frames, in_, out_))) {
        return Error{insufficient_memory_message};
    }
    pending_.resize(channels);
    return inner_.prepare(channels, converted_.capacity, jobs);
}

std::optional<Error> ResamplingSink::write(const float* const* channels, uint32_t count,
                                           std::size_t frames)
{
    pending_.assign(channels, channels + count);
    std::size_t left = frames;
    do {
        std::size_t taken = 0;
        std::size_t given = 0;
        if (std::optional<Error> error =
                converter_.convert(pending_.data(), left, taken, converted_.channels.data(),
                                   converted_.capacity, given)) {
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
    } while (left > 0);
    return std::nullopt;
}

std::optional<Error> ResamplingSink::finish()
{
    const uint32_t count = static_cast<uint32_t>(converted_.channels.size());
    for (;;) {
        std::size_t taken = 0;
        std::size_t given = 0;
        if (std::optional<Error> error = converter_.convert(
                nullptr, 0, taken, converted_.channels.data(), converted_.capacity, given)) {
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
