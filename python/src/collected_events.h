#pragma once

#include <tonbrix/events.h>

#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tonbrix::python {

// Keeps the events of a run (from any thread) for the Python side, which
// turns warnings into Python warnings and the rest into log records.
class CollectedEvents final : public EventSink {
public:
    void report(EventKind kind, std::string_view text) noexcept override
    {
        try {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.emplace_back(kind, std::string(text));
        } catch (...) {
            // Out of memory: the event is lost, the run goes on.
        }
    }

    // The events in the order they came; call once the run is over.
    std::vector<std::pair<EventKind, std::string>> take() { return std::move(events_); }

private:
    std::mutex mutex_;
    std::vector<std::pair<EventKind, std::string>> events_;
};

} // namespace tonbrix::python
