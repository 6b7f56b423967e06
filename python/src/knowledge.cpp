#include "knowledge.h"

#include "errors.h"
#include "shared_world.h"

#include <tonbrix/world.h>

#include <pybind11/stl.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace py = pybind11;

namespace tonbrix::python {

namespace {

// The float as the double its shortest decimal text stands for (0.1f as
// 0.1), so that Python shows the values as the plugin's data wrote them;
// None for NaN, a value the data left out.
py::object number_or_none(float value)
{
    if (std::isnan(value)) {
        return py::none();
    }
    char text[64];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text - 1, value);
    *written.ptr = '\0';
    return py::float_(std::strtod(text, nullptr));
}

py::object text_or_none(const std::string& text)
{
    return text.empty() ? py::object(py::none()) : py::object(py::str(text));
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

py::list property_names(const PortDescription& port)
{
    py::list names;
    for (const auto& [set, name] : {std::pair{port.integer, "integer"},
                                    std::pair{port.toggled, "toggled"},
                                    std::pair{port.enumeration, "enumeration"},
                                    std::pair{port.logarithmic, "logarithmic"},
                                    std::pair{port.sample_rate, "sampleRate"},
                                    std::pair{port.not_on_gui, "notOnGUI"}}) {
        if (set) {
            names.append(name);
        }
    }
    return names;
}

py::dict port_dict(const PortDescription& port)
{
    py::dict out;
    out["index"] = port.index;
    out["symbol"] = port.symbol;
    out["name"] = port.name;
    out["direction"] = direction_key(port.direction);
    out["type"] = type_key(port.type);
    out["designation"] = text_or_none(port.designation);
    out["optional"] = port.optional;
    if (port.type == PortType::control || port.type == PortType::cv) {
        out["default"] = number_or_none(port.default_value);
        out["minimum"] = number_or_none(port.minimum);
        out["maximum"] = number_or_none(port.maximum);
        if (port.unit.empty() && port.unit_symbol.empty()) {
            out["unit"] = py::none();
        } else {
            py::dict unit;
            unit["uri"] = text_or_none(port.unit);
            unit["symbol"] = text_or_none(port.unit_symbol);
            out["unit"] = std::move(unit);
        }
        out["properties"] = property_names(port);
        py::list points;
        for (const ScalePoint& point : port.scale_points) {
            py::dict entry;
            entry["value"] = number_or_none(point.value);
            entry["label"] = point.label;
            points.append(std::move(entry));
        }
        out["scale_points"] = std::move(points);
    }
    if (port.type == PortType::atom) {
        out["buffer_type"] = text_or_none(port.buffer_type);
        out["midi"] = port.carries_midi;
        out["patch"] = port.carries_patch;
        out["time_position"] = port.carries_time_position;
    }
    return out;
}

py::dict parameter_dict(const ParameterDescription& parameter)
{
    py::dict out;
    out["uri"] = parameter.uri;
    out["short_name"] = parameter.short_name;
    out["label"] = parameter.label;
    out["type"] = text_or_none(parameter.range);
    out["default"] = number_or_none(parameter.default_value);
    out["minimum"] = number_or_none(parameter.minimum);
    out["maximum"] = number_or_none(parameter.maximum);
    return out;
}

void add_features(py::list& list, const PluginDescription& plugin,
                  const std::vector<std::string>& features, bool required)
{
    for (const std::string& feature : features) {
        const bool provided = std::find(plugin.unprovided_features.begin(),
                                        plugin.unprovided_features.end(),
                                        feature) == plugin.unprovided_features.end();
        py::dict entry;
        entry["uri"] = feature;
        entry["required"] = required;
        entry["provided"] = provided;
        list.append(std::move(entry));
    }
}

py::dict description_dict(const PluginDescription& plugin)
{
    py::dict out;
    out["uri"] = plugin.uri;
    out["name"] = plugin.name;
    py::dict plugin_class;
    plugin_class["uri"] = text_or_none(plugin.class_uri);
    plugin_class["label"] = text_or_none(plugin.class_label);
    out["class"] = std::move(plugin_class);
    out["project"] = text_or_none(plugin.project);
    py::dict author;
    author["name"] = text_or_none(plugin.author);
    author["email"] = text_or_none(plugin.author_email);
    author["homepage"] = text_or_none(plugin.author_homepage);
    out["author"] = std::move(author);
    out["instrument"] = plugin.instrument;
    py::list ports;
    for (const PortDescription& port : plugin.ports) {
        ports.append(port_dict(port));
    }
    out["ports"] = std::move(ports);
    if (plugin.latency_port) {
        py::dict latency;
        latency["index"] = *plugin.latency_port;
        latency["symbol"] = plugin.ports[*plugin.latency_port].symbol;
        out["latency_port"] = std::move(latency);
    } else {
        out["latency_port"] = py::none();
    }
    py::list parameters;
    for (const ParameterDescription& parameter : plugin.parameters) {
        parameters.append(parameter_dict(parameter));
    }
    out["parameters"] = std::move(parameters);
    out["preset_count"] = plugin.presets.size();
    py::list features;
    add_features(features, plugin, plugin.required_features, true);
    add_features(features, plugin, plugin.optional_features, false);
    out["features"] = std::move(features);
    return out;
}

// What names a plugin: its URI, or its number in the plugin list (from 1).
using PluginName = std::variant<long long, std::string>;

std::string name_text(const PluginName& name)
{
    if (const long long* number = std::get_if<long long>(&name)) {
        return std::to_string(*number);
    }
    return std::get<std::string>(name);
}

// The URI of the named plugin, under the world's lock.
std::optional<std::string> find_uri(const World& world, const PluginName& name)
{
    if (const long long* number = std::get_if<long long>(&name)) {
        if (*number < 1) {
            return std::nullopt;
        }
        return world.plugin_uri(static_cast<std::size_t>(*number));
    }
    const std::string& uri = std::get<std::string>(name);
    if (!world.has_plugin(uri)) {
        return std::nullopt;
    }
    return uri;
}

[[noreturn]] void raise_no_plugin(const PluginName& name)
{
    raise("No such plugin " + name_text(name), ErrorKind::no_plugin);
}

py::list plugin_list(SharedWorld& shared)
{
    const std::vector<PluginSummary> summaries =
        shared.with_world([](World& world) { return world.plugin_summaries(); });
    py::list plugins;
    for (std::size_t i = 0; i < summaries.size(); ++i) {
        const PluginSummary& plugin = summaries[i];
        py::dict entry;
        entry["number"] = i + 1;
        entry["uri"] = plugin.uri;
        entry["name"] = plugin.name;
        py::dict plugin_class;
        plugin_class["uri"] = text_or_none(plugin.class_uri);
        plugin_class["label"] = text_or_none(plugin.class_label);
        entry["class"] = std::move(plugin_class);
        entry["instrument"] = plugin.instrument;
        plugins.append(std::move(entry));
    }
    return plugins;
}

py::dict describe(SharedWorld& shared, const PluginName& name)
{
    std::optional<Result<PluginDescription>> found =
        shared.with_world([&](World& world) -> std::optional<Result<PluginDescription>> {
            const std::optional<std::string> uri = find_uri(world, name);
            if (!uri) {
                return std::nullopt;
            }
            return world.describe(*uri);
        });
    if (!found) {
        raise_no_plugin(name);
    }
    return description_dict(value_or_raise(std::move(*found)));
}

py::list presets(SharedWorld& shared, const PluginName& name)
{
    std::optional<Result<std::vector<PresetDescription>>> found = shared.with_world(
        [&](World& world) -> std::optional<Result<std::vector<PresetDescription>>> {
            const std::optional<std::string> uri = find_uri(world, name);
            if (!uri) {
                return std::nullopt;
            }
            return world.presets(*uri);
        });
    if (!found) {
        raise_no_plugin(name);
    }
    py::list list;
    for (const PresetDescription& preset : value_or_raise(std::move(*found))) {
        py::dict entry;
        entry["label"] = preset.label;
        entry["uri"] = preset.uri;
        list.append(std::move(entry));
    }
    return list;
}

} // namespace

std::shared_ptr<SharedWorld> load_world()
{
    std::optional<Result<World>> loaded;
    {
        py::gil_scoped_release unlocked;
        loaded.emplace(World::load());
    }
    return std::make_shared<SharedWorld>(value_or_raise(std::move(*loaded)));
}

void define_knowledge(py::module_& module)
{
    py::class_<SharedWorld, std::shared_ptr<SharedWorld>>(module, "World", R"(
The installed LV2 plugins, read once: from the folders that LV2_PATH lists
when it is set, else from the standard LV2 folders.

Plugins made with ``world=`` share it; the module's functions use one World
made at their first call. Raises tonbrix.Error when the LV2 data cannot be
loaded.)")
        .def(py::init(&load_world))
        .def("plugins", &plugin_list, R"(
Every installed plugin in list order, as ``tonbrix --list --json`` gives
them: a list of dicts with "number" (from 1), "uri", "name", "class"
({"uri", "label"}) and "instrument".)")
        .def("describe", &describe, py::arg("plugin"), R"(
What the plugin declares, as ``tonbrix --info --json`` prints it: a dict
with "uri", "name", "class", "project", "author", "instrument", "ports",
"latency_port", "parameters", "preset_count" and "features". Values the
plugin's data leaves out are None.

``plugin`` is a URI or a number in the plugin list (from 1). Raises
tonbrix.PluginNotFoundError when no plugin has it.)")
        .def("presets", &presets, py::arg("plugin"), R"(
The plugin's labelled presets in the order found, as ``tonbrix
--list-presets --json`` gives them: a list of dicts ``{"label": ...,
"uri": ...}``. Raises tonbrix.PluginNotFoundError when no plugin has it.)");
}

} // namespace tonbrix::python
