#pragma once

#include <cstdint>
#include <string>
#include <vector>

using MidiBytes = std::vector<std::uint8_t>;

// One item of a track as written after its delta time: a channel message,
// a meta event (FF type length data) or a system exclusive message (F0
// length data), at an absolute tick.
struct MidiItem {
    std::uint32_t tick = 0;
    MidiBytes bytes;
};

// A Standard MIDI File of these tracks (each item list in tick order; an end
// of track is added after each list's last item, at `end_tick` when later).
std::string midi_file(std::uint16_t format, std::uint16_t division,
                      const std::vector<std::vector<MidiItem>>& tracks, std::uint32_t end_tick = 0);

// The meta event that sets the tempo in microseconds per quarter note.
MidiBytes midi_tempo(std::uint32_t microseconds);

// An event of a MIDI file read back: its time in seconds and its bytes
// (system exclusive with its F0, without the length).
struct ReadMidiEvent {
    double seconds = 0.0;
    MidiBytes bytes;
};

// What a format 0 file that tonbrix wrote holds: its division, its events
// in order (meta events left out, tempo honoured) and its end of track.
struct ReadMidiFile {
    int format = -1;
    int division = 0;
    std::vector<ReadMidiEvent> events;
    double end_seconds = 0.0;
};

// Reads a format 0 file with ticks per quarter note; a malformed file
// fails the test and gives what was read up to there.
ReadMidiFile read_midi(const std::string& bytes);
