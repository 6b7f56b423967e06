#include "io/true_peak.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tonbrix {

namespace {

// BS.1770-4 annex 2: the 48 taps of the interpolating FIR, phase by phase
// (phase p holds taps p, p + 4, p + 8, ...), the first tap for the newest
// sample.
constexpr float phases[4][TruePeakMeter::taps] = {
    {0.0017089843750f, 0.0109863281250f, -0.0196533203125f, 0.0332031250000f, -0.0594482421875f,
     0.1373291015625f, 0.9721679687500f, -0.1022949218750f, 0.0476074218750f, -0.0266113281250f,
     0.0148925781250f, -0.0083007812500f},
    {-0.0291748046875f, 0.0292968750000f, -0.0517578125000f, 0.0891113281250f, -0.1665039062500f,
     0.4650878906250f, 0.7797851562500f, -0.2003173828125f, 0.1015625000000f, -0.0582275390625f,
     0.0330810546875f, -0.0189208984375f},
    {-0.0189208984375f, 0.0330810546875f, -0.0582275390625f, 0.1015625000000f, -0.2003173828125f,
     0.7797851562500f, 0.4650878906250f, -0.1665039062500f, 0.0891113281250f, -0.0517578125000f,
     0.0292968750000f, -0.0291748046875f},
    {-0.0083007812500f, 0.0148925781250f, -0.0266113281250f, 0.0476074218750f, -0.1022949218750f,
     0.9721679687500f, 0.1373291015625f, -0.0594482421875f, 0.0332031250000f, -0.0196533203125f,
     0.0109863281250f, 0.0017089843750f},
};

} // namespace

void TruePeakMeter::start(uint32_t channels)
{
    channels_.assign(channels, Channel{});
}

// In loops of fixed length over the positions, which the compiler turns
// into vector code.
void TruePeakMeter::filter(const float* samples, float* top)
{
    const float* x = samples + (taps - 1); // x[n - j]: the j-th sample before n
    for (const auto& phase : phases) {
        float sum[piece];
        for (std::size_t n = 0; n < piece; ++n) {
            sum[n] = phase[0] * x[n];
        }
        for (std::size_t j = 1; j < taps; ++j) {
            const float tap = phase[j];
            const float* from = x - j;
            for (std::size_t n = 0; n < piece; ++n) {
                sum[n] += tap * from[n];
            }
        }
        for (std::size_t n = 0; n < piece; ++n) {
            top[n] = std::max(top[n], std::fabs(sum[n]));
        }
    }
    for (std::size_t n = 0; n < piece; ++n) {
        top[n] = std::max(top[n], std::fabs(x[n]));
    }
}

void TruePeakMeter::advance(Channel& channel)
{
    filter(channel.samples, channel.top);
    std::memmove(channel.samples, channel.samples + piece, (taps - 1) * sizeof(float));
    channel.filled = 0;
}

void TruePeakMeter::add(uint32_t channel, const float* samples, std::size_t frames,
                        std::size_t step)
{
    Channel& c = channels_[channel];
    float* piece_start = c.samples + (taps - 1);
    while (frames > 0) {
        const std::size_t n = std::min(frames, piece - c.filled);
        float* to = piece_start + c.filled;
        if (step == 1) {
            std::memcpy(to, samples, n * sizeof(float));
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                to[i] = samples[i * step];
            }
        }
        samples += n * step;
        frames -= n;
        c.filled += n;
        if (c.filled == piece) {
            advance(c);
        }
    }
}

double TruePeakMeter::peak() const
{
    float top = 0.0f;
    for (const Channel& c : channels_) {
        top = std::max(top, *std::max_element(std::begin(c.top), std::end(c.top)));
        if (c.filled > 0) {
            // The partial piece: the positions of its samples only.
            float samples[taps - 1 + piece] = {};
            std::copy(c.samples, c.samples + taps - 1 + c.filled, samples);
            float part[piece] = {};
            filter(samples, part);
            top = std::max(top, *std::max_element(part, part + c.filled));
        }
    }
    return top;
}

} // namespace tonbrix
