#pragma once

#include <tonbrix/render.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tonbrix {

// A source of `frames` frames of silence in `channels` channels: the input
// of a plugin that makes sound by itself (an instrument played from a MIDI
// file, a generator), which takes no audio or ignores it.
class SilentSource final : public Source {
public:
    SilentSource(uint32_t channels, uint64_t frames) : channels_(channels), left_(frames) {}

    uint32_t channels() const override { return channels_; }

    SourceRead read(const ChunkOutput& output, std::size_t frames) override
    {
        const std::size_t given = static_cast<std::size_t>(std::min<uint64_t>(frames, left_));
        for (uint32_t c = 0; c < channels_; ++c) {
            std::memset(output.channel(c), 0, given * sizeof(float));
        }
        left_ -= given;
        return {given, std::nullopt};
    }

private:
    uint32_t channels_;
    uint64_t left_;
};

} // namespace tonbrix
