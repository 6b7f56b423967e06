#include "lv2/midi_capture.h"

#include <algorithm>
#include <new>

namespace tonbrix {

MidiCapture::MidiCapture(std::vector<AtomRegion> outputs, double rate, const EventUrids& urids)
    : rate_(rate), urids_(urids)
{
    lanes_.reserve(outputs.size());
    for (const AtomRegion& output : outputs) {
        lanes_.push_back({output, {}, false, 0.0});
    }
}

void MidiCapture::read(std::size_t instance, uint64_t start, uint32_t frames) noexcept
{
    Lane& lane = lanes_[instance];
    if (lane.overflowed) {
        return;
    }
    try {
        read_block_events(lane.output, static_cast<int64_t>(start), frames, rate_, urids_,
                          lane.events);
    } catch (const std::bad_alloc&) {
        lane.overflowed = true;
        lane.events.clear();
        lane.events.shrink_to_fit();
    }
}

bool MidiCapture::overflowed() const
{
    return std::any_of(lanes_.begin(), lanes_.end(), [](const Lane& lane) { return lane.overflowed; });
}

std::vector<TimedMidiEvent> MidiCapture::events() const
{
    std::vector<TimedMidiEvent> all;
    for (const Lane& lane : lanes_) {
        for (const TimedMidiEvent& event : lane.events) {
            all.push_back({std::max(event.seconds - lane.delay, 0.0), event.bytes});
        }
    }
    std::stable_sort(all.begin(), all.end(), [](const TimedMidiEvent& a, const TimedMidiEvent& b) {
        return a.seconds < b.seconds;
    });
    return all;
}

} // namespace tonbrix
