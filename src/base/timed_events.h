#pragma once

#include <cstdint>
#include <vector>

namespace tonbrix {

// One MIDI message at its time from the start of the file, in seconds.
// A channel message holds its status byte (filled in where the file used
// running status) and its data bytes. A system exclusive message written in
// the F0 form holds F0 and the bytes after its length (normally ending in
// F7); one written in the F7 (escape) form holds only the bytes after its
// length, as they go on the wire.
struct TimedMidiEvent {
    double seconds = 0.0;
    std::vector<std::uint8_t> bytes;
};

// The tempo of a file without tempo events, and before the first one.
inline constexpr double default_midi_bpm = 120.0;

// A tempo set by the file: from `seconds` on, a quarter note lasts 60 / bpm
// seconds.
struct TempoChange {
    double seconds = 0.0;
    double bpm = 120.0;
};

} // namespace tonbrix
