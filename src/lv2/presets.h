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

// The state of the first preset (in the order of preset_labels) whose first
// label is `name`, or null.
StatePtr find_preset(LilvWorld* world, const LilvPlugin* plugin, const UriNodes& nodes,
                     std::string_view name, LV2_URID_Map* map);

// The plugin's default state (state:state in its own data), or null when
// its data has none.
StatePtr load_default_state(LilvWorld* world, const LilvPlugin* plugin, LV2_URID_Map* map);

} // namespace tonbrix
