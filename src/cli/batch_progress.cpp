#include "cli/batch_progress.h"

#include "cli/progress.h"

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <string>

namespace tonbrix::cli {

namespace {

std::string clock_text(double seconds)
{
    if (!(seconds >= 0.0) || seconds > 1e9) {
        seconds = 0.0;
    }
    const auto whole = static_cast<uint64_t>(std::ceil(seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u", whole / 3600,
                  static_cast<unsigned>(whole / 60 % 60), static_cast<unsigned>(whole % 60));
    return text;
}

} // namespace

void batch_progress_start(BatchProgress& p, std::size_t total, bool quiet)
{
    p.active = progress_wanted(quiet);
    p.shown = false;
    p.total = total;
    p.done = 0;
    p.started = std::chrono::steady_clock::now();
    p.last_drawn = p.started;
}

std::string batch_progress_line(const BatchProgress& p, double elapsed)
{
    char counts[64];
    std::snprintf(counts, sizeof counts, "%zu of %zu files", p.done, p.total);
    std::string line(counts);
    if (p.done > 0 && p.done < p.total && elapsed > 0.0) {
        const double left = elapsed / static_cast<double>(p.done) *
                            static_cast<double>(p.total - p.done);
        line.append(", ").append(clock_text(left)).append(" left");
    }
    return line;
}

void batch_progress_draw(BatchProgress& p, bool now)
{
    if (!p.active) {
        return;
    }
    const auto time = std::chrono::steady_clock::now();
    if (!now && time - p.last_drawn < std::chrono::milliseconds(100)) {
        return;
    }
    const double elapsed = std::chrono::duration<double>(time - p.started).count();
    std::fputs("\r", p.stream);
    std::fputs(batch_progress_line(p, elapsed).c_str(), p.stream);
    std::fputs("\033[K", p.stream);
    std::fflush(p.stream);
    p.shown = true;
    p.last_drawn = time;
}

void batch_progress_clear(BatchProgress& p)
{
    if (p.shown) {
        std::fputs("\r\033[K", p.stream);
        std::fflush(p.stream);
        p.shown = false;
    }
}

void batch_progress_finish(BatchProgress& p)
{
    if (p.active) {
        batch_progress_draw(p, true);
        std::fputs("\n", p.stream);
        std::fflush(p.stream);
        p.shown = false;
    }
}

} // namespace tonbrix::cli
