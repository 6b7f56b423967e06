#pragma once

#include "base/timed_events.h"
#include "lv2/transport.h"

#include <lv2/urid/urid.h>

#include <tonbrix/graph.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tonbrix {

// The URIDs that event sequences are written and read with, numbers of the
// host's URID map.
struct EventUrids {
    LV2_URID atom_Chunk = 0;
    LV2_URID atom_Sequence = 0;
    LV2_URID atom_Object = 0;
    LV2_URID atom_Int = 0;
    LV2_URID atom_Long = 0;
    LV2_URID atom_Float = 0;
    LV2_URID atom_Double = 0;
    LV2_URID midi_MidiEvent = 0;
    LV2_URID time_Position = 0;
    LV2_URID time_frame = 0;
    LV2_URID time_speed = 0;
    LV2_URID time_bar = 0;
    LV2_URID time_barBeat = 0;
    LV2_URID time_beat = 0;
    LV2_URID time_beatUnit = 0;
    LV2_URID time_beatsPerBar = 0;
    LV2_URID time_beatsPerMinute = 0;
};

// Maps every URI of EventUrids with `map`.
EventUrids map_event_urids(const LV2_URID_Map& map);

// An atom port buffer: 8-byte aligned, `capacity` bytes including the
// sequence's atom header.
struct AtomRegion {
    void* data = nullptr;
    std::uint32_t capacity = 0;
};

// What an atom input receives over the run: MIDI events and transport
// positions, each list in time order, placed at frames of `rate`, and the
// MIDI events that the plugin before it in a chain gave, at their frames.
struct EventSource {
    EventSource(std::span<const TimedMidiEvent> events_in = {},
                std::span<const TransportPosition> positions_in = {}, double rate_in = 48000.0,
                std::span<const StreamEvent> given_in = {})
        : events(events_in), positions(positions_in), rate(rate_in), given(given_in)
    {
    }

    std::span<const TimedMidiEvent> events;
    std::span<const TransportPosition> positions;
    double rate = 48000.0;
    std::span<const StreamEvent> given;
};

// How far the source has been handed out: the next event, position and
// given event.
struct EventCursor {
    std::size_t event = 0;
    std::size_t position = 0;
    std::size_t given = 0;
};

// What one block's sequence received.
struct BlockEvents {
    EventCursor next;         // where the following block starts
    std::size_t written = 0;  // events and positions in the sequence
    std::size_t left_out = 0; // those of this block that did not fit
};

// The bytes a sequence takes for one MIDI event of `size` bytes, and for one
// transport position.
std::size_t midi_event_bytes(std::size_t size);
std::size_t position_event_bytes();

// Writes the atom input sequence of the block of `frames` frames from frame
// `block_start`: the source's items from `cursor` on whose frame
// (round(seconds × rate)) comes before the block's end, each at its frame
// less `block_start` (an item from before the block at 0). At one frame a
// position comes first, then the MIDI events of the file, then those
// given, each list in its order. Items that do not fit are left out and counted; a buffer smaller
// than an empty sequence is left as it is and every item of the block counts
// as left out.
BlockEvents write_block_events(const EventSource& source, EventCursor cursor,
                               std::int64_t block_start, std::uint32_t frames,
                               const EventUrids& urids, AtomRegion buffer);

// The buffer size (with the sequence header) that the fullest block of
// `frames` frames needs, so that write_block_events leaves nothing out.
std::size_t sequence_capacity_needed(const EventSource& source, std::uint32_t frames);

// Makes an output sequence ready for a run: an atom:Chunk as large as the
// buffer, so the plugin knows how much it may write.
void reset_output_sequence(AtomRegion buffer, const EventUrids& urids);

// Appends the MIDI events that a plugin wrote into the output sequence during
// the block of `frames` frames from `block_start`, at (block_start + frame) /
// rate seconds, frames held inside the block. Reads only within the buffer's
// capacity and stops at the first event that does not fit in it; other event
// types and empty events are skipped; a buffer that holds no sequence gives
// nothing.
void read_block_events(AtomRegion buffer, std::int64_t block_start, std::uint32_t frames,
                       double rate, const EventUrids& urids, std::vector<TimedMidiEvent>& out);

// The same, at their frames of the stream (block_start + frame), for the
// next plugin of a chain.
void read_block_events(AtomRegion buffer, std::uint64_t block_start, std::uint32_t frames,
                       const EventUrids& urids, std::vector<StreamEvent>& out);

} // namespace tonbrix
