#pragma once

#include <tonbrix/batch.h>
#include <tonbrix/stop.h>

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace tonbrix {

struct WorkerPoolCallbacks {
    // Runs job `job` in a worker process, with standard output and error
    // captured, and returns its exit status; notes go to `notes`, the
    // report's document to `report`.
    std::function<int(std::size_t job, FILE* notes, FILE* report)> run_job;
    // In a worker process, after each job.
    std::function<void()> after_job;
    // In a worker process, when the pool has no more jobs for it.
    std::function<void()> worker_done;
    // In the run's own process, as each job ends (in any order).
    std::function<void(std::size_t job, JobOutcome&& outcome)> finished;
    // In the run's own process, at least ten times a second while jobs run.
    std::function<void()> tick;
};

// Runs the jobs in `workers` processes forked from this one, which must run
// no other thread: each takes the next job when it is done with one. A
// worker that dies from a signal during a job costs that job
// (`crash_signal`) and is replaced. A request through `stop` (its last
// reason a signal number, e.g. SIGINT) passes that signal on to every
// worker, each time one comes, and no further job starts. Returns once no
// worker is left: 0 when every job ran, else the number of the last stop
// signal. False in `started` when not even one worker could be made.
int run_worker_pool(const std::vector<std::size_t>& jobs, std::size_t workers,
                    const WorkerPoolCallbacks& callbacks, const StopRequest* stop,
                    bool& started);

} // namespace tonbrix
