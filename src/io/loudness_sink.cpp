#include "io/loudness_sink.h"

#include "io/interleave.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
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

// Samples in a block of the output kept in memory: 4 MiB, two huge pages.
constexpr std::size_t block_floats = std::size_t{1} << 20;
constexpr std::size_t huge_page = std::size_t{2} << 20;

} // namespace

void LoudnessSink::FreeBlock::operator()(float* block) const noexcept
{
    std::free(block);
}

LoudnessSink::LoudnessSink(Sink& inner, LoudnessSinkSettings settings)
    : inner_(inner), settings_(std::move(settings))
{
}

LoudnessSink::~LoudnessSink()
{
    stop_measuring_thread();
    if (spill_fd_ >= 0) {
        ::close(spill_fd_);
    }
}

std::optional<Error> LoudnessSink::prepare(uint32_t channels, std::size_t frames, unsigned jobs)
{
    channels_ = channels;
    if (std::optional<Error> error = meter_.start(channels, settings_.rate)) {
        return error;
    }
    if (settings_.normalise) {
        block_samples_ = block_floats / std::max<uint32_t>(channels, 1) * channels;
        if (block_samples_ == 0) {
            return Error{insufficient_memory_message};
        }
        try {
            blocks_.resize(settings_.memory_bytes / sizeof(float) / block_samples_ + 1);
            measuring_thread_ = std::thread([this] { measure_kept(); });
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
    if (settings_.normalise) {
        return keep(channels, count, frames);
    }
    const std::size_t capacity = interleaved_.size() / std::max<uint32_t>(count, 1);
    std::vector<const float*> sources(channels, channels + count);
    for (std::size_t done = 0; done < frames; done += capacity) {
        const std::size_t piece = std::min(capacity, frames - done);
        interleave_channels(piece, sources.data(), count, interleaved_.data());
        if (std::optional<Error> error = meter_.add(interleaved_.data(), piece)) {
            return error;
        }
        if (std::optional<Error> error = inner_.write(sources.data(), count, piece)) {
            return error;
        }
        for (const float*& source : sources) {
            source += piece;
        }
    }
    return std::nullopt;
}

std::optional<Error> LoudnessSink::keep(const float* const* channels, uint32_t count,
                                        std::size_t frames)
{
    std::vector<const float*> sources(channels, channels + count);
    const std::size_t limit = settings_.memory_bytes / sizeof(float);
    for (std::size_t done = 0; done < frames;) {
        // Straight into the current block while memory lasts: whole frames.
        const std::size_t room = spill_fd_ < 0 && limit > kept_ ? (limit - kept_) / count : 0;
        const std::size_t offset = kept_ % block_samples_;
        std::size_t piece = std::min({frames - done, room, (block_samples_ - offset) / count});
        float* to = nullptr;
        if (piece > 0) {
            std::unique_ptr<float, FreeBlock>& block = blocks_[kept_ / block_samples_];
            if (offset == 0) {
                const std::size_t bytes =
                    (block_samples_ * sizeof(float) + huge_page - 1) / huge_page * huge_page;
                block.reset(static_cast<float*>(std::aligned_alloc(huge_page, bytes)));
                if (!block) {
                    return Error{insufficient_memory_message};
                }
                ::madvise(block.get(), bytes, MADV_HUGEPAGE); // advice: fewer page faults
            }
            to = block.get() + offset;
        } else {
            piece = std::min(frames - done, interleaved_.size() / count);
            to = interleaved_.data();
        }
        interleave_channels(piece, sources.data(), count, to);
        if (to == interleaved_.data()) {
            if (std::optional<Error> error = spill(to, piece * count)) {
                return error;
            }
        } else {
            kept_ += piece * count;
        }
        for (const float*& source : sources) {
            source += piece;
        }
        done += piece;
    }
    publish();
    return std::nullopt;
}

std::optional<Error> LoudnessSink::spill(const float* interleaved, std::size_t samples)
{
    if (spill_fd_ < 0) {
        std::string path = settings_.spill_folder + "/.tonbrix-loudness-XXXXXX";
        spill_fd_ = ::mkostemp(path.data(), O_CLOEXEC);
        if (spill_fd_ < 0) {
            return spill_error(errno);
        }
        ::unlink(path.c_str());
    }
    const char* bytes = reinterpret_cast<const char*>(interleaved);
    std::size_t left = samples * sizeof(float);
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
    spilled_ += samples;
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

void LoudnessSink::measure_kept()
{
    std::vector<float> buffer(piece_frames * std::max<uint32_t>(channels_, 1));
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
        while (measured < kept.total && !measure_error_) {
            const std::size_t samples =
                static_cast<std::size_t>(std::min<uint64_t>(buffer.size(), kept.total - measured));
            const float* span = nullptr;
            std::size_t got = 0;
            measure_error_ = kept_span(kept, measured, samples, buffer.data(), span, got);
            if (!measure_error_) {
                measure_error_ = meter_.add(span, got / channels_);
            }
            measured += got;
        }
        if (measure_error_) {
            return;
        }
    }
}

void LoudnessSink::stop_measuring_thread()
{
    if (!measuring_thread_.joinable()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    published_changed_.notify_one();
    measuring_thread_.join();
}

std::optional<Error> LoudnessSink::kept_span(const Kept& kept, uint64_t at, std::size_t samples,
                                             float* buffer, const float*& span,
                                             std::size_t& got) const
{
    if (at < kept.in_memory) {
        const std::size_t from = static_cast<std::size_t>(at);
        const std::size_t offset = from % block_samples_;
        got = std::min({samples, block_samples_ - offset,
                        static_cast<std::size_t>(kept.in_memory) - from});
        span = blocks_[from / block_samples_].get() + offset;
        return std::nullopt;
    }
    // From the file, whole frames (the memory's part ends at a frame).
    std::size_t filled = 0;
    while (filled < samples) {
        const uint64_t offset = (at + filled - kept.in_memory) * sizeof(float);
        const ssize_t read = ::pread(kept.fd, buffer + filled, (samples - filled) * sizeof(float),
                                     static_cast<off_t>(offset));
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read <= 0) {
            return spill_error(read < 0 ? errno : EIO);
        }
        filled += static_cast<std::size_t>(read) / sizeof(float);
    }
    span = buffer;
    got = samples;
    return std::nullopt;
}

std::optional<Error> LoudnessSink::finish()
{
    if (!settings_.normalise) {
        LoudnessGain gain;
        gain.reached = meter_.result();
        gain.silent = gain.reached.silent();
        outcome_ = gain;
        return inner_.finish();
    }
    stop_measuring_thread();
    if (measure_error_) {
        return measure_error_;
    }
    outcome_ = loudness_gain(meter_.result(), settings_.target_lufs, settings_.ceiling_dbtp);
    if (std::optional<Error> error = write_back(std::pow(10.0, outcome_->gain_db / 20.0))) {
        return error;
    }
    return inner_.finish();
}

std::optional<Error> LoudnessSink::write_back(double gain)
{
    const std::size_t count = channels_;
    const float scale = static_cast<float>(gain);
    std::vector<float> buffer(piece_frames * count);
    const uint64_t total = kept_ + spilled_;
    const Kept kept{kept_, total, spill_fd_};
    for (uint64_t at = 0; at < total;) {
        const std::size_t samples =
            static_cast<std::size_t>(std::min<uint64_t>(buffer.size(), total - at));
        const float* span = nullptr;
        std::size_t got = 0;
        if (std::optional<Error> error = kept_span(kept, at, samples, buffer.data(), span, got)) {
            return error;
        }
        const std::size_t frames = got / count;
        for (std::size_t c = 0; c < count; ++c) {
            float* out = plain_.channels[c];
            for (std::size_t f = 0; f < frames; ++f) {
                out[f] = span[f * count + c] * scale;
            }
        }
        if (std::optional<Error> error =
                inner_.write(plain_.channels.data(), static_cast<uint32_t>(count), frames)) {
            return error;
        }
        at += got;
    }
    return std::nullopt;
}

} // namespace tonbrix
