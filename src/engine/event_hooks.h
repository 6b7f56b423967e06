#pragma once

#include "engine/automation_feed.h"
#include "engine/block_hooks.h"
#include "lv2/event_feed.h"
#include "lv2/midi_capture.h"

#include <vector>

namespace tonbrix {

// The events and automation of one plugin's instances, block by block:
// before a run the automated inputs take their values and the event inputs
// their sequences; after it the MIDI output is collected. Null parts are
// left out.
class EventHooks final : public BlockHooks {
public:
    AutomationFeed* automation = nullptr;
    std::vector<EventFeed*> feeds;
    MidiCapture* capture = nullptr;

    void before_block(std::size_t instance, uint64_t start, uint32_t frames) noexcept override
    {
        if (automation != nullptr) {
            automation->set(instance, start);
        }
        for (EventFeed* feed : feeds) {
            feed->write(instance, start, frames);
        }
    }

    void after_block(std::size_t instance, uint64_t start, uint32_t frames) noexcept override
    {
        if (capture != nullptr) {
            capture->read(instance, start, frames);
        }
    }
};

} // namespace tonbrix
