#include "lv2/plugin_description.h"

#include "lv2/instances.h"
#include "lv2/parameters.h"
#include "lv2/presets.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>
#include <lv2/port-props/port-props.h>
#include <lv2/time/time.h>
#include <lv2/units/units.h>

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>
#include <cmath>
#include <limits>

namespace tonbrix {

namespace {

constexpr float undeclared = std::numeric_limits<float>::quiet_NaN();

// The node as a number, NaN when it is none.
float number_or_nan(const LilvNode* node)
{
    if (node != nullptr && (lilv_node_is_float(node) || lilv_node_is_int(node))) {
        return lilv_node_as_float(node);
    }
    return undeclared;
}

// The URI or text of the node, empty when it is null.
std::string node_text(const LilvNode* node)
{
    return node == nullptr ? std::string() : std::string(lilv_node_as_string(node));
}

std::vector<std::string> node_texts(const LilvNodes* nodes)
{
    std::vector<std::string> texts;
    LILV_FOREACH (nodes, it, nodes) {
        texts.push_back(node_text(lilv_nodes_get(nodes, it)));
    }
    return texts;
}

// The nodes a description asks about, made once per plugin.
struct DescriptionNodes {
    explicit DescriptionNodes(LilvWorld* world)
    {
        const auto uri = [world](const char* text) { return NodePtr(lilv_new_uri(world, text)); };
        name = uri(LV2_CORE__name);
        buffer_type = uri(LV2_ATOM__bufferType);
        midi_event = uri(LV2_MIDI__MidiEvent);
        patch_message = uri(LV2_PATCH__Message);
        time_position = uri(LV2_TIME__Position);
        unit = uri(LV2_UNITS__unit);
        integer = uri(LV2_CORE__integer);
        toggled = uri(LV2_CORE__toggled);
        enumeration = uri(LV2_CORE__enumeration);
        logarithmic = uri(LV2_PORT_PROPS__logarithmic);
        sample_rate = uri(LV2_CORE__sampleRate);
        not_on_gui = uri(LV2_PORT_PROPS__notOnGUI);
        unit_symbol = uri(LV2_UNITS__symbol);
        doap_name = uri("http://usefulinc.com/ns/doap#name");
        minimum = uri(LV2_CORE__minimum);
        maximum = uri(LV2_CORE__maximum);
        default_value = uri(LV2_CORE__default);
    }
    NodePtr name, buffer_type, midi_event, patch_message, time_position, unit, integer, toggled,
        enumeration, logarithmic, sample_rate, not_on_gui, minimum, maximum, default_value,
        unit_symbol, doap_name;
};

bool port_reports_latency(const LilvPlugin* plugin, const LilvPort* port, const UriNodes& nodes)
{
    if (lilv_port_has_property(plugin, port, nodes.reports_latency.get())) {
        return true;
    }
    NodesPtr designations(lilv_port_get_value(plugin, port, nodes.designation.get()));
    bool found = false;
    LILV_FOREACH (nodes, i, designations.get()) {
        found = found || lilv_node_equals(lilv_nodes_get(designations.get(), i),
                                          nodes.latency_designation.get());
    }
    return found;
}

// A unit's symbol for the units of the LV2 units vocabulary, used when the
// unit's own data gives none (the vocabulary is not on the plugin path).
std::string known_unit_symbol(std::string_view unit)
{
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 24> symbols{{
        {LV2_UNITS__bar, "bars"},      {LV2_UNITS__beat, "beats"},  {LV2_UNITS__bpm, "BPM"},
        {LV2_UNITS__cent, "ct"},       {LV2_UNITS__cm, "cm"},       {LV2_UNITS__coef, ""},
        {LV2_UNITS__db, "dB"},         {LV2_UNITS__degree, "deg"},  {LV2_UNITS__frame, "frames"},
        {LV2_UNITS__hz, "Hz"},         {LV2_UNITS__inch, "in"},     {LV2_UNITS__khz, "kHz"},
        {LV2_UNITS__km, "km"},         {LV2_UNITS__m, "m"},         {LV2_UNITS__mhz, "MHz"},
        {LV2_UNITS__midiNote, "note"}, {LV2_UNITS__mile, "mi"},     {LV2_UNITS__min, "min"},
        {LV2_UNITS__mm, "mm"},         {LV2_UNITS__ms, "ms"},       {LV2_UNITS__oct, "oct"},
        {LV2_UNITS__pc, "%"},          {LV2_UNITS__s, "s"},         {LV2_UNITS__semitone12TET, "semi"},
    }};
    for (const auto& [uri, symbol] : symbols) {
        if (uri == unit) {
            return std::string(symbol);
        }
    }
    return {};
}

PortDescription describe_port(LilvWorld* world, const LilvPlugin* plugin, const LilvPort* port,
                              const UriNodes& nodes, const DescriptionNodes& more)
{
    PortDescription d;
    d.index = lilv_port_get_index(plugin, port);
    d.symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
    // Asked directly: lilv_port_get_name warns when a port has no name.
    NodePtr name(lilv_port_get(plugin, port, more.name.get()));
    d.name = name ? lilv_node_as_string(name.get()) : d.symbol;
    const auto is_a = [&](const NodePtr& node) { return lilv_port_is_a(plugin, port, node.get()); };
    const auto has = [&](const NodePtr& node) {
        return lilv_port_has_property(plugin, port, node.get());
    };
    d.direction = is_a(nodes.input_port)    ? PortDirection::input
                  : is_a(nodes.output_port) ? PortDirection::output
                                            : PortDirection::neither;
    d.type = is_a(nodes.audio_port)     ? PortType::audio
             : is_a(nodes.control_port) ? PortType::control
             : is_a(nodes.cv_port)      ? PortType::cv
             : is_a(nodes.atom_port)    ? PortType::atom
                                        : PortType::other;
    if (d.type == PortType::atom) {
        NodePtr buffer(lilv_port_get(plugin, port, more.buffer_type.get()));
        d.buffer_type = node_text(buffer.get());
        d.carries_midi = lilv_port_supports_event(plugin, port, more.midi_event.get());
        d.carries_patch = lilv_port_supports_event(plugin, port, more.patch_message.get());
        d.carries_time_position = lilv_port_supports_event(plugin, port, more.time_position.get());
    }
    LilvNode* default_node = nullptr;
    LilvNode* minimum_node = nullptr;
    LilvNode* maximum_node = nullptr;
    lilv_port_get_range(plugin, port, &default_node, &minimum_node, &maximum_node);
    const NodePtr default_owner(default_node);
    const NodePtr minimum_owner(minimum_node);
    const NodePtr maximum_owner(maximum_node);
    d.default_value = number_or_nan(default_node);
    d.minimum = number_or_nan(minimum_node);
    d.maximum = number_or_nan(maximum_node);
    NodePtr unit(lilv_port_get(plugin, port, more.unit.get()));
    d.unit = unit && lilv_node_is_uri(unit.get()) ? node_text(unit.get()) : std::string();
    if (unit) {
        // The unit's own data first (the vocabulary, or a unit the plugin
        // defines in place); the table covers the vocabulary's units.
        NodePtr symbol(lilv_world_get(world, unit.get(), more.unit_symbol.get(), nullptr));
        d.unit_symbol = symbol ? node_text(symbol.get()) : known_unit_symbol(d.unit);
    }
    NodesPtr designations(lilv_port_get_value(plugin, port, nodes.designation.get()));
    if (designations && lilv_nodes_size(designations.get()) > 0) {
        d.designation = node_text(lilv_nodes_get_first(designations.get()));
    }
    d.integer = has(more.integer);
    d.toggled = has(more.toggled);
    d.enumeration = has(more.enumeration);
    d.logarithmic = has(more.logarithmic);
    d.sample_rate = has(more.sample_rate);
    d.not_on_gui = has(more.not_on_gui);
    d.optional = has(nodes.connection_optional);
    d.reports_latency = d.type == PortType::control && d.direction == PortDirection::output &&
                        port_reports_latency(plugin, port, nodes);
    LilvScalePoints* points = lilv_port_get_scale_points(plugin, port);
    LILV_FOREACH (scale_points, it, points) {
        const LilvScalePoint* point = lilv_scale_points_get(points, it);
        d.scale_points.push_back({node_text(lilv_scale_point_get_label(point)),
                                  number_or_nan(lilv_scale_point_get_value(point))});
    }
    lilv_scale_points_free(points);
    std::stable_sort(d.scale_points.begin(), d.scale_points.end(),
                     [](const ScalePoint& a, const ScalePoint& b) { return a.value < b.value; });
    return d;
}

// The single number of `subject predicate ?`, NaN when there is none.
float world_number(LilvWorld* world, const LilvNode* subject, const LilvNode* predicate)
{
    NodePtr value(lilv_world_get(world, subject, predicate, nullptr));
    return number_or_nan(value.get());
}

} // namespace

std::vector<PresetDescription> describe_presets(const World::Impl& world, const LilvPlugin* plugin)
{
    std::vector<PresetDescription> presets;
    for (PresetLabel& preset : preset_labels(world.lilv.get(), plugin, world.nodes)) {
        presets.push_back({std::move(preset.uri), std::move(preset.label)});
    }
    return presets;
}

namespace {

// The plugin's name, class and whether it is an instrument.
PluginSummary summarize(const LilvPlugin* plugin, const UriNodes& nodes,
                        const DescriptionNodes& more)
{
    PluginSummary s;
    s.uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
    // Asked directly: lilv_plugin_get_name warns when a plugin has no name.
    NodesPtr names(lilv_plugin_get_value(plugin, more.doap_name.get()));
    s.name = names ? node_text(lilv_nodes_get_first(names.get())) : std::string();
    s.class_label = node_text(lilv_plugin_class_get_label(lilv_plugin_get_class(plugin)));
    s.class_uri = node_text(lilv_plugin_class_get_uri(lilv_plugin_get_class(plugin)));
    bool midi_input = false;
    bool audio_input = false;
    const uint32_t count = lilv_plugin_get_num_ports(plugin);
    for (uint32_t i = 0; i < count; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        if (!lilv_port_is_a(plugin, port, nodes.input_port.get())) {
            continue;
        }
        audio_input = audio_input || lilv_port_is_a(plugin, port, nodes.audio_port.get());
        midi_input = midi_input || (lilv_port_is_a(plugin, port, nodes.atom_port.get()) &&
                                    lilv_port_supports_event(plugin, port, more.midi_event.get()));
    }
    s.instrument = midi_input && !audio_input;
    return s;
}

} // namespace

PluginDescription describe_plugin(const World::Impl& world, const LilvPlugin* plugin)
{
    LilvWorld* lilv = world.lilv.get();
    const DescriptionNodes more(lilv);
    PluginDescription d;
    PluginSummary summary = summarize(plugin, world.nodes, more);
    d.uri = std::move(summary.uri);
    d.name = std::move(summary.name);
    d.class_label = std::move(summary.class_label);
    d.class_uri = std::move(summary.class_uri);
    d.instrument = summary.instrument;
    NodePtr project(lilv_plugin_get_project(plugin));
    if (project) {
        // The project's data may sit in files of its own.
        lilv_world_load_resource(lilv, project.get());
        NodePtr name(lilv_world_get(lilv, project.get(), more.doap_name.get(), nullptr));
        d.project = node_text(name ? name.get() : project.get());
    }
    NodePtr author(lilv_plugin_get_author_name(plugin));
    d.author = node_text(author.get());
    NodePtr email(lilv_plugin_get_author_email(plugin));
    d.author_email = node_text(email.get());
    NodePtr homepage(lilv_plugin_get_author_homepage(plugin));
    d.author_homepage = node_text(homepage.get());

    const uint32_t count = lilv_plugin_get_num_ports(plugin);
    for (uint32_t i = 0; i < count; ++i) {
        d.ports.push_back(
            describe_port(lilv, plugin, lilv_plugin_get_port_by_index(plugin, i), world.nodes, more));
        if (d.ports.back().reports_latency && !d.latency_port) {
            d.latency_port = i;
        }
    }
    for (WritableParameter& parameter : writable_parameters(lilv, plugin)) {
        NodePtr subject(lilv_new_uri(lilv, parameter.uri.c_str()));
        ParameterDescription p;
        p.uri = std::move(parameter.uri);
        p.short_name = std::move(parameter.short_name);
        p.label = std::move(parameter.label);
        p.range = std::move(parameter.range);
        p.default_value = world_number(lilv, subject.get(), more.default_value.get());
        p.minimum = world_number(lilv, subject.get(), more.minimum.get());
        p.maximum = world_number(lilv, subject.get(), more.maximum.get());
        d.parameters.push_back(std::move(p));
    }
    d.presets = describe_presets(world, plugin);
    NodesPtr required(lilv_plugin_get_required_features(plugin));
    d.required_features = node_texts(required.get());
    NodesPtr optional(lilv_plugin_get_optional_features(plugin));
    d.optional_features = node_texts(optional.get());
    for (auto* features : {&d.required_features, &d.optional_features}) {
        std::sort(features->begin(), features->end());
        for (const std::string& feature : *features) {
            if (!host_offers_feature(feature)) {
                d.unprovided_features.push_back(feature);
            }
        }
    }
    return d;
}

std::vector<PluginSummary> World::plugin_summaries() const
{
    const DescriptionNodes more(impl_->lilv.get());
    std::vector<PluginSummary> summaries;
    LILV_FOREACH (plugins, it, impl_->plugins) {
        summaries.push_back(summarize(lilv_plugins_get(impl_->plugins, it), impl_->nodes, more));
    }
    return summaries;
}

Result<PluginDescription> World::describe(std::string_view uri) const
{
    const LilvPlugin* plugin = find_lilv_plugin(*impl_, uri);
    if (plugin == nullptr) {
        return Error{"No such plugin " + std::string(uri) + "\n"};
    }
    return describe_plugin(*impl_, plugin);
}

Result<std::vector<PresetDescription>> World::presets(std::string_view uri) const
{
    const LilvPlugin* plugin = find_lilv_plugin(*impl_, uri);
    if (plugin == nullptr) {
        return Error{"No such plugin " + std::string(uri) + "\n"};
    }
    return describe_presets(*impl_, plugin);
}

} // namespace tonbrix
