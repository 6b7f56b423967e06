#include "cli/progress.h"

#include <unistd.h>

#include <cinttypes>
#include <cmath>
#include <string>

namespace tonbrix::cli {

namespace {

constexpr auto redraw_interval = std::chrono::milliseconds(100);

// H:MM:SS; rounded down, or up for a time still to come.
std::string clock_text(double seconds, bool round_up = false)
{
    if (!(seconds >= 0.0) || seconds > 1e9) {
        seconds = 0.0;
    }
    const auto whole = static_cast<uint64_t>(round_up ? std::ceil(seconds) : seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u", whole / 3600,
                  static_cast<unsigned>(whole / 60 % 60), static_cast<unsigned>(whole % 60));
    return text;
}

void draw(Progress& p)
{
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - p.started).count();
    // Written whole: back to the start, the line, and off with what an
    // earlier, longer line left.
    std::string text = "\r";
    text += progress_line(p, elapsed);
    text += "\033[K";
    std::fputs(text.c_str(), p.stream);
    std::fflush(p.stream);
    p.shown = true;
    p.last_drawn = now;
}

} // namespace

bool progress_wanted(bool quiet)
{
    return !quiet && ::isatty(STDERR_FILENO) == 1;
}

void progress_start(Progress& p, int64_t total_frames, double sample_rate)
{
    p.active = true;
    p.shown = false;
    p.total_frames = total_frames;
    p.sample_rate = sample_rate;
    p.frames_done = 0;
    p.started = std::chrono::steady_clock::now();
    p.last_drawn = p.started;
}

std::string progress_line(const Progress& p, double elapsed)
{
    const double rate = p.sample_rate > 0.0 ? p.sample_rate : 1.0;
    const double done_seconds = static_cast<double>(p.frames_done) / rate;
    const bool known = p.total_frames >= 0;
    std::string line;
    char field[64];
    if (known) {
        const double fraction = p.total_frames > 0 ? static_cast<double>(p.frames_done) /
                                                         static_cast<double>(p.total_frames)
                                                   : 1.0;
        std::snprintf(field, sizeof field, "%5.1f%%  ", std::fmin(fraction, 1.0) * 100.0);
        line += field;
        line += clock_text(done_seconds) + " of " +
                clock_text(static_cast<double>(p.total_frames) / rate);
    } else {
        line += clock_text(done_seconds) + " processed";
    }
    // Speed and time left need some running time to mean anything.
    if (elapsed > 0.0 && p.frames_done > 0) {
        const double speed = done_seconds / elapsed;
        std::snprintf(field, sizeof field, "  %.1fx real time", speed);
        line += field;
        if (known) {
            const double left_frames =
                std::fmax(static_cast<double>(p.total_frames) - static_cast<double>(p.frames_done),
                          0.0);
            line += "  " + clock_text(left_frames / rate / speed, true) + " left";
        }
    }
    return line;
}

void progress_update(Progress& p, uint64_t frames_done)
{
    if (!p.active) {
        return;
    }
    p.frames_done = frames_done;
    if (std::chrono::steady_clock::now() - p.last_drawn >= redraw_interval) {
        draw(p);
    }
}

void progress_clear(Progress& p)
{
    if (p.active && p.shown) {
        std::fputs("\r\033[K", p.stream);
        std::fflush(p.stream);
        p.shown = false;
    }
}

void progress_finish(Progress& p, bool completed)
{
    if (!p.active) {
        return;
    }
    if (completed) {
        draw(p);
        std::fputs("\n", p.stream);
    } else {
        progress_clear(p);
    }
    p.active = false;
}

void progress_update_callback(void* context, uint64_t frames_done)
{
    auto& progress = *static_cast<Progress*>(context);
    const std::lock_guard<std::mutex> hold(progress.lock);
    progress_update(progress, frames_done);
}

void progress_clear_callback(void* context)
{
    auto& progress = *static_cast<Progress*>(context);
    const std::lock_guard<std::mutex> hold(progress.lock);
    progress_clear(progress);
}

} // namespace tonbrix::cli
