#pragma once

#include "base/timed_events.h"
#include "lv2/midi_events.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonbrix {

// Collects the MIDI events that every instance of a plugin writes to its
// MIDI output over a run, at their frames in the run. Each instance has its
// own list, so instances may be read on different threads at once.
class MidiCapture {
public:
    // `outputs` by instance: the output sequence buffer the instance writes.
    MidiCapture(std::vector<AtomRegion> outputs, double rate, const EventUrids& urids);

    // Takes the events of the block of `frames` frames from `start` out of
    // the instance's output.
    void read(std::size_t instance, uint64_t start, uint32_t frames) noexcept;

    // True when the events could not all be kept in memory.
    bool overflowed() const;

    // Takes `seconds` off the times of the instance's events (its latency,
    // when the output is lined up with the input); times stay at 0 or later.
    void set_delay(std::size_t instance, double seconds) { lanes_[instance].delay = seconds; }

    // The events of all instances in time order; at the same time, the first
    // instance's first and each instance's in the order written.
    std::vector<TimedMidiEvent> events() const;

private:
    struct Lane {
        AtomRegion output;
        std::vector<TimedMidiEvent> events;
        bool overflowed = false;
        double delay = 0.0;
    };
    std::vector<Lane> lanes_;
    double rate_;
    EventUrids urids_;
};

} // namespace tonbrix
