#pragma once

#include "io/loudness.h"
#include "io/stage_buffers.h"

#include <tonbrix/render.h>

#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <optional>
#include <string>
#include <vector>

namespace tonbrix {

struct LoudnessSinkSettings {
    int rate = 0;
    // Normalise to the target (else only measure, passing the audio on as
    // it comes).
    bool normalise = false;
    double target_lufs = -16.0;
    double ceiling_dbtp = -1.0;
    // The float output is kept in memory up to this many bytes, beyond in
    // an unnamed temporary file in `spill_folder`.
    std::size_t memory_bytes = std::size_t{256} << 20;
    std::string spill_folder = ".";
};

// A sink that measures the loudness of the audio on its way to the inner
// sink. Normalising, it keeps the whole output, measuring it on a thread of
// its own as it is kept, then at finish() feeds it to the inner sink scaled
// by one gain.
class LoudnessSink : public Sink {
public:
    LoudnessSink(Sink& inner, LoudnessSinkSettings settings);
    ~LoudnessSink() override;

    std::optional<Error> prepare(uint32_t channels, std::size_t frames, unsigned jobs) override;
    std::optional<Error> write(const float* const* channels, uint32_t count,
                               std::size_t frames) override;
    std::optional<Error> finish() override;

    // After finish(): the gain applied (0 dB when only measuring) and the
    // loudness of the audio the inner sink got.
    const std::optional<LoudnessGain>& outcome() const { return outcome_; }

    // Frames written back at once from what was kept.
    static constexpr std::size_t piece_frames = 8192;

private:
    // Keeps `frames` frames of the plain channels interleaved, in memory or
    // beyond in the file, measuring their loudness on the way.
    std::optional<Error> keep(const float* const* channels, uint32_t count, std::size_t frames);
    std::optional<Error> spill(const float* interleaved, std::size_t samples);
    std::optional<Error> write_back(double gain);
    // Where the kept samples are: the first `in_memory` in the blocks, the
    // rest up to `total` in the file `fd`.
    struct Kept {
        uint64_t in_memory = 0;
        uint64_t total = 0;
        int fd = -1;
    };
    // Lets the measuring thread see what was kept so far.
    void publish();
    // Gives `samples` kept samples from `at` on, up to a block's end or
    // the memory's: in place from memory, else read from the file into
    // `buffer` (of `room` samples); sets `got` to how many. Safe on the
    // measuring thread for samples already published.
    std::optional<Error> kept_span(const Kept& kept, uint64_t at, std::size_t samples,
                                   float* buffer, const float*& span, std::size_t& got) const;
    // The measuring thread: measures the kept samples as they are
    // published, until the sink closes.
    void measure_kept();
    void stop_measuring_thread();

    Sink& inner_;
    LoudnessSinkSettings settings_;
    // The loudness and true peak; normalising, used by the measuring thread
    // until it stops.
    LoudnessMeter meter_;
    std::thread measuring_thread_;
    std::mutex mutex_;
    std::condition_variable published_changed_;
    Kept published_; // what the measuring thread may read
    bool closing_ = false;
    std::optional<Error> measure_error_;
    uint32_t channels_ = 0;
    std::vector<float> interleaved_; // one write's frames
    // The output in memory, in blocks of whole frames, block_samples_ each
    // (never moved), asked of the kernel in huge pages where it has them.
    struct FreeBlock {
        void operator()(float* block) const noexcept;
    };
    std::size_t block_samples_ = 0;
    std::vector<std::unique_ptr<float, FreeBlock>> blocks_; // sized once, at prepare()
    std::size_t kept_ = 0; // samples in the blocks
    int spill_fd_ = -1;              // beyond it, in this file
    uint64_t spilled_ = 0;           // samples in the file
    ChannelBuffers plain_;           // frames written back
    std::optional<LoudnessGain> outcome_;
};

} // namespace tonbrix
