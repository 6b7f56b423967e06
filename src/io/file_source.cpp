#include "io/file_source.h"

#include "io/read_stage.h"

#include <algorithm>

namespace tonbrix {

namespace {

// Whether the file holds plain 16-bit PCM, which libsndfile reads as
// integers in one system call per read, but as floats through an 8 KiB
// buffer of its own; scaled by 1/32768 here they are the same floats as
// there. FLAC is decoded either way.
bool plain_pcm16(SNDFILE* file)
{
    SF_INFO info{};
    if (file == nullptr || sf_command(file, SFC_GET_CURRENT_SF_INFO, &info, sizeof info) != 0) {
        return false;
    }
    return (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 &&
           (info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_FLAC &&
           sf_command(file, SFC_GET_NORM_FLOAT, nullptr, 0) == SF_TRUE;
}

float sample_of(float sample)
{
    return sample;
}

float sample_of(int16_t sample)
{
    return static_cast<float>(sample) * (1.0f / 32768.0f);
}

// Puts `frames` interleaved frames of `channels` samples at frame `at` of
// the output, in its layout.
template <typename Sample>
void place_frames(const Sample* in, std::size_t frames, uint32_t channels,
                  const ChunkOutput& output, std::size_t at)
{
    if (output.step == channels && (channels == 1 || output.stride == 1)) {
        float* out = output.data + at * channels;
        for (std::size_t i = 0; i < frames * channels; ++i) {
            out[i] = sample_of(in[i]);
        }
    } else if (channels == 2 && output.step == 1) {
        float* left = output.channel(0) + at;
        float* right = output.channel(1) + at;
        for (std::size_t f = 0; f < frames; ++f) {
            left[f] = sample_of(in[2 * f]);
            right[f] = sample_of(in[2 * f + 1]);
        }
    } else {
        for (uint32_t c = 0; c < channels; ++c) {
            float* channel = output.channel(c) + at * output.step;
            for (std::size_t f = 0; f < frames; ++f) {
                channel[f * output.step] = sample_of(in[f * channels + c]);
            }
        }
    }
}

} // namespace

FileSource::FileSource(SNDFILE* file, uint32_t channels)
    : file_(file), channels_(channels), pcm16_(plain_pcm16(file))
{
}

SourceRead FileSource::read(const ChunkOutput& output, std::size_t frames)
{
    SourceRead result = read_frames(output, frames);
    frames_read_ += result.frames;
    return result;
}

SourceRead FileSource::read_frames(const ChunkOutput& output, std::size_t frames)
{
    const bool as_stored = output.step == channels_ && (channels_ == 1 || output.stride == 1);
    if (as_stored && !pcm16_) {
        // The frames as the file gives them, straight into the output.
        const ReadOutcome outcome = read_chunk(file_, output.data, frames);
        return {outcome.frames, outcome.error != 0 ? std::optional(read_error(outcome.error))
                                                   : std::nullopt};
    }
    // Otherwise in pieces through a small buffer, so that a chunk is not
    // held twice.
    const std::size_t piece = std::size_t{piece_frames} * channels_;
    const bool allocated = pcm16_ ? pcm16_frames_.size != 0 : interleaved_.size != 0;
    if (!allocated &&
        !(pcm16_ ? pcm16_frames_.allocate(piece) : interleaved_.allocate(piece))) {
        return {0, Error{insufficient_memory_message}};
    }
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t wanted = std::min<std::size_t>(piece_frames, frames - done);
        ReadOutcome outcome;
        if (pcm16_) {
            outcome = read_chunk(file_, pcm16_frames_.data, wanted);
            place_frames(pcm16_frames_.data, outcome.frames, channels_, output, done);
        } else {
            outcome = read_chunk(file_, interleaved_.data, wanted);
            place_frames(interleaved_.data, outcome.frames, channels_, output, done);
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
