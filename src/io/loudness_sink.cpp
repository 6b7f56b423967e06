#include "io/loudness_sink.h"

#include "io/interleave.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

namespace tonbrix {

namespace {

Error spill_error(int error)
{
    return Error{std::string("Error writing the temporary file of the output's loudness "
                             "normalisation: ") +
                 std::strerror(error) + ".\n"};
}

} // namespace

LoudnessSink::LoudnessSink(Sink& inner, LoudnessSinkSettings settings)
    : inner_(inner), settings_(std::move(settings))
{
}

LoudnessSink::~LoudnessSink()
{
    stop_peak_thread();
    if (spill_fd_ >= 0) {
        ::close(spill_fd_);
    }
}

std::optional<Error> LoudnessSink::prepare(uint32_t channels, std::size_t frames, unsigned jobs)
{
    channels_ = channels;
    using Measures = LoudnessMeter::Measures;
    if (std::optional<Error> error = meter_.start(
            channels, settings_.rate, settings_.normalise ? Measures::loudness : Measures::both)) {
        return error;
    }
    if (settings_.normalise) {
        if (std::optional<Error> error =
                peak_meter_.start(channels, settings_.rate, Measures::true_peak)) {
            return error;
        }
        try {
            blocks_.resize(settings_.memory_bytes / sizeof(float) / block_samples + 1);
            peak_thread_ = std::thread([this] { measure_peaks(); });
        } catch (const std::exception&) {
            return Error{insufficient_memory_message};
        }
    }
    std::size_t size = 0;
    if (!checked_product({std::max<std::size_t>(frames, 1), channels}, size) ||
        !plain_.allocate(channels, settings_.normalise ? piece_frames : 1)) {
        return Error{insufficient_memory_message};
    }
    try {
        interleaved_.resize(size);
    } catch (const std::bad_alloc&) {
        return Error{insufficient_memory_message};
    }
    return inner_.prepare(channels, settings_.normalise ? piece_frames : frames, jobs);
}

std::optional<Error> LoudnessSink::write(const float* const* channels, uint32_t count,
                                         std::size_t frames)
{
    const std::size_t capacity = interleaved_.size() / std::max<uint32_t>(count, 1);
    for (std::size_t done = 0; done < frames; done += capacity) {
        const std::size_t piece = std::min(capacity, frames - done);
        std::vector<const float*> sources(channels, channels + count);
        for (const float*& source : sources) {
            source += done;
        }
        interleave_channels(piece, sources.data(), count, interleaved_.data());
        if (std::optional<Error> error = meter_.add(interleaved_.data(), piece)) {
            return error;
        }
        if (settings_.normalise) {
            if (std::optional<Error> error = keep(interleaved_.data(), piece * count)) {
                return error;
            }
        } else if (std::optional<Error> error = inner_.write(sources.data(), count, piece)) {
            return error;
        }
    }
    return std::nullopt;
}

std::optional<Error> LoudnessSink::keep(const float* interleaved, std::size_t samples)
{
    const std::size_t limit = settings_.memory_bytes / sizeof(float);
    const std::size_t room = limit > kept_ ? limit - kept_ : 0;
    const std::size_t in_memory = spill_fd_ < 0 ? std::min(room, samples) : 0;
    for (std::size_t done = 0; done < in_memory;) {
        const std::size_t offset = kept_ % block_samples;
        std::unique_ptr<float[]>& block = blocks_[kept_ / block_samples];
        if (offset == 0) {
            block.reset(new (std::nothrow) float[block_samples]);
            if (!block) {
                return Error{insufficient_memory_message};
            }
        }
        const std::size_t piece = std::min(block_samples - offset, in_memory - done);
        std::memcpy(block.get() + offset, interleaved + done, piece * sizeof(float));
        kept_ += piece;
        done += piece;
    }
    if (in_memory == samples) {
        publish();
        return std::nullopt;
    }
    if (spill_fd_ < 0) {
        std::string path = settings_.spill_folder + "/.tonbrix-loudness-XXXXXX";
        spill_fd_ = ::mkostemp(path.data(), O_CLOEXEC);
        if (spill_fd_ < 0) {
            return spill_error(errno);
        }
        ::unlink(path.c_str());
    }
    const char* bytes = reinterpret_cast<const char*>(interleaved + in_memory);
    std::size_t left = (samples - in_memory) * sizeof(float);
    while (left > 0) {
        const ssize_t written = ::write(spill_fd_, bytes, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return spill_error(written < 0 ? errno : ENOSPC);
        }
        bytes += written;
        left -= static_cast<std::size_t>(written);
    }
    spilled_ += samples - in_memory;
    publish();
    return std::nullopt;
}

void LoudnessSink::publish()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        published_ = Kept{kept_, kept_ + spilled_, spill_fd_};
    }
    published_changed_.notify_one();
}

void LoudnessSink::measure_peaks()
{
    std::vector<float> piece(piece_frames * std::max<uint32_t>(channels_, 1));
    uint64_t measured = 0;
    for (;;) {
        Kept kept;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            published_changed_.wait(lock, [&] { return published_.total > measured || closing_; });
            kept = published_;
            if (kept.total == measured) {
                return; // closing with everything measured
            }
        }
        while (measured < kept.total && !peak_error_) {
            const std::size_t samples =
                static_cast<std::size_t>(std::min<uint64_t>(piece.size(), kept.total - measured));
            peak_error_ = copy_kept(kept, measured, samples, piece.data());
            if (!peak_error_) {
                peak_error_ = peak_meter_.add(piece.data(), samples / channels_);
            }
            measured += samples;
        }
        if (peak_error_) {
            return;
        }
    }
}

void LoudnessSink::stop_peak_thread()
{
    if (!peak_thread_.joinable()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    published_changed_.notify_one();
    peak_thread_.join();
}

std::optional<Error> LoudnessSink::copy_kept(const Kept& kept, uint64_t at, std::size_t samples,
                                             float* out) const
{
    // From memory first, then from the file, in the order written.
    std::size_t filled = 0;
    while (at + filled < kept.in_memory && filled < samples) {
        const std::size_t from = static_cast<std::size_t>(at) + filled;
        const std::size_t offset = from % block_samples;
        const std::size_t part =
            std::min({samples - filled, block_samples - offset,
                      static_cast<std::size_t>(kept.in_memory) - from});
        std::memcpy(out + filled, blocks_[from / block_samples].get() + offset,
                    part * sizeof(float));
        filled += part;
    }
    while (filled < samples) {
        const uint64_t offset = (at + filled - kept.in_memory) * sizeof(float);
        const ssize_t got = ::pread(kept.fd, out + filled, (samples - filled) * sizeof(float),
                                    static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return spill_error(got < 0 ? errno : EIO);
        }
        filled += static_cast<std::size_t>(got) / sizeof(float);
    }
    return std::nullopt;
}

std::optional<Error> LoudnessSink::finish()
{
    const Loudness measured = meter_.result();
    if (!settings_.normalise) {
        LoudnessGain gain;
        gain.reached = measured;
        gain.silent = measured.silent();
        outcome_ = gain;
        return inner_.finish();
    }
    stop_peak_thread();
    if (peak_error_) {
        return peak_error_;
    }
    Loudness both = measured;
    both.true_peak_dbtp = peak_meter_.result().true_peak_dbtp;
    outcome_ = loudness_gain(both, settings_.target_lufs, settings_.ceiling_dbtp);
    if (std::optional<Error> error = write_back(std::pow(10.0, outcome_->gain_db / 20.0))) {
        return error;
    }
    return inner_.finish();
}

std::optional<Error> LoudnessSink::write_back(double gain)
{
    const std::size_t count = channels_;
    const float scale = static_cast<float>(gain);
    std::vector<float> piece(piece_frames * count);
    const uint64_t total = kept_ + spilled_;
    for (uint64_t at = 0; at < total;) {
        const std::size_t samples =
            static_cast<std::size_t>(std::min<uint64_t>(piece.size(), total - at));
        if (std::optional<Error> error =
                copy_kept(Kept{kept_, total, spill_fd_}, at, samples, piece.data())) {
            return error;
        }
        const std::size_t frames = samples / count;
        for (std::size_t c = 0; c < count; ++c) {
            float* out = plain_.channels[c];
            for (std::size_t f = 0; f < frames; ++f) {
                out[f] = piece[f * count + c] * scale;
            }
        }
        if (std::optional<Error> error =
                inner_.write(plain_.channels.data(), static_cast<uint32_t>(count), frames)) {
            return error;
        }
        at += samples;
    }
    return std::nullopt;
}

} // namespace tonbrix
