#include "io/file_sink.h"

#include "io/clip_stage.h"
#include "io/interleave.h"

#include <algorithm>

#include <cstring>
#include <string>

namespace tonbrix {

std::optional<Error> FileSink::prepare(uint32_t channels, std::size_t, unsigned)
{
    flac_.strings = settings_.flac_strings;
    const std::size_t size = std::size_t{piece_frames} * channels;
    sources_.assign(channels, nullptr);
    if ((channels > 1 && !interleaved_.allocate(size)) ||
        ((settings_.pcm16 || settings_.flac_fd >= 0) && !pcm16_.allocate(size)) ||
        (settings_.flac_fd >= 0 && !start_flac_writer(flac_, settings_.flac_fd,
                                                      settings_.flac_info,
                                                      settings_.flac_threads))) {
        return Error{insufficient_memory_message};
    }
    return std::nullopt;
}

std::optional<Error> FileSink::write(const float* const* channels, uint32_t count,
                                     std::size_t frames)
{
    // In pieces through small buffers, so that a chunk is not held twice.
    for (std::size_t done = 0; done < frames; done += piece_frames) {
        const std::size_t piece = std::min<std::size_t>(piece_frames, frames - done);
        const float* samples = channels[0] + done;
        if (count > 1) {
            for (uint32_t c = 0; c < count; ++c) {
                sources_[c] = channels[c] + done;
            }
            interleave_channels(piece, sources_.data(), count, interleaved_.data);
            samples = interleaved_.data;
        }
        if (auto error = write_piece(samples, count, piece)) {
            return error;
        }
    }
    return std::nullopt;
}

std::optional<Error> FileSink::write_piece(const float* samples, uint32_t count,
                                           std::size_t frames)
{
    const auto n = static_cast<sf_count_t>(frames);
    if (settings_.flac_fd >= 0) {
        float_to_pcm16(samples, frames * count, pcm16_.data);
        if (!flac_write(flac_, pcm16_.data, frames)) {
            return flac_error();
        }
        return std::nullopt;
    }
    sf_count_t written = 0;
    if (settings_.pcm16) {
        float_to_pcm16(samples, frames * count, pcm16_.data);
        written = sf_writef_short(settings_.file, pcm16_.data, n);
    } else {
        written = sf_writef_float(settings_.file, samples, n);
    }
    if (written != n) {
        return Error{std::string("Error writing output file: ") + sf_strerror(settings_.file) +
                     "\n"};
    }
    return std::nullopt;
}

std::optional<Error> FileSink::finish()
{
    if (settings_.flac_fd >= 0 && !finish_flac_writer(flac_)) {
        return flac_error();
    }
    return std::nullopt;
}

std::optional<Error> FileSink::flac_error() const
{
    if (flac_.error > 0) {
        return Error{std::string("Error writing output file: System error : ") +
                     std::strerror(flac_.error) + ".\n"};
    }
    return Error{"Error writing output file: The FLAC encoder failed.\n"};
}

} // namespace tonbrix
