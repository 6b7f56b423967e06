#pragma once

#include "lv2/instances.h"
#include "lv2/ports.h"
#include "lv2/preset_save.h"
#include "run/plugin_setup.h"

#include <tonbrix/run.h>
#include <tonbrix/world.h>

#include <memory>
#include <string>
#include <vector>

namespace tonbrix {

// Settles where a plugin whose step saves a preset saves it (in the run's
// preset folder, else ~/.lv2), before any file is opened; the message of
// the first fault otherwise (see plan_preset_save).
Status plan_preset_saving(World::Impl& world, const RunSettings& settings, PluginSetup& setup);

// Saves the state of the plugin's first instance, with the control input
// values it runs with, into a new bundle that is put in place later; the
// message of the first fault otherwise.
Result<std::unique_ptr<PresetBundle>> save_plugin_preset(World::Impl& world,
                                                         const PluginSetup& setup,
                                                         InstanceSet& instances,
                                                         const PortIndexLists& lists,
                                                         const std::vector<float>& control_inputs);

// The note that says where the preset went.
std::string saved_preset_note(const PluginStep& step, const PresetBundle& bundle);

} // namespace tonbrix
