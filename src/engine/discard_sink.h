#pragma once

#include <tonbrix/render.h>

namespace tonbrix {

// A sink that keeps nothing: the audio of a run that is wanted only for
// what the plugin reports or the MIDI it writes.
class DiscardSink final : public Sink {
public:
    std::optional<Error> write(const float* const*, uint32_t, std::size_t) override
    {
        return std::nullopt;
    }
};

} // namespace tonbrix
