#pragma once

#include <tonbrix/world.h>

#include <lilv/lilv.h>

namespace tonbrix::cli {

// Prints "<number>\t<uri>" for every plugin, numbered from 1.
void list_plugins(const World& world);

// The plugin the text names: a nonzero leading number selects by list
// number; otherwise the whole text is taken as a URI. Null when nothing
// matches; prints nothing.
const LilvPlugin* find_plugin(const char* text, const World& world);

// Prints the audio and control input ports and the writable parameters of
// the plugin the text names, or "No such plugin" on standard error.
void list_ports(const World& world, const char* text);

// Prints "Preset: <label>" for every labelled preset of the plugin.
void list_presets(const PluginDescription& plugin);

} // namespace tonbrix::cli
