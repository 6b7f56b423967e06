#include "batch/job_list.h"
#include "batch/worker_pool.h"
#include "io/sound_folder.h"

#include <tonbrix/batch.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

namespace tonbrix {

namespace {

std::size_t online_cores()
{
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores < 1 ? 1 : cores > 1024 ? 1024 : static_cast<std::size_t>(cores);
}

// Reads all of a descriptor; false on a read error.
bool read_all(int fd, std::string& text)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

// Runs a job with run(): 0 when it wrote its output; its errors go to
// standard error.
int run_quietly(World& world, const RunSettings& settings, InstanceCache& cache)
{
    const RunResult result = run(world, settings, nullptr, &cache);
    for (const RunError& error : result.errors) {
        std::fputs(error.error.message.c_str(), stderr);
    }
    return result.ok() ? 0 : 1;
}

} // namespace

Result<std::vector<BatchJob>> read_job_list(const std::string& path)
{
    std::string text;
    const int fd = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool read = fd >= 0 && read_all(fd, text);
    const int error = errno;
    if (fd > STDIN_FILENO) {
        ::close(fd);
    }
    if (!read) {
        return Error{"Error: cannot read the job list " + (path == "-" ? "on standard input" : path) +
                     ": " + std::strerror(error) + ".\n"};
    }
    return parse_job_list(text);
}

bool is_folder(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Result<std::vector<BatchJob>> folder_jobs(const std::string& input_folder,
                                          const std::string& output_folder, int output_type,
                                          EventSink* notes)
{
    struct stat st {};
    if (::stat(output_folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        return Error{"Error: the input " + input_folder +
                     " is a folder, so the output must be a folder too; " + output_folder +
                     " is not one.\n"};
    }
    if (path_within(output_folder, input_folder)) {
        return Error{"Error: the output folder " + output_folder + " is inside the input folder " +
                     input_folder + "; choose an output folder outside it.\n"};
    }
    Result<std::vector<std::string>> files = folder_files(input_folder);
    if (!files) {
        return files.error();
    }
    std::vector<BatchJob> jobs;
    for (const std::string& relative : files.value()) {
        BatchJob job;
        job.input = (std::filesystem::path(input_folder) / relative).string();
        if (!has_sound_file_extension(job.input) && !is_sound_file(job.input)) {
            if (notes != nullptr) {
                notes->report(EventKind::note,
                              "Note: " + job.input + " is not a sound file; skipped.\n");
            }
            continue;
        }
        const std::string output =
            output_type != 0 ? with_type_extension(relative, output_type) : relative;
        job.output = (std::filesystem::path(output_folder) / output).string();
        jobs.push_back(std::move(job));
    }
    return jobs;
}

bool output_is_current(const BatchJob& job)
{
    struct stat input {};
    struct stat output {};
    if (::stat(job.input.c_str(), &input) != 0 || ::stat(job.output.c_str(), &output) != 0 ||
        !S_ISREG(output.st_mode)) {
        return false;
    }
    const timespec& in = input.st_mtim;
    const timespec& out = output.st_mtim;
    return out.tv_sec > in.tv_sec || (out.tv_sec == in.tv_sec && out.tv_nsec >= in.tv_nsec);
}

Status check_job_outputs(const std::vector<BatchJob>& jobs)
{
    std::map<std::string, const BatchJob*> writers;
    for (const BatchJob& job : jobs) {
        if (!job.error.empty()) {
            continue;
        }
        const auto [it, added] = writers.emplace(canonical_path(job.output), &job);
        if (!added) {
            return Error{"Error: " + it->second->input + " and " + job.input +
                         " would both be written to " + job.output +
                         "; give each input its own output.\n"};
        }
    }
    return {};
}

void make_output_folders(const std::string& output_folder, const std::vector<BatchJob>& jobs)
{
    std::error_code ignored; // a folder that cannot be made fails its jobs
    std::filesystem::create_directories(output_folder, ignored);
    for (const BatchJob& job : jobs) {
        std::filesystem::create_directories(std::filesystem::path(job.output).parent_path(),
                                            ignored);
    }
}

RunSettings job_settings(const RunSettings& batch, const BatchJob& job)
{
    RunSettings settings = batch;
    settings.input_file = job.input;
    settings.output_file = job.output;
    if (!settings.plugins.empty()) {
        PluginStep& step = settings.plugins.front();
        step.control_items.insert(step.control_items.end(), job.parameters.begin(),
                                  job.parameters.end());
        if (job.has_preset) {
            step.preset = job.preset;
        }
        step.set_values.insert(step.set_values.end(), job.set_values.begin(),
                               job.set_values.end());
    }
    settings.jobs = 1;
    return settings;
}

BatchResult run_batch(World& world, const RunSettings& batch, const std::vector<BatchJob>& jobs,
                      std::size_t workers, const BatchCallbacks& callbacks,
                      const StopRequest* stop)
{
    BatchResult result;
    result.outcomes.resize(jobs.size());
    const auto finished = [&](std::size_t job, JobOutcome&& outcome) {
        result.outcomes[job] = outcome;
        if (callbacks.finished) {
            callbacks.finished(job, std::move(outcome));
        }
    };
    std::vector<std::size_t> runnable;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!jobs[i].error.empty()) {
            finished(i, JobOutcome{});
        } else if (jobs[i].skip) {
            JobOutcome skipped;
            skipped.status = 0;
            skipped.skipped = true;
            finished(i, std::move(skipped));
        } else {
            runnable.push_back(i);
        }
    }
    // Each worker has its own copy, which keeps its last job's instances
    // for the next job of the same shape.
    InstanceCache cache;
    WorkerPoolCallbacks pool;
    pool.run_job = [&](std::size_t job, FILE* notes, FILE* report) {
        const RunSettings settings = job_settings(batch, jobs[job]);
        return callbacks.run_job ? callbacks.run_job(job, settings, cache, notes, report)
                                 : run_quietly(world, settings, cache);
    };
    pool.after_job = callbacks.after_job;
    pool.worker_done = [&cache] { cache.release(); };
    pool.finished = finished;
    pool.tick = callbacks.tick;
    result.stopped = run_worker_pool(runnable, workers > 0 ? workers : online_cores(), pool, stop,
                                     result.started);
    return result;
}

} // namespace tonbrix
