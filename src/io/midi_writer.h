#pragma once

#include "io/midi_file.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tonbrix {

// Ticks per quarter note at the written tempo of 120 BPM: one tick is then
// 1/48000 s (about 20.8 µs), so every whole millisecond, and every frame at
// 48000 Hz, falls on a tick.
inline constexpr std::uint16_t default_ticks_per_quarter = 24000;

// The ticks per quarter note (at 120 BPM) that make one tick one frame at
// `sample_rate`: half the rate, where that is a whole number from 1 to 32767;
// the default for any other rate.
std::uint16_t ticks_per_quarter_for_rate(double sample_rate);

// A format 0 Standard MIDI File of one track at 120 BPM with
// `ticks_per_quarter` ticks per quarter note (1 to 32767), holding `events`
// at their times rounded to the nearest tick (times below 0 or not numbers
// count as 0; events at the same tick keep their order) and ending at
// `length_seconds` or at the last event, whichever is later. A complete
// channel message is written as it is; one starting with F0 as a system
// exclusive message; anything else (system common or real-time bytes, a
// broken message) in the F7 escape form, so the reader gives back exactly the
// bytes written. Empty events are left out.
std::vector<std::uint8_t> write_midi_file(std::span<const TimedMidiEvent> events,
                                          double length_seconds,
                                          std::uint16_t ticks_per_quarter = default_ticks_per_quarter);

} // namespace tonbrix
