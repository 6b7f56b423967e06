#pragma once

#include "lv2/world.h"

#include <tonbrix/world.h>

namespace tonbrix {

// Everything the plugin's data declares about it, read through lilv.
PluginDescription describe_plugin(const World::Impl& world, const LilvPlugin* plugin);

// The plugin's labelled presets, by label, then by URI.
std::vector<PresetDescription> describe_presets(const World::Impl& world, const LilvPlugin* plugin);

} // namespace tonbrix
