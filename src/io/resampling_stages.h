#pragma once

#include "io/rate_converter.h"
#include "io/side_thread.h"
#include "io/stage_buffers.h"

#include <tonbrix/render.h>

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <functional>

namespace tonbrix {

// A sink that converts the render's output from `in` to `out` Hz before
// the inner sink: it gets exactly round(frames * out / in) frames, the
// first at the render's frame 0. Each channel has a converter of its own;
// with more than one job, the later half of the channels is converted on a
// thread beside the render's sink lane (the same samples either way).
class ResamplingSink : public Sink {
public:
    ResamplingSink(Sink& inner, int in, int out) : inner_(inner), in_(in), out_(out) {}

    std::optional<Error> prepare(uint32_t channels, std::size_t frames, unsigned jobs) override;
    std::optional<Error> write(const float* const* channels, uint32_t count,
                               std::size_t frames) override;
    std::optional<Error> finish() override;

    // Gives the sink the exact length of its output as a function of the
    // frames it was written, asked once at finish(); without it, the
    // rounded conversion of those frames.
    void set_length(std::function<uint64_t(uint64_t frames)> length) { length_ = std::move(length); }

private:
    // One step of every channel's converter on the same input span (null:
    // flushing); all give the same counts, as they start alike.
    std::optional<Error> convert_all(std::size_t frames, std::size_t& taken, std::size_t& given);
    // One step of the channels [first, last).
    void convert_channels(uint32_t first, uint32_t last, bool flushing, std::size_t frames);

    Sink& inner_;
    int in_;
    int out_;
    std::vector<RateConverter> converters_; // by channel
    ChannelBuffers converted_;
    std::vector<const float*> pending_; // the input not yet taken, by channel
    // What the last step of each channel took and gave.
    std::vector<std::size_t> taken_;
    std::vector<std::size_t> given_;
    std::vector<std::optional<Error>> errors_; // by channel
    SideThread side_;
    uint32_t side_from_ = 0; // the first channel the side thread converts
    uint64_t written_ = 0;   // frames written to this sink
    std::function<uint64_t(uint64_t)> length_;
};

// A source that converts the inner source's audio from `in` to `out` Hz:
// the render reads exactly round(frames * out / in) frames of it.
class ResamplingSource : public Source {
public:
    ResamplingSource(Source& inner, int in, int out) : inner_(inner), in_(in), out_(out) {}

    uint32_t channels() const override { return inner_.channels(); }
    SourceRead read(const ChunkOutput& output, std::size_t frames) override;

    // Input frames read from the inner source at once.
    static constexpr std::size_t piece_frames = 8192;

    // The frames read from the inner source so far (all of them once the
    // render has ended); safe from any thread.
    uint64_t input_frames() const { return input_read_.load(std::memory_order_acquire); }

private:
    std::optional<Error> start();

    Source& inner_;
    int in_;
    int out_;
    bool started_ = false;
    bool input_ended_ = false;
    bool done_ = false;
    RateConverter converter_;
    ChannelBuffers input_;     // a piece of the inner source's frames
    std::size_t input_at_ = 0; // the first of them not yet taken
    std::size_t input_frames_ = 0;
    ChannelBuffers converted_; // converted frames for the render's channels
    std::vector<const float*> pending_;
    std::vector<float*> targets_;
    std::atomic<uint64_t> input_read_{0};
};

} // namespace tonbrix
