#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace tonbrix::cli {

// The progress line of a processing run: one line on a terminal, redrawn in
// place at most ten times a second and cleared before any other message.
struct Progress {
    bool active = false;    // drawing at all
    bool shown = false;     // a line is on the terminal now
    int64_t total_frames = -1; // -1 when the input does not say
    double sample_rate = 0.0;
    uint64_t frames_done = 0;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point last_drawn;
    std::FILE* stream = stderr;
    // The callbacks may come from the writer thread and the loop's own.
    std::mutex lock;
};

// True when progress belongs on standard error: it is a terminal and the
// run is not quiet.
bool progress_wanted(bool quiet);

// Starts counting; the first drawing comes a tenth of a second in, so a
// short run shows only its final line.
void progress_start(Progress& progress, int64_t total_frames, double sample_rate);

// Notes the frames done so far and redraws when the last drawing (or the
// start) is at least a tenth of a second old.
void progress_update(Progress& progress, uint64_t frames_done);

// Takes the line off the terminal, so that a message can follow.
void progress_clear(Progress& progress);

// A completed run draws its final state and ends the line; a failed one
// leaves the terminal without the line.
void progress_finish(Progress& progress, bool completed);

// The text of the line (without \r), for `elapsed` seconds of running.
std::string progress_line(const Progress& progress, double elapsed);

// Adapters for the render's callbacks; `context` is a Progress. They
// hold its lock.
void progress_update_callback(void* context, uint64_t frames_done);
void progress_clear_callback(void* context);

} // namespace tonbrix::cli
