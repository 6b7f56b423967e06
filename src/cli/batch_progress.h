#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

namespace tonbrix::cli {

// The progress line of a batch on a terminal: files done of all and the
// time left, redrawn in place at most ten times a second and cleared before
// any other message.
struct BatchProgress {
    bool active = false; // drawing at all
    bool shown = false;  // a line is on the terminal now
    std::size_t total = 0;
    std::size_t done = 0;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point last_drawn;
    std::FILE* stream = stderr;
};

// Starts counting when standard error is a terminal and the run not quiet.
void batch_progress_start(BatchProgress& progress, std::size_t total, bool quiet);
// Redraws when the last drawing is a tenth of a second old, or `now` is set.
void batch_progress_draw(BatchProgress& progress, bool now = false);
// Takes the line off the terminal, so that a message can follow.
void batch_progress_clear(BatchProgress& progress);
// Draws the final state and ends the line.
void batch_progress_finish(BatchProgress& progress);
// The text of the line for `elapsed` seconds of running.
std::string batch_progress_line(const BatchProgress& progress, double elapsed);

} // namespace tonbrix::cli
