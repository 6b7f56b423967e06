#pragma once

#include "lv2/instances.h"
#include "lv2/preset_save.h"
#include "run/event_plan.h"

#include <tonbrix/run.h>
#include <tonbrix/world.h>

#include <optional>

namespace tonbrix {

// One plugin of a run: its step of the chain, the plugin, the states its
// instances restore and the events it plays, and where its preset goes
// when it saves one.
struct PluginSetup {
    const PluginStep* step = nullptr;
    const LilvPlugin* plugin = nullptr;
    InstanceStates states;
    EventPlan plan;
    std::optional<PresetTarget> preset_target;
};

// Takes what a plugin's instances will restore before any file is opened:
// the step's preset, the plugin's default state and the --set values, once
// it has checked that the plugin takes the block size. The message of the
// first that fails: a preset that is not found, a block length the plugin
// refuses, a --set value it cannot use.
Status prepare_plugin_states(World& world, const LilvPlugin* plugin, const PluginStep& step,
                             uint32_t block_size, InstanceStates& states);

} // namespace tonbrix
