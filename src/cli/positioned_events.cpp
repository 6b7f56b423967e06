#include "cli/positioned_events.h"

namespace tonbrix::cli {

std::string position_prefix(std::size_t position, std::size_t count)
{
    return count > 1 ? std::to_string(position) + ": " : std::string();
}

std::string with_prefix(std::string_view prefix, std::string_view text)
{
    if (prefix.empty()) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() + prefix.size());
    bool line_start = true;
    for (char c : text) {
        if (line_start) {
            out += prefix;
        }
        out += c;
        line_start = c == '\n';
    }
    return out;
}

void PositionedEvents::report(EventKind kind, std::string_view text) noexcept
{
    if (prefix_.empty()) {
        events_.report(kind, text);
        return;
    }
    try {
        const std::string prefixed = with_prefix(prefix_, text);
        events_.report(kind, prefixed);
    } catch (...) {
        // Without memory for the prefix, the event goes as it came.
        events_.report(kind, text);
    }
}

} // namespace tonbrix::cli
