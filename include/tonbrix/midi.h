#pragma once

#include <tonbrix/export.h>

#include <tonbrix/error.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tonbrix {

// One MIDI message at its time from the start, in seconds. A channel
// message holds its status byte and its data bytes. A system exclusive
// message written in the F0 form holds F0 and the bytes after its length
// (normally ending in F7); one written in the F7 (escape) form holds only
// the bytes after its length, as they go on the wire.
struct TimedMidiEvent {
    double seconds = 0.0;
    std::vector<std::uint8_t> bytes;
};

// The tempo of a file without tempo events, and before the first one.
inline constexpr double default_midi_bpm = 120.0;

// A tempo change: from `seconds` on, a quarter note lasts 60 / bpm seconds.
struct TempoChange {
    double seconds = 0.0;
    double bpm = 120.0;
};

// MIDI events in memory as a plugin plays them or a run captures them:
// the events in time order, the tempo changes (which time the transport)
// and the length (a run without an audio input lasts up to its end).
struct MidiSequence {
    std::vector<TimedMidiEvent> events;
    std::vector<TempoChange> tempo_changes;
    double length_seconds = 0.0;
};

// Reads a Standard MIDI File (format 0 or 1); errors name the path, e.g.
// "Error: MIDI file 'NAME': what is wrong\n".
TONBRIX_API Result<MidiSequence> read_midi_file(const std::string& path);

} // namespace tonbrix
