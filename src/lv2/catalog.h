#pragma once

#include <lilv/lilv.h>

// Prints "<number>\t<uri>" for every plugin, numbered from 1.
void list_plugins(const LilvPlugins* plugins);

// The plugin at a 0-based position in the collection, or null.
const LilvPlugin* plugin_at_index(const LilvPlugins* plugins, int index);

// A nonzero leading number selects by list number; otherwise the whole text
// is taken as a URI. Null when nothing matches; prints nothing.
const LilvPlugin* find_plugin(const char* text, const LilvPlugins* plugins, LilvWorld* world);

// True when the text begins with a URI scheme and its colon.
bool has_uri_scheme(const char* text);

// Prints the audio and control input ports of the plugin the text names, or
// "No such plugin" on standard error.
void list_ports(LilvWorld* world, const LilvPlugins* plugins, const char* text);
