#include "cli/json_documents.h"

#include <tonbrix/number_text.h>
#include "cli/plugin_info_text.h"

#include <algorithm>
#include <cmath>

namespace tonbrix::cli {

namespace {

Json number_or_null(float value)
{
    return std::isnan(value) ? Json(nullptr) : Json(float_as_decimal(value));
}

Json text_or_null(const std::string& text)
{
    return text.empty() ? Json(nullptr) : Json(text);
}

const char* direction_key(PortDirection direction)
{
    switch (direction) {
    case PortDirection::input:
        return "input";
    case PortDirection::output:
        return "output";
    case PortDirection::neither:
        break;
    }
    return "neither";
}

const char* type_key(PortType type)
{
    switch (type) {
    case PortType::audio:
        return "audio";
    case PortType::control:
        return "control";
    case PortType::cv:
        return "cv";
    case PortType::atom:
        return "atom";
    case PortType::other:
        break;
    }
    return "other";
}

Json port_json(const PortDescription& port)
{
    Json out;
    out["index"] = port.index;
    out["symbol"] = port.symbol;
    out["name"] = port.name;
    out["direction"] = direction_key(port.direction);
    out["type"] = type_key(port.type);
    out["designation"] = text_or_null(port.designation);
    out["optional"] = port.optional;
    if (port.type == PortType::control || port.type == PortType::cv) {
        out["default"] = number_or_null(port.default_value);
        out["minimum"] = number_or_null(port.minimum);
        out["maximum"] = number_or_null(port.maximum);
        if (port.unit.empty() && port.unit_symbol.empty()) {
            out["unit"] = nullptr;
        } else {
            out["unit"] = {{"uri", text_or_null(port.unit)},
                           {"symbol", text_or_null(port.unit_symbol)}};
        }
        out["properties"] = port_property_names(port);
        Json points = Json::array();
        for (const ScalePoint& point : port.scale_points) {
            points.push_back({{"value", number_or_null(point.value)}, {"label", point.label}});
        }
        out["scale_points"] = std::move(points);
    }
    if (port.type == PortType::atom) {
        out["buffer_type"] = text_or_null(port.buffer_type);
        out["midi"] = port.carries_midi;
        out["patch"] = port.carries_patch;
        out["time_position"] = port.carries_time_position;
    }
    return out;
}

Json parameter_json(const ParameterDescription& parameter)
{
    Json out;
    out["uri"] = parameter.uri;
    out["short_name"] = parameter.short_name;
    out["label"] = parameter.label;
    out["type"] = text_or_null(parameter.range);
    out["default"] = number_or_null(parameter.default_value);
    out["minimum"] = number_or_null(parameter.minimum);
    out["maximum"] = number_or_null(parameter.maximum);
    return out;
}

Json input_port_json(const PortDescription& port)
{
    Json out;
    out["index"] = port.index;
    out["symbol"] = port.symbol;
    out["name"] = port.name;
    out["type"] = type_key(port.type);
    return out;
}

void add_features(Json& list, const PluginDescription& plugin,
                  const std::vector<std::string>& features, bool required)
{
    for (const std::string& feature : features) {
        const bool provided = std::find(plugin.unprovided_features.begin(),
                                        plugin.unprovided_features.end(),
                                        feature) == plugin.unprovided_features.end();
        list.push_back({{"uri", feature}, {"required", required}, {"provided", provided}});
    }
}

} // namespace

Json plugin_list_json(const std::vector<PluginSummary>& summaries)
{
    Json plugins = Json::array();
    for (std::size_t i = 0; i < summaries.size(); ++i) {
        const PluginSummary& plugin = summaries[i];
        plugins.push_back({{"number", i + 1},
                           {"uri", plugin.uri},
                           {"name", plugin.name},
                           {"class", {{"uri", text_or_null(plugin.class_uri)},
                                      {"label", text_or_null(plugin.class_label)}}},
                           {"instrument", plugin.instrument}});
    }
    Json out;
    out["plugins"] = std::move(plugins);
    return out;
}

Json nameports_json(const PluginDescription& plugin)
{
    Json audio = Json::array();
    Json control = Json::array();
    for (const PortDescription& port : plugin.ports) {
        if (port.direction != PortDirection::input) {
            continue;
        }
        if (port.type == PortType::audio) {
            audio.push_back(input_port_json(port));
        } else if (port.type == PortType::control || port.type == PortType::cv) {
            control.push_back(input_port_json(port));
        }
    }
    Json parameters = Json::array();
    for (const ParameterDescription& parameter : plugin.parameters) {
        parameters.push_back({{"uri", parameter.uri},
                              {"short_name", parameter.short_name},
                              {"label", parameter.label}});
    }
    Json out;
    out["uri"] = plugin.uri;
    out["audio_inputs"] = std::move(audio);
    out["control_inputs"] = std::move(control);
    out["parameters"] = std::move(parameters);
    return out;
}

Json presets_json(const std::string& plugin_uri, const std::vector<PresetDescription>& presets)
{
    Json list = Json::array();
    for (const PresetDescription& preset : presets) {
        list.push_back({{"label", preset.label}, {"uri", preset.uri}});
    }
    Json out;
    out["uri"] = plugin_uri;
    out["presets"] = std::move(list);
    return out;
}

Json plugin_info_json(const PluginDescription& plugin)
{
    Json out;
    out["uri"] = plugin.uri;
    out["name"] = plugin.name;
    out["class"] = {{"uri", text_or_null(plugin.class_uri)},
                    {"label", text_or_null(plugin.class_label)}};
    out["project"] = text_or_null(plugin.project);
    out["author"] = {{"name", text_or_null(plugin.author)},
                     {"email", text_or_null(plugin.author_email)},
                     {"homepage", text_or_null(plugin.author_homepage)}};
    out["instrument"] = plugin.instrument;
    Json ports = Json::array();
    for (const PortDescription& port : plugin.ports) {
        ports.push_back(port_json(port));
    }
    out["ports"] = std::move(ports);
    if (plugin.latency_port) {
        out["latency_port"] = {{"index", *plugin.latency_port},
                               {"symbol", plugin.ports[*plugin.latency_port].symbol}};
    } else {
        out["latency_port"] = nullptr;
    }
    Json parameters = Json::array();
    for (const ParameterDescription& parameter : plugin.parameters) {
        parameters.push_back(parameter_json(parameter));
    }
    out["parameters"] = std::move(parameters);
    out["preset_count"] = plugin.presets.size();
    Json features = Json::array();
    add_features(features, plugin, plugin.required_features, true);
    add_features(features, plugin, plugin.optional_features, false);
    out["features"] = std::move(features);
    return out;
}

Json report_json(const std::string& plugin_uri, int rate, const std::vector<std::string>& symbols,
                 const std::vector<Reading>& readings)
{
    Json list = Json::array();
    for (const Reading& reading : readings) {
        Json instances = Json::array();
        for (const std::vector<float>& values : reading.values) {
            Json outputs = Json::object();
            for (std::size_t k = 0; k < symbols.size() && k < values.size(); ++k) {
                outputs[symbols[k]] = float_as_decimal(values[k]);
            }
            instances.push_back(std::move(outputs));
        }
        Json entry;
        entry["time"] = static_cast<double>(reading.frame) / static_cast<double>(rate);
        entry["frame"] = reading.frame;
        entry["instances"] = std::move(instances);
        list.push_back(std::move(entry));
    }
    Json out;
    out["uri"] = plugin_uri;
    out["rate"] = rate;
    out["readings"] = std::move(list);
    return out;
}

Json report_json(int rate, const std::vector<PluginReport>& plugins)
{
    const PluginReport& last = plugins.back();
    Json out = report_json(last.uri, rate, last.symbols, last.readings);
    if (plugins.size() > 1) {
        Json list = Json::array();
        for (std::size_t k = 0; k < plugins.size(); ++k) {
            Json one = report_json(plugins[k].uri, rate, plugins[k].symbols, plugins[k].readings);
            Json entry;
            entry["position"] = k + 1;
            entry["uri"] = std::move(one["uri"]);
            entry["readings"] = std::move(one["readings"]);
            list.push_back(std::move(entry));
        }
        out["plugins"] = std::move(list);
    }
    return out;
}

std::string json_text(const Json& document)
{
    // Invalid UTF-8 in plugin data is replaced rather than thrown.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace tonbrix::cli
