#include "lv2/plugin_description.h"

#include "lv2/instances.h"
#include "lv2/lilv_owners.h"
#include "lv2/parameters.h"
#include "lv2/presets.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/port-props/port-props.h>
#include <lv2/units/units.h>

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr const char* doap_name = "http://usefulinc.com/ns/doap#name";

using ScalePointsPtr = std::unique_ptr<LilvScalePoints, CFree<lilv_scale_points_free>>;

std::string node_text(const LilvNode* node)
{
    return node != nullptr ? std::string(lilv_node_as_string(node)) : std::string();
}

std::optional<float> node_number(const LilvNode* node)
{
    if (node == nullptr || !(lilv_node_is_float(node) || lilv_node_is_int(node))) {
        return std::nullopt;
    }
    return lilv_node_as_float(node);
}

// The single object of `subject predicate ?` in the world, or null.
NodePtr world_object(LilvWorld* world, const LilvNode* subject, const char* predicate)
{
    NodePtr property(lilv_new_uri(world, predicate));
    return NodePtr(lilv_world_get(world, subject, property.get(), nullptr));
}

// Sets the direction and the type from the port's classes, and keeps them.
void read_port_classes(const LilvPlugin* plugin, const LilvPort* port, PortDescription& out)
{
    const LilvNodes* classes = lilv_port_get_classes(plugin, port);
    LILV_FOREACH (nodes, it, classes) {
        const std::string uri = node_text(lilv_nodes_get(classes, it));
        out.classes.push_back(uri);
        if (uri == LV2_CORE__InputPort) {
            out.direction = PortDirection::input;
        } else if (uri == LV2_CORE__OutputPort) {
            out.direction = PortDirection::output;
        } else if (uri == LV2_CORE__AudioPort) {
            out.type = PortType::audio;
        } else if (uri == LV2_CORE__ControlPort) {
            out.type = PortType::control;
        } else if (uri == LV2_CORE__CVPort) {
            out.type = PortType::cv;
        } else if (uri == LV2_ATOM__AtomPort) {
            out.type = PortType::atom;
        }
    }
}

void read_range(const LilvPlugin* plugin, const LilvPort* port, PortDescription& out)
{
    LilvNode* def = nullptr;
    LilvNode* min = nullptr;
    LilvNode* max = nullptr;
    lilv_port_get_range(plugin, port, &def, &min, &max);
    const NodePtr default_owner(def);
    const NodePtr minimum_owner(min);
    const NodePtr maximum_owner(max);
    out.default_value = node_number(def);
    out.minimum = node_number(min);
    out.maximum = node_number(max);
}

void read_unit(LilvWorld* world, const LilvPlugin* plugin, const LilvPort* port,
               PortDescription& out)
{
    NodePtr unit_property(lilv_new_uri(world, LV2_UNITS__unit));
    NodePtr unit(lilv_port_get(plugin, port, unit_property.get()));
    if (!unit) {
        return;
    }
    if (lilv_node_is_uri(unit.get())) {
        out.unit_uri = node_text(unit.get());
    }
    // The unit's own data (the vocabulary, or a unit the plugin defines)
    // comes first; the table covers the vocabulary when it is not loaded.
    const NodePtr symbol = world_object(world, unit.get(), LV2_UNITS__symbol);
    out.unit_symbol = symbol ? node_text(symbol.get()) : known_unit_symbol(out.unit_uri);
}

void read_properties(LilvWorld* world, const LilvPlugin* plugin, const LilvPort* port,
                     PortDescription& out)
{
    static constexpr std::array<std::pair<const char*, const char*>, 6> known{{
        {LV2_CORE__integer, "integer"},
        {LV2_CORE__toggled, "toggled"},
        {LV2_CORE__enumeration, "enumeration"},
        {LV2_PORT_PROPS__logarithmic, "logarithmic"},
        {LV2_CORE__sampleRate, "sampleRate"},
        {LV2_PORT_PROPS__notOnGUI, "notOnGUI"},
    }};
    for (const auto& [uri, name] : known) {
        NodePtr property(lilv_new_uri(world, uri));
        if (lilv_port_has_property(plugin, port, property.get())) {
            out.properties.emplace_back(name);
        }
    }
}

void read_scale_points(const LilvPlugin* plugin, const LilvPort* port, PortDescription& out)
{
    const ScalePointsPtr points(lilv_port_get_scale_points(plugin, port));
    if (!points) {
        return;
    }
    LILV_FOREACH (scale_points, it, points.get()) {
        const LilvScalePoint* point = lilv_scale_points_get(points.get(), it);
        const std::optional<float> value = node_number(lilv_scale_point_get_value(point));
        if (value) {
            out.scale_points.push_back({*value, node_text(lilv_scale_point_get_label(point))});
        }
    }
    std::stable_sort(out.scale_points.begin(), out.scale_points.end(),
                     [](const ScalePoint& a, const ScalePoint& b) { return a.value < b.value; });
}

std::vector<std::string> port_values(LilvWorld* world, const LilvPlugin* plugin,
                                     const LilvPort* port, const char* predicate)
{
    NodePtr property(lilv_new_uri(world, predicate));
    NodesPtr values(lilv_port_get_value(plugin, port, property.get()));
    std::vector<std::string> texts;
    LILV_FOREACH (nodes, it, values.get()) {
        texts.push_back(node_text(lilv_nodes_get(values.get(), it)));
    }
    return texts;
}

PortDescription describe_port(LilvWorld* world, const LilvPlugin* plugin, uint32_t index)
{
    const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
    PortDescription out;
    out.index = index;
    out.symbol = node_text(lilv_port_get_symbol(plugin, port));
    // Asked directly: lilv_port_get_name warns when a port has no name.
    NodePtr name_property(lilv_new_uri(world, LV2_CORE__name));
    NodePtr name(lilv_port_get(plugin, port, name_property.get()));
    out.name = name ? node_text(name.get()) : out.symbol;
    read_port_classes(plugin, port, out);
    if (out.type == PortType::atom) {
        out.supports = port_values(world, plugin, port, LV2_ATOM__supports);
        std::sort(out.supports.begin(), out.supports.end());
    }
    if (out.type == PortType::control || out.type == PortType::cv) {
        read_range(plugin, port, out);
        read_unit(world, plugin, port, out);
        read_properties(world, plugin, port, out);
        read_scale_points(plugin, port, out);
    }
    const std::vector<std::string> designations =
        port_values(world, plugin, port, LV2_CORE__designation);
    if (!designations.empty()) {
        out.designation = designations.front();
    }
    return out;
}

bool reports_latency(LilvWorld* world, const LilvPlugin* plugin, const PortDescription& port)
{
    if (port.direction != PortDirection::output || port.type != PortType::control) {
        return false;
    }
    NodePtr property(lilv_new_uri(world, LV2_CORE__reportsLatency));
    return port.designation == LV2_CORE__latency ||
           lilv_port_has_property(plugin, lilv_plugin_get_port_by_index(plugin, port.index),
                                  property.get());
}

bool is_instrument(const std::vector<PortDescription>& ports)
{
    bool midi_input = false;
    for (const PortDescription& port : ports) {
        if (port.direction != PortDirection::input) {
            continue;
        }
        if (port.type == PortType::audio) {
            return false;
        }
        midi_input = midi_input || std::find(port.supports.begin(), port.supports.end(),
                                             LV2_MIDI__MidiEvent) != port.supports.end();
    }
    return midi_input;
}

std::vector<ParameterDescription> describe_parameters(LilvWorld* world, const LilvPlugin* plugin)
{
    std::vector<ParameterDescription> parameters;
    for (WritableParameter& writable : writable_parameters(world, plugin)) {
        ParameterDescription parameter;
        NodePtr uri(lilv_new_uri(world, writable.uri.c_str()));
        parameter.default_value = node_number(world_object(world, uri.get(), LV2_CORE__default).get());
        parameter.minimum = node_number(world_object(world, uri.get(), LV2_CORE__minimum).get());
        parameter.maximum = node_number(world_object(world, uri.get(), LV2_CORE__maximum).get());
        parameter.uri = std::move(writable.uri);
        parameter.short_name = std::move(writable.short_name);
        parameter.label = std::move(writable.label);
        parameter.range = std::move(writable.range);
        parameters.push_back(std::move(parameter));
    }
    return parameters;
}

void add_features(const LilvNodes* features, bool required, std::vector<FeatureDescription>& out)
{
    std::vector<FeatureDescription> group;
    LILV_FOREACH (nodes, it, features) {
        const std::string uri = node_text(lilv_nodes_get(features, it));
        group.push_back({uri, required, host_offers_feature(uri)});
    }
    std::sort(group.begin(), group.end(),
              [](const FeatureDescription& a, const FeatureDescription& b) { return a.uri < b.uri; });
    out.insert(out.end(), group.begin(), group.end());
}

void describe_maker(LilvWorld* world, const LilvPlugin* plugin, PluginDescription& out)
{
    const NodePtr project(lilv_plugin_get_project(plugin));
    if (project) {
        // The project's data may sit in files of its own.
        lilv_world_load_resource(world, project.get());
        const NodePtr name = world_object(world, project.get(), doap_name);
        out.project = name ? node_text(name.get()) : node_text(project.get());
    }
    const NodePtr author(lilv_plugin_get_author_name(plugin));
    const NodePtr email(lilv_plugin_get_author_email(plugin));
    const NodePtr homepage(lilv_plugin_get_author_homepage(plugin));
    out.author_name = node_text(author.get());
    out.author_email = node_text(email.get());
    out.author_homepage = node_text(homepage.get());
}

} // namespace

std::string known_unit_symbol(std::string_view unit_uri)
{
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 24> symbols{{
        {LV2_UNITS__bar, "bars"},   {LV2_UNITS__beat, "beats"},    {LV2_UNITS__bpm, "BPM"},
        {LV2_UNITS__cent, "ct"},    {LV2_UNITS__cm, "cm"},         {LV2_UNITS__coef, ""},
        {LV2_UNITS__db, "dB"},      {LV2_UNITS__degree, "deg"},    {LV2_UNITS__frame, "frames"},
        {LV2_UNITS__hz, "Hz"},      {LV2_UNITS__inch, "in"},       {LV2_UNITS__khz, "kHz"},
        {LV2_UNITS__km, "km"},      {LV2_UNITS__m, "m"},           {LV2_UNITS__mhz, "MHz"},
        {LV2_UNITS__midiNote, "note"}, {LV2_UNITS__mile, "mi"},    {LV2_UNITS__min, "min"},
        {LV2_UNITS__mm, "mm"},      {LV2_UNITS__ms, "ms"},         {LV2_UNITS__oct, "oct"},
        {LV2_UNITS__pc, "%"},       {LV2_UNITS__s, "s"},           {LV2_UNITS__semitone12TET, "semi"},
    }};
    for (const auto& [uri, symbol] : symbols) {
        if (uri == unit_uri) {
            return std::string(symbol);
        }
    }
    return {};
}

PluginDescription describe_plugin(LilvWorld* world, const LilvPlugin* plugin)
{
    PluginDescription out;
    out.uri = node_text(lilv_plugin_get_uri(plugin));
    const uint32_t port_count = lilv_plugin_get_num_ports(plugin);
    // Asked directly: lilv_plugin_get_name warns when the plugin has none.
    NodePtr name_property(lilv_new_uri(world, doap_name));
    NodesPtr names(lilv_plugin_get_value(plugin, name_property.get()));
    if (names && lilv_nodes_size(names.get()) > 0) {
        const NodePtr name(lilv_plugin_get_name(plugin));
        out.name = node_text(name.get());
    }
    const LilvPluginClass* plugin_class = lilv_plugin_get_class(plugin);
    if (plugin_class != nullptr) {
        out.class_uri = node_text(lilv_plugin_class_get_uri(plugin_class));
        out.class_label = node_text(lilv_plugin_class_get_label(plugin_class));
    }
    describe_maker(world, plugin, out);

    out.ports.reserve(port_count);
    for (uint32_t i = 0; i < port_count; ++i) {
        out.ports.push_back(describe_port(world, plugin, i));
        if (!out.latency_port && reports_latency(world, plugin, out.ports.back())) {
            out.latency_port = i;
        }
    }
    out.instrument = is_instrument(out.ports);
    out.parameters = describe_parameters(world, plugin);
    out.preset_count = labelled_presets(world, plugin).size();
    const NodesPtr required(lilv_plugin_get_required_features(plugin));
    const NodesPtr optional(lilv_plugin_get_optional_features(plugin));
    add_features(required.get(), true, out.features);
    add_features(optional.get(), false, out.features);
    return out;
}
