#pragma once

#include <tonbrix/error.h>
#include <tonbrix/events.h>
#include <tonbrix/graph.h>
#include <tonbrix/world.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tonbrix {

// What a plugin node is made of: the plugin, the channels it takes, the
// rate and block size of the render it runs in, and its control values.
struct PluginSettings {
    std::string uri;
    uint32_t channels = 1; // routed to the plugin's inputs as tonbrix does by default
    double sample_rate = 48000.0;
    uint32_t block_size = 1024; // must be the render's
    std::vector<std::pair<std::string, float>> controls; // by port symbol, in order
    EventSink* events = nullptr; // routing notes, plugin log lines; none when null
};

// Creates and activates as many instances of the plugin as the channels
// need, with their controls set, as one node of a graph. The node keeps
// pointers into the world, which must outlive it.
Result<std::unique_ptr<Node>> make_plugin_node(World& world, const PluginSettings& settings);

} // namespace tonbrix
