#pragma once

#include <tonbrix/readings.h>

#include <tonbrix/world.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tonbrix::cli {

// The JSON documents of --json. Fields keep the order they are added in;
// new fields are only ever added, never renamed. Floats are written as the
// shortest decimal that reads back as the same float; values the data
// leaves out are null.
using Json = nlohmann::ordered_json;

// --list: every plugin with its list number, name, class and whether it is
// an instrument.
Json plugin_list_json(const std::vector<PluginSummary>& plugins);

// --nameports: the audio inputs, the control and CV inputs and the
// writable parameters.
Json nameports_json(const PluginDescription& plugin);

// --list-presets: the labelled presets.
Json presets_json(const std::string& plugin_uri, const std::vector<PresetDescription>& presets);

// --info: everything the description holds.
Json plugin_info_json(const PluginDescription& plugin);

// --report: the readings, each at its time in seconds and its frame.
Json report_json(const std::string& plugin_uri, int rate, const std::vector<std::string>& symbols,
                 const std::vector<Reading>& readings);

// One plugin's part of the report.
struct PluginReport {
    std::string uri;
    std::vector<std::string> symbols; // of the control outputs, in port order
    std::vector<Reading> readings;
};

// --report of a run through the plugins in chain order: for one plugin the
// document above; for a chain the last plugin's document (the one nearest
// the output), with a field "plugins" that holds {position, uri, readings}
// for every plugin in chain order.
Json report_json(int rate, const std::vector<PluginReport>& plugins);

// The document's text, ending with a newline.
std::string json_text(const Json& document);

} // namespace tonbrix::cli
