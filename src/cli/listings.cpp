#include "cli/listings.h"

#include "cli/json_documents.h"
#include "cli/plugin_info_text.h"

#include <cstdio>
#include <optional>
#include <string>
#include <utility>

namespace tonbrix::cli {

namespace {

void print(const std::string& text, FILE* stream)
{
    std::fwrite(text.data(), 1, text.size(), stream);
}

// The description of the plugin the text names; prints the error and
// returns nothing when there is none.
std::optional<PluginDescription> described(const World& world, const char* text)
{
    const std::optional<std::string> found = world.find_plugin(text);
    if (!found) {
        std::fprintf(stderr, "No such plugin %s\n", text);
        return std::nullopt;
    }
    Result<PluginDescription> plugin = world.describe(*found);
    if (!plugin) {
        print(plugin.error().message, stderr);
        return std::nullopt;
    }
    return std::move(plugin.value());
}

// Appends "symbol: name" for every input port that `wanted` accepts, in
// port order.
template <class Wanted>
void append_inputs(std::string& text, const PluginDescription& plugin, Wanted wanted)
{
    for (const PortDescription& port : plugin.ports) {
        if (port.direction == PortDirection::input && wanted(port)) {
            text += port.symbol;
            text += ": ";
            text += port.name;
            text += '\n';
        }
    }
}

} // namespace

void list_plugins(const World& world)
{
    std::string text;
    int number = 1;
    for (const std::string& uri : world.plugin_uris()) {
        text += std::to_string(number++);
        text += '\t';
        text += uri;
        text += '\n';
    }
    print(text, stdout);
}

void list_ports(const World& world, const char* text)
{
    const std::optional<std::string> found = world.find_plugin(text);
    if (!found) {
        std::fprintf(stderr, "No such plugin %s\n", text);
        return;
    }
    const Result<PluginDescription> plugin = world.describe(*found);
    if (!plugin) {
        print(plugin.error().message, stderr);
        return;
    }
    std::string listing = "==Audio Ports==\n";
    append_inputs(listing, plugin.value(),
                  [](const PortDescription& port) { return port.type == PortType::audio; });
    // A CV input is set like a control input, so it is listed as one.
    listing += "==Control Ports==\n";
    append_inputs(listing, plugin.value(), [](const PortDescription& port) {
        return port.type == PortType::control || port.type == PortType::cv;
    });
    if (!plugin->parameters.empty()) {
        listing += "==Parameters==\n";
        for (const ParameterDescription& parameter : plugin->parameters) {
            listing += parameter.short_name;
            listing += ": ";
            listing += parameter.label;
            listing += '\n';
        }
    }
    print(listing, stdout);
}

void list_presets(const std::vector<PresetDescription>& presets)
{
    std::string listing;
    for (const PresetDescription& preset : presets) {
        listing += "Preset: ";
        listing += preset.label;
        listing += '\n';
    }
    print(listing, stdout);
}

void write_text(std::FILE* stream, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
}

int print_plugin_list(const World& world, bool json)
{
    if (!json) {
        list_plugins(world);
        return 1;
    }
    print(json_text(plugin_list_json(world.plugin_summaries())), stdout);
    return 0;
}

int print_ports(const World& world, const char* text, bool json)
{
    if (!json) {
        list_ports(world, text);
        return 1;
    }
    const std::optional<PluginDescription> plugin = described(world, text);
    if (!plugin) {
        return 1;
    }
    print(json_text(nameports_json(*plugin)), stdout);
    return 0;
}

int print_presets(const std::string& plugin_uri, const std::vector<PresetDescription>& presets,
                  bool json)
{
    if (json) {
        print(json_text(presets_json(plugin_uri, presets)), stdout);
    } else {
        list_presets(presets);
    }
    return 0;
}

int print_plugin_info(const World& world, const char* text, bool json)
{
    const std::optional<PluginDescription> plugin = described(world, text);
    if (!plugin) {
        return 1;
    }
    print(json ? json_text(plugin_info_json(*plugin)) : plugin_info_text(*plugin), stdout);
    return 0;
}

} // namespace tonbrix::cli
