#pragma once

#include "lv2/parameters.h"

#include <lilv/lilv.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonbrix {

// The --set values as a state that holds just those properties, for
// plugins with the state interface.
struct ParameterState {
    const std::vector<ParameterValue>* values = nullptr;
    std::vector<LV2_URID> keys;  // by value
    std::vector<LV2_URID> types; // by value
    std::vector<uint8_t> asked;  // by value: the plugin retrieved it
    // By value: another key the value is also given under, 0 for none.
    std::vector<LV2_URID> aliases;
    // Keys the plugin retrieved that hold no value, in the order asked.
    std::vector<LV2_URID> unknown_keys;
};

// Maps the keys and types of `values`, which must outlive the state.
void make_parameter_state(const std::vector<ParameterValue>& values, LV2_URID_Map* map,
                          ParameterState& state);

extern "C" {
// The state interface's retrieve callback over a ParameterState.
const void* retrieve_parameter(LV2_State_Handle handle, uint32_t key, std::size_t* size,
                               uint32_t* type, uint32_t* flags);
}

// Gives each value that the last restore did not ask for the one unknown key
// it asked for with the same short name, if there is exactly one: the
// plugin's own name for a parameter its data names otherwise. True when
// any value got such a key (a second restore then delivers it).
bool add_parameter_aliases(ParameterState& state, LV2_URID_Unmap* unmap);

// Restores the state into the instance through its state interface, first
// clearing `asked` and `unknown_keys`; false when the instance has none or the restore fails.
bool restore_parameter_state(LilvInstance* instance, ParameterState& state,
                             const LV2_Feature* const* features);

} // namespace tonbrix
