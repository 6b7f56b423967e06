#pragma once

#include "cli/event_options.h"
#include "cli/option_tables.h"
#include "lv2/instances.h"
#include "lv2/preset_save.h"

#include <tonbrix/world.h>

#include <optional>

namespace tonbrix::cli {

// One plugin of a run: the options of its part of the command line (with
// the run's), the plugin, the states its instances restore and the events
// it plays, and where its preset goes when it saves one.
struct PluginSetup {
    RunOptions options;
    const LilvPlugin* plugin = nullptr;
    InstanceStates states;
    EventPlan plan;
    std::optional<PresetTarget> preset_target;
};

// Takes what a plugin's instances will restore before any file is opened:
// the preset named by the options, the plugin's default state and the
// --set values, once it has checked that the plugin takes the block size.
// The message of the first that fails: a preset that is not found, a
// block length the plugin refuses, a --set value it cannot use.
Status prepare_plugin_states(World& world, const LilvPlugin* plugin, const RunOptions& options,
                             InstanceStates& states);

} // namespace tonbrix::cli
