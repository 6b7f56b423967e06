#pragma once

#include "lv2/world.h"

#include <tonbrix/error.h>

#include <lilv/lilv.h>
#include <lv2/core/lv2.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tonbrix {

// The folder where LV2 hosts keep the user's presets: ~/.lv2 ($HOME, else
// the home folder of the password database); empty when neither is known.
std::string user_preset_folder();

// The bundle folder's and the file's name jalv gives a preset:
// "<plugin name>_<label>.preset.lv2" and "<label>.ttl", every byte that is
// not an ASCII letter or digit made '_' (each part at most 96 bytes).
std::string preset_bundle_name(std::string_view plugin_name, std::string_view label);
std::string preset_file_name(std::string_view label);

// Where a preset will be saved, settled before anything is written.
struct PresetTarget {
    std::string label;
    std::string folder; // absolute
    std::string bundle; // absolute: the bundle the preset makes or replaces
    std::string file;   // the preset's file in the bundle
};

// Checks the label and the folder and names the bundle: the folder's
// bundle that holds the plugin's preset with this label (which the save
// replaces), else a new one named as jalv names it (a number added when
// that name is taken). The folder is made when missing. An error for an
// empty label, a folder that cannot be made or written, the label of a
// preset of the plugin elsewhere (a system preset), and a bundle in the
// folder that holds other presets as well.
Result<PresetTarget> plan_preset_save(World::Impl& world, const LilvPlugin* plugin,
                                      std::string_view label, std::string_view folder);

// A control input's value as a preset keeps it.
struct SavedPortValue {
    std::string symbol;
    float value = 0.0f;
};

// The instance whose state is saved, with what it was made with.
struct InstanceToSave {
    LilvInstance* instance = nullptr;
    const LV2_Feature* const* features = nullptr; // the instance's, null-ended
    std::string scratch_folder; // where its plugin made files; empty for none
    std::vector<SavedPortValue> values;
};

// A preset written into a new bundle beside its place. commit() puts it in
// place, replacing an old bundle in one step; until then the destructor
// removes it.
class PresetBundle {
public:
    PresetBundle(std::string staging, std::string bundle);
    PresetBundle(const PresetBundle&) = delete;
    PresetBundle& operator=(const PresetBundle&) = delete;
    ~PresetBundle();

    // Renames the new bundle over its place; the message when that fails.
    Status commit();
    const std::string& bundle() const { return bundle_; }

private:
    std::string staging_;
    std::string bundle_;
    bool committed_ = false;
};

// Saves the control input values and the plugin's own state (through its
// state interface, if it has one) as a preset with the target's label, in a
// new bundle beside the target's; every file the state names is copied into
// the bundle. An error when the plugin's save reports a failure, or when the
// bundle or a file it needs cannot be written.
Result<std::unique_ptr<PresetBundle>> save_preset(World::Impl& world, const LilvPlugin* plugin,
                                                  const InstanceToSave& instance,
                                                  const PresetTarget& target);

} // namespace tonbrix
