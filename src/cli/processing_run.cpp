#include "cli/processing_run.h"

#include "cli/console_events.h"
#include "cli/option_items.h"

#include "engine/plugin_node.h"
#include "io/file_sink.h"
#include "io/file_source.h"
#include "io/output_format.h"
#include "lv2/parameter_messages.h"
#include "lv2/port_connections.h"
#include "lv2/ports.h"
#include "engine/report.h"
#include "engine/routing.h"
#include "io/sound_files.h"
#include "cli/progress.h"
#include "cli/signals.h"

#include <tonbrix/render.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <unistd.h>
#include <cstdio>

namespace tonbrix::cli {

namespace {

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

} // namespace

int run_processing(const RunOptions& options, bool raw, World& world, const LilvPlugin* plugin,
                   InstanceStates& states)
{
    // Standard output carries the audio when the output is "-"; the notes,
    // warnings and report then go to standard error. Quiet runs print no
    // notes (null `notes`).
    FILE* messages = options.output == "-" ? stderr : stdout;
    FILE* notes = options.quiet ? nullptr : messages;
    install_run_signal_handlers(lilv_node_as_uri(lilv_plugin_get_uri(plugin)));

    const int jobs = options.job_count > 0 ? options.job_count : online_cores();
    SoundFileSettings files{options.input, options.output, raw, options.rate, options.channels};
    files.segmented_flac = jobs > 1;
    SF_INFO info{};
    SoundFile input(input_close_error);
    if (!succeeded(open_input_file(files, input, info))) {
        return 1;
    }
    if (options.has_output_format) {
        std::string error;
        if (!resolve_output_format(options.output_format_request, info.format, files.format,
                                   error)) {
            std::fputs(error.c_str(), stderr);
            return 1;
        }
    }
    const int output_format = files.format != 0 ? files.format : info.format;
    const auto channels = static_cast<uint32_t>(info.channels);

    World::Impl& lv2 = world.impl();
    PortIndexLists lists;
    if (!succeeded(scan_ports(plugin, lv2.nodes, lists))) {
        return 1;
    }

    // Declared before the events: a trace line clears the progress line.
    Progress progress;
    ConsoleEvents events(notes, messages, &progress);
    Routing routing;
    std::vector<ChannelConnection> connections;
    if (!options.connect.empty()) {
        Result<std::vector<ChannelConnection>> read = read_connections(options.connect);
        if (!read) {
            std::fputs(read.error().message.c_str(), stderr);
            return 1;
        }
        connections = std::move(read.value());
    }
    if (!succeeded(route_channels(options.connect.empty() ? nullptr : &connections, options.mono,
                                  channels, lists, plugin, events, routing))) {
        return 1;
    }

    const BlockShape shape{static_cast<uint32_t>(options.blocksize), channels,
                           static_cast<uint32_t>(lists.audio_inputs.size()),
                           static_cast<uint32_t>(lists.audio_outputs.size()), routing.instances};
    std::size_t output_channels = 0;
    if (!checked_product({shape.instances, shape.outputs}, output_channels) ||
        output_channels > INT_MAX) {
        std::fputs(insufficient_memory_message, stderr);
        return 1;
    }

    if (options.input != "-" && options.output != "-" &&
        same_existing_file(options.input, options.output)) {
        std::fputs("Error: input and output are the same file.\n", stderr);
        return 1;
    }
    SoundFile output(output_close_error);
    if (!succeeded(open_output_file(files, info, static_cast<int>(output_channels), output))) {
        return 1;
    }
    set_crash_cleanup_path(output.atomic.temp);

    // Declared before the instances: the plugins point into these buffers
    // until they are freed.
    RunBuffers buffers;
    if (!allocate_port_buffers(shape, lists, lv2.urids.atom_Sequence, buffers)) {
        std::fputs(insufficient_memory_message, stderr);
        return 1;
    }
    PortRanges ranges;
    InstanceSet instances;
    const InstanceSettings settings{routing.instances, static_cast<double>(info.samplerate),
                                    options.blocksize, &events};
    // The control and CV values of the run, from the port ranges, the preset
    // and --parameters.
    const auto set_input_values = [&] {
        const std::vector<float> start_values = set_control_start_values(
            lists, ranges.start_values, ranges.minimums, ranges.maximums);
        std::copy(start_values.begin(), start_values.end(), buffers.control_inputs.begin());
        buffers.cv_values =
            set_cv_start_values(lists, ranges.start_values, ranges.minimums, ranges.maximums);
        Status applied = apply_parameters(options.parameters, plugin, lists,
                                          buffers.control_inputs, buffers.cv_values);
        fill_cv_inputs(options.blocksize, buffers);
        return applied;
    };
    const ConnectPorts connect = [&](LilvInstance* instance, std::size_t m) {
        connect_instance_ports(lists, instance, m, shape, buffers);
        // Plugins may read their inputs in activate: the values are there
        // before the first activation (the preset is restored by then). A
        // bad --parameters item is reported below, once the instances exist.
        if (m == 0) {
            static_cast<void>(set_input_values());
        }
    };
    if (!succeeded(create_instances(lv2, plugin, settings, states, connect, ranges, instances)) ||
        !succeeded(set_input_values()) ||
        !succeeded(queue_parameter_messages(states.parameters, lists,
                                            lv2.urid_table.map_feature(), buffers))) {
        return 1;
    }

    FileSinkSettings sink_settings;
    sink_settings.file = output.handle;
    sink_settings.pcm16 = (output_format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    if (output.segmented_flac) {
        sink_settings.flac_fd = output.atomic.fd;
        sink_settings.flac_info = output.encoder_info;
        sink_settings.flac_threads = static_cast<std::size_t>(std::max(jobs, 1));
    }
    FileSource source(input.handle, channels);
    FileSink sink(sink_settings);
    PluginInstances plugin_instances;
    plugin_instances.shape = shape;
    plugin_instances.matrix = routing.matrix.data;
    plugin_instances.buffers = &buffers;
    plugin_instances.instances = &instances.instances;
    plugin_instances.workers = &instances.worker_of_instance;
    plugin_instances.sequence_type = lv2.urids.atom_Sequence;
    plugin_instances.chunk_type = lv2.urids.atom_Chunk;
    plugin_instances.latency_output = lists.latency_output;
    Graph graph;
    graph.add(std::make_unique<PluginNode>(plugin_instances));

    RenderOptions render_options;
    render_options.block_size = static_cast<uint32_t>(options.blocksize);
    render_options.jobs = static_cast<unsigned>(std::max(jobs, 1));
    render_options.compensate_latency = options.compensate_latency;
    render_options.tail_frames = tail_frames(options.tail_seconds, info.samplerate);
    render_options.check_clipping = !options.ignore_clipping;
    // The plugins print lines while they run (the worker's trace): the
    // warnings fall between those lines right after the block they concern.
    render_options.block_at_a_time = notes != nullptr && !instances.workers.empty();
    if (progress_wanted(options.quiet)) {
        // The frame count of a stream that cannot seek is a guess (for raw
        // data from a pipe, the largest count that fits). The output has
        // the input's length and the tail.
        const bool length_known = info.seekable != 0 && info.frames >= 0;
        progress_start(progress,
                       length_known
                           ? info.frames + static_cast<int64_t>(render_options.tail_frames)
                           : -1,
                       info.samplerate);
    }
    RenderCallbacks callbacks;
    callbacks.events = &events;
    callbacks.progress = [&](uint64_t frames) { progress_update_callback(&progress, frames); };
    callbacks.stop = [] { return stop_signal.load(std::memory_order_relaxed) != 0; };
    const RenderResult rendered = render(source, graph, sink, render_options, callbacks);
    if (rendered.error) {
        progress_clear_callback(&progress);
        std::fputs(rendered.error->message.c_str(), stderr);
    }
    const bool finished = rendered.status == RenderStatus::finished;
    progress_finish(progress, finished);
    if (options.report && finished) {
        const std::string report =
            report_text(control_output_symbols(plugin, lists), buffers.instances);
        std::fputs(report.c_str(), messages);
    }

    destroy_instances(instances);
    const bool output_closed = succeeded(close_output_file(output, finished));
    static_cast<void>(succeeded(close_input_file(input)));
    if (rendered.status == RenderStatus::stopped) {
        std::fputs("Interrupted.\n", stderr);
        return 128 + stop_signal;
    }
    return finished && output_closed ? 0 : 1;
}

} // namespace tonbrix::cli
