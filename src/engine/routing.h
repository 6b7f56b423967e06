#pragma once

#include "base/buffers.h"
#include "lv2/ports.h"

#include <tonbrix/error.h>
#include <tonbrix/events.h>
#include <tonbrix/plugin.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tonbrix {

// How many instances run, and which file channel feeds which audio input of
// which instance: byte c + channels * (k + inputs * i) is 1 when file
// channel c feeds input k of instance i.
struct Routing {
    uint32_t instances = 1;
    uint32_t inputs = 0;
    uint32_t channels = 0;
    ByteBuffer matrix;
};

// Chooses the instance count and the connections, from the given ones or
// (when null) by the automatic rules, and reports its notes. An error when a
// connection names a channel or port that does not exist, or the plugin
// has more inputs than the file has channels.
Status route_channels(const std::vector<ChannelConnection>* connections, bool mono,
                      uint32_t channels, const PortIndexLists& lists, const LilvPlugin* plugin,
                      EventSink& events, Routing& routing);

// Sets the matrix bytes the connections name, in order; an error for the
// first that names a channel or port that does not exist.
Status apply_connections(const std::vector<ChannelConnection>& connections,
                         const LilvPlugin* plugin, const PortIndexLists& lists, Routing& routing);

// Sets the matrix bytes of the automatic mapping and reports its note; an
// error when the plugin has more inputs than the file has channels.
Status auto_map_channels(bool mono, Routing& routing, EventSink& events);

uint32_t byte_sum(const uint8_t* bytes, uint32_t count);

} // namespace tonbrix
