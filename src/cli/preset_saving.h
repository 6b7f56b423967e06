#pragma once

#include "cli/plugin_setup.h"
#include "lv2/instances.h"
#include "lv2/ports.h"
#include "lv2/preset_save.h"

#include <tonbrix/world.h>

#include <memory>
#include <string>
#include <string_view>
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

// True when the command line gives --save-preset an empty value, which
// argtable would take for a missing one.
bool names_empty_preset_label(int argc, char** argv);

// The message for an empty label.
inline constexpr const char* empty_label_message =
    "Error: the preset's label is empty; --save-preset needs a name.\n";

// The note that says where the preset went.
std::string saved_preset_note(const PluginSetup& setup, const PresetBundle& bundle);

} // namespace tonbrix::cli
