#include "cli/plugin_info_text.h"

#include "cli/number_text.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

const char* direction_name(PortDirection direction)
{
    switch (direction) {
    case PortDirection::input:
        return "input";
    case PortDirection::output:
        return "output";
    case PortDirection::none:
        break;
    }
    return "port";
}

const char* type_name(PortType type)
{
    switch (type) {
    case PortType::audio:
        return "audio";
    case PortType::control:
        return "control";
    case PortType::cv:
        return "CV";
    case PortType::atom:
        return "atom";
    case PortType::other:
        break;
    }
    return "other";
}

// "a, b, c" of the texts that `name` makes of the items.
template <class Items, class Name>
std::string joined(const Items& items, Name name)
{
    std::string text;
    for (const auto& item : items) {
        text += text.empty() ? "" : ", ";
        text += name(item);
    }
    return text;
}

void append_range(std::string& text, const std::optional<float>& default_value,
                  const std::optional<float>& minimum, const std::optional<float>& maximum)
{
    if (default_value) {
        text += ", default " + float_text(*default_value);
    }
    if (minimum) {
        text += ", minimum " + float_text(*minimum);
    }
    if (maximum) {
        text += ", maximum " + float_text(*maximum);
    }
}

void append_port(std::string& text, const PortDescription& port)
{
    text += "  " + std::to_string(port.index) + " " + port.symbol + ": " + port.name + "\n";
    text += "    ";
    text += type_name(port.type);
    text += ' ';
    text += direction_name(port.direction);
    if (port.type == PortType::atom && !port.supports.empty()) {
        text += " (" + joined(port.supports, atom_content_name) + ")";
    }
    if (port.type == PortType::control || port.type == PortType::cv) {
        append_range(text, port.default_value, port.minimum, port.maximum);
        if (!port.unit_symbol.empty()) {
            text += ", unit " + port.unit_symbol;
        } else if (!port.unit_uri.empty()) {
            text += ", unit " + compact_uri(port.unit_uri);
        }
    }
    text += '\n';
    if (!port.properties.empty()) {
        text += "    properties: " +
                joined(port.properties, [](const std::string& p) { return p; }) + "\n";
    }
    if (!port.scale_points.empty()) {
        text += "    scale points:\n";
        for (const ScalePoint& point : port.scale_points) {
            text += "      " + float_text(point.value) + " = " + point.label + "\n";
        }
    }
}

std::string author_text(const PluginDescription& plugin)
{
    std::string text = plugin.author_name;
    if (!plugin.author_email.empty()) {
        std::string_view email = plugin.author_email;
        if (email.starts_with("mailto:")) {
            email.remove_prefix(7);
        }
        text += (text.empty() ? "<" : " <") + std::string(email) + ">";
    }
    if (!plugin.author_homepage.empty()) {
        text += (text.empty() ? "" : ", ") + plugin.author_homepage;
    }
    return text;
}

} // namespace

std::string compact_uri(std::string_view uri)
{
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 15> prefixes{{
        {"http://lv2plug.in/ns/lv2core#", "lv2:"},
        {"http://lv2plug.in/ns/ext/atom#", "atom:"},
        {"http://lv2plug.in/ns/ext/buf-size#", "bufsz:"},
        {"http://lv2plug.in/ns/ext/log#", "log:"},
        {"http://lv2plug.in/ns/ext/midi#", "midi:"},
        {"http://lv2plug.in/ns/ext/options#", "opts:"},
        {"http://lv2plug.in/ns/ext/parameters#", "param:"},
        {"http://lv2plug.in/ns/ext/patch#", "patch:"},
        {"http://lv2plug.in/ns/ext/port-props#", "pprops:"},
        {"http://lv2plug.in/ns/ext/state#", "state:"},
        {"http://lv2plug.in/ns/ext/time#", "time:"},
        {"http://lv2plug.in/ns/ext/urid#", "urid:"},
        {"http://lv2plug.in/ns/ext/worker#", "work:"},
        {"http://lv2plug.in/ns/extensions/units#", "units:"},
        {"http://www.w3.org/2001/XMLSchema#", "xsd:"},
    }};
    for (const auto& [prefix, shortened] : prefixes) {
        if (uri.starts_with(prefix) && uri.size() > prefix.size()) {
            return std::string(shortened) + std::string(uri.substr(prefix.size()));
        }
    }
    return std::string(uri);
}

std::string atom_content_name(std::string_view uri)
{
    if (uri == "http://lv2plug.in/ns/ext/midi#MidiEvent") {
        return "MIDI";
    }
    if (uri == "http://lv2plug.in/ns/ext/patch#Message") {
        return "patch messages";
    }
    if (uri == "http://lv2plug.in/ns/ext/time#Position") {
        return "time position";
    }
    return compact_uri(uri);
}

std::string plugin_info_text(const PluginDescription& plugin)
{
    std::string text = "Name: " + plugin.name + "\nURI: " + plugin.uri + "\n";
    if (!plugin.class_label.empty()) {
        text += "Class: " + plugin.class_label + "\n";
    }
    if (!plugin.project.empty()) {
        text += "Project: " + plugin.project + "\n";
    }
    const std::string author = author_text(plugin);
    if (!author.empty()) {
        text += "Author: " + author + "\n";
    }
    text += std::string("Instrument: ") + (plugin.instrument ? "yes" : "no") + "\n";

    text += "Ports:\n";
    if (plugin.ports.empty()) {
        text += "  none\n";
    }
    for (const PortDescription& port : plugin.ports) {
        append_port(text, port);
    }
    text += "Latency port: ";
    text += plugin.latency_port ? plugin.ports[*plugin.latency_port].symbol : "none";
    text += '\n';

    text += "Parameters:";
    text += plugin.parameters.empty() ? " none\n" : "\n";
    for (const ParameterDescription& parameter : plugin.parameters) {
        // A short name that two parameters share names neither: the URI does.
        const auto same_name = [&](const ParameterDescription& other) {
            return other.short_name == parameter.short_name;
        };
        const bool unique = std::count_if(plugin.parameters.begin(), plugin.parameters.end(),
                                          same_name) == 1;
        text += "  " + (unique ? parameter.short_name : parameter.uri) + ": " + parameter.label;
        if (!parameter.range.empty()) {
            text += " (" + compact_uri(parameter.range) + ")";
        }
        append_range(text, parameter.default_value, parameter.minimum, parameter.maximum);
        text += '\n';
    }
    text += "Presets: " + std::to_string(plugin.preset_count) + "\n";

    text += "Features:";
    text += plugin.features.empty() ? " none\n" : "\n";
    for (const FeatureDescription& feature : plugin.features) {
        text += "  " + compact_uri(feature.uri) + (feature.required ? " (required" : " (optional");
        text += feature.provided ? ")\n" : ", not provided)\n";
    }
    return text;
}
