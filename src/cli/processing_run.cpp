#include "cli/processing_run.h"

#include "cli/console_events.h"
#include "cli/event_run.h"
#include "cli/option_items.h"
#include "cli/option_values.h"
#include "cli/json_documents.h"
#include "cli/listings.h"
#include "cli/master_steps.h"
#include "cli/number_text.h"
#include "cli/positioned_events.h"
#include "cli/preset_saving.h"
#include "cli/progress.h"
#include "cli/range_warnings.h"
#include "cli/signals.h"
#include "engine/discard_sink.h"
#include "engine/plugin_node.h"
#include "engine/silent_source.h"
#include "engine/readings.h"
#include "engine/reset_check.h"
#include "engine/report.h"
#include "engine/routing.h"
#include "io/file_sink.h"
#include "io/file_source.h"
#include "io/output_format.h"
#include "io/output_size.h"
#include "io/promised_frames.h"
#include "io/sound_files.h"
#include "lv2/parameter_messages.h"
#include "engine/parameter_settling.h"
#include "lv2/parameters.h"
#include "lv2/port_connections.h"
#include "lv2/ports.h"
#include "lv2/presets.h"
#include "lv2/world.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>

#include <tonbrix/render.h>

namespace tonbrix::cli {

namespace {

constexpr const char* setting_error_message =
    "Error: the plugin reported an error while taking the --set values.\n";

int online_cores()
{
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores < 1 ? 1 : cores > 1024 ? 1024 : static_cast<int>(cores);
}

// Seconds at the file's rate, rounded to whole frames; absurd lengths are
// held at a bound that no run reaches.
uint64_t tail_frames(double seconds, int rate)
{
    const double frames = std::round(seconds * rate);
    constexpr double bound = 4.0e18;
    return frames >= bound ? static_cast<uint64_t>(bound) : static_cast<uint64_t>(frames);
}

constexpr const char* rf64_note =
    "Note: The output is too long for WAV (4 GiB at most); it is written as RF64.\n";

// True when the output path names a regular file or nothing yet: a file
// whose header libsndfile can go back to and rewrite.
bool output_can_be_rewritten(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode);
}

// Chooses RF64 for a WAV output too long for WAV and refuses an AIFF
// output too long for AIFF, by the input's length and the tail; without a
// known length a WAV output is written as RF64 that becomes WAV again
// when it fits. The refusal's message otherwise.
Status fit_output_to_length(const SF_INFO& info, uint64_t tail, std::size_t channels,
                            EventSink& events, SoundFileSettings& files)
{
    const int format = files.format != 0 ? files.format : info.format;
    const bool length_known =
        info.seekable != 0 && info.frames >= 0 && info.frames != SF_COUNT_MAX;
    if (!length_known) {
        const int type = format & SF_FORMAT_TYPEMASK;
        if ((type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX) &&
            !(files.raw && files.output == "-") && output_can_be_rewritten(files.output)) {
            files.format = rf64_format(format);
            files.rf64_auto_downgrade = true;
        }
        return {};
    }
    switch (fit_output_size(format, static_cast<int>(channels),
                            static_cast<uint64_t>(info.frames) + tail)) {
    case SizeFit::fits:
        return {};
    case SizeFit::rf64:
        files.format = rf64_format(format);
        events.report(EventKind::note, rf64_note);
        return {};
    case SizeFit::too_long:
        break;
    }
    return Error{"Error: The output is too long for AIFF (4 GiB at most); choose CAF, W64 or "
                 "RF64 with --output-format, e.g. --output-format=caf.\n"};
}

// The message when the output's encoding cannot take the run's rate (Opus
// takes five rates; tonbrix does not resample), before anything is opened.
Status refuse_output_rate(int format, int rate)
{
    const std::string refusal = output_rate_refusal(format, rate);
    if (!refusal.empty()) {
        return Error{refusal};
    }
    return {};
}

// Prints the message of a failure on standard error; false for a failure.
bool succeeded(const Status& status)
{
    if (!status) {
        std::fputs(status.error().message.c_str(), stderr);
    }
    return status.ok();
}

// Applies the --parameters items, "symbol:number", comma-separated, in
// order, to the control and CV inputs alike. The message of the first item
// without a colon or with an unknown symbol otherwise.
Status apply_parameters(const std::vector<std::string>& parameters, const LilvPlugin* plugin,
                        const PortIndexLists& lists, std::vector<float>& control_values,
                        std::vector<float>& cv_values)
{
    Status status;
    for_each_item(parameters, [&](std::string_view item) {
        ParameterItem parsed;
        if (!parse_parameter_item(item, parsed)) {
            status = Error{"Error parsing parameters:  Expected colon between port and value.\n"};
            return false;
        }
        status = set_input_value(parsed.symbol, parsed.value, plugin, lists, control_values,
                                 cv_values);
        return status.ok();
    });
    return status;
}

// The instances with their buffers, as a run outside the render drives them.
SettleRun instances_run(const BlockShape& shape, RunBuffers& buffers, const InstanceSet& instances,
                        const World::Impl& lv2)
{
    SettleRun run;
    run.shape = shape;
    run.buffers = &buffers;
    run.instances = &instances.instances;
    run.workers = &instances.worker_of_instance;
    run.urids = &lv2.urids;
    run.log_errors = &instances.features.log.errors;
    return run;
}

// Runs the instances on silence until they are done with what they were
// given (`what`, for the messages): no work scheduled and no control output
// changing for a few blocks. The message when the plugin logs an error or a
// warning on the way, or is still busy after the longest wait.
Status settle_on_silence(const BlockShape& shape, RunBuffers& buffers, const InstanceSet& instances,
                         World::Impl& lv2, double rate, const std::string& what)
{
    constexpr int longest_seconds = 10;
    SettleRun run = instances_run(shape, buffers, instances, lv2);
    run.stop = &stop_signal;
    run.longest_frames = std::max<uint64_t>(static_cast<uint64_t>(longest_seconds * rate),
                                            uint64_t{shape.block_size} * (settle_quiet_blocks + 1));
    switch (settle_parameters(run)) {
    case SettleResult::settled:
    case SettleResult::stopped: // the render ends the run as interrupted
        return {};
    case SettleResult::plugin_error:
        return Error{"Error: the plugin reported an error while taking " + what + ".\n"};
    case SettleResult::unfinished:
        return Error{"Error: the plugin did not finish taking " + what + ": still busy after " +
                     std::to_string(longest_seconds) + " seconds of silence.\n"};
    }
    return {};
}

// Gives the instances the --set values that their restore left, as
// patch:Set messages, and runs them on silence until they have taken every
// value. The message when a value cannot reach the plugin, the plugin logs
// an error or a warning on the way, or is still busy after the longest wait.
Status take_parameter_values(const ParameterPlan& plan, const BlockShape& shape,
                             RunBuffers& buffers, const InstanceSet& instances,
                             const PortIndexLists& lists, World::Impl& lv2, double rate)
{
    if (plan.values.empty()) {
        return {};
    }
    if (instances.setting_errors > 0) {
        return Error{setting_error_message};
    }
    if (!plan.message_values.empty() && !plan.has_message_port) {
        const std::string name(parameter_short_name(plan.message_values.front().uri));
        return Error{"Error: cannot set parameter '" + name +
                     "': the plugin's state restore does not take it and the plugin has no "
                     "control atom input.\n"};
    }
    Status queued = queue_parameter_messages(plan, lists, lv2.urid_table.map_feature(), buffers);
    if (!queued) {
        return queued;
    }
    return settle_on_silence(shape, buffers, instances, lv2, rate, "the --set values");
}

// Runs instances with a worker on silence after a preset was restored, until
// the files it named that they load in the background are in use, as the
// --set values are. The message when the plugin logs an error or a warning
// on the way, or is still busy after the longest wait.
Status settle_preset(const BlockShape& shape, RunBuffers& buffers, const InstanceSet& instances,
                     World::Impl& lv2, double rate)
{
    return settle_on_silence(shape, buffers, instances, lv2, rate, "the preset");
}

// When the audio goes to standard output (raw floats, or a sound file that
// libsndfile streams), it gets a descriptor of its own and descriptor 1
// becomes standard error: what a plugin prints with printf then cannot get
// into the audio. -1 (standard output stays as it is) when the descriptors
// cannot be had.
int audio_descriptor()
{
    std::fflush(stdout);
    const int audio = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (audio >= 0 && ::dup2(STDERR_FILENO, STDOUT_FILENO) >= 0) {
        return audio;
    }
    if (audio >= 0) {
        ::close(audio);
    }
    return -1;
}

// --report-every and --json ask for the report too.
bool wants_report(const RunOptions& options)
{
    return options.report || options.has_report_every || options.json;
}

// The JSON document's stream: standard output's descriptor kept apart from
// descriptor 1, which becomes standard error, so that what a plugin prints
// with printf cannot get into the document. Standard output itself when
// that cannot be done.
FILE* document_stream()
{
    const int fd = audio_descriptor();
    FILE* stream = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (fd >= 0 && stream == nullptr) {
        ::close(fd);
    }
    return stream != nullptr ? stream : stdout;
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

// The input and the output of a run. The output is opened once the plugin
// side knows its channel count.
struct RunFiles {
    SoundFileSettings settings;
    SF_INFO info{};
    SoundFile input{input_close_error};
    SoundFile output{output_close_error};
    int output_format = 0; // the libsndfile format written
    RunRates rates; // the input's, the plugins' (info's, once settled) and the output's
    SF_INFO input_info{}; // the input's own, before the plugins' rate settled `info`

    // Settles the rates: the plugins run at theirs, so `info` takes that
    // rate and the length the input has at it.
    Status settle_rates(const RunOptions& options, bool reads_input)
    {
        if (!reads_input && options.master.plugin_rate > 0) {
            return Error{"Error: --plugin-rate converts the input; without one, -r sets the "
                         "plugins' rate.\n"};
        }
        input_info = info;
        rates = run_rates(options.master, info.samplerate);
        if (rates.plugins != rates.input) {
            if (info.frames > 0 && info.frames != SF_COUNT_MAX) {
                info.frames = static_cast<sf_count_t>(converted_frames(
                    static_cast<uint64_t>(info.frames), rates.input, rates.plugins));
            }
            info.samplerate = rates.plugins;
        }
        return {};
    }

    RunFiles() = default;
    RunFiles(const RunFiles&) = delete;
    RunFiles& operator=(const RunFiles&) = delete;
    // Closes the audio descriptor of "-" when the output was never opened.
    ~RunFiles()
    {
        if (settings.output_fd >= 0) {
            ::close(settings.output_fd);
        }
    }

    // Opens the input and settles the output's format.
    Status open_input(const RunOptions& options)
    {
        if (Status opened = open_input_file(settings, input, info); !opened) {
            return opened;
        }
        settings.strings = read_sound_strings(input.handle);
        if (options.has_output_format) {
            std::string error;
            if (!resolve_output_format(options.output_format_request, info.format,
                                       settings.format, error)) {
                return Error{error};
            }
        }
        output_format = settings.format != 0 ? settings.format : info.format;
        return refuse_output_rate(output_format, info.samplerate);
    }

    // Settles the rate, length and output format of a run without an input
    // file: -r (else 48000 Hz), the MIDI file's length, and the type the
    // output's name says (else WAV) in 32-bit floats where the type holds
    // them, else its natural encoding, unless --output-format says more.
    // The silence has `channels` channels: the audio inputs of the first
    // plugin (which has some only in a run that saves a preset).
    Status settle_without_input(const RunOptions& options, const EventPlan& plan,
                                uint32_t channels)
    {
        info.samplerate = options.rate > 0 ? options.rate : default_instrument_rate;
        info.channels = static_cast<int>(channels);
        info.seekable = 1;
        info.frames = static_cast<sf_count_t>(midi_frames(plan, info.samplerate));
        const int named = type_named_by_extension(options.output);
        info.format = (named != 0 ? named : SF_FORMAT_WAV) | SF_FORMAT_FLOAT;
        std::string error;
        if (!resolve_output_format(options.has_output_format ? options.output_format_request
                                                             : OutputFormatRequest{},
                                   info.format, settings.format, error)) {
            return Error{error};
        }
        output_format = settings.format;
        return refuse_output_rate(output_format, info.samplerate);
    }

    // Opens the output with `channels` channels, unless it is the input,
    // in a type that holds the input and `tail` frames more; warns when
    // the name says another type.
    Status open_output(const RunOptions& options, std::size_t channels, uint64_t tail,
                       EventSink& events)
    {
        // The output has its own rate and the length it has at that rate.
        SF_INFO shaped = info;
        if (rates.output != info.samplerate) {
            if (info.frames > 0 && info.frames != SF_COUNT_MAX) {
                shaped.frames = static_cast<sf_count_t>(converted_frames(
                    static_cast<uint64_t>(info.frames), info.samplerate, rates.output));
            }
            shaped.samplerate = rates.output;
            tail = converted_frames(tail, info.samplerate, rates.output);
        }
        if (Status fit = fit_output_to_length(shaped, tail, channels, events, settings); !fit) {
            return fit;
        }
        output_format = settings.format != 0 ? settings.format : info.format;
        if (options.input != "-" && options.output != "-" &&
            same_existing_file(options.input, options.output)) {
            return Error{"Error: input and output are the same file.\n"};
        }
        // The audio descriptor is the output's from here on, open or not.
        const Status opened =
            open_output_file(settings, shaped, static_cast<int>(channels), output);
        settings.output_fd = -1;
        if (!opened) {
            return opened;
        }
        add_crash_cleanup_path(output.atomic.temp);
        if (!(settings.raw && options.output == "-")) {
            const std::string warning = extension_mismatch_warning(options.output, output.format);
            if (!warning.empty()) {
                events.report(EventKind::warning, warning);
            }
        }
        return {};
    }
};

// The plugin side of a run: its ports, the channel routing, the port
// buffers and the instances. The instances point into the buffers, so the
// destructor tears them down first.
struct PluginRun {
    const LilvPlugin* plugin;
    PortIndexLists lists;
    Routing routing;
    BlockShape shape;
    RunBuffers buffers;
    PortRanges ranges;
    InstanceSet instances;
    const EventPlan* plan = nullptr;

    PluginRun(const LilvPlugin* run_plugin, const EventPlan& event_plan)
        : plugin(run_plugin), plan(&event_plan)
    {
    }
    PluginRun(const PluginRun&) = delete;
    PluginRun& operator=(const PluginRun&) = delete;
    ~PluginRun() { destroy_instances(instances); }

    // Sorts the ports and routes the file's channels to the instances (again,
    // for instances kept from an earlier file, to the same result).
    Status route(const World::Impl& world, const RunOptions& options, uint32_t channels,
                 EventSink& events)
    {
        lists = PortIndexLists{};
        routing = Routing{};
        if (Status scanned = scan_ports(plugin, world.nodes, lists); !scanned) {
            return scanned;
        }
        std::vector<ChannelConnection> connections;
        if (!options.connect.empty()) {
            Result<std::vector<ChannelConnection>> read = read_connections(options.connect);
            if (!read) {
                return read.error();
            }
            connections = std::move(read.value());
        }
        if (Status routed = route_channels(options.connect.empty() ? nullptr : &connections,
                                           options.mono, channels, lists, plugin, events, routing);
            !routed) {
            return routed;
        }
        shape = {static_cast<uint32_t>(options.blocksize), channels,
                 static_cast<uint32_t>(lists.audio_inputs.size()),
                 static_cast<uint32_t>(lists.audio_outputs.size()), routing.instances};
        return {};
    }

    // The output's channel count; false when it is beyond what a file holds.
    bool output_channels(std::size_t& channels) const
    {
        return checked_product({shape.instances, shape.outputs}, channels) && channels <= INT_MAX;
    }

    // The control and CV values of the run, from the port ranges, the preset
    // and --parameters.
    Status set_input_values(const RunOptions& options)
    {
        const std::vector<float> start_values = set_control_start_values(
            lists, ranges.start_values, ranges.minimums, ranges.maximums);
        std::copy(start_values.begin(), start_values.end(), buffers.control_inputs.begin());
        buffers.cv_values =
            set_cv_start_values(lists, ranges.start_values, ranges.minimums, ranges.maximums);
        Status applied = apply_parameters(options.parameters, plugin, lists,
                                          buffers.control_inputs, buffers.cv_values);
        // An automated input starts at its first value, over -p and the preset.
        for (std::size_t a = 0; a < plan->automated.size() && applied; ++a) {
            applied = set_input_value(
                plan->automated_symbols[a],
                static_cast<float>(automation_value(plan->automated[a].points, 0.0)), plugin,
                lists, buffers.control_inputs, buffers.cv_values);
        }
        fill_cv_inputs(options.blocksize, buffers);
        return applied;
    }

    // Allocates the port buffers, then creates, connects and activates the
    // instances with their input values and --set values.
    Status start(World::Impl& world, const RunOptions& options, double sample_rate,
                 InstanceStates& states, EventSink& events)
    {
        if (!allocate_port_buffers(shape, lists, world.urids.atom_Sequence, buffers)) {
            return Error{insufficient_memory_message};
        }
        const InstanceSettings settings{routing.instances, sample_rate, options.blocksize,
                                        &events};
        const ConnectPorts connect = [&](LilvInstance* instance, std::size_t m) {
            connect_instance_ports(lists, instance, m, shape, buffers);
            // Plugins may read their inputs in activate: the values are there
            // before the first activation (the preset is restored by then). A
            // bad --parameters item is reported below, once the instances exist.
            if (m == 0) {
                static_cast<void>(set_input_values(options));
            }
        };
        const bool preset_restored = states.preset != nullptr;
        if (Status created =
                create_instances(world, plugin, settings, states, connect, ranges, instances);
            !created) {
            return created;
        }
        if (Status values = set_input_values(options); !values) {
            return values;
        }
        Status taken = take_parameter_values(states.parameters, shape, buffers, instances, lists,
                                             world, sample_rate);
        // A plugin with a worker may still be loading what the preset named;
        // the --set values' settling waits for that too.
        if (!taken || !preset_restored || !states.parameters.values.empty() ||
            instances.workers.empty()) {
            return taken;
        }
        return settle_preset(shape, buffers, instances, world, sample_rate);
    }

    // The instances with their buffers, as the settling and the reset
    // check drive them.
    SettleRun driven(const World::Impl& world) { return instances_run(shape, buffers, instances, world); }

    // Readies the instances of an earlier file of the same shape for the
    // next one as start readies new ones: fresh port buffers, the input
    // values, activation, then the --set values that go as messages
    // (`parameters` as their creation left it).
    Status restart(World::Impl& world, const RunOptions& options, double sample_rate,
                   const ParameterPlan& parameters, EventSink& events)
    {
        deactivate_instances(instances);
        buffers = RunBuffers{};
        if (!allocate_port_buffers(shape, lists, world.urids.atom_Sequence, buffers)) {
            return Error{insufficient_memory_message};
        }
        reactivate_instances(instances, &events, [&](LilvInstance* instance, std::size_t m) {
            connect_instance_ports(lists, instance, m, shape, buffers);
            if (m == 0) {
                static_cast<void>(set_input_values(options));
            }
        });
        if (Status values = set_input_values(options); !values) {
            return values;
        }
        return take_parameter_values(parameters, shape, buffers, instances, lists, world,
                                     sample_rate);
    }
};

// Everything the creation of a plugin's instances depended on: instances
// made for one key serve any file with the same key.
struct InstanceKey {
    const LilvPlugin* plugin = nullptr;
    int rate = 0;
    int channels = 0;
    int block_size = 0;
    std::vector<std::string> connect;
    bool mono = false;
    bool has_preset = false;
    std::string preset;
    std::vector<std::string> set_values;

    InstanceKey(const PluginSetup& setup, const SF_INFO& info)
        : plugin(setup.plugin), rate(info.samplerate), channels(info.channels),
          block_size(setup.options.blocksize), connect(setup.options.connect),
          mono(setup.options.mono), has_preset(setup.options.has_preset),
          preset(setup.options.preset), set_values(setup.options.set_values)
    {
    }
    bool operator==(const InstanceKey&) const = default;
};

// How long the reset check feeds kept instances noise before they are
// activated again: a delay line up to this long is full of it, so what
// activation leaves shows in the output at once. Then how long it compares
// them with new ones.
constexpr double reset_excite_seconds = 2.0;
constexpr double reset_compare_seconds = 0.25;

// The number of shapes whose instances a worker keeps at once: files of a
// few rates in turn find theirs, and memory stays bounded.
constexpr std::size_t kept_shapes = 4;

uint64_t seconds_frames(double seconds, int rate)
{
    return static_cast<uint64_t>(seconds * rate);
}

} // namespace

// The instances of the last finished run with what they were made for,
// and the --set plan their creation left (the values still to be sent as
// messages).
struct KeptInstances::Kept {
    InstanceKey key;
    std::unique_ptr<PluginRun> run;
    ParameterPlan parameters;
};

KeptInstances::KeptInstances() = default;
KeptInstances::~KeptInstances() = default;

void KeptInstances::release()
{
    kept.clear();
}

namespace {

// Tells whether deactivating and activating the kept instances makes them
// what new ones made for this job would be: the kept instances run on
// noise and are activated again, then must answer more noise exactly as
// new instances do. Many plugins do not clear their delay lines or
// reverb tails when activated; their instances never serve a second file.
// Nothing is reported; false too when either side cannot be readied.
bool activation_resets(World& world, KeptInstances::Kept& kept, PluginSetup& setup,
                       const SF_INFO& info)
{
    World::Impl& lv2 = world.impl();
    NoEvents quiet;
    const double rate = static_cast<double>(info.samplerate);
    PluginRun& used = *kept.run;
    used.plan = &setup.plan;
    // The kept instances report nowhere once the check is over.
    const auto found = [&used](bool resets) {
        report_instances_to(used.instances, nullptr);
        return resets;
    };
    if (!used.restart(lv2, setup.options, rate, kept.parameters, quiet)) {
        return found(false);
    }
    SettleRun excited = used.driven(lv2);
    excited.stop = &stop_signal;
    run_on_noise(excited, seconds_frames(reset_excite_seconds, info.samplerate));
    if (!used.restart(lv2, setup.options, rate, kept.parameters, quiet)) {
        return found(false);
    }
    InstanceStates states;
    PluginRun fresh(setup.plugin, setup.plan);
    const bool ready =
        prepare_plugin_states(world, setup.plugin, setup.options, states).ok() &&
        fresh.route(lv2, setup.options, static_cast<uint32_t>(info.channels), quiet).ok() &&
        fresh.start(lv2, setup.options, rate, states, quiet).ok();
    const bool same = ready && same_response(excited, fresh.driven(lv2),
                                             seconds_frames(reset_compare_seconds,
                                                            info.samplerate));
    return found(same);
}

// Takes the kept plugin side made for this job's key out of `kept`, when
// there is one and it may serve: the first time, the reset check decides
// for the rest of the worker's jobs (and when it fails, nothing is kept).
std::unique_ptr<KeptInstances::Kept> take_kept_instances(World& world, KeptInstances& kept,
                                                         PluginSetup& setup, const SF_INFO& info)
{
    const InstanceKey key(setup, info);
    const auto found = std::find_if(kept.kept.begin(), kept.kept.end(),
                                    [&key](const auto& side) { return side->key == key; });
    if (found == kept.kept.end()) {
        return nullptr;
    }
    std::unique_ptr<KeptInstances::Kept> taken = std::move(*found);
    kept.kept.erase(found);
    if (!kept.checked) {
        kept.checked = true;
        kept.resets = activation_resets(world, *taken, setup, info);
    }
    if (!kept.resets) {
        kept.release();
        return nullptr;
    }
    return taken;
}

} // namespace

namespace {

// One plugin of the run with what reports for it and what it plays: its
// messages carry its position in a chain, its readings are taken around
// its blocks, and its events reach it through its hooks. A plugin side
// taken over from an earlier file (`taken`) comes with the --set plan of
// its creation.
struct RunPlugin {
    PluginSetup& setup;
    const bool reused;
    std::unique_ptr<PluginRun> own;
    PluginRun& run;
    ParameterPlan reused_parameters;
    PositionedEvents events;
    EventRun event_run;
    ReadingRecorder recorder;
    ReadingHooks reading_hooks{recorder};

    RunPlugin(PluginSetup& plugin_setup, EventSink& console_events, std::string prefix,
              std::unique_ptr<PluginRun> taken = nullptr, ParameterPlan taken_parameters = {})
        : setup(plugin_setup), reused(taken != nullptr),
          own(taken ? std::move(taken)
                    : std::make_unique<PluginRun>(plugin_setup.plugin, plugin_setup.plan)),
          run(*own), reused_parameters(std::move(taken_parameters)), events(console_events, std::move(prefix))
    {
        run.plan = &plugin_setup.plan;
    }
    RunPlugin(const RunPlugin&) = delete;
    RunPlugin& operator=(const RunPlugin&) = delete;

    const std::string& prefix() const { return events.prefix(); }
};

using RunPlugins = std::vector<std::unique_ptr<RunPlugin>>;

// Everything a render of the files through the plugins needs: the input as
// a source (or silence), the output as a sink (or nowhere) and a graph of
// one plugin node for each plugin, in chain order.
struct FileRender {
    std::unique_ptr<Source> source;
    const FileSource* file_source = nullptr; // the source when it reads the input file
    std::unique_ptr<Sink> sink;
    MasterStages stages; // around the source and the sink, as the options ask
    Source* run_source = nullptr;
    Sink* run_sink = nullptr;
    Graph graph;
    RenderOptions options;
    RenderCallbacks callbacks;

    FileRender(const RunOptions& run_options, int jobs, const World::Impl& world, RunFiles& files,
               RunPlugins& plugins, Console& console)
    {
        if (files.input.handle != nullptr) {
            auto reader = std::make_unique<FileSource>(files.input.handle,
                                                       static_cast<uint32_t>(files.info.channels));
            file_source = reader.get();
            source = std::move(reader);
        } else {
            source = std::make_unique<SilentSource>(static_cast<uint32_t>(files.info.channels),
                                                    static_cast<uint64_t>(files.info.frames));
        }
        if (files.output.handle != nullptr || files.output.segmented_flac) {
            sink = std::make_unique<FileSink>(sink_settings(files, jobs));
        } else {
            sink = std::make_unique<DiscardSink>();
        }
        run_source = &stages.source(*source, files.rates);
        const bool writes = files.output.handle != nullptr || files.output.segmented_flac;
        run_sink = writes ? &stages.sink(*sink, run_options.master, files.rates,
                                         files.output_format, spill_folder_of(run_options.output),
                                         console.events)
                          : sink.get();
        for (const std::unique_ptr<RunPlugin>& part : plugins) {
            PluginRun& run = part->run;
            PluginInstances plugin =
                plugin_instances(run.shape, run.routing, run.buffers, run.instances, world.urids,
                                 run.lists.latency_output);
            if (BlockHooks* event_hooks = part->event_run.hooks(); event_hooks != nullptr) {
                plugin.hooks.push_back(event_hooks);
            }
            if (run_options.report_every_seconds > 0.0) {
                plugin.hooks.push_back(&part->reading_hooks);
            }
            graph.add(std::make_unique<PluginNode>(plugin));
            callbacks.node_events.push_back(&part->events);
        }

        options.block_size = static_cast<uint32_t>(run_options.blocksize);
        options.jobs = static_cast<unsigned>(std::max(jobs, 1));
        options.compensate_latency = run_options.compensate_latency;
        options.tail_frames = tail_frames(run_options.tail_seconds, files.info.samplerate);
        options.check_clipping = !run_options.ignore_clipping;

        Progress* progress = &console.progress;
        callbacks.events = &console.events;
        callbacks.progress = [progress](uint64_t frames) {
            progress_update_callback(progress, frames);
        };
        callbacks.stop = [] { return stop_signal.load(std::memory_order_relaxed) != 0; };
    }

    static FileSinkSettings sink_settings(const RunFiles& files, int jobs)
    {
        FileSinkSettings settings;
        settings.file = files.output.handle;
        settings.written = files.output.written.fd >= 0 ? &files.output.written : nullptr;
        settings.name = files.output.name;
        settings.pcm16 = (files.output_format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
        settings.fixed_pieces = encoding_depends_on_writes(files.output_format);
        if (files.output.segmented_flac) {
            settings.flac_fd = files.output.atomic.fd;
            settings.flac_info = files.output.encoder_info;
            settings.flac_strings = files.output.encoder_strings;
            settings.flac_threads = static_cast<std::size_t>(std::max(jobs, 1));
        }
        return settings;
    }
};

// The crash line's name for the plugins of the run: the URI, or for a
// chain every URI, "A or B or C", since any of them may have crashed.
std::string crash_name(const std::vector<PluginSetup>& plugins)
{
    std::string name;
    for (const PluginSetup& setup : plugins) {
        name += (name.empty() ? "" : " or ");
        name += lilv_node_as_uri(lilv_plugin_get_uri(setup.plugin));
    }
    return name;
}

// Prints the report of every plugin in chain order: the text lines of each
// after its position, or one JSON document that holds them all. False when
// the readings did not fit in memory.
bool print_reports(const RunOptions& options, const RunPlugins& plugins, uint64_t frames_written,
                   int rate, FILE* stream, const std::optional<Loudness>& loudness)
{
    std::vector<std::vector<Reading>> readings(plugins.size());
    for (std::size_t k = 0; k < plugins.size(); ++k) {
        const RunPlugin& part = *plugins[k];
        if (options.report_every_seconds > 0.0) {
            if (!collect_readings(part.recorder, frames_written, readings[k])) {
                return false;
            }
        } else {
            readings[k].push_back(final_reading(part.run.buffers, frames_written));
        }
    }
    if (options.json) {
        std::vector<PluginReport> reports;
        for (std::size_t k = 0; k < plugins.size(); ++k) {
            const PluginRun& run = plugins[k]->run;
            reports.push_back({lilv_node_as_uri(lilv_plugin_get_uri(run.plugin)),
                               control_output_symbols(run.plugin, run.lists),
                               std::move(readings[k])});
        }
        Json document = report_json(rate, reports);
        if (loudness) {
            document["loudness"] = loudness_json(*loudness);
        }
        write_text(stream, json_text(document));
        return true;
    }
    std::string text;
    for (std::size_t k = 0; k < plugins.size(); ++k) {
        const PluginRun& run = plugins[k]->run;
        const std::vector<std::string> symbols = control_output_symbols(run.plugin, run.lists);
        std::string lines;
        for (const Reading& reading : readings[k]) {
            const std::string time = options.report_every_seconds > 0.0
                                         ? seconds_text(reading.frame, rate) + " "
                                         : std::string();
            lines += reading_text(symbols, reading, time);
        }
        text += with_prefix(plugins[k]->prefix(), lines);
    }
    if (loudness) {
        text += loudness_text(*loudness);
    }
    write_text(stream, text);
    return true;
}

// True for a run that only saves presets: it reads no input and writes no
// output, MIDI file or report.
bool saves_only(const RunOptions& options, const std::vector<PluginSetup>& plugins)
{
    if (!options.run_saves_preset || plugins.front().plan.reads_input ||
        plugins.back().plan.writes_audio || wants_report(options)) {
        return false;
    }
    return std::none_of(plugins.begin(), plugins.end(), [](const PluginSetup& setup) {
        return setup.options.has_midi_out || setup.options.has_midi;
    });
}

// Tells what the loudness normalisation could not do as asked: a gain held
// down by the true-peak ceiling, or silence left as it was.
void report_loudness(const MasterSteps& steps, const LoudnessGain& gain, EventSink& events)
{
    if (!steps.loudness_lufs) {
        return;
    }
    char text[256];
    if (gain.silent) {
        events.report(EventKind::warning,
                      "WARNING: The output is silence to the loudness measurement (below its "
                      "absolute gate); it was written without normalisation.\n");
    } else if (gain.limited) {
        std::snprintf(text, sizeof text,
                      "Note: The true-peak ceiling of %.1f dBTP holds the gain to %.2f dB; the "
                      "output's loudness is %.2f LUFS (target %.2f).\n",
                      steps.ceiling_dbtp, gain.gain_db, gain.reached.integrated_lufs,
                      *steps.loudness_lufs);
        events.report(EventKind::note, text);
    }
}

// Prints a failure about one plugin after its position; false for a failure.
bool plugin_succeeded(const RunPlugin& part, const Status& status)
{
    if (!status) {
        std::fputs(with_prefix(part.prefix(), status.error().message).c_str(), stderr);
    }
    return status.ok();
}

// The latency each instance of a plugin reported, which
// --compensate-latency takes out of its MIDI output as out of the audio.
std::vector<double> midi_latencies(const RunOptions& options, const PluginRun& run)
{
    std::vector<double> latencies;
    if (options.compensate_latency && run.lists.latency_output >= 0) {
        for (const InstanceBuffers& own : run.buffers.instances) {
            latencies.push_back(
                own.control_outputs[static_cast<std::size_t>(run.lists.latency_output)]);
        }
    }
    return latencies;
}

// Starts the progress line when it belongs on the terminal. The frame count
// of a stream that cannot seek is a guess (for raw data from a pipe, the
// largest count that fits). The output has the input's length and the tail.
void start_progress(const RunOptions& options, const SF_INFO& info, uint64_t tail,
                    Progress& progress)
{
    if (progress_wanted(options.quiet)) {
        const bool length_known = info.seekable != 0 && info.frames >= 0;
        progress_start(progress, length_known ? info.frames + static_cast<int64_t>(tail) : -1,
                       info.samplerate);
    }
}

} // namespace

int run_processing(const RunOptions& options, bool raw, World& world,
                   std::vector<PluginSetup>& plugins, FILE* notes, KeptInstances* kept,
                   FILE* report)
{
    install_run_signal_handlers(crash_name(plugins).c_str());
    const int jobs = options.job_count > 0 ? options.job_count : online_cores();
    World::Impl& lv2 = world.impl();
    const EventPlan& first_plan = plugins.front().plan;
    const EventPlan& last_plan = plugins.back().plan;

    // Audio for standard output goes to a descriptor of its own before any
    // plugin code runs, so that nothing a plugin prints can reach it.
    const int audio_fd = options.output == "-" ? audio_descriptor() : -1;

    // Declared in the order they are needed; the plugin side goes first at
    // the end, then the files, then the console its plugins report to.
    Console console(options, notes, report);
    RunFiles files;
    files.settings.output_fd = audio_fd;
    files.settings.input = options.input;
    files.settings.output = options.output;
    files.settings.raw = raw;
    files.settings.rate = options.rate;
    files.settings.channels = options.channels;
    files.settings.segmented_flac = jobs > 1;
    // Without an input the MIDI file sets the length, whichever plugin plays it.
    const EventPlan* midi_plan = &first_plan;
    for (const PluginSetup& setup : plugins) {
        if (setup.plan.midi) {
            midi_plan = &setup.plan;
            break;
        }
    }
    if (!succeeded(first_plan.reads_input ? files.open_input(options)
                                          : files.settle_without_input(options, *midi_plan,
                                                                      first_plan.audio_inputs))) {
        return 1;
    }
    if (!succeeded(files.settle_rates(options, first_plan.reads_input))) {
        return 1;
    }
    // A single plugin takes over the instances an earlier file left when
    // they were made for the same key; other instances are freed first.
    const bool keeping =
        kept != nullptr && plugins.size() == 1 && (!kept->checked || kept->resets);
    if (kept != nullptr && plugins.size() == 1 && !kept->library) {
        kept->library = std::make_unique<LibraryHold>(plugins.front().plugin);
    }
    std::unique_ptr<KeptInstances::Kept> taken =
        keeping ? take_kept_instances(world, *kept, plugins.front(), files.info) : nullptr;
    // Each plugin takes the outputs of the one before it as its channels,
    // routed by the rules of a single run over that many channels.
    RunPlugins chain;
    std::size_t channels = static_cast<std::size_t>(files.info.channels);
    for (std::size_t k = 0; k < plugins.size(); ++k) {
        chain.push_back(std::make_unique<RunPlugin>(
            plugins[k], console.events, position_prefix(k + 1, plugins.size()),
            taken ? std::move(taken->run) : nullptr,
            taken ? std::move(taken->parameters) : ParameterPlan{}));
        taken.reset();
        RunPlugin& part = *chain.back();
        if (!plugin_succeeded(part, part.event_run.open_midi_output(part.setup.options))) {
            return 1;
        }
        // Without an input, or after a plugin that gives only MIDI, there are
        // no channels to route: one instance plays. A run that only saves
        // presets says nothing about its routing.
        const bool routed =
            (k > 0 ? channels > 0 : first_plan.reads_input) && !saves_only(options, plugins);
        NoEvents no_routing_notes;
        if (!plugin_succeeded(part, part.run.route(lv2, part.setup.options,
                                                   static_cast<uint32_t>(channels),
                                                   routed ? static_cast<EventSink&>(part.events)
                                                          : no_routing_notes))) {
            return 1;
        }
        if (!routed && !saves_only(options, plugins)) {
            part.events.report(EventKind::note, "Note: Running 1 instances of the plugin.\n");
        }
        if (!part.run.output_channels(channels)) {
            std::fputs(insufficient_memory_message, stderr);
            return 1;
        }
    }
    const uint64_t tail = tail_frames(options.tail_seconds, files.info.samplerate);
    if (last_plan.writes_audio &&
        !succeeded(files.open_output(options, channels, tail, console.events))) {
        return 1;
    }
    const double rate = static_cast<double>(files.info.samplerate);
    for (std::size_t k = 0; k < chain.size(); ++k) {
        const std::unique_ptr<RunPlugin>& part = chain[k];
        PluginRun& run = part->run;
        const Status started =
            part->reused ? run.restart(lv2, part->setup.options, rate, part->reused_parameters,
                                       part->events)
                         : run.start(lv2, part->setup.options, rate, part->setup.states,
                                     part->events);
        if (!plugin_succeeded(*part, started)) {
            return 1;
        }
        if (const std::string warnings = range_warnings(part->setup.options.parameters,
                                                        part->setup.plan, run.plugin, run.lists,
                                                        run.ranges);
            !warnings.empty()) {
            part->events.report(EventKind::warning, warnings);
        }
        // What the plugin before gives comes from each of its instances.
        const std::size_t given_instances =
            part->setup.plan.midi_from_chain && k > 0 ? chain[k - 1]->run.shape.instances : 0;
        part->event_run.start(part->setup.plan, part->setup.options, lv2, run.lists, run.buffers,
                              run.instances.instances, run.shape.block_size, rate,
                              given_instances);
        // A run without an input ends at a frame known now: an event there
        // or later is outside it, whatever the block size. With latency
        // compensation the output reaches later frames of the plugins.
        if (!first_plan.reads_input && !options.compensate_latency) {
            part->event_run.end_at(static_cast<uint64_t>(files.info.frames) + tail);
        }
        if (options.report_every_seconds > 0.0) {
            start_readings(part->recorder, options.report_every_seconds * files.info.samplerate,
                           run.buffers, run.instances.instances.size());
        }
    }

    FileRender render_files(options, jobs, lv2, files, chain, console);
    start_progress(options, files.info, render_files.options.tail_frames, console.progress);
    const RenderResult rendered = render(*render_files.run_source, render_files.graph,
                                         *render_files.run_sink, render_files.options,
                                         render_files.callbacks);
    const std::optional<LoudnessGain> loudness = render_files.stages.loudness();
    if (rendered.error) {
        progress_clear_callback(&console.progress);
        std::fputs(rendered.error->message.c_str(), stderr);
    }
    const bool finished = rendered.status == RenderStatus::finished;
    progress_finish(console.progress, finished);
    const auto destroy_all = [&chain] {
        for (const std::unique_ptr<RunPlugin>& part : chain) {
            destroy_instances(part->run.instances);
        }
    };
    // The presets are written after the last block and before the output is
    // kept: a save that fails fails the run. They are put in place last.
    std::vector<std::unique_ptr<PresetBundle>> presets(chain.size());
    for (std::size_t k = 0; k < chain.size() && finished; ++k) {
        RunPlugin& part = *chain[k];
        if (!part.setup.preset_target) {
            continue;
        }
        Result<std::unique_ptr<PresetBundle>> saved =
            save_plugin_preset(lv2, part.setup, part.run.instances, part.run.lists,
                               part.run.buffers.control_inputs);
        if (!saved) {
            static_cast<void>(plugin_succeeded(part, saved.error()));
            destroy_all();
            static_cast<void>(close_output_file(files.output, false));
            static_cast<void>(close_input_file(files.input));
            return 1;
        }
        presets[k] = std::move(saved.value());
    }
    // The output's loudness, for the report when asked for.
    std::optional<Loudness> reported_loudness;
    if (finished && loudness) {
        report_loudness(options.master, *loudness, console.events);
        if (options.master.measure_loudness || wants_report(options)) {
            reported_loudness = loudness->reached;
        }
    }
    if (reported_loudness && !wants_report(options)) {
        write_text(console.report, loudness_text(*reported_loudness));
    }
    if (wants_report(options) && finished &&
        !print_reports(options, chain, rendered.frames_written, files.info.samplerate,
                       console.report, reported_loudness)) {
        std::fputs(insufficient_memory_message, stderr);
        destroy_all();
        static_cast<void>(close_output_file(files.output, false));
        static_cast<void>(close_input_file(files.input));
        return 1;
    }

    std::vector<std::vector<double>> latencies;
    for (const std::unique_ptr<RunPlugin>& part : chain) {
        latencies.push_back(midi_latencies(options, part->run));
    }
    if (keeping && finished) {
        // The plugin side stays alive (its object does not move) for what
        // follows here, then waits for the next file.
        RunPlugin& part = *chain.front();
        report_instances_to(part.run.instances, nullptr); // the job's console goes
        if (kept->kept.size() >= kept_shapes) {
            kept->kept.erase(kept->kept.begin());
        }
        kept->kept.push_back(std::make_unique<KeptInstances::Kept>(KeptInstances::Kept{
            InstanceKey(part.setup, files.info), std::move(part.own),
            part.reused ? part.reused_parameters : part.setup.states.parameters}));
    } else {
        destroy_all();
    }
    if (finished) {
        if (const uint64_t leftover = raw_input_leftover(files.settings, files.input);
            leftover > 0) {
            console.events.report(EventKind::warning,
                                  "WARNING: The raw input ended with " + std::to_string(leftover) +
                                      " bytes of an incomplete frame (" +
                                      std::to_string(files.settings.channels * sizeof(float)) +
                                      " bytes each); they were left out.\n");
        }
        if (render_files.file_source != nullptr && !raw) {
            const uint64_t read = render_files.file_source->frames_read();
            const uint64_t promised = promised_frames(files.input.handle, files.input_info);
            if (read < promised) {
                console.events.report(EventKind::warning,
                                      "WARNING: The input file ended after " +
                                          std::to_string(read) + " of the " +
                                          std::to_string(promised) +
                                          " frames its header promised; the rest is missing.\n");
            }
        }
        if (files.settings.rf64_auto_downgrade && output_written_as_rf64(files.output)) {
            console.events.report(EventKind::note, rf64_note);
        }
        for (const std::unique_ptr<RunPlugin>& part : chain) {
            part->event_run.report_leftovers(rendered.frames_written, part->events);
        }
    }
    if (finished && std::any_of(chain.begin(), chain.end(), [](const auto& part) {
            return part->event_run.gives_overflowed();
        })) {
        std::fputs(insufficient_memory_message, stderr);
        static_cast<void>(close_output_file(files.output, false));
        static_cast<void>(close_input_file(files.input));
        return 1;
    }
    bool output_closed = succeeded(close_output_file(files.output, finished));
    for (std::size_t k = 0; k < chain.size() && finished; ++k) {
        output_closed = output_closed &&
                        plugin_succeeded(*chain[k], chain[k]->event_run.write_midi_output(
                                                        rendered.frames_written, latencies[k]));
    }
    for (std::size_t k = 0; k < chain.size() && output_closed; ++k) {
        if (presets[k]) {
            output_closed = plugin_succeeded(*chain[k], presets[k]->commit());
            if (output_closed) {
                chain[k]->events.report(EventKind::note,
                                        saved_preset_note(chain[k]->setup, *presets[k]));
            }
        }
    }
    static_cast<void>(succeeded(close_input_file(files.input)));
    if (rendered.status == RenderStatus::stopped) {
        std::fputs("Interrupted.\n", stderr);
        return 128 + stop_signal;
    }
    return finished && output_closed ? 0 : 1;
}

bool check_block_size(const RunOptions& options)
{
    if (options.blocksize < 1) {
        std::fputs("Error: block size must be at least 1 frame.\n", stderr);
        return false;
    }
    if (options.blocksize > max_block_size) {
        std::fprintf(stderr, "Error: block size must be at most %d frames.\n", max_block_size);
        return false;
    }
    return true;
}

int run_file_job(World& world, const LilvPlugin* plugin, const RunOptions& options, bool raw,
                 const MissingFiles& missing, FILE* notes, KeptInstances* kept, FILE* report)
{
    std::vector<PluginSetup> plugins(1);
    PluginSetup& setup = plugins.front();
    setup.options = options;
    setup.plugin = plugin;
    if (Status prepared = prepare_plugin_states(world, plugin, options, setup.states);
        !prepared || !(prepared = plan_preset_saving(world, setup))) {
        std::fputs(prepared.error().message.c_str(), stderr);
        return 1;
    }
    Result<EventPlan> plan =
        plan_events(options, world.impl(), plugin, !missing.input, !missing.output);
    if (!plan) {
        std::fputs(plan.error().message.c_str(), stderr);
        return 1;
    }
    setup.plan = std::move(plan.value());
    return run_processing(options, raw, world, plugins, notes, kept, report);
}

} // namespace tonbrix::cli
