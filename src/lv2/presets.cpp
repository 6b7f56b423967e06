#include "lv2/presets.h"

#include "lv2/urid_table.h"

#include <lv2/atom/atom.h>
#include <lv2/state/state.h>

#include <cstring>

namespace {

// Converts a numeric atom value to a float; false for other types or when
// the value is shorter than its type.
bool numeric_value(const void* value, uint32_t size, uint32_t type, float& result)
{
    auto read = [&](auto sample) {
        if (size < sizeof(sample)) {
            return false;
        }
        std::memcpy(&sample, value, sizeof(sample));
        result = static_cast<float>(sample);
        return true;
    };
    if (type == 0 || type == urid_map(nullptr, LV2_ATOM__Float)) {
        return read(float{});
    }
    if (type == urid_map(nullptr, LV2_ATOM__Double)) {
        return read(double{});
    }
    if (type == urid_map(nullptr, LV2_ATOM__Int)) {
        return read(int32_t{});
    }
    if (type == urid_map(nullptr, LV2_ATOM__Long)) {
        return read(int64_t{});
    }
    if (type == urid_map(nullptr, LV2_ATOM__Bool)) {
        if (!read(int32_t{})) {
            return false;
        }
        result = result != 0.0f ? 1.0f : 0.0f;
        return true;
    }
    return false;
}

} // namespace

extern "C" void set_port_value(const char* port_symbol, void* user_data, const void* value,
                               uint32_t size, uint32_t type)
{
    auto* target = static_cast<PortValueTarget*>(user_data);
    float number = 0.0f;
    if (target == nullptr || value == nullptr || port_symbol == nullptr ||
        !numeric_value(value, size, type, number)) {
        return;
    }
    for (uint32_t i = 0; i < target->port_count; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(target->plugin, i);
        const char* symbol = lilv_node_as_string(lilv_port_get_symbol(target->plugin, port));
        if (std::strcmp(symbol, port_symbol) == 0) {
            target->values[i] = number;
            return;
        }
    }
}

PresetScan scan_presets(LilvWorld* world, const LilvPlugin* plugin, const UriNodes& nodes,
                        bool list_mode, const std::string* preset_name, StatePtr& state)
{
    NodesPtr presets(lilv_plugin_get_related(plugin, nodes.preset.get()));
    if (presets) {
        std::string listing;
        LILV_FOREACH (nodes, it, presets.get()) {
            const LilvNode* preset = lilv_nodes_get(presets.get(), it);
            lilv_world_load_resource(world, preset);
            NodesPtr labels(lilv_world_find_nodes(world, preset, nodes.rdfs_label.get(), nullptr));
            const LilvNode* first = labels ? lilv_nodes_get_first(labels.get()) : nullptr;
            if (first == nullptr) {
                continue;
            }
            const char* label = lilv_node_as_string(first);
            if (list_mode) {
                listing += "Preset: ";
                listing += label;
                listing += '\n';
            } else if (preset_name != nullptr && *preset_name == label) {
                state.reset(lilv_state_new_from_world(world, &g_urid_map_record, preset));
                break;
            }
        }
        std::fwrite(listing.data(), 1, listing.size(), stdout);
    }
    if (list_mode) {
        return PresetScan::listed;
    }
    if (preset_name == nullptr) {
        return PresetScan::none;
    }
    return state ? PresetScan::found : PresetScan::not_found;
}

StatePtr load_default_state(LilvWorld* world, const LilvPlugin* plugin)
{
    const LilvNode* uri = lilv_plugin_get_uri(plugin);
    NodePtr state_property(lilv_new_uri(world, LV2_STATE__state));
    if (!lilv_world_ask(world, uri, state_property.get(), nullptr)) {
        return nullptr;
    }
    return StatePtr(lilv_state_new_from_world(world, &g_urid_map_record, uri));
}
