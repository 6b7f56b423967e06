#pragma once

#include "base/timed_events.h"

#include <tonbrix/error.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

// What a Standard MIDI File delivers to a plugin. Events of all tracks are in
// time order; events at the same tick keep the file's order, which for
// format 1 means track by track (the first track's first), and within a
// track in the order written. Meta events are dropped: tempo events only
// time the others and are listed in `tempo_changes` (in time order, the last
// of several at the same tick), and the end of track that comes last gives
// `length_seconds`.
using MidiFile = MidiSequence;

// Reads a Standard MIDI File (format 0 or 1; ticks per quarter note or SMPTE
// frames) from memory; `name` is the file's name in messages. Refuses a
// malformed file, never reading outside `bytes`, with the error
// "Error: MIDI file 'NAME': what is wrong\n".
Result<MidiFile> parse_midi_file(std::span<const std::uint8_t> bytes, std::string_view name);

} // namespace tonbrix
