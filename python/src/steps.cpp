#include "steps.h"

#include "errors.h"

#include <tonbrix/automation.h>

#include <pybind11/stl.h>

#include <string>
#include <utility>

namespace py = pybind11;

namespace tonbrix::python {

namespace {

// The value of `key` in the dict converted, or `fallback` when it is
// missing or None.
template <class T>
T get(const py::dict& step, const char* key, T fallback = T{})
{
    if (!step.contains(key) || step[key].is_none()) {
        return fallback;
    }
    return step[key].cast<T>();
}

// Events of the Python side: a list of (seconds, bytes) with the tempo
// changes and the length.
MidiSequence read_sequence(const py::dict& step)
{
    MidiSequence sequence;
    for (const py::handle event : step["midi_events"].cast<py::list>()) {
        const auto pair = event.cast<py::tuple>();
        const std::string bytes = pair[1].cast<py::bytes>();
        sequence.events.push_back(
            {pair[0].cast<double>(), std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
    }
    for (const auto& [seconds, bpm] :
         get<std::vector<std::pair<double, double>>>(step, "midi_tempo")) {
        sequence.tempo_changes.push_back({seconds, bpm});
    }
    sequence.length_seconds = get<double>(step, "midi_length", 0.0);
    return sequence;
}

} // namespace

Steps read_steps(const py::list& steps)
{
    Steps read;
    for (const py::handle item : steps) {
        const auto step = item.cast<py::dict>();
        PluginStep plugin;
        plugin.uri = step["uri"].cast<std::string>();
        plugin.preset = get<std::optional<std::string>>(step, "preset");
        plugin.controls = get<std::vector<std::pair<std::string, float>>>(step, "controls");
        plugin.set_values = get<std::vector<std::string>>(step, "set_values");
        plugin.connect_items = get<std::vector<std::string>>(step, "connect");
        plugin.mono = get<bool>(step, "mono", false);
        plugin.save_preset = get<std::optional<std::string>>(step, "save_preset");
        plugin.midi_file = get<std::string>(step, "midi_file");
        if (step.contains("midi_events") && !step["midi_events"].is_none()) {
            plugin.midi = read_sequence(step);
        }
        for (const std::string& text : get<std::vector<std::string>>(step, "automation")) {
            plugin.automation.push_back(value_or_raise(parse_automation(text)));
        }
        read.midi_out.push_back(get<bool>(step, "midi_out", false)
                                    ? std::make_unique<MidiSequence>()
                                    : nullptr);
        plugin.midi_out = read.midi_out.back().get();
        read.plugins.push_back(std::move(plugin));
    }
    return read;
}

py::list midi_events_list(const MidiSequence& sequence)
{
    py::list events;
    for (const TimedMidiEvent& event : sequence.events) {
        events.append(py::make_tuple(
            event.seconds,
            py::bytes(reinterpret_cast<const char*>(event.bytes.data()), event.bytes.size())));
    }
    return events;
}

} // namespace tonbrix::python
