#pragma once

#include "io/dither.h"
#include "io/stage_buffers.h"

#include <tonbrix/render.h>

#include <cstddef>
#include <cstdint>

namespace tonbrix {

// A sink that adds dither to the float output before the inner sink
// rounds it to an integer encoding of `scale` (see dither_scale): the
// noise of each sample depends on its channel and frame only.
class DitheringSink : public Sink {
public:
    DitheringSink(Sink& inner, DitherKind kind, double scale) : inner_(inner), ditherer_(kind, scale) {}

    std::optional<Error> prepare(uint32_t channels, std::size_t frames, unsigned jobs) override;
    std::optional<Error> write(const float* const* channels, uint32_t count,
                               std::size_t frames) override;
    std::optional<Error> finish() override { return inner_.finish(); }

private:
    Sink& inner_;
    Ditherer ditherer_;
    ChannelBuffers buffers_;
    uint64_t frame_ = 0; // the output's frame the next write starts at
};

} // namespace tonbrix
