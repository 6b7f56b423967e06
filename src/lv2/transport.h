#pragma once

#include "io/midi_file.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tonbrix {

// Where the transport stands at a frame: rolling in 4/4 at `bpm` quarter
// notes a minute, `beat` quarter notes after the start.
struct TransportPosition {
    std::int64_t frame = 0;
    double beat = 0.0;
    double bpm = default_midi_bpm;
};

// The frame of a time from the start: round(seconds × rate); 0 for NaN.
std::int64_t frame_of(double seconds, double rate);

// The positions a plugin that follows the transport receives: one at frame 0
// with the tempo in effect there (120 BPM, or a tempo change at 0 s), then
// one at each later tempo change, at its frame, with the beats counted at
// the earlier tempos up to its exact time. `tempo_changes` are in time order.
std::vector<TransportPosition> transport_positions(std::span<const TempoChange> tempo_changes,
                                                   double rate);

} // namespace tonbrix
