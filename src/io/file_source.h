#pragma once

#include "base/buffers.h"

#include <tonbrix/render.h>

#include <sndfile.h>

#include <cstddef>
#include <cstdint>

namespace tonbrix {

// An open sound file as a render's source; the file stays the caller's.
class FileSource : public Source {
public:
    FileSource(SNDFILE* file, uint32_t channels);

    uint32_t channels() const override { return channels_; }
    SourceRead read(const ChunkOutput& output, std::size_t frames) override;
    bool writes_interleaved() const override { return true; }

    // The frames the reads have given so far.
    uint64_t frames_read() const { return frames_read_; }

    // Frames read at once through a buffer: float frames to be separated
    // into channels, or 16-bit frames to be converted.
    static constexpr uint32_t piece_frames = 8192;

private:
    SourceRead read_frames(const ChunkOutput& output, std::size_t frames);

    SNDFILE* file_;
    uint32_t channels_;
    uint64_t frames_read_ = 0;
    bool pcm16_ = false;      // 16-bit PCM samples, read as such and converted here
    FloatBuffer interleaved_; // a piece of float frames as the file gives them
    ZeroBuffer<int16_t> pcm16_frames_; // a piece of 16-bit frames as the file gives them
};

} // namespace tonbrix
