#pragma once

#include "cli/progress.h"

#include <tonbrix/events.h>

#include <cstdio>

namespace tonbrix::cli {

// Writes the library's events where the program has always written them:
// notes and worker trace lines to `notes` (none when it is null: a quiet
// run), warnings to `warnings`, plugin log lines to standard error at once.
// A trace line first takes the progress line off the terminal.
class ConsoleEvents final : public EventSink {
public:
    ConsoleEvents(FILE* notes, FILE* warnings, Progress* progress)
        : notes_(notes), warnings_(warnings), progress_(progress)
    {
    }

    void report(EventKind kind, std::string_view text) noexcept override;

private:
    FILE* notes_;
    FILE* warnings_;
    Progress* progress_;
};

} // namespace tonbrix::cli
