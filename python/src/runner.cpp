#include "runner.h"

#include "array_sink.h"
#include "collected_events.h"
#include "errors.h"
#include "steps.h"

#include <tonbrix/memory.h>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace tonbrix::python {

namespace {

const char* event_kind_name(EventKind kind)
{
    switch (kind) {
    case EventKind::note:
        return "note";
    case EventKind::warning:
        return "warning";
    case EventKind::plugin_log:
        return "plugin_log";
    case EventKind::worker_trace:
        break;
    }
    return "worker_trace";
}

// The readings of every plugin as Python data: a list of dicts with "uri",
// "symbols" and "readings", a list of (frame, values by instance).
py::list readings_list(const std::vector<PluginReadings>& readings)
{
    py::list list;
    for (const PluginReadings& plugin : readings) {
        py::list taken;
        for (const Reading& reading : plugin.readings) {
            taken.append(py::make_tuple(reading.frame, py::cast(reading.values)));
        }
        py::dict entry;
        entry["uri"] = plugin.uri;
        entry["symbols"] = py::cast(plugin.symbols);
        entry["readings"] = taken;
        list.append(entry);
    }
    return list;
}

// The errors of a failed run as one message, as the command line prints them.
std::string run_message(const RunResult& result)
{
    std::string message;
    for (const RunError& error : result.errors) {
        message += error.error.message;
    }
    if (message.empty() && result.status == RunStatus::stopped) {
        message = "Error: the run was stopped.\n";
    }
    return message;
}

} // namespace

py::dict Runner::run(const py::list& steps, const py::object& audio, int sample_rate,
                     const MemoryRunOptions& options)
{
    Steps read = read_steps(steps);
    // The array stays referenced here while the run reads it in place.
    std::optional<py::array_t<float, py::array::c_style>> input;
    std::optional<MemorySource> source;
    std::size_t frames = 0;
    if (!audio.is_none()) {
        input = py::array_t<float, py::array::c_style>::ensure(audio);
        if (!input || input->ndim() != 2) {
            throw py::type_error("audio must be a C-contiguous (channels, frames) float32 array");
        }
        const auto channels = static_cast<std::size_t>(input->shape(0));
        frames = static_cast<std::size_t>(input->shape(1));
        std::vector<const float*> pointers;
        for (std::size_t c = 0; c < channels; ++c) {
            pointers.push_back(input->data() + c * frames);
        }
        source.emplace(std::move(pointers), frames);
    }
    const double tail = options.tail_seconds.value_or(0.0);
    const std::size_t tail_frames =
        tail > 0 && sample_rate > 0 ? static_cast<std::size_t>(tail * sample_rate) : 0;
    ArraySink sink(frames + tail_frames);
    CollectedEvents events;

    RunSettings settings;
    settings.plugins = std::move(read.plugins);
    settings.source = source ? &*source : nullptr;
    settings.sample_rate = sample_rate;
    settings.sink = options.audio_out ? &sink : nullptr;
    settings.block_size = options.block_size;
    settings.jobs = 1; // one thread per call: Python threads give the parallelism
    settings.tail_seconds = options.tail_seconds;
    settings.compensate_latency = options.compensate_latency;
    settings.check_clipping = options.check_clipping;
    settings.readings = true;
    settings.reading_period_seconds = options.report_every;
    settings.notes = false;
    settings.events = &events;
    settings.preset_folder = options.preset_folder;

    RunResult result;
    std::optional<Error> load_error;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!world_) {
            Result<World> loaded = World::load();
            if (loaded) {
                world_ = std::make_shared<SharedWorld>(std::move(loaded.value()));
            } else {
                load_error = loaded.error();
            }
        }
        if (world_) {
            // A call with reset goes on with instances only where the reset
            // check found that activation gives a new plugin; otherwise it
            // takes new ones, kept for a call without reset after it.
            settings.resume = !options.reset;
            if (options.reset && (!options.reuse || (cache_.checked() && !cache_.resets()))) {
                cache_.release();
                settings.resume = true;
            }
            result = world_->with_world_unlocked(
                [&](World& world) { return tonbrix::run(world, settings, nullptr, &cache_); });
        }
    }
    if (load_error) {
        raise(*load_error);
    }
    if (!result.ok()) {
        const bool no_plugin = !result.errors.empty() &&
                               result.errors.front().error.message.rfind("No such plugin ", 0) == 0;
        raise(run_message(result), no_plugin ? ErrorKind::no_plugin : ErrorKind::general);
    }
    py::dict done;
    done["audio"] = options.audio_out ? py::object(sink.take()) : py::object(py::none());
    done["sample_rate"] = result.sample_rate;
    done["readings"] = readings_list(result.readings);
    py::list midi_out;
    for (const std::unique_ptr<MidiSequence>& sequence : read.midi_out) {
        midi_out.append(sequence ? py::object(midi_events_list(*sequence)) : py::object(py::none()));
    }
    done["midi_out"] = midi_out;
    py::list event_list;
    for (const auto& [kind, text] : events.take()) {
        event_list.append(py::make_tuple(event_kind_name(kind), text));
    }
    done["events"] = event_list;
    return done;
}

void Runner::release()
{
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(mutex_);
    cache_.release();
}

void define_runner(py::module_& module)
{
    py::class_<MemoryRunOptions>(module, "_RunOptions", "Options of one run in memory.")
        .def(py::init<>())
        .def_readwrite("block_size", &MemoryRunOptions::block_size)
        .def_readwrite("tail_seconds", &MemoryRunOptions::tail_seconds)
        .def_readwrite("compensate_latency", &MemoryRunOptions::compensate_latency)
        .def_readwrite("check_clipping", &MemoryRunOptions::check_clipping)
        .def_readwrite("reset", &MemoryRunOptions::reset)
        .def_readwrite("reuse", &MemoryRunOptions::reuse)
        .def_readwrite("audio_out", &MemoryRunOptions::audio_out)
        .def_readwrite("preset_folder", &MemoryRunOptions::preset_folder)
        .def_readwrite("report_every", &MemoryRunOptions::report_every);
    py::class_<Runner>(module, "_Runner", R"(
The native side of a Plugin or Chain: runs plugins over arrays in memory,
one call at a time, keeping a single plugin's instances between calls.)")
        .def(py::init([](std::optional<std::shared_ptr<SharedWorld>> world) {
                 return std::make_unique<Runner>(world ? *world : nullptr);
             }),
             py::arg("world") = py::none())
        .def("run", &Runner::run, py::arg("steps"), py::arg("audio"), py::arg("sample_rate"),
             py::arg("options"), "Runs the plugins; see tonbrix.Plugin.process.")
        .def("release", &Runner::release, "Frees the instances kept between calls.");
}

} // namespace tonbrix::python
