#pragma once

#include "base/buffers.h"
#include "lv2/ports.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// How many instances run, and which file channel feeds which audio input of
// which instance: byte c + channels * (k + inputs * i) is 1 when file
// channel c feeds input k of instance i.
struct Routing {
    uint32_t instances = 1;
    uint32_t inputs = 0;
    uint32_t channels = 0;
    ByteBuffer matrix;
};

enum class RouteResult { ok, failed, out_of_memory };

// Chooses the instance count and the connections, from --connect or by the
// automatic rules, and prints the notes to `notes` (none when it is null).
// Errors go to standard error.
RouteResult route_channels(const std::vector<std::string>& connect, bool mono, uint32_t channels,
                           const PortIndexLists& lists, const LilvPlugin* plugin, FILE* notes,
                           Routing& routing);

// First pass over --connect: checks each item's colon and instance number
// and returns the highest instance number (at least 1), or 0 on error.
uint32_t count_instances(const std::vector<std::string>& connect);

// Second pass: sets the matrix bytes the items name. False on error.
bool apply_connections(const std::vector<std::string>& connect, const LilvPlugin* plugin,
                       const PortIndexLists& lists, Routing& routing);

// Sets the matrix bytes of the automatic mapping and prints its note (unless
// `notes` is null). False
// when the plugin has more inputs than the file has channels.
bool auto_map_channels(bool mono, Routing& routing, FILE* notes);

uint32_t byte_sum(const uint8_t* bytes, uint32_t count);
