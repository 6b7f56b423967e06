#include "io/file_source.h"

#include "io/read_stage.h"

#include <algorithm>

namespace tonbrix {

SourceRead FileSource::read(const ChunkOutput& output, std::size_t frames)
{
    if (channels_ == 1 || (output.stride == 1 && output.step == channels_)) {
        // The frames as the file gives them, straight into the output.
        const ReadOutcome outcome = read_chunk(file_, output.data, frames);
        return {outcome.frames, outcome.error != 0 ? std::optional(read_error(outcome.error))
                                                   : std::nullopt};
    }
    // Interleaved frames come in pieces through a small buffer, so that a
    // chunk is not held twice.
    if (interleaved_.size == 0 && !interleaved_.allocate(std::size_t{piece_frames} * channels_)) {
        return {0, Error{insufficient_memory_message}};
    }
    const float* samples = interleaved_.data;
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t wanted = std::min<std::size_t>(piece_frames, frames - done);
        const ReadOutcome outcome = read_chunk(file_, interleaved_.data, wanted);
        if (channels_ == 2) {
            float* left = output.channel(0) + done;
            float* right = output.channel(1) + done;
            for (std::size_t f = 0; f < outcome.frames; ++f) {
                left[f] = samples[2 * f];
                right[f] = samples[2 * f + 1];
            }
        } else {
            for (uint32_t c = 0; c < channels_; ++c) {
                float* channel = output.channel(c) + done;
                for (std::size_t f = 0; f < outcome.frames; ++f) {
                    channel[f] = samples[f * channels_ + c];
                }
            }
        }
        done += outcome.frames;
        if (outcome.error != 0) {
            return {done, read_error(outcome.error)};
        }
        if (outcome.frames < wanted) {
            break; // the end of the input
        }
    }
    return {done, std::nullopt};
}

} // namespace tonbrix
