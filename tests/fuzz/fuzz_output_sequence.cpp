// An atom output buffer of arbitrary bytes, as a plugin may leave it: the
// MIDI events are read out of it without reading past its capacity.
#include "lv2/midi_events.h"

#include <lv2/atom/atom.h>

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // URIDs 1 to 17 in the order of EventUrids: atom:Sequence is 2 and
    // midi:MidiEvent 8, so small type numbers in the input hit them.
    const tonbrix::EventUrids urids = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    // A heap copy of exactly `size` bytes (aligned as port buffers are) lets
    // ASan see any read beyond the capacity.
    std::vector<std::uint8_t> buffer(data, data + size);
    std::vector<tonbrix::TimedMidiEvent> events;
    tonbrix::read_block_events({buffer.data(), static_cast<std::uint32_t>(size)}, 1000, 64, 48000.0, urids,
                               events);
    for (const tonbrix::TimedMidiEvent& event : events) {
        if (event.bytes.empty() || event.bytes.size() > size || event.seconds < 1000 / 48000.0 ||
            event.seconds > 1063 / 48000.0) {
            __builtin_trap();
        }
    }
    return 0;
}
