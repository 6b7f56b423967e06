#include "io/file_sink.h"

#include "io/clip_stage.h"
#include "io/interleave.h"

#include <algorithm>

#include <cstring>
#include <string>

namespace tonbrix {

std::optional<Error> FileSink::prepare(uint32_t channels, std::size_t frames, unsigned)
{
    flac_.strings = settings_.flac_strings;
    const bool pcm16 = settings_.pcm16 || settings_.flac_fd >= 0;
    std::size_t size = 0;
    capacity_ = std::max<std::size_t>(frames, 1);
    if (!checked_product({capacity_, channels}, size) ||
        (!pcm16 && channels > 1 && !interleaved_.allocate(size)) ||
        (pcm16 && !pcm16_.allocate(size)) ||
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
    // Each chunk at once; more frames than a chunk, in pieces of one.
    std::vector<const float*>& sources = sources_;
    sources.assign(channels, channels + count);
    for (std::size_t done = 0; done < frames; done += capacity_) {
        const std::size_t piece = std::min(capacity_, frames - done);
        const std::optional<Error> error = settings_.pcm16 || settings_.flac_fd >= 0
                                               ? write_pcm16(sources.data(), count, piece)
                                               : write_floats(sources.data(), count, piece);
        if (error) {
            return error;
        }
        for (const float*& source : sources) {
            source += piece;
        }
    }
    return std::nullopt;
}

std::optional<Error> FileSink::write_floats(const float* const* channels, uint32_t count,
                                            std::size_t frames)
{
    const float* samples = channels[0];
    if (count > 1) {
        interleave_channels(frames, channels, count, interleaved_.data);
        samples = interleaved_.data;
    }
    const auto n = static_cast<sf_count_t>(frames);
    if (sf_writef_float(settings_.file, samples, n) != n) {
        return Error{std::string("Error writing output file: ") + sf_strerror(settings_.file) +
                     "\n"};
    }
    return std::nullopt;
}

std::optional<Error> FileSink::write_pcm16(const float* const* channels, uint32_t count,
                                           std::size_t frames)
{
    interleave_pcm16(channels, count, frames, pcm16_.data);
    if (settings_.flac_fd >= 0) {
        if (!flac_write(flac_, pcm16_.data, frames)) {
            return flac_error();
        }
        return std::nullopt;
    }
    const auto n = static_cast<sf_count_t>(frames);
    if (sf_writef_short(settings_.file, pcm16_.data, n) != n) {
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
