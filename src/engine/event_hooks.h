#pragma once

#include "engine/automation_feed.h"
#include "engine/block_hooks.h"
#include "lv2/event_feed.h"
#include "lv2/midi_capture.h"

#include <atomic>
#include <new>
#include <vector>

namespace tonbrix {

// The events and automation of one plugin's instances, block by block:
// before a run the automated inputs take their values and the event inputs
// their sequences (with what the plugin before gave, for the feed that takes
// it); after it the MIDI output is collected, and given to the plugin after
// from `given_outputs` (by instance: the MIDI output's buffer). Null and
// empty parts are left out.
class EventHooks final : public BlockHooks {
public:
    AutomationFeed* automation = nullptr;
    std::vector<EventFeed*> feeds;
    MidiCapture* capture = nullptr;
    std::vector<AtomRegion> given_outputs;
    EventUrids urids;

    void before_block(std::size_t instance, uint64_t start, uint32_t frames,
                      std::span<const StreamEvent> given) noexcept override
    {
        if (automation != nullptr) {
            automation->set(instance, start);
        }
        for (EventFeed* feed : feeds) {
            feed->write(instance, start, frames, given);
        }
    }

    void after_block(std::size_t instance, uint64_t start, uint32_t frames,
                     std::vector<StreamEvent>* gives) noexcept override
    {
        if (capture != nullptr) {
            capture->read(instance, start, frames);
        }
        if (gives != nullptr && instance < given_outputs.size()) {
            try {
                read_block_events(given_outputs[instance], start, frames, urids, *gives);
            } catch (const std::bad_alloc&) {
                overflowed.store(true, std::memory_order_relaxed);
            }
        }
    }

    // True when the events given to the plugin after could not all be had.
    std::atomic<bool> overflowed{false};
};

} // namespace tonbrix
