#include "cli/run_console.h"

#include "cli/console_events.h"
#include "cli/json_documents.h"
#include "cli/listings.h"
#include "cli/master_steps.h"
#include "cli/positioned_events.h"
#include "cli/progress.h"
#include "cli/signals.h"

#include <tonbrix/number_text.h>

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <optional>

namespace tonbrix::cli {

namespace {

// The JSON document's stream: standard output's descriptor kept apart from
// descriptor 1, which becomes standard error, so that what a plugin prints
// with printf cannot get into the document. Standard output itself when
// that cannot be done.
FILE* document_stream()
{
    std::fflush(stdout);
    int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (fd >= 0 && ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        ::close(fd);
        fd = -1;
    }
    FILE* stream = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (fd >= 0 && stream == nullptr) {
        ::close(fd);
    }
    return stream != nullptr ? stream : stdout;
}

// --report-every and --json ask for the report too.
bool wants_report(const RunOptions& options)
{
    return options.report || options.has_report_every || options.json;
}

// Where a run's text goes. Standard output carries the audio when the
// output is "-"; the notes, warnings and report then go to standard error.
// With --json standard output holds only the report's document: the notes
// go to standard error. A quiet run prints no notes (null `notes`). A
// report stream given (a batch job's) takes the report alone, and the
// warnings stay on standard output.
struct Console {
    FILE* report;
    bool owns_report;
    FILE* messages;
    FILE* notes;
    Progress progress;
    ConsoleEvents events{notes, messages, &progress};

    Console(const RunOptions& options, FILE* notes_stream, FILE* report_stream)
        : report(report_stream != nullptr ? report_stream
                 : options.output == "-"  ? stderr
                 : options.json           ? document_stream()
                                          : stdout),
          owns_report(report_stream == nullptr && report != stdout && report != stderr),
          messages(report_stream == nullptr && (options.json || options.output == "-") ? stderr
                                                                                        : stdout),
          notes(options.quiet ? nullptr : notes_stream != nullptr ? notes_stream : messages)
    {
    }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    ~Console()
    {
        if (owns_report) {
            std::fclose(report);
        }
    }
};

// The crash line's name for the plugins of the run: the URI, or for a
// chain every URI, "A or B or C", since any of them may have crashed.
std::string crash_name(const RunSettings& settings)
{
    std::string name;
    for (const PluginStep& step : settings.plugins) {
        name += (name.empty() ? "" : " or ");
        name += step.uri;
    }
    return name;
}

// Prints the report of every plugin in chain order: the text lines of each
// after its position, or one JSON document that holds them all; then the
// output's loudness when it was measured.
void print_reports(const RunOptions& options, const std::vector<PluginReadings>& plugins,
                   int rate, FILE* stream, const std::optional<Loudness>& loudness)
{
    if (options.json) {
        std::vector<PluginReport> reports;
        for (const PluginReadings& plugin : plugins) {
            reports.push_back({plugin.uri, plugin.symbols, plugin.readings});
        }
        Json document = report_json(rate, reports);
        if (loudness) {
            document["loudness"] = loudness_json(*loudness);
        }
        write_text(stream, json_text(document));
        return;
    }
    std::string text;
    for (std::size_t k = 0; k < plugins.size(); ++k) {
        std::string lines;
        for (const Reading& reading : plugins[k].readings) {
            const std::string time = options.report_every_seconds > 0.0
                                         ? seconds_text(reading.frame, rate) + " "
                                         : std::string();
            lines += reading_text(plugins[k].symbols, reading, time);
        }
        text += with_prefix(position_prefix(k + 1, plugins.size()), lines);
    }
    if (loudness) {
        text += loudness_text(*loudness);
    }
    write_text(stream, text);
}

// What the program shows while a run goes: the progress line on a
// terminal, the report, and the temporary files a crash removes.
class ConsoleObserver final : public RunObserver {
public:
    ConsoleObserver(const RunOptions& options, Console& console)
        : options_(options), console_(console)
    {
    }

    void temporary_file(const std::string& path) override { add_crash_cleanup_path(path); }

    // The frame count of a stream that cannot seek is unknown.
    void render_starting(int64_t frames, int rate) override
    {
        rate_ = rate;
        if (progress_wanted(options_.quiet)) {
            progress_start(console_.progress, frames, rate);
        }
    }

    void progress(uint64_t frames) override
    {
        progress_update_callback(&console_.progress, frames);
    }

    void render_ended(bool finished) override { progress_finish(console_.progress, finished); }

    // The loudness goes into the report, or alone where the report goes.
    void loudness_measured(const Loudness& loudness) override
    {
        loudness_ = loudness;
        if (!wants_report(options_)) {
            write_text(console_.report, loudness_text(loudness));
        }
    }

    void readings_taken(const std::vector<PluginReadings>& readings) override
    {
        if (wants_report(options_)) {
            print_reports(options_, readings, rate_, console_.report, loudness_);
        }
    }

private:
    const RunOptions& options_;
    Console& console_;
    int rate_ = 0;
    std::optional<Loudness> loudness_;
};

} // namespace

RunSettings run_settings(const RunOptions& run, const std::vector<PluginOptions>& plugins,
                         bool raw)
{
    RunSettings settings;
    for (const PluginOptions& plugin : plugins) {
        const RunOptions& options = plugin.options;
        PluginStep step;
        step.uri = plugin.uri;
        if (options.has_preset) {
            step.preset = options.preset;
        }
        step.control_items = options.parameters;
        step.set_values = options.set_values;
        step.connect_items = options.connect;
        step.mono = options.mono;
        if (options.has_midi) {
            step.midi_file = options.midi;
        }
        if (options.has_midi_out) {
            step.midi_out_file = options.midi_out;
        }
        step.automation = options.automations;
        if (options.has_save_preset) {
            step.save_preset = options.save_preset;
        }
        settings.plugins.push_back(std::move(step));
    }
    settings.input_file = run.input;
    settings.output_file = run.output;
    settings.raw = raw;
    settings.sample_rate = run.rate;
    settings.channels = run.channels;
    if (run.has_output_format) {
        settings.output_format = run.output_format_request;
    }
    settings.block_size = static_cast<uint32_t>(run.blocksize);
    settings.jobs = static_cast<unsigned>(run.job_count > 0 ? run.job_count : 0);
    if (run.has_tail) {
        settings.tail_seconds = run.tail_seconds;
    }
    settings.compensate_latency = run.compensate_latency;
    settings.plugin_rate = run.master.plugin_rate;
    settings.output_rate = run.master.output_rate;
    settings.loudness_lufs = run.master.loudness_lufs;
    settings.true_peak_dbtp = run.master.ceiling_dbtp;
    settings.measure_loudness = run.master.measure_loudness;
    settings.dither = run.master.dither;
    if (run.has_preset_dir) {
        settings.preset_folder = run.preset_dir;
    }
    settings.check_clipping = !run.ignore_clipping;
    settings.readings = wants_report(run);
    settings.reading_period_seconds = run.report_every_seconds;
    settings.notes = !run.quiet;
    return settings;
}

bool check_block_size(const RunOptions& options)
{
    const Status size = tonbrix::check_block_size(options.blocksize);
    if (!size) {
        std::fputs(size.error().message.c_str(), stderr);
    }
    return size.ok();
}

int run_and_print(World& world, const RunOptions& options, RunSettings& settings, FILE* notes,
                  InstanceCache* cache, FILE* report)
{
    install_run_signal_handlers(crash_name(settings).c_str());
    Console console(options, notes, report);
    const std::size_t count = settings.plugins.size();
    std::vector<std::unique_ptr<PositionedEvents>> positioned;
    for (std::size_t k = 0; k < count; ++k) {
        positioned.push_back(
            std::make_unique<PositionedEvents>(console.events, position_prefix(k + 1, count)));
        settings.plugins[k].events = positioned.back().get();
    }
    settings.notes = console.notes != nullptr;
    settings.events = &console.events;
    settings.stop = &run_stop;
    ConsoleObserver observer(options, console);
    const RunResult result = run(world, settings, &observer, cache);
    for (const RunError& error : result.errors) {
        const std::string prefix = error.step ? position_prefix(*error.step + 1, count) : "";
        std::fputs(with_prefix(prefix, error.error.message).c_str(), stderr);
    }
    if (result.status == RunStatus::stopped) {
        std::fputs("Interrupted.\n", stderr);
        return 128 + run_stop.reason();
    }
    return result.ok() ? 0 : 1;
}

} // namespace tonbrix::cli
