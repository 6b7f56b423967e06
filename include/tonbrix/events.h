#pragma once

#include <tonbrix/export.h>

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

// A sink that drops every event.
class TONBRIX_API NoEvents final : public EventSink {
public:
    void report(EventKind, std::string_view) noexcept override {}
};

} // namespace tonbrix
