#include "lv2/presets.h"

#include <lv2/atom/atom.h>
#include <lv2/state/state.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace tonbrix {

namespace {

// Converts a numeric atom value to a float; false for other types or when
// the value is shorter than its type.
bool numeric_value(const void* value, uint32_t size, uint32_t type, const Urids& urids,
                   float& result)
{
    auto read = [&](auto sample) {
        if (size < sizeof(sample)) {
            return false;
        }
        std::memcpy(&sample, value, sizeof(sample));
        result = static_cast<float>(sample);
        return true;
    };
    if (type == 0 || type == urids.atom_Float) {
        return read(float{});
    }
    if (type == urids.atom_Double) {
        return read(double{});
    }
    if (type == urids.atom_Int) {
        return read(int32_t{});
    }
    if (type == urids.atom_Long) {
        return read(int64_t{});
    }
    if (type == urids.atom_Bool) {
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
        !numeric_value(value, size, type, *target->urids, number)) {
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

namespace {

// Calls visit(preset, label) for every preset with a label, by label and
// presets of one label by URI, until it returns false. lilv gives them in
// the order of its nodes' addresses, which differs from one process to the
// next with the heap's history (argv, the bundles' paths): one fixed order
// makes every listing and -P agree.
template <class Visit>
void for_each_labelled_preset(LilvWorld* world, const LilvPlugin* plugin, const UriNodes& nodes,
                              Visit visit)
{
    NodesPtr presets(lilv_plugin_get_related(plugin, nodes.preset.get()));
    if (!presets) {
        return;
    }
    struct Labelled {
        const LilvNode* preset;
        std::string label;
    };
    std::vector<Labelled> found;
    LILV_FOREACH (nodes, it, presets.get()) {
        const LilvNode* preset = lilv_nodes_get(presets.get(), it);
        lilv_world_load_resource(world, preset);
        NodesPtr labels(lilv_world_find_nodes(world, preset, nodes.rdfs_label.get(), nullptr));
        const LilvNode* first = labels ? lilv_nodes_get_first(labels.get()) : nullptr;
        if (first != nullptr) {
            found.push_back({preset, lilv_node_as_string(first)});
        }
    }
    std::sort(found.begin(), found.end(), [](const Labelled& a, const Labelled& b) {
        const int by_label = a.label.compare(b.label);
        return by_label != 0 ? by_label < 0
                             : std::strcmp(lilv_node_as_uri(a.preset), lilv_node_as_uri(b.preset)) < 0;
    });
    for (const Labelled& preset : found) {
        if (!visit(preset.preset, preset.label.c_str())) {
            return;
        }
    }
}

} // namespace

std::vector<PresetLabel> preset_labels(LilvWorld* world, const LilvPlugin* plugin,
                                       const UriNodes& nodes)
{
    std::vector<PresetLabel> found;
    for_each_labelled_preset(world, plugin, nodes, [&](const LilvNode* preset, const char* label) {
        found.push_back({lilv_node_as_uri(preset), label});
        return true;
    });
    return found;
}

StatePtr find_preset(LilvWorld* world, const LilvPlugin* plugin, const UriNodes& nodes,
                     std::string_view name, LV2_URID_Map* map)
{
    StatePtr state;
    for_each_labelled_preset(world, plugin, nodes, [&](const LilvNode* preset, const char* label) {
        if (name != label) {
            return true;
        }
        state.reset(lilv_state_new_from_world(world, map, preset));
        return false;
    });
    return state;
}

StatePtr load_default_state(LilvWorld* world, const LilvPlugin* plugin, LV2_URID_Map* map)
{
    const LilvNode* uri = lilv_plugin_get_uri(plugin);
    NodePtr state_property(lilv_new_uri(world, LV2_STATE__state));
    if (!lilv_world_ask(world, uri, state_property.get(), nullptr)) {
        return nullptr;
    }
    return StatePtr(lilv_state_new_from_world(world, map, uri));
}

} // namespace tonbrix
