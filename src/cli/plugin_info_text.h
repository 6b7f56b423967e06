#pragma once

#include "lv2/plugin_description.h"

#include <string>
#include <string_view>

// The --info text of a plugin: its identity, every port with its range,
// unit, properties and scale points, the latency port, the writable
// parameters, the preset count and the features.
std::string plugin_info_text(const PluginDescription& plugin);

// A URI with a well-known LV2 prefix written short ("urid:map"); other
// URIs as they are.
std::string compact_uri(std::string_view uri);

// What an atom port carries, for people: "MIDI", "patch messages", "time
// position", else the compact URI.
std::string atom_content_name(std::string_view uri);
