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
};

// Maps the keys and types of `values`, which must outlive the state.
void make_parameter_state(const std::vector<ParameterValue>& values, LV2_URID_Map* map,
                          ParameterState& state);

extern "C" {
// The state interface's retrieve callback over a ParameterState.
const void* retrieve_parameter(LV2_State_Handle handle, uint32_t key, std::size_t* size,
                               uint32_t* type, uint32_t* flags);
}

// Restores the state into the instance through its state interface; false
// when the instance has none or the restore fails.
bool restore_parameter_state(LilvInstance* instance, const ParameterState& state,
                             const LV2_Feature* const* features);

} // namespace tonbrix
