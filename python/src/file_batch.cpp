#include "file_batch.h"

#include "errors.h"
#include "shared_world.h"
#include "steps.h"

#include <tonbrix/batch.h>
#include <tonbrix/sound_file.h>

#include <pybind11/stl.h>

#include <csignal>
#include <cstring>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace py = pybind11;

namespace tonbrix::python {

namespace {

// The temporary output of the job a worker runs, removed by the crash
// handler: a fixed buffer, so that the handler needs no allocation.
char crash_cleanup_path[4096];

// In a worker: removes the temporary output of the job that crashed, then
// ends the worker by the same signal.
extern "C" void remove_output_and_die(int number)
{
    if (crash_cleanup_path[0] != '\0') {
        ::unlink(crash_cleanup_path);
    }
    ::signal(number, SIG_DFL);
    ::raise(number);
}

void install_crash_cleanup()
{
    struct sigaction action {};
    action.sa_handler = remove_output_and_die;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (const int number : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
        ::sigaction(number, &action, nullptr);
    }
}

// Learns the temporary output of a worker's run for the crash handler.
class CrashCleanup final : public RunObserver {
public:
    void temporary_file(const std::string& path) override
    {
        if (path.size() < sizeof crash_cleanup_path) {
            std::memcpy(crash_cleanup_path, path.c_str(), path.size() + 1);
        }
    }
};

// Writes a run's notes, warnings and plugin log lines to a stream.
class StreamEvents final : public EventSink {
public:
    explicit StreamEvents(FILE* stream) : stream_(stream) {}
    void report(EventKind kind, std::string_view text) noexcept override
    {
        if (stream_ != nullptr && kind != EventKind::worker_trace) {
            std::fwrite(text.data(), 1, text.size(), stream_);
        }
    }

private:
    FILE* stream_;
};

// The name of a signal as in "SIGSEGV"; its number for one without a name.
std::string signal_name(int number)
{
    const char* abbreviation = ::sigabbrev_np(number);
    return abbreviation != nullptr ? std::string("SIG") + abbreviation : std::to_string(number);
}

// The message of a failed job as --batch prints it (without the input's
// prefix): its error lines, then the crash; empty for a written job.
std::string job_error(const BatchJob& job, const JobOutcome& outcome, const std::string& uri)
{
    if (!job.error.empty()) {
        return job.error;
    }
    std::string error = outcome.err;
    if (!error.empty() && error.back() != '\n') {
        error += '\n';
    }
    if (outcome.crash_signal != 0) {
        error += "plugin " + uri + " crashed with signal " + std::to_string(outcome.crash_signal) +
                 " (" + signal_name(outcome.crash_signal) + ")\n";
    }
    if (outcome.status == 0 && outcome.crash_signal == 0) {
        return {};
    }
    return error.empty() ? "Error: the job ended with status " + std::to_string(outcome.status) +
                               ".\n"
                         : error;
}

BatchJob read_job(const py::dict& item)
{
    BatchJob job;
    job.input = item["input"].cast<std::string>();
    job.output = item["output"].cast<std::string>();
    if (item.contains("parameters")) {
        job.parameters = item["parameters"].cast<std::vector<std::string>>();
    }
    if (item.contains("preset") && !item["preset"].is_none()) {
        job.has_preset = true;
        job.preset = item["preset"].cast<std::string>();
    }
    if (item.contains("set_values")) {
        job.set_values = item["set_values"].cast<std::vector<std::string>>();
    }
    if (item.contains("line")) {
        job.line = item["line"].cast<std::size_t>();
    }
    if (item.contains("error") && !item["error"].is_none()) {
        job.error = item["error"].cast<std::string>();
    }
    return job;
}

py::dict job_dict(const BatchJob& job)
{
    py::dict item;
    item["input"] = job.input;
    item["output"] = job.output;
    item["parameters"] = py::cast(job.parameters);
    item["preset"] = job.has_preset ? py::object(py::str(job.preset)) : py::object(py::none());
    item["set_values"] = py::cast(job.set_values);
    item["line"] = job.line;
    item["error"] = job.error.empty() ? py::object(py::none()) : py::object(py::str(job.error));
    return item;
}

// Runs the jobs through one plugin in `workers` forked processes; a dict
// per job: "written", "error" (the message, or None), "crash_signal",
// "messages" (its notes and warnings).
py::list run_file_batch(SharedWorld& shared, const py::dict& step, const py::list& job_items,
                        std::size_t workers, uint32_t block_size, std::optional<double> tail,
                        bool compensate_latency, bool check_clipping,
                        std::optional<std::string> output_format, bool skip_existing)
{
    py::list steps;
    steps.append(step);
    Steps read = read_steps(steps);
    if (read.midi_out.front() != nullptr) {
        throw py::value_error("a file batch writes no MIDI output to memory");
    }
    RunSettings batch;
    batch.plugins = std::move(read.plugins);
    batch.block_size = block_size;
    batch.jobs = 1;
    batch.tail_seconds = tail;
    batch.compensate_latency = compensate_latency;
    batch.check_clipping = check_clipping;
    batch.notes = false;
    if (output_format) {
        batch.output_format = value_or_raise(parse_output_format(*output_format));
    }
    std::vector<BatchJob> jobs;
    for (const py::handle item : job_items) {
        jobs.push_back(read_job(item.cast<py::dict>()));
        jobs.back().skip = skip_existing && output_is_current(jobs.back());
    }
    if (const Status outputs = check_job_outputs(jobs); !outputs) {
        raise(outputs.error());
    }
    const std::string uri = batch.plugins.front().uri;
    std::vector<JobOutcome> outcomes(jobs.size());
    BatchResult result;
    World* forked_world = nullptr;
    {
        py::gil_scoped_release unlocked;
        BatchCallbacks callbacks;
        callbacks.run_job = [&](std::size_t, const RunSettings& settings, InstanceCache& cache,
                                FILE* notes, FILE*) {
            install_crash_cleanup();
            crash_cleanup_path[0] = '\0';
            StreamEvents events(notes);
            RunSettings job = settings;
            job.events = &events;
            CrashCleanup observer;
            // The worker is a copy of this process, its world mutex held by
            // the thread that forked: the world is used as it is.
            const RunResult done = tonbrix::run(*forked_world, job, &observer, &cache);
            crash_cleanup_path[0] = '\0';
            for (const RunError& error : done.errors) {
                std::fputs(error.error.message.c_str(), stderr);
            }
            return done.ok() ? 0 : 1;
        };
        callbacks.finished = [&](std::size_t job, JobOutcome&& outcome) {
            outcomes[job] = std::move(outcome);
        };
        result = shared.with_world_unlocked([&](World& world) {
            forked_world = &world;
            return run_batch(world, batch, jobs, workers, callbacks);
        });
    }
    if (!result.started) {
        raise(std::string("Error: cannot start a worker process: ") + std::strerror(errno) + ".");
    }
    py::list done;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const JobOutcome& outcome = outcomes[i];
        py::dict item = job_dict(jobs[i]);
        const std::string error = outcome.skipped ? std::string() : job_error(jobs[i], outcome, uri);
        item["written"] = !outcome.skipped && error.empty();
        item["skipped"] = outcome.skipped;
        item["error"] = error.empty() ? py::object(py::none()) : py::object(py::str(error));
        item["crash_signal"] = outcome.crash_signal;
        item["messages"] = outcome.notes;
        done.append(item);
    }
    return done;
}

py::list job_list(const std::vector<BatchJob>& jobs)
{
    py::list list;
    for (const BatchJob& job : jobs) {
        list.append(job_dict(job));
    }
    return list;
}

} // namespace

void define_file_batch(py::module_& module)
{
    module.def("_run_file_batch", &run_file_batch, py::arg("world"), py::arg("step"),
               py::arg("jobs"), py::arg("workers"), py::arg("block_size"), py::arg("tail"),
               py::arg("compensate_latency"), py::arg("check_clipping"),
               py::arg("output_format"), py::arg("skip_existing"),
               "Runs file jobs through one plugin in forked workers; see tonbrix.process_files.");
    module.def(
        "_folder_jobs",
        [](const std::string& input, const std::string& output,
           std::optional<std::string> output_format) {
            const int type =
                output_format ? value_or_raise(parse_output_format(*output_format)).type : 0;
            NoEvents quiet;
            std::vector<BatchJob> jobs = value_or_raise(folder_jobs(input, output, type, &quiet));
            make_output_folders(output, jobs);
            return job_list(jobs);
        },
        py::arg("input"), py::arg("output"), py::arg("output_format"),
        "The jobs of a folder (every sound file under it), with the output folders made.");
    module.def(
        "_read_job_list",
        [](const std::string& path) { return job_list(value_or_raise(read_job_list(path))); },
        py::arg("path"), "The jobs of a job list file, as --batch reads it.");
}

} // namespace tonbrix::python
