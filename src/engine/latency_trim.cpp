#include "engine/latency_trim.h"

#include <algorithm>

namespace tonbrix {

void LatencyTrim::reset(const std::vector<uint64_t>& skip)
{
    skip_ = skip;
    channels_.assign(skip.size(), {});
}

void LatencyTrim::append(const float* samples, std::size_t stride, std::size_t frames)
{
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        const std::size_t skipped = static_cast<std::size_t>(std::min<uint64_t>(skip_[c], frames));
        skip_[c] -= skipped;
        const float* first = samples + c * stride + skipped;
        channels_[c].insert(channels_[c].end(), first, samples + c * stride + frames);
    }
}

std::size_t LatencyTrim::ready() const
{
    std::size_t ready = channels_.empty() ? 0 : channels_[0].size();
    for (const std::vector<float>& channel : channels_) {
        ready = std::min(ready, channel.size());
    }
    return ready;
}

void LatencyTrim::consume(std::size_t frames)
{
    for (std::vector<float>& channel : channels_) {
        channel.erase(channel.begin(),
                      channel.begin() + static_cast<std::ptrdiff_t>(std::min(frames, channel.size())));
    }
}

} // namespace tonbrix
