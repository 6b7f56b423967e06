#pragma once

#include <tonbrix/error.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
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

// A tempo set by the file: from `seconds` on, a quarter note lasts 60 / bpm
// seconds.
struct TempoChange {
    double seconds = 0.0;
    double bpm = 120.0;
};

// What a Standard MIDI File delivers to a plugin. Events of all tracks are in
// time order; events at the same tick keep the file's order, which for
// format 1 means track by track (the first track's first), and within a
// track in the order written. Meta events are dropped: tempo events only
// time the others and are listed in `tempo_changes` (in time order, the last
// of several at the same tick), and the end of track that comes last gives
// `length_seconds`.
struct MidiFile {
    std::vector<TimedMidiEvent> events;
    std::vector<TempoChange> tempo_changes;
    double length_seconds = 0.0;
};

// The tempo of a file without tempo events, and before the first one.
inline constexpr double default_midi_bpm = 120.0;

// Reads a Standard MIDI File (format 0 or 1; ticks per quarter note or SMPTE
// frames) from memory; `name` is the file's name in messages. Refuses a
// malformed file, never reading outside `bytes`, with the error
// "Error: MIDI file 'NAME': what is wrong\n".
Result<MidiFile> parse_midi_file(std::span<const std::uint8_t> bytes, std::string_view name);

// Reads the Standard MIDI File at `path`; errors name the path (a file that
// cannot be read gives the system's reason).
Result<MidiFile> read_midi_file(const std::string& path);

} // namespace tonbrix
