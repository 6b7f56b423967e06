#include "engine/output_store.h"

#include <algorithm>
#include <cstring>

namespace tonbrix {

void reset_output_store(OutputStore& store, uint32_t outputs, std::size_t frames)
{
    store.channels.resize(outputs);
    for (std::vector<float>& channel : store.channels) {
        channel.clear();
        channel.reserve(frames);
    }
    store.frames = 0;
    store.skip = 0;
}

void append_outputs(OutputStore& store, const float* ports, std::size_t stride,
                    std::size_t frames)
{
    const std::size_t skipped = static_cast<std::size_t>(std::min<uint64_t>(store.skip, frames));
    store.skip -= skipped;
    const std::size_t count = frames - skipped;
    if (count == 0) {
        return;
    }
    for (std::size_t q = 0; q < store.channels.size(); ++q) {
        std::vector<float>& channel = store.channels[q];
        const float* source = ports + q * stride + skipped;
        channel.resize(store.frames + count);
        std::memcpy(channel.data() + store.frames, source, count * sizeof(float));
    }
    store.frames += count;
}

void consume_outputs(OutputStore& store, std::size_t frames)
{
    const std::size_t count = std::min(frames, store.frames);
    const std::size_t rest = store.frames - count;
    for (std::vector<float>& channel : store.channels) {
        if (rest > 0) {
            std::memmove(channel.data(), channel.data() + count, rest * sizeof(float));
        }
        channel.resize(rest);
    }
    store.frames = rest;
}

} // namespace tonbrix
