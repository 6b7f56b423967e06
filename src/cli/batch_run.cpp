#include "cli/batch_run.h"

#include "cli/batch_progress.h"
#include "cli/console_events.h"
#include "cli/json_documents.h"
#include "cli/run_console.h"
#include "cli/signals.h"

#include <tonbrix/batch.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <set>

namespace tonbrix::cli {

namespace {

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
    JobPrinter(const RunOptions& options, const std::vector<BatchJob>& jobs, std::string plugin_uri,
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
        const BatchJob& job = jobs_[index];
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
    const std::vector<BatchJob>& jobs_;
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

int run_batch(World& world, const std::string& plugin_uri, const RunOptions& options, bool raw)
{
    if (!check_block_size(options)) {
        return 1;
    }
    FILE* notes = options.quiet ? nullptr : options.json ? stderr : stdout;
    Result<std::vector<BatchJob>> listed = std::vector<BatchJob>();
    if (options.has_batch) {
        if (!options.input.empty() || !options.output.empty()) {
            std::fputs("Error: --batch takes each job's input and output from the list; leave "
                       "out -i and -o.\n",
                       stderr);
            return 1;
        }
        listed = read_job_list(options.batch);
    } else {
        ConsoleEvents skipped(notes, notes, nullptr);
        const int type = options.has_output_format ? options.output_format_request.type : 0;
        listed = folder_jobs(options.input, options.output, type, &skipped);
    }
    if (!listed) {
        std::fputs(listed.error().message.c_str(), stderr);
        return 1;
    }
    const std::vector<BatchJob>& jobs = listed.value();
    if (const Status outputs = check_job_outputs(jobs); !outputs) {
        std::fputs(outputs.error().message.c_str(), stderr);
        return 1;
    }
    FILE* messages = options.json ? stderr : stdout;
    if (jobs.empty()) {
        std::fputs(no_jobs_warning(options).c_str(), messages);
    }
    if (options.report || options.has_report_every) {
        const std::string warning = empty_report_warning(world, {plugin_uri});
        std::fputs(warning.c_str(), messages);
    }
    if (!options.has_batch) {
        make_output_folders(options.output, jobs);
    }

    BatchProgress progress;
    batch_progress_start(progress, jobs.size(), options.quiet);
    JobPrinter printer(options, jobs, plugin_uri, progress);
    install_batch_signal_handlers();
    RunOptions job_options = options;
    job_options.job_count = 1;
    job_options.has_batch = false;
    const RunSettings batch = run_settings(job_options, {{job_options, plugin_uri}}, raw);
    std::vector<BatchJob> runs = jobs;
    for (BatchJob& job : runs) {
        job.skip = job.error.empty() && options.skip_existing && output_is_current(job);
    }
    BatchCallbacks callbacks;
    // With --json the report's document has a stream of its own.
    callbacks.run_job = [&](std::size_t job, const RunSettings& settings, InstanceCache& cache,
                            FILE* job_notes, FILE* job_report) {
        RunOptions printed = job_options;
        printed.input = jobs[job].input;
        printed.output = jobs[job].output;
        RunSettings run = settings;
        return run_and_print(world, printed, run, job_notes, &cache,
                             options.json ? job_report : nullptr);
    };
    callbacks.after_job = [] { clear_crash_cleanup_paths(); };
    callbacks.finished = [&](std::size_t job, JobOutcome&& outcome) {
        if (outcome.skipped) {
            printer.skip(job);
        } else {
            printer.finished(job, std::move(outcome));
        }
    };
    callbacks.tick = [&] { batch_progress_draw(progress); };
    const std::size_t workers = options.job_count > 0 ? static_cast<std::size_t>(options.job_count)
                                                      : 0;
    const BatchResult result = tonbrix::run_batch(world, batch, runs, workers, callbacks,
                                                  &batch_stop);
    if (!result.started) {
        batch_progress_clear(progress);
        std::fprintf(stderr, "Error: cannot start a worker process: %s.\n", std::strerror(errno));
        return 1;
    }
    if (result.stopped != 0) {
        batch_progress_clear(progress);
        std::fputs("Interrupted.\n", stderr);
        return 128 + result.stopped;
    }
    return printer.finish();
}

} // namespace tonbrix::cli
