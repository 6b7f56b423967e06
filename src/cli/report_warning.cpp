#include "cli/report_warning.h"

namespace tonbrix::cli {

std::string empty_report_warning(const std::vector<const LilvPlugin*>& plugins,
                                 const UriNodes& nodes)
{
    for (const LilvPlugin* plugin : plugins) {
        if (lilv_plugin_get_num_ports_of_class(plugin, nodes.control_port.get(),
                                               nodes.output_port.get(), nullptr) > 0) {
            return {};
        }
    }
    if (plugins.size() == 1) {
        return std::string("WARNING: The plugin ") +
               lilv_node_as_uri(lilv_plugin_get_uri(plugins.front())) +
               " has no control outputs to report.\n";
    }
    return "WARNING: No plugin of the chain has control outputs to report.\n";
}

} // namespace tonbrix::cli
