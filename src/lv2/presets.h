#pragma once

#include "lv2/uri_nodes.h"
#include "lv2/lilv_owners.h"

#include <cstdint>
#include <cstdio>
#include <string>

// Where a preset restore writes its port values: one float per port index.
struct PortValueTarget {
    const LilvPlugin* plugin;
    uint32_t port_count;
    float* values;
};

extern "C" {
// lilv's set-value callback. Numeric values (float, double, int, long, bool,
// or untyped 4-byte floats) land in the target by port symbol; anything
// else, or a value shorter than its type, is ignored.
void set_port_value(const char* port_symbol, void* user_data, const void* value, uint32_t size,
                    uint32_t type);
}

enum class PresetScan { listed, none, found, not_found };

// Walks the plugin's labelled presets. In list mode prints "Preset: <label>"
// for each; otherwise, when a preset name is given, builds the state of the
// first preset whose first label equals it.
PresetScan scan_presets(LilvWorld* world, const LilvPlugin* plugin, const UriNodes& nodes,
                        bool list_mode, const std::string* preset_name, StatePtr& state);

// The plugin's default state (state:state in its own data), or null when
// its data has none.
StatePtr load_default_state(LilvWorld* world, const LilvPlugin* plugin);
