#include "lv2/parameter_state.h"

#include <algorithm>

namespace tonbrix {

void make_parameter_state(const std::vector<ParameterValue>& values, LV2_URID_Map* map,
                          ParameterState& state)
{
    state.values = &values;
    state.keys.clear();
    state.types.clear();
    state.asked.assign(values.size(), 0);
    state.aliases.assign(values.size(), 0);
    state.unknown_keys.clear();
    for (const ParameterValue& value : values) {
        state.keys.push_back(map->map(map->handle, value.uri.c_str()));
        state.types.push_back(map->map(map->handle, value.type.c_str()));
    }
}

extern "C" const void* retrieve_parameter(LV2_State_Handle handle, uint32_t key,
                                          std::size_t* size, uint32_t* type, uint32_t* flags)
{
    auto* state = static_cast<ParameterState*>(handle);
    if (state == nullptr || state->values == nullptr) {
        return nullptr;
    }
    for (std::size_t i = 0; i < state->keys.size(); ++i) {
        const bool alias = i < state->aliases.size() && state->aliases[i] == key;
        if ((state->keys[i] != key && !alias) || key == 0) {
            continue;
        }
        const ParameterValue& value = (*state->values)[i];
        if (i < state->asked.size()) {
            state->asked[i] = 1;
        }
        if (size != nullptr) {
            *size = value.body.size();
        }
        if (type != nullptr) {
            *type = state->types[i];
        }
        if (flags != nullptr) {
            *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
        }
        return value.body.data();
    }
    try {
        if (std::find(state->unknown_keys.begin(), state->unknown_keys.end(), key) ==
            state->unknown_keys.end()) {
            state->unknown_keys.push_back(key);
        }
    } catch (...) {
        // Without the key no alias is found: the value goes as a message.
    }
    return nullptr;
}

bool add_parameter_aliases(ParameterState& state, LV2_URID_Unmap* unmap)
{
    bool added = false;
    for (std::size_t i = 0; i < state.keys.size(); ++i) {
        if (state.asked[i] != 0 || state.aliases[i] != 0) {
            continue;
        }
        const std::string_view name = parameter_short_name((*state.values)[i].uri);
        LV2_URID found = 0;
        int matches = 0;
        for (const LV2_URID key : state.unknown_keys) {
            const char* uri = unmap->unmap(unmap->handle, key);
            if (uri != nullptr && parameter_short_name(uri) == name) {
                found = key;
                ++matches;
            }
        }
        if (matches == 1) {
            state.aliases[i] = found;
            added = true;
        }
    }
    return added;
}

bool restore_parameter_state(LilvInstance* instance, ParameterState& state,
                             const LV2_Feature* const* features)
{
    std::fill(state.asked.begin(), state.asked.end(), 0);
    state.unknown_keys.clear();
    const auto* interface = static_cast<const LV2_State_Interface*>(
        lilv_instance_get_extension_data(instance, LV2_STATE__interface));
    if (interface == nullptr || interface->restore == nullptr) {
        return false;
    }
    const LV2_State_Status status = interface->restore(
        lilv_instance_get_handle(instance), retrieve_parameter, &state, 0, features);
    // A state of only the --set values lacks the plugin's other properties;
    // a plugin that takes what it finds and reports the others missing
    // (as eg-params does) has taken the values.
    return status == LV2_STATE_SUCCESS || status == LV2_STATE_ERR_NO_PROPERTY;
}

} // namespace tonbrix
