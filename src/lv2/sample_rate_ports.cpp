#include "lv2/sample_rate_ports.h"

std::vector<uint32_t> sample_rate_ports(const LilvPlugin* plugin, const LilvNode* sample_rate)
{
    std::vector<uint32_t> ports;
    const uint32_t count = lilv_plugin_get_num_ports(plugin);
    for (uint32_t p = 0; p < count; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
        if (port != nullptr && lilv_port_has_property(plugin, port, sample_rate)) {
            ports.push_back(p);
        }
    }
    return ports;
}

bool default_is_fraction(float value, float minimum, float maximum)
{
    return !(value < minimum) && !(value > maximum);
}

void scale_to_sample_rate(const std::vector<uint32_t>& ports, double rate,
                          std::vector<float>& minimums, std::vector<float>& maximums,
                          std::vector<float>& start_values)
{
    auto scale = [rate](float& value) { value = static_cast<float>(static_cast<double>(value) * rate); };
    for (const uint32_t p : ports) {
        if (p >= minimums.size() || p >= maximums.size() || p >= start_values.size()) {
            continue;
        }
        if (default_is_fraction(start_values[p], minimums[p], maximums[p])) {
            scale(start_values[p]);
        }
        scale(minimums[p]);
        scale(maximums[p]);
    }
}
