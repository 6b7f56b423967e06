#pragma once

#include "base/timed_events.h"
#include "lv2/midi_events.h"
#include "lv2/transport.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonbrix {

// The MIDI messages of a file that a plugin can take as single events: those
// that start with a status byte (channel messages and system exclusive
// messages written whole); fragments written in the escape form without one
// are left out.
std::vector<TimedMidiEvent> deliverable_midi(std::span<const TimedMidiEvent> events);

// The events one atom input of every instance of a plugin receives over a
// run: MIDI messages and transport positions, each block's share written at
// its exact frames into a sequence buffer of the instance's own. Each
// instance has its own buffer and place, so instances may be fed on
// different threads at once.
class EventFeed {
public:
    // `events` and `positions` in time order; buffers hold the fullest block
    // of `block_size` frames wherever a block starts, and `given_bytes` more
    // for the events given by the plugin before in a chain (as many bytes
    // as its MIDI outputs hold in one block), which the feed takes only
    // when `takes_given`.
    EventFeed(std::vector<TimedMidiEvent> events, std::vector<TransportPosition> positions,
              double rate, std::size_t instances, uint32_t block_size, const EventUrids& urids,
              bool takes_given = false, std::size_t given_bytes = 0);

    // The buffer to connect the instance's port to; it never moves.
    void* buffer(std::size_t instance) { return lanes_[instance].words.data(); }

    // Writes the sequence of the block of `frames` frames from `start`,
    // with the events given for that block when the feed takes them.
    void write(std::size_t instance, uint64_t start, uint32_t frames,
               std::span<const StreamEvent> given = {}) noexcept;

    // Delivers nothing at `frame` or later: the run ends there.
    void end_at(uint64_t frame) { end_ = frame; }

    // The MIDI events that the instance has not received (those after the
    // last block it ran), and those that did not fit in a block.
    std::size_t undelivered(std::size_t instance) const;
    // The MIDI events whose frame comes after `frame`.
    std::size_t after(uint64_t frame) const;
    std::size_t left_out(std::size_t instance) const { return lanes_[instance].left_out; }

private:
    struct Lane {
        std::vector<uint64_t> words;
        EventCursor cursor;
        std::size_t left_out = 0;
    };
    std::vector<TimedMidiEvent> events_;
    std::vector<TransportPosition> positions_;
    double rate_;
    bool takes_given_ = false;
    uint64_t end_ = UINT64_MAX;
    uint32_t capacity_ = 0;
    EventUrids urids_;
    std::vector<Lane> lanes_;
};

} // namespace tonbrix
