#pragma once

#include "lv2/instances.h"
#include "run/event_plan.h"

#include <tonbrix/run.h>
#include <tonbrix/world.h>

namespace tonbrix {

// One plugin of a run: its step of the chain, the plugin, the states its
// instances restore and the events it plays.
struct PluginSetup {
    const PluginStep* step = nullptr;
    const LilvPlugin* plugin = nullptr;
    InstanceStates states;
    EventPlan plan;
};

// Takes what a plugin's instances will restore before any file is opened:
// the step's preset, the plugin's default state and the --set values, once
// it has checked that the plugin takes the block size. The message of the
// first that fails: a preset that is not found, a block length the plugin
// refuses, a --set value it cannot use.
Status prepare_plugin_states(World& world, const LilvPlugin* plugin, const PluginStep& step,
                             uint32_t block_size, InstanceStates& states);

} // namespace tonbrix
