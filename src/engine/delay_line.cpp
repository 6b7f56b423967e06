#include "engine/delay_line.h"

#include <algorithm>

namespace tonbrix {

void DelayLine::apply(float* samples, std::size_t frames)
{
    const std::size_t d = held_.size();
    if (d == 0 || frames == 0) {
        return;
    }
    work_.resize(d + frames);
    std::copy(held_.begin(), held_.end(), work_.begin());
    std::copy(samples, samples + frames, work_.begin() + static_cast<std::ptrdiff_t>(d));
    std::copy(work_.begin(), work_.begin() + static_cast<std::ptrdiff_t>(frames), samples);
    std::copy(work_.begin() + static_cast<std::ptrdiff_t>(frames), work_.end(), held_.begin());
}

} // namespace tonbrix
