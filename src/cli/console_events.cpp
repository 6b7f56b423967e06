#include "cli/console_events.h"

namespace tonbrix::cli {

namespace {

void write_text(std::string_view text, FILE* stream)
{
    std::fwrite(text.data(), 1, text.size(), stream);
}

} // namespace

void ConsoleEvents::report(EventKind kind, std::string_view text) noexcept
{
    switch (kind) {
    case EventKind::note:
        if (notes_ != nullptr) {
            write_text(text, notes_);
        }
        break;
    case EventKind::warning:
        // The progress line is cleared first, so that the warning starts a line.
        if (progress_ != nullptr) {
            progress_clear_callback(progress_);
        }
        write_text(text, warnings_);
        break;
    case EventKind::worker_trace:
        if (notes_ != nullptr) {
            if (progress_ != nullptr) {
                progress_clear_callback(progress_);
            }
            write_text(text, notes_);
        }
        break;
    case EventKind::plugin_log:
        write_text(text, stderr);
        std::fflush(stderr);
        break;
    }
}

} // namespace tonbrix::cli
