#pragma once

#include <tonbrix/export.h>

#include <tonbrix/error.h>
#include <tonbrix/events.h>
#include <tonbrix/run.h>
#include <tonbrix/stop.h>
#include <tonbrix/world.h>

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

// One job of a batch: an input file, its output file, and values that act
// as if they stood at the end of the run's own.
struct BatchJob {
    std::string input;
    std::string output;
    std::vector<std::string> parameters; // "symbol:value" items, after the run's
    bool has_preset = false;             // `preset` replaces the run's
    std::string preset;
    std::vector<std::string> set_values; // "parameter=value", after the run's
    std::size_t line = 0;                // the job list's line number; 0 for a folder's file
    std::string error;                   // the whole message of a line that cannot be read
    bool skip = false;                   // left out, e.g. when its output is current
};

// Reads a job list: a line `INPUT<TAB>OUTPUT`, or a JSON object with
// "input", "output" and optionally "parameters" (symbol to number),
// "preset" (a label) and "set" (parameter to value), for each job. Blank
// lines and lines starting with '#' are skipped; an unreadable line gives
// a job with its message in `error`.
TONBRIX_API std::vector<BatchJob> parse_job_list(std::string_view text);

// Reads the job list at `path` ("-" for standard input); the message when
// it cannot be read.
TONBRIX_API Result<std::vector<BatchJob>> read_job_list(const std::string& path);

// True when the path names a folder.
TONBRIX_API bool is_folder(const std::string& path);

// The jobs of an input folder: every sound file under it, into the same
// relative path under the output folder (with the extension of
// `output_type`, a libsndfile type, when it is not 0). A file named as a
// sound file is a job even when it cannot be read, so that it fails and is
// counted; other files that are not sound files are skipped, each with a
// note. The message when the folders
// cannot be used (the output is a file, or inside the input).
TONBRIX_API Result<std::vector<BatchJob>> folder_jobs(const std::string& input_folder,
                                                      const std::string& output_folder,
                                                      int output_type, EventSink* notes = nullptr);

// True when the job's output exists as a file and is not older than its
// input: a finished output of an earlier run, since outputs only ever take
// their path whole.
TONBRIX_API bool output_is_current(const BatchJob& job);

// The message when two jobs would write one output file.
TONBRIX_API Status check_job_outputs(const std::vector<BatchJob>& jobs);

// Makes the output folder and every job's folder in it; a folder that
// cannot be made fails its jobs later.
TONBRIX_API void make_output_folders(const std::string& output_folder,
                                     const std::vector<BatchJob>& jobs);

// A job's run: the batch's with the job's files and values, on one thread.
TONBRIX_API RunSettings job_settings(const RunSettings& batch, const BatchJob& job);

// What one job left: its exit status and what it printed on each stream.
struct JobOutcome {
    int status = 1;       // the job's exit status: 0 when it wrote its output
    int crash_signal = 0; // the signal that ended its worker during the job; 0 for none
    std::string out;      // standard output
    std::string err;      // standard error
    std::string notes;    // the notes stream
    std::string report;   // the report stream
    bool skipped = false; // the job was left out (BatchJob::skip): nothing ran
};

struct BatchCallbacks {
    // In a worker process: runs a job's settings with the worker's cache
    // and returns its exit status. What it writes on standard output and
    // error, to `notes` and to `report` is captured into the job's outcome.
    // When empty, run() runs it: status 0 when it wrote its output, else 1
    // with its errors on standard error.
    std::function<int(std::size_t job, const RunSettings& settings, InstanceCache& cache,
                      FILE* notes, FILE* report)>
        run_job;
    // In a worker process, after each job.
    std::function<void()> after_job;
    // In the batch's own process, as each job ends (in any order).
    std::function<void(std::size_t job, JobOutcome&& outcome)> finished;
    // In the batch's own process, at least ten times a second while jobs run.
    std::function<void()> tick;
};

struct BatchResult {
    bool started = true; // false when not even one worker could be made
    int stopped = 0;     // the last stop request's reason, 0 when every job ran
    std::vector<JobOutcome> outcomes; // by job (a job of an unreadable line fails)
};

// Runs the jobs of one plugin (`batch.plugins` holds it) in `workers`
// processes forked from this one (0: one per online core), which must run
// no other thread, one job at a time each. Each worker keeps its instances
// for the next job of the same shape (see InstanceCache). A worker that
// crashes costs its job and is replaced. A stop request passes its last
// reason, a signal number, on to every worker and no further job starts.
TONBRIX_API BatchResult run_batch(World& world, const RunSettings& batch,
                                  const std::vector<BatchJob>& jobs, std::size_t workers,
                                  const BatchCallbacks& callbacks = {},
                                  const StopRequest* stop = nullptr);

} // namespace tonbrix
