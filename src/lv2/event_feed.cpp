#include "lv2/event_feed.h"

#include "lv2/run_buffers.h"

#include <algorithm>
#include <limits>

namespace tonbrix {

std::vector<TimedMidiEvent> deliverable_midi(std::span<const TimedMidiEvent> events)
{
    std::vector<TimedMidiEvent> kept;
    kept.reserve(events.size());
    for (const TimedMidiEvent& event : events) {
        if (!event.bytes.empty() && event.bytes.front() >= 0x80) {
            kept.push_back(event);
        }
    }
    return kept;
}

EventFeed::EventFeed(std::vector<TimedMidiEvent> events, std::vector<TransportPosition> positions,
                     double rate, std::size_t instances, uint32_t block_size,
                     const EventUrids& urids, bool takes_given, std::size_t given_bytes)
    : events_(std::move(events)), positions_(std::move(positions)), rate_(rate),
      takes_given_(takes_given), urids_(urids), lanes_(instances)
{
    const EventSource source{events_, positions_, rate_};
    // A block that starts anywhere lies within two blocks that start at
    // multiples of its length, so it holds at most twice the fullest of those.
    const std::size_t fullest = sequence_capacity_needed(source, block_size) - sizeof(LV2_Atom_Sequence);
    const std::size_t wanted =
        std::max<std::size_t>(sizeof(LV2_Atom) + atom_body_capacity,
                              sizeof(LV2_Atom_Sequence) + 2 * fullest + given_bytes);
    capacity_ = static_cast<uint32_t>(
        std::min<std::size_t>(wanted, std::numeric_limits<uint32_t>::max() & ~uint32_t{7}));
    for (Lane& lane : lanes_) {
        lane.words.assign((capacity_ + 7) / 8 + 1, 0);
        // An empty sequence until the first block.
        static_cast<void>(write_block_events({}, {}, 0, 0, urids_, {lane.words.data(), capacity_}));
    }
}

void EventFeed::write(std::size_t instance, uint64_t start, uint32_t frames,
                      std::span<const StreamEvent> given) noexcept
{
    Lane& lane = lanes_[instance];
    const EventSource source{events_, positions_, rate_,
                             takes_given_ ? given : std::span<const StreamEvent>()};
    const uint32_t before_end =
        start >= end_ ? 0 : static_cast<uint32_t>(std::min<uint64_t>(frames, end_ - start));
    const BlockEvents block =
        write_block_events(source, lane.cursor, static_cast<int64_t>(start), before_end, urids_,
                           {lane.words.data(), capacity_});
    lane.cursor = block.next;
    lane.cursor.given = 0; // the next block's given events are a list of their own
    lane.left_out += block.left_out;
}

std::size_t EventFeed::after(uint64_t frame) const
{
    return static_cast<std::size_t>(
        std::count_if(events_.begin(), events_.end(), [&](const TimedMidiEvent& event) {
            const std::int64_t at = frame_of(event.seconds, rate_);
            return at > 0 && static_cast<uint64_t>(at) > frame;
        }));
}

std::size_t EventFeed::undelivered(std::size_t instance) const
{
    return events_.size() - lanes_[instance].cursor.event;
}

} // namespace tonbrix
