#include "cli/plugin_info_text.h"

#include <tonbrix/number_text.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace tonbrix::cli {

namespace {

const char* direction_name(PortDirection direction)
{
    switch (direction) {
    case PortDirection::input:
        return "input";
    case PortDirection::output:
        return "output";
    case PortDirection::neither:
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

std::string joined(const std::vector<std::string>& texts)
{
    std::string text;
    for (const std::string& item : texts) {
        text += text.empty() ? "" : ", ";
        text += item;
    }
    return text;
}

// ", default D, minimum A, maximum B" for the values the data declares.
void append_range(std::string& text, float default_value, float minimum, float maximum)
{
    for (const auto& [name, value] : {std::pair{"default", default_value},
                                      std::pair{"minimum", minimum},
                                      std::pair{"maximum", maximum}}) {
        if (!std::isnan(value)) {
            text += std::string(", ") + name + " " + float_text(value);
        }
    }
}

void append_port(std::string& text, const PortDescription& port)
{
    text += "  " + std::to_string(port.index) + " " + port.symbol + ": " + port.name + "\n";
    text += std::string("    ") + type_name(port.type) + " " + direction_name(port.direction);
    if (port.type == PortType::atom) {
        const std::vector<std::string> contents = atom_content_names(port);
        if (!contents.empty()) {
            text += " (" + joined(contents) + ")";
        }
    }
    if (port.type == PortType::control || port.type == PortType::cv) {
        append_range(text, port.default_value, port.minimum, port.maximum);
        if (!port.unit_symbol.empty()) {
            text += ", unit " + port.unit_symbol;
        } else if (!port.unit.empty()) {
            text += ", unit " + compact_uri(port.unit);
        }
    }
    text += '\n';
    const std::vector<std::string> properties = port_property_names(port);
    if (!properties.empty()) {
        text += "    properties: " + joined(properties) + "\n";
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
    std::string text = plugin.author;
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

void append_features(std::string& text, const PluginDescription& plugin,
                     const std::vector<std::string>& features, const char* kind)
{
    for (const std::string& feature : features) {
        const bool provided = std::find(plugin.unprovided_features.begin(),
                                        plugin.unprovided_features.end(),
                                        feature) == plugin.unprovided_features.end();
        text += "  " + compact_uri(feature) + " (" + kind;
        text += provided ? ")\n" : ", not provided)\n";
    }
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

std::vector<std::string> port_property_names(const PortDescription& port)
{
    std::vector<std::string> names;
    for (const auto& [set, name] : {std::pair{port.integer, "integer"},
                                    std::pair{port.toggled, "toggled"},
                                    std::pair{port.enumeration, "enumeration"},
                                    std::pair{port.logarithmic, "logarithmic"},
                                    std::pair{port.sample_rate, "sampleRate"},
                                    std::pair{port.not_on_gui, "notOnGUI"}}) {
        if (set) {
            names.emplace_back(name);
        }
    }
    return names;
}

std::vector<std::string> atom_content_names(const PortDescription& port)
{
    std::vector<std::string> names;
    for (const auto& [set, name] : {std::pair{port.carries_midi, "MIDI"},
                                    std::pair{port.carries_patch, "patch messages"},
                                    std::pair{port.carries_time_position, "time position"}}) {
        if (set) {
            names.emplace_back(name);
        }
    }
    return names;
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

    text += plugin.ports.empty() ? "Ports: none\n" : "Ports:\n";
    for (const PortDescription& port : plugin.ports) {
        append_port(text, port);
    }
    text += "Latency port: ";
    text += plugin.latency_port ? plugin.ports[*plugin.latency_port].symbol : "none";
    text += '\n';

    text += plugin.parameters.empty() ? "Parameters: none\n" : "Parameters:\n";
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
    text += "Presets: " + std::to_string(plugin.presets.size()) + "\n";

    const bool no_features = plugin.required_features.empty() && plugin.optional_features.empty();
    text += no_features ? "Features: none\n" : "Features:\n";
    append_features(text, plugin, plugin.required_features, "required");
    append_features(text, plugin, plugin.optional_features, "optional");
    return text;
}

} // namespace tonbrix::cli
