#pragma once

#include "lv2/uri_nodes.h"

#include <tonbrix/error.h>

#include <cstdint>
#include <string_view>
#include <string>
#include <vector>

namespace tonbrix {

// Port indices by class, each in ascending port order.
struct PortIndexLists {
    std::vector<uint32_t> audio_inputs;
    std::vector<uint32_t> audio_outputs;
    std::vector<uint32_t> control_inputs;
    std::vector<uint32_t> control_outputs;
    std::vector<uint32_t> cv_inputs;  // held at one value for the whole run
    std::vector<uint32_t> cv_outputs; // written to scratch buffers
    std::vector<uint32_t> atom_inputs;
    std::vector<uint32_t> atom_outputs;
    int32_t freewheel_port = -1;
    // Position in control_outputs of the output that reports the latency.
    int32_t latency_output = -1;
};

// Sorts the plugin's ports; an error for a port the host cannot serve.
Status scan_ports(const LilvPlugin* plugin, const UriNodes& nodes, PortIndexLists& lists);

// The start value of a control input from its default, minimum and maximum.
float control_default(float value, float minimum, float maximum);

// One value per control input: defaults (or preset values), then the
// freewheel port switched on.
std::vector<float> set_control_start_values(const PortIndexLists& lists,
                                            const std::vector<float>& start_values,
                                            const std::vector<float>& minimums,
                                            const std::vector<float>& maximums);

// One value per CV input, from its default and range as for a control input.
std::vector<float> set_cv_start_values(const PortIndexLists& lists,
                                       const std::vector<float>& start_values,
                                       const std::vector<float>& minimums,
                                       const std::vector<float>& maximums);

// Sets the control or CV input with this symbol to the value; an error when
// the plugin has no such input.
Status set_input_value(std::string_view symbol, float value, const LilvPlugin* plugin,
                       const PortIndexLists& lists, std::vector<float>& control_values,
                       std::vector<float>& cv_values);

} // namespace tonbrix
