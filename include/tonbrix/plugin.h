#pragma once

#include <tonbrix/export.h>

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

// One connection of a node's input channel (from 1) to the audio input
// with this symbol of an instance (from 1).
struct ChannelConnection {
    int channel = 0;
    int instance = 1;
    std::string symbol;

    bool operator==(const ChannelConnection&) const = default;
};

// What a plugin node is made of: the plugin, the channels it takes and how
// they reach the instances, the rate and block size of the render it runs
// in, its preset and its control values.
struct PluginSettings {
    std::string uri;
    uint32_t channels = 1;
    // How the channels reach the instances' audio inputs: these connections,
    // or every channel mixed into each input (mono), or else tonbrix's
    // automatic routing (one instance per group of channels).
    std::vector<ChannelConnection> connections;
    bool mono = false;
    double sample_rate = 48000.0;
    uint32_t block_size = default_block_size; // must be the render's
    std::string preset; // the label of a preset restored before the controls; none when empty
    std::vector<std::pair<std::string, float>> controls; // by port symbol, in order
    EventSink* events = nullptr; // routing notes, plugin log lines; none when null
};

// Creates and activates as many instances of the plugin as the channels
// need, with their controls set, as one node of a graph. The node keeps
// pointers into the world, which must outlive it. A plugin with a MIDI
// input plays the events the node before gives with each chunk, at their
// frames; one with a MIDI output gives its events to the node after.
TONBRIX_API Result<std::unique_ptr<Node>> make_plugin_node(World& world, const PluginSettings& settings);

} // namespace tonbrix
