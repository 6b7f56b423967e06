#include "io/file_sink.h"

#include "io/clip_stage.h"
#include "io/interleave.h"
#include "io/sound_errors.h"

#include <algorithm>

#include <string>

namespace tonbrix {

bool encoding_depends_on_writes(int format)
{
    const int encoding = format & SF_FORMAT_SUBMASK;
    return encoding == SF_FORMAT_VORBIS || encoding == SF_FORMAT_OPUS;
}

std::optional<Error> FileSink::prepare(uint32_t channels, std::size_t frames, unsigned)
{
    flac_.strings = settings_.flac_strings;
    const bool pcm16 = settings_.pcm16 || settings_.flac_fd >= 0;
    const bool pieces = settings_.fixed_pieces && !pcm16;
    std::size_t size = 0;
    capacity_ = pieces ? fixed_piece_frames : std::max<std::size_t>(frames, 1);
    if (!checked_product({capacity_, channels}, size) ||
        (!pcm16 && (channels > 1 || pieces) && !interleaved_.allocate(size)) ||
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
    if (settings_.fixed_pieces && !settings_.pcm16 && settings_.flac_fd < 0) {
        return write_pieces(channels, count, frames);
    }
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

std::optional<Error> FileSink::write_pieces(const float* const* channels, uint32_t count,
                                            std::size_t frames)
{
    std::vector<const float*>& sources = sources_;
    sources.assign(channels, channels + count);
    for (std::size_t done = 0; done < frames;) {
        const std::size_t take = std::min(capacity_ - filled_, frames - done);
        interleave_channels(take, sources.data(), count, interleaved_.data + filled_ * count);
        for (const float*& source : sources) {
            source += take;
        }
        filled_ += take;
        done += take;
        if (filled_ == capacity_) {
            filled_ = 0;
            const auto n = static_cast<sf_count_t>(capacity_);
            if (auto error = write_result(sf_writef_float(settings_.file, interleaved_.data, n) == n)) {
                return error;
            }
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
    return write_result(sf_writef_float(settings_.file, samples, n) == n);
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
    return write_result(sf_writef_short(settings_.file, pcm16_.data, n) == n);
}

std::optional<Error> FileSink::write_result(bool complete) const
{
    if (settings_.written != nullptr && settings_.written->error != 0) {
        return write_error(settings_.name, settings_.written->error);
    }
    if (!complete) {
        return Error{"Error writing output file: " + sound_file_error_text(settings_.file) + "\n"};
    }
    return std::nullopt;
}

std::optional<Error> FileSink::finish()
{
    if (filled_ > 0) {
        const auto n = static_cast<sf_count_t>(filled_);
        filled_ = 0;
        if (auto error = write_result(sf_writef_float(settings_.file, interleaved_.data, n) == n)) {
            return error;
        }
    }
    if (settings_.flac_fd >= 0 && !finish_flac_writer(flac_)) {
        return flac_error();
    }
    return std::nullopt;
}

std::optional<Error> FileSink::flac_error() const
{
    if (flac_.error > 0) {
        return write_error(settings_.name, flac_.error);
    }
    return Error{"Error writing output file: The FLAC encoder failed.\n"};
}

} // namespace tonbrix
