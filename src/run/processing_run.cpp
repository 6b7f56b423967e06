#include "run/processing_run.h"

#include "base/buffers.h"
#include "run/event_run.h"
#include "run/master_steps.h"
#include "run/option_items.h"
#include "run/preset_saving.h"
#include "run/range_warnings.h"
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

namespace tonbrix {

namespace {

constexpr const char* setting_error_message =
    "Error: the plugin reported an error while taking the --set values.\n";


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

// Applies the --parameters items, "symbol:number", comma-separated, in
// order, to the control and CV inputs alike. The message of the first item
// without a colon or with an unknown symbol otherwise.
Status apply_parameters(const PluginStep& step, const LilvPlugin* plugin,
                        const PortIndexLists& lists, std::vector<float>& control_values,
                        std::vector<float>& cv_values)
{
    Status status;
    for (const auto& [symbol, value] : step.controls) {
        status = set_input_value(symbol, value, plugin, lists, control_values, cv_values);
        if (!status) {
            return status;
        }
    }
    const std::vector<std::string>& parameters = step.control_items;
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
                         World::Impl& lv2, double rate, const std::string& what,
                         const std::atomic<int>* stop)
{
    constexpr int longest_seconds = 10;
    SettleRun run = instances_run(shape, buffers, instances, lv2);
    run.stop = stop;
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
                             const PortIndexLists& lists, World::Impl& lv2, double rate,
                             const std::atomic<int>* stop)
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
    return settle_on_silence(shape, buffers, instances, lv2, rate, "the --set values", stop);
}

// Runs instances with a worker on silence after a preset was restored, until
// the files it named that they load in the background are in use, as the
// --set values are. The message when the plugin logs an error or a warning
// on the way, or is still busy after the longest wait.
Status settle_preset(const BlockShape& shape, RunBuffers& buffers, const InstanceSet& instances,
                     World::Impl& lv2, double rate, const std::atomic<int>* stop)
{
    return settle_on_silence(shape, buffers, instances, lv2, rate, "the preset", stop);
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
    Status settle_rates(const RunSettings& options, bool reads_input)
    {
        if (!reads_input && options.plugin_rate > 0) {
            return Error{"Error: --plugin-rate converts the input; without one, -r sets the "
                         "plugins' rate.\n"};
        }
        input_info = info;
        rates = run_rates(options, info.samplerate);
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
    Status open_input(const RunSettings& options)
    {
        if (Status opened = open_input_file(settings, input, info); !opened) {
            return opened;
        }
        settings.strings = read_sound_strings(input.handle);
        if (options.output_format) {
            std::string error;
            if (!resolve_output_format(*options.output_format, info.format,
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
    Status settle_without_input(const RunSettings& options, const EventPlan& plan,
                                uint32_t channels)
    {
        info.samplerate = options.sample_rate > 0 ? options.sample_rate : default_instrument_rate;
        info.channels = static_cast<int>(channels);
        info.seekable = 1;
        info.frames = static_cast<sf_count_t>(midi_frames(plan, info.samplerate));
        return settle_output_format(options);
    }

    // Settles the rate and output format of a run from a source in memory
    // as for a run without an input, its length unknown.
    Status settle_source(const RunSettings& options)
    {
        if (options.sample_rate <= 0) {
            return Error{"Error: a source in memory needs the run's sample rate.\n"};
        }
        info.samplerate = options.sample_rate;
        info.channels = static_cast<int>(options.source->channels());
        info.seekable = 0;
        info.frames = -1;
        return settle_output_format(options);
    }

    // The type the output's name says (else WAV) in 32-bit floats where the
    // type holds them, else its natural encoding, unless the run's output
    // format says more.
    Status settle_output_format(const RunSettings& options)
    {
        const int named = type_named_by_extension(options.output_file);
        info.format = (named != 0 ? named : SF_FORMAT_WAV) | SF_FORMAT_FLOAT;
        std::string error;
        if (!resolve_output_format(options.output_format ? *options.output_format
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
    Status open_output(const RunSettings& options, std::size_t channels, uint64_t tail,
                       EventSink& events, RunObserver& observer)
    {
        // The output has its own rate and the length it has at that rate.
        SF_INFO shaped = info;
        if (rates.output != info.samplerate) {
            if (info.frames > 0 && info.frames != SF_COUNT_MAX) {
                // From the input's own length, as the output's conversion
                // counts it (see MasterStages::sink).
                const bool converted_input = rates.plugins != rates.input &&
                                             input_info.frames > 0 &&
                                             input_info.frames != SF_COUNT_MAX;
                shaped.frames = static_cast<sf_count_t>(
                    converted_input ? converted_frames(static_cast<uint64_t>(input_info.frames),
                                                       rates.input, rates.output)
                                    : converted_frames(static_cast<uint64_t>(info.frames),
                                                       info.samplerate, rates.output));
            }
            shaped.samplerate = rates.output;
            tail = converted_frames(tail, info.samplerate, rates.output);
        }
        if (Status fit = fit_output_to_length(shaped, tail, channels, events, settings); !fit) {
            return fit;
        }
        output_format = settings.format != 0 ? settings.format : info.format;
        if (!options.input_file.empty() && options.input_file != "-" &&
            options.output_file != "-" &&
            same_existing_file(options.input_file, options.output_file)) {
            return Error{"Error: input and output are the same file.\n"};
        }
        // The audio descriptor is the output's from here on, open or not.
        const Status opened =
            open_output_file(settings, shaped, static_cast<int>(channels), output);
        settings.output_fd = -1;
        if (!opened) {
            return opened;
        }
        observer.temporary_file(output.atomic.temp);
        if (!(settings.raw && options.output_file == "-")) {
            const std::string warning =
                extension_mismatch_warning(options.output_file, output.format);
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
    Status route(const World::Impl& world, const PluginStep& step, uint32_t block_size,
                 uint32_t channels, EventSink& events)
    {
        lists = PortIndexLists{};
        routing = Routing{};
        if (Status scanned = scan_ports(plugin, world.nodes, lists); !scanned) {
            return scanned;
        }
        std::vector<ChannelConnection> connections = step.connections;
        if (!step.connect_items.empty()) {
            Result<std::vector<ChannelConnection>> read = read_connections(step.connect_items);
            if (!read) {
                return read.error();
            }
            connections.insert(connections.end(), read.value().begin(), read.value().end());
        }
        const bool connected = !step.connections.empty() || !step.connect_items.empty();
        if (Status routed = route_channels(connected ? &connections : nullptr, step.mono,
                                           channels, lists, plugin, events, routing);
            !routed) {
            return routed;
        }
        shape = {block_size, channels,
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
    Status set_input_values(const PluginStep& step, uint32_t block_size)
    {
        const std::vector<float> start_values = set_control_start_values(
            lists, ranges.start_values, ranges.minimums, ranges.maximums);
        std::copy(start_values.begin(), start_values.end(), buffers.control_inputs.begin());
        buffers.cv_values =
            set_cv_start_values(lists, ranges.start_values, ranges.minimums, ranges.maximums);
        Status applied =
            apply_parameters(step, plugin, lists, buffers.control_inputs, buffers.cv_values);
        // An automated input starts at its first value, over -p and the preset.
        for (std::size_t a = 0; a < plan->automated.size() && applied; ++a) {
            applied = set_input_value(
                plan->automated_symbols[a],
                static_cast<float>(automation_value(plan->automated[a].points, 0.0)), plugin,
                lists, buffers.control_inputs, buffers.cv_values);
        }
        fill_cv_inputs(static_cast<int>(block_size), buffers);
        return applied;
    }

    // Allocates the port buffers, then creates, connects and activates the
    // instances with their input values and --set values.
    Status start(World::Impl& world, const PluginStep& step, double sample_rate,
                 InstanceStates& states, EventSink& events, const std::atomic<int>* stop)
    {
        if (!allocate_port_buffers(shape, lists, world.urids.atom_Sequence, buffers)) {
            return Error{insufficient_memory_message};
        }
        const InstanceSettings settings{routing.instances, sample_rate,
                                        static_cast<int>(shape.block_size), &events};
        const ConnectPorts connect = [&](LilvInstance* instance, std::size_t m) {
            connect_instance_ports(lists, instance, m, shape, buffers);
            // Plugins may read their inputs in activate: the values are there
            // before the first activation (the preset is restored by then). A
            // bad --parameters item is reported below, once the instances exist.
            if (m == 0) {
                static_cast<void>(set_input_values(step, shape.block_size));
            }
        };
        const bool preset_restored = states.preset != nullptr;
        if (Status created =
                create_instances(world, plugin, settings, states, connect, ranges, instances);
            !created) {
            return created;
        }
        if (Status values = set_input_values(step, shape.block_size); !values) {
            return values;
        }
        Status taken = take_parameter_values(states.parameters, shape, buffers, instances, lists,
                                             world, sample_rate, stop);
        // A plugin with a worker may still be loading what the preset named;
        // the --set values' settling waits for that too.
        if (!taken || !preset_restored || !states.parameters.values.empty() ||
            instances.workers.empty()) {
            return taken;
        }
        return settle_preset(shape, buffers, instances, world, sample_rate, stop);
    }

    // Readies the instances an earlier run of the same shape left for a
    // run that goes on from there: their reports go to this run and the
    // input values are set again; nothing else changes.
    Status resume(const PluginStep& step, EventSink& events)
    {
        report_instances_to(instances, &events);
        return set_input_values(step, shape.block_size);
    }

    // The instances with their buffers, as the settling and the reset
    // check drive them.
    SettleRun driven(const World::Impl& world) { return instances_run(shape, buffers, instances, world); }

    // Readies the instances of an earlier file of the same shape for the
    // next one as start readies new ones: fresh port buffers, the input
    // values, activation, then the --set values that go as messages
    // (`parameters` as their creation left it).
    Status restart(World::Impl& world, const PluginStep& step, double sample_rate,
                   const ParameterPlan& parameters, EventSink& events,
                   const std::atomic<int>* stop)
    {
        deactivate_instances(instances);
        buffers = RunBuffers{};
        if (!allocate_port_buffers(shape, lists, world.urids.atom_Sequence, buffers)) {
            return Error{insufficient_memory_message};
        }
        reactivate_instances(instances, &events, [&](LilvInstance* instance, std::size_t m) {
            connect_instance_ports(lists, instance, m, shape, buffers);
            if (m == 0) {
                static_cast<void>(set_input_values(step, shape.block_size));
            }
        });
        if (Status values = set_input_values(step, shape.block_size); !values) {
            return values;
        }
        return take_parameter_values(parameters, shape, buffers, instances, lists, world,
                                     sample_rate, stop);
    }
};

// Everything the creation of a plugin's instances depended on: instances
// made for one key serve any file with the same key.
struct InstanceKey {
    const LilvPlugin* plugin = nullptr;
    int rate = 0;
    int channels = 0;
    uint32_t block_size = 0;
    std::vector<ChannelConnection> connections;
    std::vector<std::string> connect_items;
    bool mono = false;
    std::optional<std::string> preset;
    std::vector<std::string> set_values;

    InstanceKey(const PluginSetup& setup, const SF_INFO& info, uint32_t run_block_size)
        : plugin(setup.plugin), rate(info.samplerate), channels(info.channels),
          block_size(run_block_size), connections(setup.step->connections),
          connect_items(setup.step->connect_items), mono(setup.step->mono),
          preset(setup.step->preset), set_values(setup.step->set_values)
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
struct InstanceCache::Impl::Kept {
    InstanceKey key;
    std::unique_ptr<PluginRun> run;
    ParameterPlan parameters;
};

InstanceCache::Impl::Impl() = default;
InstanceCache::Impl::~Impl() = default;

void InstanceCache::Impl::release()
{
    kept.clear();
}

namespace {

using Kept = InstanceCache::Impl::Kept;

// Tells whether deactivating and activating the kept instances makes them
// what new ones made for this run would be: the kept instances run on
// noise and are activated again, then must answer more noise exactly as
// new instances do. Many plugins do not clear their delay lines or
// reverb tails when activated; their instances never serve a second file.
// Nothing is reported; false too when either side cannot be readied.
bool activation_resets(World& world, Kept& kept, PluginSetup& setup, const SF_INFO& info,
                       uint32_t block_size, const std::atomic<int>* stop)
{
    World::Impl& lv2 = WorldAccess::impl(world);
    NoEvents quiet;
    const double rate = static_cast<double>(info.samplerate);
    PluginRun& used = *kept.run;
    used.plan = &setup.plan;
    // The kept instances report nowhere once the check is over.
    const auto found = [&used](bool resets) {
        report_instances_to(used.instances, nullptr);
        return resets;
    };
    if (!used.restart(lv2, *setup.step, rate, kept.parameters, quiet, stop)) {
        return found(false);
    }
    SettleRun excited = used.driven(lv2);
    excited.stop = stop;
    run_on_noise(excited, seconds_frames(reset_excite_seconds, info.samplerate));
    if (!used.restart(lv2, *setup.step, rate, kept.parameters, quiet, stop)) {
        return found(false);
    }
    InstanceStates states;
    PluginRun fresh(setup.plugin, setup.plan);
    const bool ready =
        prepare_plugin_states(world, setup.plugin, *setup.step, block_size, states).ok() &&
        fresh.route(lv2, *setup.step, block_size, static_cast<uint32_t>(info.channels), quiet)
            .ok() &&
        fresh.start(lv2, *setup.step, rate, states, quiet, stop).ok();
    const bool same = ready && same_response(excited, fresh.driven(lv2),
                                             seconds_frames(reset_compare_seconds,
                                                            info.samplerate));
    return found(same);
}

// Takes the kept plugin side made for this run's key out of `kept` as it
// is, for a run that goes on from it; none when there is none.
std::unique_ptr<Kept> take_kept_as_left(InstanceCache::Impl& kept, const PluginSetup& setup,
                                        const SF_INFO& info, uint32_t block_size)
{
    const InstanceKey key(setup, info, block_size);
    const auto found = std::find_if(kept.kept.begin(), kept.kept.end(),
                                    [&key](const auto& side) { return side->key == key; });
    if (found == kept.kept.end()) {
        return nullptr;
    }
    std::unique_ptr<Kept> taken = std::move(*found);
    kept.kept.erase(found);
    return taken;
}

// Takes the kept plugin side made for this run's key out of `kept`, when
// there is one and it may serve: the first time, the reset check decides
// for the rest of the cache's runs (and when it fails, nothing is kept).
std::unique_ptr<Kept> take_kept_instances(World& world, InstanceCache::Impl& kept,
                                          PluginSetup& setup, const SF_INFO& info,
                                          uint32_t block_size, const std::atomic<int>* stop)
{
    std::unique_ptr<Kept> taken = take_kept_as_left(kept, setup, info, block_size);
    if (!taken) {
        return nullptr;
    }
    if (!kept.checked) {
        kept.checked = true;
        kept.resets = activation_resets(world, *taken, setup, info, block_size, stop);
    }
    if (!kept.resets) {
        kept.release();
        return nullptr;
    }
    return taken;
}

// Passes every event on to the step's own sink, else the run's.
EventSink& step_events(const PluginStep& step, EventSink& run_events)
{
    return step.events != nullptr ? *step.events : run_events;
}

// One plugin of the run with what reports for it and what it plays: its
// events go to its step's sink, its readings are taken around its blocks,
// and its events reach it through its hooks. A plugin side taken over from
// an earlier run (`taken`) comes with the --set plan of its creation.
struct RunPlugin {
    PluginSetup& setup;
    const bool reused;
    bool resumed = false; // the side goes on as an earlier run left it
    std::unique_ptr<PluginRun> own;
    PluginRun& run;
    ParameterPlan reused_parameters;
    EventSink& events;
    EventRun event_run;
    ReadingRecorder recorder;
    ReadingHooks reading_hooks{recorder};

    RunPlugin(PluginSetup& plugin_setup, EventSink& run_events,
              std::unique_ptr<PluginRun> taken = nullptr, ParameterPlan taken_parameters = {})
        : setup(plugin_setup), reused(taken != nullptr),
          own(taken ? std::move(taken)
                    : std::make_unique<PluginRun>(plugin_setup.plugin, plugin_setup.plan)),
          run(*own), reused_parameters(std::move(taken_parameters)),
          events(step_events(*plugin_setup.step, run_events))
    {
        run.plan = &plugin_setup.plan;
    }
    RunPlugin(const RunPlugin&) = delete;
    RunPlugin& operator=(const RunPlugin&) = delete;
};

using RunPlugins = std::vector<std::unique_ptr<RunPlugin>>;

// Tells the observer of the render's progress from the writer's thread.
struct ObservedProgress {
    RunObserver* observer;
    void operator()(uint64_t frames) const { observer->progress(frames); }
};

// Everything a render through the plugins needs: the input as a source (or
// silence), the output as a sink (or nowhere) and a graph of one plugin
// node for each plugin, in chain order.
struct FileRender {
    std::unique_ptr<Source> own_source;
    const FileSource* file_source = nullptr; // the source when it reads the input file
    std::unique_ptr<Sink> own_sink;
    Source* source = nullptr; // the input, before the stages
    Sink* sink = nullptr;     // the output, after the stages
    MasterStages stages;      // around the source and the sink, as the settings ask
    Source* run_source = nullptr;
    Sink* run_sink = nullptr;
    Graph graph;
    RenderOptions options;
    RenderCallbacks callbacks;

    FileRender(const RunSettings& settings, unsigned jobs, const World::Impl& world,
               RunFiles& files, RunPlugins& plugins, EventSink& events, RunObserver& observer)
    {
        if (settings.source != nullptr) {
            source = settings.source;
        } else if (files.input.handle != nullptr) {
            auto reader = std::make_unique<FileSource>(files.input.handle,
                                                       static_cast<uint32_t>(files.info.channels));
            file_source = reader.get();
            own_source = std::move(reader);
        } else {
            own_source = std::make_unique<SilentSource>(
                static_cast<uint32_t>(files.info.channels), static_cast<uint64_t>(files.info.frames));
        }
        if (source == nullptr) {
            source = own_source.get();
        }
        if (settings.sink != nullptr) {
            sink = settings.sink;
        } else if (files.output.handle != nullptr || files.output.segmented_flac) {
            own_sink = std::make_unique<FileSink>(sink_settings(files, jobs));
        } else {
            own_sink = std::make_unique<DiscardSink>();
        }
        if (sink == nullptr) {
            sink = own_sink.get();
        }
        run_source = &stages.source(*source, files.rates);
        const bool writes = settings.sink != nullptr || files.output.handle != nullptr ||
                            files.output.segmented_flac;
        run_sink = writes ? &stages.sink(*sink, settings, files.rates, files.output_format,
                                         spill_folder_of(settings.output_file), events)
                          : sink;
        for (const std::unique_ptr<RunPlugin>& part : plugins) {
            PluginRun& run = part->run;
            PluginInstances plugin =
                plugin_instances(run.shape, run.routing, run.buffers, run.instances, world.urids,
                                 run.lists.latency_output);
            if (BlockHooks* event_hooks = part->event_run.hooks(); event_hooks != nullptr) {
                plugin.hooks.push_back(event_hooks);
            }
            if (settings.reading_period_seconds > 0.0) {
                plugin.hooks.push_back(&part->reading_hooks);
            }
            graph.add(std::make_unique<PluginNode>(plugin));
            callbacks.node_events.push_back(&part->events);
        }

        options.block_size = settings.block_size;
        options.jobs = jobs;
        options.compensate_latency = settings.compensate_latency;
        options.tail_frames =
            tail_frames(settings.tail_seconds.value_or(0.0), files.info.samplerate);
        options.check_clipping = settings.check_clipping;

        callbacks.events = &stages.events(events);
        callbacks.progress = ObservedProgress{&observer};
        const StopRequest* stop = settings.stop;
        callbacks.stop = [stop] { return stop != nullptr && stop->requested(); };
    }

    static FileSinkSettings sink_settings(const RunFiles& files, unsigned jobs)
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
            settings.flac_threads = std::max<std::size_t>(jobs, 1);
        }
        return settings;
    }
};

// The readings of every plugin in chain order: at the end, or over time.
// False when the readings did not fit in memory.
bool take_readings(const RunSettings& settings, const RunPlugins& plugins,
                   uint64_t frames_written, std::vector<PluginReadings>& taken)
{
    for (const std::unique_ptr<RunPlugin>& part : plugins) {
        PluginReadings readings;
        readings.uri = lilv_node_as_uri(lilv_plugin_get_uri(part->run.plugin));
        readings.symbols = control_output_symbols(part->run.plugin, part->run.lists);
        if (settings.reading_period_seconds > 0.0) {
            if (!collect_readings(part->recorder, frames_written, readings.readings)) {
                return false;
            }
        } else {
            readings.readings.push_back(final_reading(part->run.buffers, frames_written));
        }
        taken.push_back(std::move(readings));
    }
    return true;
}

// True for a run that only saves presets: it reads no input and writes no
// output, MIDI output or readings.
bool saves_only(const RunSettings& settings, const std::vector<PluginSetup>& plugins)
{
    if (!saves_presets(settings) || plugins.front().plan.reads_input ||
        plugins.back().plan.writes_audio || settings.readings) {
        return false;
    }
    return std::none_of(plugins.begin(), plugins.end(), [](const PluginSetup& setup) {
        return takes_midi_output(*setup.step) || !setup.step->midi_file.empty() ||
               setup.step->midi.has_value();
    });
}

// Tells what the loudness normalisation could not do as asked: a gain held
// down by the true-peak ceiling, or silence left as it was.
void report_loudness(const RunSettings& settings, const LoudnessGain& gain, EventSink& events)
{
    if (!settings.loudness_lufs) {
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
                      settings.true_peak_dbtp, gain.gain_db, gain.reached.integrated_lufs,
                      *settings.loudness_lufs);
        events.report(EventKind::note, text);
    }
}

// The latency each instance of a plugin reported, which compensation takes
// out of its MIDI output as out of the audio.
std::vector<double> midi_latencies(const RunSettings& settings, const PluginRun& run)
{
    std::vector<double> latencies;
    if (settings.compensate_latency && run.lists.latency_output >= 0) {
        for (const InstanceBuffers& own : run.buffers.instances) {
            latencies.push_back(
                own.control_outputs[static_cast<std::size_t>(run.lists.latency_output)]);
        }
    }
    return latencies;
}

// The expected output length for the progress: the input's length and the
// tail; -1 for a stream that cannot seek.
int64_t expected_frames(const SF_INFO& info, uint64_t tail)
{
    const bool length_known = info.seekable != 0 && info.frames >= 0;
    return length_known ? info.frames + static_cast<int64_t>(tail) : -1;
}

unsigned online_cores()
{
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores < 1 ? 1 : cores > 1024 ? 1024 : static_cast<unsigned>(cores);
}

// Collects a run's errors in the order they come.
struct Errors {
    RunResult& result;

    // Adds a failure; false for a failure.
    bool check(const Status& status, std::optional<std::size_t> step = std::nullopt)
    {
        if (!status) {
            result.errors.push_back({status.error(), step});
        }
        return status.ok();
    }
};

} // namespace

RunResult run_processing(World& world, const RunSettings& settings,
                         std::vector<PluginSetup>& plugins, RunObserver& observer,
                         InstanceCache::Impl* kept)
{
    RunResult result;
    Errors errors{result};
    const unsigned jobs = settings.jobs > 0 ? settings.jobs : online_cores();
    World::Impl& lv2 = WorldAccess::impl(world);
    NoEvents no_events;
    EventSink& events = settings.events != nullptr ? *settings.events : no_events;
    static const std::atomic<int> never{0};
    const std::atomic<int>* stop = settings.stop != nullptr ? &settings.stop->flag() : &never;
    const EventPlan& first_plan = plugins.front().plan;
    const EventPlan& last_plan = plugins.back().plan;

    // Audio for standard output goes to a descriptor of its own before any
    // plugin code runs, so that nothing a plugin prints can reach it.
    const int audio_fd =
        settings.output_file == "-" && settings.sink == nullptr ? audio_descriptor() : -1;

    // Declared in the order they are needed; the plugin side goes first at
    // the end, then the files.
    RunFiles files;
    files.settings.output_fd = audio_fd;
    files.settings.input = settings.input_file;
    files.settings.output = settings.output_file;
    files.settings.raw = settings.raw;
    files.settings.rate = settings.sample_rate;
    files.settings.channels = settings.channels;
    files.settings.segmented_flac = jobs > 1 && settings.sink == nullptr;
    // Without an input the MIDI file sets the length, whichever plugin plays it.
    const EventPlan* midi_plan = &first_plan;
    for (const PluginSetup& setup : plugins) {
        if (setup.plan.midi) {
            midi_plan = &setup.plan;
            break;
        }
    }
    const Status opened =
        settings.source != nullptr ? files.settle_source(settings)
        : first_plan.reads_input
            ? files.open_input(settings)
            : files.settle_without_input(settings, *midi_plan, first_plan.audio_inputs);
    if (!errors.check(opened)) {
        return result;
    }
    if (!errors.check(files.settle_rates(settings, first_plan.reads_input))) {
        return result;
    }
    result.sample_rate = files.rates.output;
    // A single plugin takes over the instances an earlier run left when
    // they were made for the same key; other instances are freed first.
    // A run that resumes goes on with them as they were left.
    const bool resuming = kept != nullptr && plugins.size() == 1 && settings.resume;
    const bool keeping = kept != nullptr && plugins.size() == 1 &&
                         (resuming || !kept->checked || kept->resets);
    if (kept != nullptr && plugins.size() == 1 && !kept->library) {
        kept->library = std::make_unique<LibraryHold>(plugins.front().plugin);
    }
    std::unique_ptr<Kept> taken =
        resuming  ? take_kept_as_left(*kept, plugins.front(), files.info, settings.block_size)
        : keeping ? take_kept_instances(world, *kept, plugins.front(), files.info,
                                        settings.block_size, stop)
                  : nullptr;
    const bool resumed = resuming && taken != nullptr;
    // Each plugin takes the outputs of the one before it as its channels,
    // routed by the rules of a single run over that many channels.
    RunPlugins chain;
    std::size_t channels = static_cast<std::size_t>(files.info.channels);
    for (std::size_t k = 0; k < plugins.size(); ++k) {
        chain.push_back(std::make_unique<RunPlugin>(
            plugins[k], events, taken ? std::move(taken->run) : nullptr,
            taken ? std::move(taken->parameters) : ParameterPlan{}));
        taken.reset();
        RunPlugin& part = *chain.back();
        part.resumed = resumed;
        if (!errors.check(part.event_run.open_midi_output(*part.setup.step, observer), k)) {
            return result;
        }
        // Without an input, or after a plugin that gives only MIDI, there are
        // no channels to route: one instance plays. A run that only saves
        // presets says nothing about its routing.
        const bool routed =
            (k > 0 ? channels > 0 : first_plan.reads_input) && !saves_only(settings, plugins);
        NoEvents no_routing_notes;
        if (!errors.check(part.run.route(lv2, *part.setup.step, settings.block_size,
                                         static_cast<uint32_t>(channels),
                                         routed ? part.events : no_routing_notes),
                          k)) {
            return result;
        }
        if (!routed && !saves_only(settings, plugins)) {
            part.events.report(EventKind::note, "Note: Running 1 instances of the plugin.\n");
        }
        if (!part.run.output_channels(channels)) {
            errors.check(Error{insufficient_memory_message});
            return result;
        }
    }
    const uint64_t tail = tail_frames(settings.tail_seconds.value_or(0.0), files.info.samplerate);
    if (last_plan.writes_audio && settings.sink == nullptr &&
        !errors.check(files.open_output(settings, channels, tail, events, observer))) {
        return result;
    }
    const double rate = static_cast<double>(files.info.samplerate);
    for (std::size_t k = 0; k < chain.size(); ++k) {
        RunPlugin& part = *chain[k];
        PluginRun& run = part.run;
        const Status started =
            part.resumed ? run.resume(*part.setup.step, part.events)
            : part.reused
                ? run.restart(lv2, *part.setup.step, rate, part.reused_parameters, part.events,
                              stop)
                : run.start(lv2, *part.setup.step, rate, part.setup.states, part.events, stop);
        if (!errors.check(started, k)) {
            return result;
        }
        if (const std::string warnings =
                range_warnings(*part.setup.step, part.setup.plan, run.plugin, run.lists,
                               run.ranges);
            !warnings.empty()) {
            part.events.report(EventKind::warning, warnings);
        }
        // What the plugin before gives comes from each of its instances.
        const std::size_t given_instances =
            part.setup.plan.midi_from_chain && k > 0 ? chain[k - 1]->run.shape.instances : 0;
        part.event_run.start(part.setup.plan, *part.setup.step, lv2, run.lists, run.buffers,
                             run.instances.instances, run.shape.block_size, rate,
                             given_instances);
        // A run without an input ends at a frame known now: an event there
        // or later is outside it, whatever the block size. With latency
        // compensation the output reaches later frames of the plugins.
        if (!first_plan.reads_input && settings.source == nullptr &&
            !settings.compensate_latency) {
            part.event_run.end_at(static_cast<uint64_t>(files.info.frames) + tail);
        }
        if (settings.reading_period_seconds > 0.0) {
            start_readings(part.recorder, settings.reading_period_seconds * files.info.samplerate,
                           run.buffers, run.instances.instances.size());
        }
    }

    FileRender render_files(settings, jobs, lv2, files, chain, events, observer);
    observer.render_starting(expected_frames(files.info, render_files.options.tail_frames),
                             files.info.samplerate);
    const RenderResult rendered = render(*render_files.run_source, render_files.graph,
                                         *render_files.run_sink, render_files.options,
                                         render_files.callbacks);
    const std::optional<LoudnessGain> loudness = render_files.stages.loudness();
    if (rendered.error) {
        errors.check(*rendered.error);
    }
    const bool finished = rendered.status == RenderStatus::finished;
    observer.render_ended(finished);
    result.frames_written = rendered.frames_written;
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
            errors.check(saved.error(), k);
            destroy_all();
            static_cast<void>(close_output_file(files.output, false));
            static_cast<void>(close_input_file(files.input));
            return result;
        }
        presets[k] = std::move(saved.value());
    }
    // The output's loudness, for the readings or alone when asked for.
    if (finished && loudness) {
        report_loudness(settings, *loudness, events);
        if (settings.measure_loudness || settings.readings) {
            result.loudness = loudness->reached;
            observer.loudness_measured(*result.loudness);
        }
    }
    if (settings.readings && finished) {
        if (!take_readings(settings, chain, rendered.frames_written, result.readings)) {
            errors.check(Error{insufficient_memory_message});
            destroy_all();
            static_cast<void>(close_output_file(files.output, false));
            static_cast<void>(close_input_file(files.input));
            return result;
        }
        observer.readings_taken(result.readings);
    }

    std::vector<std::vector<double>> latencies;
    for (const std::unique_ptr<RunPlugin>& part : chain) {
        latencies.push_back(midi_latencies(settings, part->run));
    }
    if (keeping && finished) {
        // The plugin side stays alive (its object does not move) for what
        // follows here, then waits for the next run.
        RunPlugin& part = *chain.front();
        report_instances_to(part.run.instances, nullptr); // the run's events go
        if (kept->kept.size() >= kept_shapes) {
            kept->kept.erase(kept->kept.begin());
        }
        kept->kept.push_back(std::make_unique<Kept>(
            Kept{InstanceKey(part.setup, files.info, settings.block_size), std::move(part.own),
                 part.reused ? part.reused_parameters : part.setup.states.parameters}));
    } else {
        destroy_all();
    }
    if (finished) {
        if (const uint64_t leftover = raw_input_leftover(files.settings, files.input);
            leftover > 0) {
            events.report(EventKind::warning,
                          "WARNING: The raw input ended with " + std::to_string(leftover) +
                              " bytes of an incomplete frame (" +
                              std::to_string(files.settings.channels * sizeof(float)) +
                              " bytes each); they were left out.\n");
        }
        if (render_files.file_source != nullptr && !settings.raw) {
            const uint64_t read = render_files.file_source->frames_read();
            const uint64_t promised = promised_frames(files.input.handle, files.input_info);
            if (read < promised) {
                events.report(EventKind::warning,
                              "WARNING: The input file ended after " + std::to_string(read) +
                                  " of the " + std::to_string(promised) +
                                  " frames its header promised; the rest is missing.\n");
            }
        }
        if (files.settings.rf64_auto_downgrade && output_written_as_rf64(files.output)) {
            events.report(EventKind::note, rf64_note);
        }
        for (const std::unique_ptr<RunPlugin>& part : chain) {
            part->event_run.report_leftovers(rendered.frames_written, part->events);
        }
    }
    if (finished && std::any_of(chain.begin(), chain.end(), [](const auto& part) {
            return part->event_run.gives_overflowed();
        })) {
        errors.check(Error{insufficient_memory_message});
        static_cast<void>(close_output_file(files.output, false));
        static_cast<void>(close_input_file(files.input));
        return result;
    }
    bool output_closed = errors.check(close_output_file(files.output, finished));
    for (std::size_t k = 0; k < chain.size() && finished; ++k) {
        output_closed = output_closed &&
                        errors.check(chain[k]->event_run.write_midi_output(
                                         rendered.frames_written, latencies[k]),
                                     k);
    }
    for (std::size_t k = 0; k < chain.size() && output_closed; ++k) {
        if (presets[k]) {
            output_closed = errors.check(presets[k]->commit(), k);
            if (output_closed) {
                chain[k]->events.report(EventKind::note,
                                        saved_preset_note(*chain[k]->setup.step, *presets[k]));
            }
        }
    }
    static_cast<void>(errors.check(close_input_file(files.input)));
    result.status = rendered.status == RenderStatus::stopped ? RunStatus::stopped
                    : finished && output_closed           ? RunStatus::finished
                                                          : RunStatus::failed;
    return result;
}

} // namespace tonbrix
