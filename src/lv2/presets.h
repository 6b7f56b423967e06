#pragma once

#include "lv2/lilv_owners.h"
#include "lv2/uri_nodes.h"
#include "lv2/urid_table.h"

#include <lv2/urid/urid.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

// Where a preset restore writes its port values: one float per port index.
struct PortValueTarget {
    const LilvPlugin* plugin;
    uint32_t port_count;
    float* values;
    const Urids* urids;
};

extern "C" {
// lilv's set-value callback. Numeric values (float, double, int, long, bool,
// or untyped 4-byte floats) land in the target by port symbol; anything
// else, or a value shorter than its type, is ignored.
void set_port_value(const char* port_symbol, void* user_data, const void* value, uint32_t size,
                    uint32_t type);
}

// A preset of a plugin: its URI and its first label.
struct PresetLabel {
    std::string uri;
    std::string label;
};

// Every preset of the plugin that has a label, by label, then by URI.
std::vector<PresetLabel> preset_labels(LilvWorld* world, const LilvPlugin* plugin,
                                       const UriNodes& nodes);

// The state of a preset of the plugin named by `name`: the first (in the
// order of preset_labels) whose first label is `name`, else the one with
// that URI, else the one preset of the plugin in the bundle folder (or in
// the .ttl file of a bundle) at the path `name`, which is loaded for it.
// Null when none is found (also for a bundle that holds several presets of
// the plugin).
StatePtr find_preset(LilvWorld* world, const LilvPlugin* plugin, const UriNodes& nodes,
                     std::string_view name, LV2_URID_Map* map);

// Loads every bundle in the folder (a folder with a manifest.ttl) that the
// world does not have yet and that holds no plugin the world has: the
// presets saved there become known even when LV2_PATH leaves the folder out.
void load_bundles_in(LilvWorld* world, const std::string& folder);

// The folder of the bundle that holds a preset's data (the folder of its
// file: URI, else of a file its rdfs:seeAlso names), canonical; empty when
// the data is in no file that can be found.
std::string preset_bundle_folder(LilvWorld* world, const LilvNode* preset);

// The plugin's default state (state:state in its own data), or null when
// its data has none.
StatePtr load_default_state(LilvWorld* world, const LilvPlugin* plugin, LV2_URID_Map* map);

} // namespace tonbrix
