#pragma once

#include "base/buffers.h"
#include "io/checked_descriptor.h"
#include "io/flac/flac_writer.h"

#include <tonbrix/render.h>

#include <sndfile.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tonbrix {

// How a render's output reaches an open sound file.
struct FileSinkSettings {
    SNDFILE* file = nullptr;
    // The descriptor `file` is written through, whose first failed write
    // fails the run; null when libsndfile writes the descriptor itself.
    const CheckedDescriptor* written = nullptr;
    std::string name; // the output's path as given, for messages
    bool pcm16 = false; // convert to 16-bit integers here
    // Hand libsndfile floats in pieces of fixed_piece_frames whatever the
    // chunks are: an encoder whose bytes depend on how its input is cut
    // then gives the same file at every thread count and block size.
    bool fixed_pieces = false;
    // Or a 16-bit FLAC stream of `flac_info` encoded in segments, on
    // `flac_threads` threads, into `flac_fd`.
    int flac_fd = -1;
    SF_INFO flac_info{};
    SoundStrings flac_strings; // in the stream's metadata
    std::size_t flac_threads = 1;
};

// True for the encodings whose output depends on how their input is cut
// into writes (Vorbis decodes differently; Opus pages differ), which a
// FileSink then feeds in fixed pieces.
bool encoding_depends_on_writes(int format);

// An open sound file as a render's sink: interleaves the channels, converts
// them and writes each chunk at once (or in fixed pieces); the file stays
// the caller's.
class FileSink : public Sink {
public:
    static constexpr std::size_t fixed_piece_frames = 8192;

    explicit FileSink(const FileSinkSettings& settings) : settings_(settings) {}

    std::optional<Error> prepare(uint32_t channels, std::size_t frames, unsigned jobs) override;
    std::optional<Error> write(const float* const* channels, uint32_t count,
                               std::size_t frames) override;
    std::optional<Error> finish() override;

private:
    std::optional<Error> write_floats(const float* const* channels, uint32_t count,
                                      std::size_t frames);
    std::optional<Error> write_pieces(const float* const* channels, uint32_t count,
                                      std::size_t frames);
    std::optional<Error> write_pcm16(const float* const* channels, uint32_t count,
                                     std::size_t frames);
    std::optional<Error> flac_error() const;
    // The message when libsndfile took fewer frames than it was given or a
    // write under it failed.
    std::optional<Error> write_result(bool complete) const;

    FileSinkSettings settings_;
    std::size_t capacity_ = 0; // frames a write's buffers hold
    std::size_t filled_ = 0;   // frames waiting in `interleaved_` for a fixed piece
    std::vector<const float*> sources_; // by channel, where the next piece starts
    FloatBuffer interleaved_;  // a write's frames, for float outputs
    ZeroBuffer<int16_t> pcm16_; // a write's frames, for 16-bit outputs
    FlacWriter flac_;
};

} // namespace tonbrix
