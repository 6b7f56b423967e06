#include "lv2/ports.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tonbrix {

namespace {

bool reports_latency(const LilvPlugin* plugin, const LilvPort* port, const UriNodes& nodes)
{
    if (lilv_port_has_property(plugin, port, nodes.reports_latency.get())) {
        return true;
    }
    LilvNodes* designations = lilv_port_get_value(plugin, port, nodes.designation.get());
    bool found = false;
    LILV_FOREACH (nodes, i, designations) {
        found = found || lilv_node_equals(lilv_nodes_get(designations, i),
                                          nodes.latency_designation.get());
    }
    lilv_nodes_free(designations);
    return found;
}

} // namespace

Status scan_ports(const LilvPlugin* plugin, const UriNodes& nodes, PortIndexLists& lists)
{
    const uint32_t count = lilv_plugin_get_num_ports(plugin);
    for (uint32_t i = 0; i < count; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        auto is_a = [&](const NodePtr& node) { return lilv_port_is_a(plugin, port, node.get()); };
        if (is_a(nodes.audio_port)) {
            if (is_a(nodes.input_port)) {
                lists.audio_inputs.push_back(i);
            } else if (is_a(nodes.output_port)) {
                lists.audio_outputs.push_back(i);
            } else {
                return Error{"Audio port not input or output\n"};
            }
        } else if (is_a(nodes.control_port)) {
            if (is_a(nodes.input_port)) {
                lists.control_inputs.push_back(i);
                if (lilv_port_has_property(plugin, port, nodes.free_wheeling.get())) {
                    lists.freewheel_port = static_cast<int32_t>(i);
                }
            } else if (is_a(nodes.output_port)) {
                if (lists.latency_output < 0 && reports_latency(plugin, port, nodes)) {
                    lists.latency_output = static_cast<int32_t>(lists.control_outputs.size());
                }
                lists.control_outputs.push_back(i);
            } else {
                return Error{"Control port not input or output\n"};
            }
        } else if (is_a(nodes.cv_port)) {
            if (is_a(nodes.input_port)) {
                lists.cv_inputs.push_back(i);
            } else if (is_a(nodes.output_port)) {
                lists.cv_outputs.push_back(i);
            } else {
                return Error{"CV port not input or output\n"};
            }
        } else if (is_a(nodes.atom_port)) {
            if (is_a(nodes.input_port)) {
                lists.atom_inputs.push_back(i);
            } else {
                lists.atom_outputs.push_back(i);
            }
        } else if (lilv_port_has_property(plugin, port, nodes.connection_optional.get())) {
            // Left unconnected.
        } else {
            return Error{"Error!  Unable to handle a required port \n"};
        }
    }
    return {};
}

float control_default(float value, float minimum, float maximum)
{
    if (!std::isnan(value)) {
        return value;
    }
    const bool has_min = !std::isnan(minimum);
    const bool has_max = !std::isnan(maximum);
    if (has_min && has_max) {
        const float sum = minimum + maximum;
        return sum * 0.5f;
    }
    if (has_max) {
        return maximum < 0.0f ? maximum : 0.0f;
    }
    if (has_min) {
        return minimum > 0.0f ? minimum : 0.0f;
    }
    return 0.0f;
}

std::vector<float> set_control_start_values(const PortIndexLists& lists,
                                            const std::vector<float>& start_values,
                                            const std::vector<float>& minimums,
                                            const std::vector<float>& maximums)
{
    std::vector<float> values(lists.control_inputs.size(), 0.0f);
    for (std::size_t k = 0; k < lists.control_inputs.size(); ++k) {
        const uint32_t p = lists.control_inputs[k];
        values[k] = control_default(start_values[p], minimums[p], maximums[p]);
        if (static_cast<int64_t>(p) == lists.freewheel_port) {
            values[k] = 1.0f;
        }
    }
    return values;
}

std::vector<float> set_cv_start_values(const PortIndexLists& lists,
                                       const std::vector<float>& start_values,
                                       const std::vector<float>& minimums,
                                       const std::vector<float>& maximums)
{
    std::vector<float> values(lists.cv_inputs.size(), 0.0f);
    for (std::size_t k = 0; k < lists.cv_inputs.size(); ++k) {
        const uint32_t p = lists.cv_inputs[k];
        values[k] = control_default(start_values[p], minimums[p], maximums[p]);
    }
    return values;
}

namespace {

// The value slot of the control or CV input with this symbol, or null.
float* input_value_slot(const std::string& symbol, const LilvPlugin* plugin,
                        const std::vector<uint32_t>& ports, std::vector<float>& values)
{
    for (std::size_t k = 0; k < ports.size(); ++k) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, ports[k]);
        if (symbol == lilv_node_as_string(lilv_port_get_symbol(plugin, port))) {
            return &values[k];
        }
    }
    return nullptr;
}

} // namespace

Status set_input_value(std::string_view symbol, float value, const LilvPlugin* plugin,
                       const PortIndexLists& lists, std::vector<float>& control_values,
                       std::vector<float>& cv_values)
{
    const std::string name(symbol);
    // Symbols are unique among a plugin's ports.
    float* slot = input_value_slot(name, plugin, lists.control_inputs, control_values);
    if (slot == nullptr) {
        slot = input_value_slot(name, plugin, lists.cv_inputs, cv_values);
    }
    if (slot == nullptr) {
        return Error{"Error: Port with symbol " + name + " does not exist.\n"};
    }
    *slot = value;
    return {};
}

} // namespace tonbrix
