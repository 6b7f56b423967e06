#include "cli/batch_run.h"

#include "cli/batch_progress.h"
#include "cli/job_list.h"
#include "cli/json_documents.h"
#include "cli/processing_run.h"
#include "cli/report_warning.h"
#include "cli/signals.h"
#include "cli/worker_pool.h"
#include "io/output_format.h"
#include "io/sound_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

namespace tonbrix::cli {

namespace {

std::size_t online_cores()
{
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores < 1 ? 1 : cores > 1024 ? 1024 : static_cast<std::size_t>(cores);
}

// The options of one job: the command line's with the job's files, and its
// values as if they stood at the end. Each job runs on one thread.
RunOptions job_options(const RunOptions& base, const Job& job)
{
    RunOptions options = base;
    options.input = job.input;
    options.output = job.output;
    options.parameters.insert(options.parameters.end(), job.parameters.begin(),
                              job.parameters.end());
    if (job.has_preset) {
        options.has_preset = true;
        options.preset = job.preset;
    }
    options.set_values.insert(options.set_values.end(), job.set_values.begin(),
                              job.set_values.end());
    options.job_count = 1;
    options.has_batch = false;
    return options;
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

// The jobs of a job list ("-" for standard input); the message when it
// cannot be read.
Result<std::vector<Job>> list_jobs(const std::string& path)
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

// The jobs of an input folder: every sound file under it, into the same
// relative path under the output folder (with the extension of the
// --output-format type). A file named as a sound file is a job even when
// it cannot be read, so that it fails and is counted; other files that are
// not sound files are skipped, each with one note. The message when the
// folders cannot be used.
Result<std::vector<Job>> folder_jobs(const RunOptions& options, FILE* notes)
{
    struct stat st {};
    if (::stat(options.output.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        return Error{"Error: the input " + options.input +
                     " is a folder, so the output must be a folder too; " + options.output +
                     " is not one.\n"};
    }
    if (path_within(options.output, options.input)) {
        return Error{"Error: the output folder " + options.output + " is inside the input folder " +
                     options.input + "; choose an output folder outside it.\n"};
    }
    Result<std::vector<std::string>> files = folder_files(options.input);
    if (!files) {
        return files.error();
    }
    const int type = options.has_output_format ? options.output_format_request.type : 0;
    std::vector<Job> jobs;
    for (const std::string& relative : files.value()) {
        Job job;
        job.input = (std::filesystem::path(options.input) / relative).string();
        if (!has_sound_file_extension(job.input) && !is_sound_file(job.input)) {
            if (notes != nullptr) {
                std::fprintf(notes, "Note: %s is not a sound file; skipped.\n", job.input.c_str());
            }
            continue;
        }
        const std::string output = type != 0 ? with_type_extension(relative, type) : relative;
        job.output = (std::filesystem::path(options.output) / output).string();
        jobs.push_back(std::move(job));
    }
    return jobs;
}

// The message when two jobs would write one output file; empty when every
// job has its own.
std::string shared_output_error(const std::vector<Job>& jobs)
{
    std::map<std::string, const Job*> writers;
    for (const Job& job : jobs) {
        if (!job.error.empty()) {
            continue;
        }
        const auto [it, added] = writers.emplace(canonical_path(job.output), &job);
        if (!added) {
            return "Error: " + it->second->input + " and " + job.input +
                   " would both be written to " + job.output +
                   "; give each input its own output.\n";
        }
    }
    return {};
}

// The name of a signal as in "SIGSEGV"; its number for one without a name.
std::string signal_name(int number)
{
    const char* abbreviation = ::sigabbrev_np(number);
    return abbreviation != nullptr ? std::string("SIG") + abbreviation : std::to_string(number);
}

// Writes each line of `text` to `stream` behind `prefix`; a last line
// without its newline gets one.
void write_prefixed(FILE* stream, std::string_view prefix, std::string_view text)
{
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        std::string whole(prefix);
        whole.append(line);
        whole += '\n';
        std::fwrite(whole.data(), 1, whole.size(), stream);
    }
}

// True when the job's output exists as a file and is not older than its
// input: a finished output of an earlier run, since outputs only ever take
// their path whole.
bool output_is_current(const Job& job)
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

// The warning of a run that found nothing to do.
std::string no_jobs_warning(const RunOptions& options)
{
    if (!options.has_batch) {
        return "WARNING: No sound files in " + options.input + "; nothing to process.\n";
    }
    return "WARNING: The job list " +
           (options.batch == "-" ? std::string("on standard input") : options.batch) +
           " holds no jobs; nothing to process.\n";
}

// Text without its last newline.
std::string without_last_newline(std::string text)
{
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// True for the line a worker's crash handler prints; the batch prints its
// own with the input path.
bool is_crash_line(std::string_view line)
{
    return line.rfind("tonbrix: plugin ", 0) == 0 &&
           line.find(" crashed with signal ") != std::string_view::npos;
}

// Prints the jobs' messages in the order of the jobs, whatever order they
// end in, and counts them.
class JobPrinter {
public:
    JobPrinter(const RunOptions& options, const std::vector<Job>& jobs, std::string plugin_uri,
               BatchProgress& progress)
        : options_(options), jobs_(jobs), plugin_uri_(std::move(plugin_uri)),
          progress_(progress), outcomes_(jobs.size()),
          messages_(options.json ? stderr : stdout), notes_(options.quiet ? nullptr : messages_)
    {
        if (options.json) {
            documents_.resize(jobs.size());
            errors_.resize(jobs.size());
        }
    }

    FILE* notes() const { return notes_; }

    // Counts a job that --skip-existing leaves out; it prints nothing.
    void skip(std::size_t job)
    {
        skipped_.insert(job);
        finished(job, JobOutcome{});
    }

    void finished(std::size_t job, JobOutcome&& outcome)
    {
        outcomes_[job] = std::move(outcome);
        ++progress_.done;
        while (next_ < jobs_.size() && outcomes_[next_]) {
            print(next_);
            outcomes_[next_].reset();
            ++next_;
        }
        batch_progress_draw(progress_);
    }

    // The closing count (and the JSON document); the exit status.
    int finish()
    {
        batch_progress_finish(progress_);
        if (options_.json) {
            Json files = Json::array();
            for (std::size_t i = 0; i < jobs_.size(); ++i) {
                Json entry;
                entry["input"] = jobs_[i].input;
                entry["output"] = jobs_[i].output;
                entry["written"] = written_.count(i) > 0;
                entry["report"] = documents_[i] ? *documents_[i] : Json();
                entry["error"] = errors_[i] ? Json(*errors_[i]) : Json();
                if (options_.has_batch) {
                    entry["line"] = jobs_[i].line;
                }
                if (options_.skip_existing) {
                    entry["skipped"] = skipped_.count(i) > 0;
                }
                files.push_back(std::move(entry));
            }
            Json document;
            document["plugin"] = plugin_uri_;
            document["files"] = std::move(files);
            const std::string text = json_text(document);
            std::fwrite(text.data(), 1, text.size(), stdout);
        }
        const std::size_t failed = jobs_.size() - written_.size() - skipped_.size();
        if (notes_ != nullptr && options_.skip_existing) {
            std::fprintf(notes_, "Processed %zu files: %zu written, %zu skipped, %zu failed.\n",
                         jobs_.size(), written_.size(), skipped_.size(), failed);
        } else if (notes_ != nullptr) {
            std::fprintf(notes_, "Processed %zu files: %zu written, %zu failed.\n", jobs_.size(),
                         written_.size(), failed);
        }
        std::fflush(stdout);
        return failed == 0 ? 0 : 1;
    }

private:
    void print(std::size_t index)
    {
        batch_progress_clear(progress_);
        const Job& job = jobs_[index];
        const JobOutcome& outcome = *outcomes_[index];
        if (skipped_.count(index) > 0) {
            return;
        }
        if (!job.error.empty()) {
            std::fputs(job.error.c_str(), stderr);
            note_error(index, job.error);
            return;
        }
        const std::string prefix = job.input + ": ";
        std::string_view notes = outcome.notes;
        while (notes_ != nullptr && !notes.empty()) {
            const std::size_t end = notes.find('\n');
            const std::string line(notes.substr(0, end));
            notes = end == std::string_view::npos ? std::string_view() : notes.substr(end + 1);
            if (printed_notes_.insert(line).second) {
                std::fprintf(notes_, "%s\n", line.c_str());
            }
        }
        // With --json the job's report comes apart from its other lines,
        // which go where the messages go.
        if (options_.json) {
            const Json document = Json::parse(outcome.report, nullptr, false);
            if (!document.is_discarded()) {
                documents_[index] = document;
            }
        }
        write_prefixed(messages_, prefix, outcome.out);
        std::fflush(messages_);
        std::string error;
        std::string_view errors = outcome.err;
        while (!errors.empty()) {
            const std::size_t end = errors.find('\n');
            const std::string_view line = errors.substr(0, end);
            errors = end == std::string_view::npos ? std::string_view() : errors.substr(end + 1);
            if (!is_crash_line(line)) {
                write_prefixed(stderr, prefix, line);
                error.append(line).append("\n");
            }
        }
        if (outcome.crash_signal != 0) {
            const std::string crash = "plugin " + plugin_uri_ + " crashed with signal " +
                                      std::to_string(outcome.crash_signal) + " (" +
                                      signal_name(outcome.crash_signal) + ")\n";
            std::fprintf(stderr, "%s%s", prefix.c_str(), crash.c_str());
            error += crash;
        }
        if (outcome.status == 0 && outcome.crash_signal == 0) {
            written_.insert(index);
        } else {
            note_error(index, error.empty() ? "Error: the job ended with status " +
                                                  std::to_string(outcome.status) + ".\n"
                                            : error);
        }
    }

    // Keeps the message of a failed job for the JSON document.
    void note_error(std::size_t index, const std::string& text)
    {
        if (options_.json) {
            errors_[index] = without_last_newline(text);
        }
    }

    const RunOptions& options_;
    const std::vector<Job>& jobs_;
    std::string plugin_uri_;
    BatchProgress& progress_;
    std::vector<std::optional<JobOutcome>> outcomes_;
    std::vector<std::optional<Json>> documents_;
    std::vector<std::optional<std::string>> errors_; // with --json, of the failed jobs
    std::set<std::string> printed_notes_;
    std::set<std::size_t> written_;
    std::set<std::size_t> skipped_;
    std::size_t next_ = 0;
    FILE* messages_;
    FILE* notes_;
};

} // namespace

bool asks_for_batch(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg == "--") {
            return false;
        }
        if (arg == "--batch" || arg.rfind("--batch=", 0) == 0) {
            return true;
        }
    }
    return false;
}

bool names_folder(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int run_batch(World& world, const LilvPlugin* plugin, const RunOptions& options, bool raw)
{
    if (!check_block_size(options)) {
        return 1;
    }
    FILE* notes = options.quiet ? nullptr : options.json ? stderr : stdout;
    Result<std::vector<Job>> listed = std::vector<Job>();
    if (options.has_batch) {
        if (!options.input.empty() || !options.output.empty()) {
            std::fputs("Error: --batch takes each job's input and output from the list; leave "
                       "out -i and -o.\n",
                       stderr);
            return 1;
        }
        listed = list_jobs(options.batch);
    } else {
        listed = folder_jobs(options, notes);
    }
    if (!listed) {
        std::fputs(listed.error().message.c_str(), stderr);
        return 1;
    }
    const std::vector<Job>& jobs = listed.value();
    if (const std::string shared = shared_output_error(jobs); !shared.empty()) {
        std::fputs(shared.c_str(), stderr);
        return 1;
    }
    FILE* messages = options.json ? stderr : stdout;
    if (jobs.empty()) {
        std::fputs(no_jobs_warning(options).c_str(), messages);
    }
    if (options.report || options.has_report_every) {
        const std::string warning = empty_report_warning({plugin}, world.impl().nodes);
        std::fputs(warning.c_str(), messages);
    }
    if (!options.has_batch) {
        std::error_code ignored; // a folder that cannot be made fails its jobs
        std::filesystem::create_directories(options.output, ignored);
        for (const Job& job : jobs) {
            std::filesystem::create_directories(std::filesystem::path(job.output).parent_path(),
                                                ignored);
        }
    }

    const std::string plugin_uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
    BatchProgress progress;
    batch_progress_start(progress, jobs.size(), options.quiet);
    JobPrinter printer(options, jobs, plugin_uri, progress);
    std::vector<std::size_t> runnable;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!jobs[i].error.empty()) {
            printer.finished(i, JobOutcome{});
        } else if (options.skip_existing && output_is_current(jobs[i])) {
            printer.skip(i);
        } else {
            runnable.push_back(i);
        }
    }

    install_batch_signal_handlers();
    WorkerPoolCallbacks callbacks;
    // Each worker has its own copy, which keeps its last job's instances
    // for the next job of the same shape.
    KeptInstances kept;
    // With --json the report's document has a stream of its own.
    callbacks.run_job = [&](std::size_t job, FILE* job_notes, FILE* job_report) {
        return run_file_job(world, plugin, job_options(options, jobs[job]), raw, MissingFiles{},
                            job_notes, &kept, options.json ? job_report : nullptr);
    };
    callbacks.worker_done = [&kept] { kept.release(); };
    callbacks.finished = [&](std::size_t job, JobOutcome&& outcome) {
        printer.finished(job, std::move(outcome));
    };
    callbacks.tick = [&] { batch_progress_draw(progress); };
    const std::size_t workers = options.job_count > 0 ? static_cast<std::size_t>(options.job_count)
                                                      : online_cores();
    bool started = true;
    const int stopped = run_worker_pool(runnable, workers, callbacks, started);
    if (!started) {
        batch_progress_clear(progress);
        std::fprintf(stderr, "Error: cannot start a worker process: %s.\n", std::strerror(errno));
        return 1;
    }
    if (stopped != 0) {
        batch_progress_clear(progress);
        std::fputs("Interrupted.\n", stderr);
        return 128 + stopped;
    }
    return printer.finish();
}

} // namespace tonbrix::cli
