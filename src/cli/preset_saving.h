#pragma once

#include "cli/plugin_setup.h"
#include "lv2/instances.h"
#include "lv2/ports.h"
#include "lv2/preset_save.h"

#include <tonbrix/world.h>

#include <memory>
#include <vector>

namespace tonbrix::cli {

// Settles where a plugin with --save-preset saves its preset (in
// --preset-dir, else ~/.lv2), before any file is opened; the message of
// the first fault otherwise (see plan_preset_save).
Status plan_preset_saving(World& world, PluginSetup& setup);

// Saves the state of the plugin's first instance, with the control input
// values it runs with, into a new bundle that is put in place later; the
// message of the first fault otherwise.
Result<std::unique_ptr<PresetBundle>> save_plugin_preset(World::Impl& world,
                                                         const PluginSetup& setup,
                                                         InstanceSet& instances,
                                                         const PortIndexLists& lists,
                                                         const std::vector<float>& control_inputs);

// The note that says where the preset went.
std::string saved_preset_note(const PluginSetup& setup, const PresetBundle& bundle);

} // namespace tonbrix::cli
