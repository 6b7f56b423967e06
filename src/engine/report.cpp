#include "engine/report.h"

#include <cstdio>

namespace tonbrix {

std::vector<std::string> control_output_symbols(const LilvPlugin* plugin,
                                                const PortIndexLists& lists)
{
    std::vector<std::string> symbols;
    symbols.reserve(lists.control_outputs.size());
    for (const uint32_t index : lists.control_outputs) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
        symbols.emplace_back(lilv_node_as_string(lilv_port_get_symbol(plugin, port)));
    }
    return symbols;
}

std::string reading_text(const std::vector<std::string>& symbols, const Reading& reading,
                         std::string_view prefix)
{
    std::string text;
    const bool numbered = reading.values.size() > 1;
    for (std::size_t m = 0; m < reading.values.size(); ++m) {
        const std::vector<float>& values = reading.values[m];
        for (std::size_t k = 0; k < symbols.size() && k < values.size(); ++k) {
            text += prefix;
            if (numbered) {
                text += std::to_string(m + 1) + ".";
            }
            char value[64];
            std::snprintf(value, sizeof value, "%g", static_cast<double>(values[k]));
            text += symbols[k] + ": " + value + "\n";
        }
    }
    return text;
}

std::string report_text(const std::vector<std::string>& symbols,
                        const std::vector<InstanceBuffers>& instances)
{
    Reading reading;
    for (const InstanceBuffers& instance : instances) {
        reading.values.push_back(instance.control_outputs);
    }
    return reading_text(symbols, reading, "");
}

} // namespace tonbrix
