#pragma once

#include "base/buffers.h"
#include "io/flac/flac_writer.h"

#include <tonbrix/render.h>

#include <sndfile.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonbrix {

// How a render's output reaches an open sound file.
struct FileSinkSettings {
    SNDFILE* file = nullptr;
    bool pcm16 = false; // convert to 16-bit integers here
    // Or a 16-bit FLAC stream of `flac_info` encoded in segments, on
    // `flac_threads` threads, into `flac_fd`.
    int flac_fd = -1;
    SF_INFO flac_info{};
    SoundStrings flac_strings; // in the stream's metadata
    std::size_t flac_threads = 1;
};

// An open sound file as a render's sink: interleaves the channels, converts
// them and writes each chunk at once; the file stays the caller's.
class FileSink : public Sink {
public:
    explicit FileSink(const FileSinkSettings& settings) : settings_(settings) {}

    std::optional<Error> prepare(uint32_t channels, std::size_t frames, unsigned jobs) override;
    std::optional<Error> write(const float* const* channels, uint32_t count,
                               std::size_t frames) override;
    std::optional<Error> finish() override;

private:
    std::optional<Error> write_floats(const float* const* channels, uint32_t count,
                                      std::size_t frames);
    std::optional<Error> write_pcm16(const float* const* channels, uint32_t count,
                                     std::size_t frames);
    std::optional<Error> flac_error() const;

    FileSinkSettings settings_;
    std::size_t capacity_ = 0; // frames a write's buffers hold
    std::vector<const float*> sources_; // by channel, where the next piece starts
    FloatBuffer interleaved_;  // a write's frames, for float outputs
    ZeroBuffer<int16_t> pcm16_; // a write's frames, for 16-bit outputs
    FlacWriter flac_;
};

} // namespace tonbrix
