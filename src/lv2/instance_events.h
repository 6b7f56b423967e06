#pragma once

#include <tonbrix/events.h>

#include <cstddef>
#include <mutex>
#include <string_view>
#include <vector>

namespace tonbrix {

// Where one instance's log lines and worker trace go: on to the run's sink,
// or, while the instance runs a block of a chunk, into the chunk's list of
// held events with that block, so that they are reported in block order
// by the lane that prints. A plugin may log from a thread of its own, so
// every call takes the lock, and an event goes on to the sink under it
// (the sink may be changed or go away once send_to has returned); when
// memory for a held event runs out, the event goes on at once.
class InstanceEvents final : public EventSink {
public:
    InstanceEvents() = default;
    InstanceEvents(const InstanceEvents&) = delete;
    InstanceEvents& operator=(const InstanceEvents&) = delete;

    void report(EventKind kind, std::string_view text) noexcept override;

    // Sends the events on to `sink` from now on (null: nowhere).
    void send_to(EventSink* sink) noexcept;
    // Holds the events in `held`, with `block`, until release().
    void hold(std::vector<HeldEvent>* held, std::size_t block) noexcept;
    void release() noexcept;

private:
    std::mutex lock_;
    EventSink* sink_ = nullptr;
    std::vector<HeldEvent>* held_ = nullptr;
    std::size_t block_ = 0;
};

} // namespace tonbrix
