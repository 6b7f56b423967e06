#pragma once

#include <tonbrix/events.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace tonbrix::cli {

// The prefix of the messages about plugin `position` (from 1) of a chain
// of `count` plugins: "2: ", or nothing when the chain has one plugin.
std::string position_prefix(std::size_t position, std::size_t count);

// The text with the prefix put before each of its lines.
std::string with_prefix(std::string_view prefix, std::string_view text);

// Passes every event on with the prefix before each of its lines, so that
// a chain's notes, warnings and plugin lines say which plugin they concern.
class PositionedEvents final : public EventSink {
public:
    PositionedEvents(EventSink& events, std::string prefix)
        : events_(events), prefix_(std::move(prefix))
    {
    }

    void report(EventKind kind, std::string_view text) noexcept override;
    const std::string& prefix() const { return prefix_; }

private:
    EventSink& events_;
    std::string prefix_;
};

} // namespace tonbrix::cli
