#include <tonbrix/memory.h>

#include <algorithm>
#include <new>

namespace tonbrix {

MemorySource::MemorySource(std::vector<const float*> channels, std::size_t frames)
    : channels_(std::move(channels)), frames_(frames)
{
}

uint32_t MemorySource::channels() const
{
    return static_cast<uint32_t>(channels_.size());
}

SourceRead MemorySource::read(const ChunkOutput& output, std::size_t frames)
{
    const std::size_t count = std::min(frames, frames_ - position_);
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        const float* from = channels_[c] + position_;
        float* to = output.channel(static_cast<uint32_t>(c));
        if (output.step == 1) {
            std::copy(from, from + count, to);
        } else {
            for (std::size_t f = 0; f < count; ++f) {
                to[f * output.step] = from[f];
            }
        }
    }
    position_ += count;
    return {count, std::nullopt};
}

std::optional<Error> MemorySink::prepare(uint32_t channels, std::size_t, unsigned)
{
    channels_.assign(channels, {});
    return std::nullopt;
}

std::optional<Error> MemorySink::write(const float* const* channels, uint32_t count,
                                       std::size_t frames)
{
    try {
        if (channels_.size() < count) {
            channels_.resize(count);
        }
        for (uint32_t c = 0; c < count; ++c) {
            channels_[c].insert(channels_[c].end(), channels[c], channels[c] + frames);
        }
    } catch (const std::bad_alloc&) {
        return Error{insufficient_memory_message};
    }
    return std::nullopt;
}

} // namespace tonbrix
