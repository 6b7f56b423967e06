#pragma once

#include <tonbrix/world.h>

#include <string>
#include <string_view>
#include <vector>

namespace tonbrix::cli {

// The --info text of a plugin: its identity, every port with its range,
// unit, properties and scale points, the latency port, the writable
// parameters, the preset count and the features.
std::string plugin_info_text(const PluginDescription& plugin);

// A URI with a well-known LV2 prefix written short ("urid:map"); other
// URIs as they are.
std::string compact_uri(std::string_view uri);

// The names of the port's properties among integer, toggled, enumeration,
// logarithmic, sampleRate and notOnGUI, in that order.
std::vector<std::string> port_property_names(const PortDescription& port);

// What an atom port's events may carry: "MIDI", "patch messages", "time
// position", in that order.
std::vector<std::string> atom_content_names(const PortDescription& port);

} // namespace tonbrix::cli
