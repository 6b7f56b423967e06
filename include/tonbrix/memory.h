#pragma once

#include <tonbrix/export.h>

#include <tonbrix/error.h>
#include <tonbrix/render.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tonbrix {

// A source that reads sound held in memory as planar float channels: one
// pointer to `frames` samples for each channel. The memory stays the
// caller's and must outlive the runs; rewind() reads it again from the start.
class TONBRIX_API MemorySource final : public Source {
public:
    MemorySource(std::vector<const float*> channels, std::size_t frames);

    uint32_t channels() const override;
    SourceRead read(const ChunkOutput& output, std::size_t frames) override;

    std::size_t frames() const { return frames_; }
    void rewind() { position_ = 0; }

private:
    std::vector<const float*> channels_;
    std::size_t frames_ = 0;
    std::size_t position_ = 0;
};

// A sink that keeps the sound of a run in memory as planar float channels,
// growing as the run writes; prepare() (at the start of each run) empties it.
class TONBRIX_API MemorySink final : public Sink {
public:
    std::optional<Error> prepare(uint32_t channels, std::size_t frames, unsigned jobs) override;
    std::optional<Error> write(const float* const* channels, uint32_t count,
                               std::size_t frames) override;

    // The channels written, each as long as the output.
    const std::vector<std::vector<float>>& channels() const { return channels_; }
    // Hands the channels over, leaving the sink empty.
    std::vector<std::vector<float>> take() { return std::move(channels_); }

private:
    std::vector<std::vector<float>> channels_;
};

} // namespace tonbrix
