#pragma once

#include <tonbrix/export.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace tonbrix {

// What the library reports on the way, besides results and errors.
enum class EventKind {
    note,         // what it chose for the run (channel mapping, instances)
    warning,      // what it repaired in the output (clipping, NaN samples)
    plugin_log,   // a plugin's error or warning line, "plugin: ..."
    worker_trace, // a plugin scheduled work
};

// Receives the events, each as whole lines of text. Plugins log and
// schedule work from several threads at once, so an implementation must
// take calls from any thread; it must not throw.
class TONBRIX_API EventSink {
public:
    virtual void report(EventKind kind, std::string_view text) noexcept = 0;

protected:
    ~EventSink() = default;
};

// An event that a node's part raised while it ran one block of a chunk,
// held with the chunk so that the render reports it in block order
// whatever the threads: `block` counts the chunk's blocks from 0, and
// `sink` is where the event goes.
struct HeldEvent {
    std::size_t block = 0;
    EventKind kind = EventKind::note;
    std::string text;
    EventSink* sink = nullptr;
};

// A sink that drops every event.
class TONBRIX_API NoEvents final : public EventSink {
public:
    void report(EventKind, std::string_view) noexcept override {}
};

} // namespace tonbrix
