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
    FileSource(SNDFILE* file, uint32_t channels) : file_(file), channels_(channels) {}

    uint32_t channels() const override { return channels_; }
    SourceRead read(const ChunkOutput& output, std::size_t frames) override;
    bool writes_interleaved() const override { return true; }

    // Frames read at once when the channels are separated.
    static constexpr uint32_t piece_frames = 8192;

private:
    SNDFILE* file_;
    uint32_t channels_;
    FloatBuffer interleaved_; // a piece of frames as the file gives them
};

} // namespace tonbrix
