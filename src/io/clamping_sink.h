#pragma once

#include "io/stage_buffers.h"

#include <tonbrix/events.h>
#include <tonbrix/render.h>

#include <cstddef>
#include <cstdint>

namespace tonbrix {

// A sink that clamps samples beyond full scale before the inner sink, with
// the clipping warning once to `events`: the check of the render's output
// made again after a stage that can overshoot (a sample-rate conversion).
class ClampingSink : public Sink {
public:
    ClampingSink(Sink& inner, EventSink& events) : inner_(inner), events_(events) {}

    std::optional<Error> prepare(uint32_t channels, std::size_t frames, unsigned jobs) override;
    std::optional<Error> write(const float* const* channels, uint32_t count,
                               std::size_t frames) override;
    std::optional<Error> finish() override { return inner_.finish(); }

private:
    Sink& inner_;
    EventSink& events_;
    ChannelBuffers buffers_;
    bool warned_ = false;
};

} // namespace tonbrix
