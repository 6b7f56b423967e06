#include "io/file_source.h"

#include "io/read_stage.h"


namespace tonbrix {

SourceRead FileSource::read(const ChunkOutput& output, std::size_t frames)
{
    float* samples = output.data;
    if (channels_ > 1) {
        std::size_t size = 0;
        if (interleaved_.size < frames * channels_ &&
            (!checked_product({frames, channels_}, size) || !interleaved_.allocate(size))) {
            return {0, Error{insufficient_memory_message}};
        }
        samples = interleaved_.data;
    }
    const ReadOutcome outcome = read_chunk(file_, samples, frames);
    if (channels_ == 2) {
        float* left = output.channel(0);
        float* right = output.channel(1);
        for (std::size_t f = 0; f < outcome.frames; ++f) {
            left[f] = samples[2 * f];
            right[f] = samples[2 * f + 1];
        }
    } else if (channels_ > 2) {
        for (uint32_t c = 0; c < channels_; ++c) {
            float* channel = output.channel(c);
            for (std::size_t f = 0; f < outcome.frames; ++f) {
                channel[f] = samples[f * channels_ + c];
            }
        }
    }
    SourceRead read{outcome.frames, std::nullopt};
    if (outcome.error != 0) {
        read.error = read_error(outcome.error);
    }
    return read;
}

} // namespace tonbrix
