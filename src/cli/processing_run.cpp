#include "cli/processing_run.h"

#include "cli/progress.h"
#include "cli/signals.h"
#include "engine/plugin_node.h"
#include "engine/report.h"
#include "engine/routing.h"
#include "io/clip_stage.h"
#include "io/file_sink.h"
#include "io/file_source.h"
#include "io/output_format.h"
#include "io/sound_files.h"
#include "lv2/instances.h"
#include "lv2/parameter_messages.h"
#include "lv2/port_connections.h"
#include "lv2/ports.h"
#include "lv2/urid_table.h"
#include "tonbrix/render.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <unistd.h>
#include <cstdio>

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

// Prints a warning of the render on `stream`.
void print_render_event(const tonbrix::Event& event, FILE* stream)
{
    switch (event.kind) {
    case tonbrix::EventKind::clipping:
        std::fputs(clipping_warning, stream);
        break;
    case tonbrix::EventKind::invalid_samples:
        std::fputs(invalid_samples_warning, stream);
        break;
    case tonbrix::EventKind::invalid_latency:
        std::fprintf(stream,
                     "WARNING: The plugin reported an invalid latency (%g); it was taken as 0.\n",
                     event.value);
        break;
    }
}

} // namespace

int run_processing(const RunOptions& options, bool raw, const LilvPlugin* plugin,
                   const UriNodes& nodes, InstanceStates& states)
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
    if (!open_input_file(files, input, info)) {
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

    PortIndexLists lists;
    if (!scan_ports(plugin, nodes, lists)) {
        return 1;
    }

    Routing routing;
    if (route_channels(options.connect, options.mono, channels, lists, plugin, notes, routing) !=
        RouteResult::ok) {
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
    if (!open_output_file(files, info, static_cast<int>(output_channels), output)) {
        return 1;
    }
    set_crash_cleanup_path(output.atomic.temp);

    // Declared before the instances: the plugins point into these buffers
    // until they are freed.
    RunBuffers buffers;
    if (!allocate_port_buffers(shape, lists, buffers)) {
        std::fputs(insufficient_memory_message, stderr);
        return 1;
    }
    // Declared before the instances: their worker clears the line before a
    // trace line.
    Progress progress;
    PortRanges ranges;
    InstanceSet instances;
    const InstanceSettings settings{routing.instances, static_cast<double>(info.samplerate),
                                    options.blocksize, notes, progress_clear_callback,
                                    &progress};
    // The control and CV values of the run, from the port ranges, the preset
    // and --parameters; errors go to `errors` unless it is null.
    const auto set_input_values = [&](FILE* errors) {
        const std::vector<float> start_values = set_control_start_values(
            lists, ranges.start_values, ranges.minimums, ranges.maximums);
        std::copy(start_values.begin(), start_values.end(), buffers.control_inputs.begin());
        buffers.cv_values =
            set_cv_start_values(lists, ranges.start_values, ranges.minimums, ranges.maximums);
        const bool applied = apply_parameters(options.parameters, plugin, lists,
                                              buffers.control_inputs, buffers.cv_values, errors);
        fill_cv_inputs(options.blocksize, buffers);
        return applied;
    };
    const ConnectPorts connect = [&](LilvInstance* instance, std::size_t m) {
        connect_instance_ports(lists, instance, m, shape, buffers);
        // Plugins may read their inputs in activate: the values are there
        // before the first activation (the preset is restored by then). A
        // bad --parameters item is reported below, once the instances exist.
        if (m == 0) {
            set_input_values(nullptr);
        }
    };
    if (!create_instances(plugin, nodes, settings, states, connect, ranges, instances)) {
        return 1;
    }
    if (!set_input_values(stderr)) {
        return 1;
    }
    if (!queue_parameter_messages(states.parameters, lists, buffers)) {
        return 1;
    }

    tonbrix::FileSinkSettings sink_settings;
    sink_settings.file = output.handle;
    sink_settings.pcm16 = (output_format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    if (output.segmented_flac) {
        sink_settings.flac_fd = output.atomic.fd;
        sink_settings.flac_info = output.encoder_info;
        sink_settings.flac_threads = static_cast<std::size_t>(std::max(jobs, 1));
    }
    tonbrix::FileSource source(input.handle, channels);
    tonbrix::FileSink sink(sink_settings);
    tonbrix::PluginInstances plugin_instances;
    plugin_instances.shape = shape;
    plugin_instances.matrix = routing.matrix.data;
    plugin_instances.buffers = &buffers;
    plugin_instances.instances = &instances.instances;
    plugin_instances.sequence_type = urid_map(nullptr, LV2_ATOM__Sequence);
    plugin_instances.chunk_type = urid_map(nullptr, LV2_ATOM__Chunk);
    plugin_instances.latency_output = lists.latency_output;
    tonbrix::Graph graph;
    graph.add(std::make_unique<tonbrix::PluginNode>(plugin_instances));

    tonbrix::RenderOptions render_options;
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
    tonbrix::RenderCallbacks callbacks;
    callbacks.event = [&](const tonbrix::Event& event) {
        progress_clear_callback(&progress);
        print_render_event(event, messages);
    };
    callbacks.progress = [&](uint64_t frames) { progress_update_callback(&progress, frames); };
    callbacks.stop = [] { return stop_signal.load(std::memory_order_relaxed) != 0; };
    const tonbrix::RenderResult rendered = tonbrix::render(source, graph, sink, render_options,
                                                           callbacks);
    if (rendered.error) {
        progress_clear_callback(&progress);
        std::fprintf(stderr, "%s\n", rendered.error->message.c_str());
    }
    const bool finished = rendered.status == tonbrix::RenderStatus::finished;
    progress_finish(progress, finished);
    if (options.report && finished) {
        const std::string report =
            report_text(control_output_symbols(plugin, lists), buffers.instances);
        std::fputs(report.c_str(), messages);
    }

    destroy_instances(instances);
    const bool output_closed = close_output_file(output, finished);
    close_input_file(input);
    if (rendered.status == tonbrix::RenderStatus::stopped) {
        std::fputs("Interrupted.\n", stderr);
        return 128 + stop_signal;
    }
    return finished && output_closed ? 0 : 1;
}
