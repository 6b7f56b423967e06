#include "lv2/parameter_state.h"

namespace tonbrix {

void make_parameter_state(const std::vector<ParameterValue>& values, LV2_URID_Map* map,
                          ParameterState& state)
{
    state.values = &values;
    state.keys.clear();
    state.types.clear();
    for (const ParameterValue& value : values) {
        state.keys.push_back(map->map(map->handle, value.uri.c_str()));
        state.types.push_back(map->map(map->handle, value.type.c_str()));
    }
}

extern "C" const void* retrieve_parameter(LV2_State_Handle handle, uint32_t key,
                                          std::size_t* size, uint32_t* type, uint32_t* flags)
{
    const auto* state = static_cast<const ParameterState*>(handle);
    if (state == nullptr || state->values == nullptr) {
        return nullptr;
    }
    for (std::size_t i = 0; i < state->keys.size(); ++i) {
        if (state->keys[i] != key || key == 0) {
            continue;
        }
        const ParameterValue& value = (*state->values)[i];
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
    return nullptr;
}

bool restore_parameter_state(LilvInstance* instance, const ParameterState& state,
                             const LV2_Feature* const* features)
{
    const auto* interface = static_cast<const LV2_State_Interface*>(
        lilv_instance_get_extension_data(instance, LV2_STATE__interface));
    if (interface == nullptr || interface->restore == nullptr) {
        return false;
    }
    const LV2_State_Status status =
        interface->restore(lilv_instance_get_handle(instance), retrieve_parameter,
                           const_cast<ParameterState*>(&state), 0, features);
    return status == LV2_STATE_SUCCESS;
}

} // namespace tonbrix
