#include "run/report_warning.h"

#include "lv2/world.h"

#include <tonbrix/run.h>

namespace tonbrix {

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

std::string empty_report_warning(const World& world, const std::vector<std::string>& uris)
{
    const World::Impl& lv2 = WorldAccess::impl(world);
    std::vector<const LilvPlugin*> plugins;
    for (const std::string& uri : uris) {
        const LilvPlugin* plugin = find_lilv_plugin(lv2, uri);
        if (plugin == nullptr) {
            return {};
        }
        plugins.push_back(plugin);
    }
    return empty_report_warning(plugins, lv2.nodes);
}

} // namespace tonbrix
