#include "run/event_plan.h"

#include "lv2/ports.h"
#include "lv2/transport.h"

#include <tonbrix/number_text.h>

#include <algorithm>
#include <cmath>

namespace tonbrix {

namespace {

uint32_t audio_ports(const LilvPlugin* plugin, const UriNodes& nodes, const LilvNode* direction)
{
    return lilv_plugin_get_num_ports_of_class(plugin, nodes.audio_port.get(), direction, nullptr);
}

bool contains(const std::vector<uint32_t>& indices, uint32_t index)
{
    for (uint32_t i : indices) {
        if (i == index) {
            return true;
        }
    }
    return false;
}

// The automated port that `automation` names, or the reason it cannot be.
Result<AutomatedPort> automated_port(const Automation& automation, std::string_view text,
                                     const LilvPlugin* plugin, const UriNodes& nodes,
                                     const PortIndexLists& lists, LilvWorld* lilv)
{
    const auto fail = [&](const std::string& what) {
        return Error{"Error: invalid --automate value '" + std::string(text) + "': " + what +
                     "\n"};
    };
    NodePtr symbol(lilv_new_string(lilv, automation.symbol.c_str()));
    const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin, symbol.get());
    if (port == nullptr) {
        return fail("the plugin has no port '" + automation.symbol +
                    "'; --nameports lists its control inputs");
    }
    const uint32_t index = lilv_port_get_index(plugin, port);
    if (lilv_port_is_a(plugin, port, nodes.output_port.get())) {
        return fail("'" + automation.symbol +
                    "' is an output; only control and CV inputs can be automated");
    }
    const bool cv = contains(lists.cv_inputs, index);
    if (!cv && !contains(lists.control_inputs, index)) {
        return fail("'" + automation.symbol +
                    "' is not a control or CV input; only those can be automated");
    }
    return AutomatedPort{index, cv, automation.points};
}

// The automation as --automate would give it, for messages.
std::string automation_text(const Automation& automation)
{
    if (!automation.text.empty()) {
        return automation.text;
    }
    std::string text = automation.symbol;
    char separator = ':';
    for (const AutomationPoint& point : automation.points) {
        text += separator;
        text += double_text(point.seconds);
        text += '=';
        text += double_text(point.value);
        separator = ',';
    }
    return text;
}

} // namespace

std::string plugin_title(const LilvPlugin* plugin)
{
    const std::string uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
    LilvNode* name = lilv_plugin_get_name(plugin);
    const std::string text = name != nullptr ? lilv_node_as_string(name) : uri;
    lilv_node_free(name);
    return "'" + text + "' (" + uri + ")";
}

Result<EventPorts> plugin_event_ports(World::Impl& world, const LilvPlugin* plugin)
{
    PortIndexLists lists;
    if (Status scanned = scan_ports(plugin, world.nodes, lists); !scanned) {
        return scanned.error();
    }
    return find_event_ports(world.lilv.get(), plugin, lists);
}

bool files_may_be_left_out(const LilvPlugin* plugin, const UriNodes& nodes, bool midi_out,
                           bool has_input, bool has_output)
{
    if (!has_input && audio_ports(plugin, nodes, nodes.input_port.get()) > 0) {
        return false;
    }
    return has_output || midi_out ||
           audio_ports(plugin, nodes, nodes.output_port.get()) == 0;
}

std::string missing_output_message(const LilvPlugin* plugin, World::Impl& world, bool has_input)
{
    if (!has_input && audio_ports(plugin, world.nodes, world.nodes.input_port.get()) > 0) {
        return {};
    }
    PortIndexLists lists;
    const bool midi_output = scan_ports(plugin, world.nodes, lists).ok() &&
                             find_event_ports(world.lilv.get(), plugin, lists).midi_output >= 0;
    return "Error: the plugin " + plugin_title(plugin) +
           " has audio outputs, so the run needs -o FILE to write them" +
           (midi_output ? " (or --midi-out=FILE to write only its MIDI output)" : "") + ".\n";
}

bool takes_midi_output(const PluginStep& step)
{
    return !step.midi_out_file.empty() || step.midi_out != nullptr;
}

bool saves_presets(const RunSettings& settings)
{
    return std::any_of(settings.plugins.begin(), settings.plugins.end(),
                       [](const PluginStep& step) { return step.save_preset.has_value(); });
}

Result<EventPlan> plan_events(const PluginStep& step, const RunSettings& settings,
                              World::Impl& world, const LilvPlugin* plugin, bool has_input,
                              bool has_output, const ChainPlace& place)
{
    const bool has_midi = !step.midi_file.empty() || step.midi.has_value();
    const bool saves_preset = saves_presets(settings);
    const bool has_midi_out = takes_midi_output(step);
    EventPlan plan;
    plan.reads_input = has_input;
    plan.writes_audio = has_output;
    plan.midi_from_chain = place.midi_from_chain;
    plan.midi_to_chain = place.midi_to_chain;
    plan.audio_inputs = audio_ports(plugin, world.nodes, world.nodes.input_port.get());
    plan.audio_outputs = audio_ports(plugin, world.nodes, world.nodes.output_port.get());
    if (plan.audio_outputs == 0 && place.feeds_next && !place.midi_to_chain) {
        return Error{"Error: the plugin " + plugin_title(plugin) +
                     " has no audio outputs and no MIDI output that the next plugin takes, so "
                     "it has nothing to pass on; only the last plugin of a chain may end it "
                     "(with --midi-out=FILE or --report).\n"};
    }
    if (plan.audio_outputs == 0 && has_output && !place.feeds_next) {
        return Error{"Error: the plugin " + plugin_title(plugin) +
                     " has no audio outputs, so -o has nothing to write; use --midi-out=FILE "
                     "for its MIDI or --report for its readings.\n"};
    }
    if (plan.audio_outputs == 0 && !has_midi_out && !settings.readings && !place.midi_to_chain &&
        !saves_preset) {
        return Error{"Error: the run would write nothing: the plugin " + plugin_title(plugin) +
                     " has no audio outputs; give --midi-out=FILE or --report.\n"};
    }
    if (!has_input && settings.channels >= 0) {
        return Error{"Error: --channels is for raw input; without -i the output has the "
                     "plugin's audio outputs as its channels.\n"};
    }
    if (!has_input && settings.sample_rate == 0) {
        return Error{"Error: invalid --rate value '0': expected a sample rate of 1 Hz or "
                     "more.\n"};
    }
    if (!has_input && !has_midi && !place.midi_elsewhere && !settings.tail_seconds &&
        !saves_preset) {
        return Error{"Error: without -i the length of the run comes from --midi and --tail; "
                     "give at least one of them (e.g. --tail=4).\n"};
    }
    const std::string& midi_out = step.midi_out_file;
    if (!midi_out.empty() && ((has_output && midi_out == settings.output_file) ||
                              (!step.midi_file.empty() && midi_out == step.midi_file) ||
                              (has_input && midi_out == settings.input_file))) {
        return Error{"Error: --midi-out names a file that the run also reads or writes: '" +
                     midi_out + "'.\n"};
    }

    PortIndexLists lists;
    if (Status scanned = scan_ports(plugin, world.nodes, lists); !scanned) {
        return scanned.error();
    }
    plan.ports = find_event_ports(world.lilv.get(), plugin, lists);
    if (has_midi && plan.ports.midi_input < 0) {
        return Error{"Error: --midi needs a MIDI input, and the plugin " + plugin_title(plugin) +
                     " has none.\n"};
    }
    if (has_midi_out && plan.ports.midi_output < 0) {
        return Error{"Error: --midi-out needs a MIDI output, and the plugin " +
                     plugin_title(plugin) + " has none.\n"};
    }
    for (const Automation& automation : step.automation) {
        const std::string text = automation_text(automation);
        Result<AutomatedPort> port =
            automated_port(automation, text, plugin, world.nodes, lists, world.lilv.get());
        if (!port) {
            return port.error();
        }
        for (const AutomatedPort& earlier : plan.automated) {
            if (earlier.index == port.value().index) {
                return Error{"Error: invalid --automate value '" + text +
                             "': the port '" + automation.symbol +
                             "' is already automated by an earlier --automate.\n"};
            }
        }
        plan.automated.push_back(std::move(port.value()));
        plan.automated_symbols.push_back(automation.symbol);
    }
    if (step.midi) {
        plan.midi = *step.midi;
    } else if (has_midi) {
        Result<MidiFile> midi = read_midi_file(step.midi_file);
        if (!midi) {
            return midi.error();
        }
        plan.midi = std::move(midi.value());
    }
    return plan;
}

uint64_t midi_frames(const EventPlan& plan, int rate)
{
    if (!plan.midi) {
        return 0;
    }
    double end = plan.midi->length_seconds;
    if (!plan.midi->events.empty()) {
        end = std::max(end, plan.midi->events.back().seconds);
    }
    // A render of 0 to T holds round(T × rate) frames; an event at T is outside.
    return static_cast<uint64_t>(std::max<int64_t>(frame_of(end, rate), 0));
}

} // namespace tonbrix
