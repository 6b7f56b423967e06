#include "run/preset_saving.h"

#include "lv2/world.h"

#include <mutex>

namespace tonbrix {

Status plan_preset_saving(World::Impl& world, const RunSettings& settings, PluginSetup& setup)
{
    if (!setup.step->save_preset) {
        return {};
    }
    const std::string folder =
        settings.preset_folder ? *settings.preset_folder : user_preset_folder();
    if (folder.empty()) {
        return Error{"Error: there is no home folder to save presets in; give --preset-dir.\n"};
    }
    Result<PresetTarget> target =
        plan_preset_save(world, setup.plugin, *setup.step->save_preset, folder);
    if (!target) {
        return target.error();
    }
    setup.preset_target = std::move(target.value());
    return {};
}

Result<std::unique_ptr<PresetBundle>> save_plugin_preset(World::Impl& world,
                                                         const PluginSetup& setup,
                                                         InstanceSet& instances,
                                                         const PortIndexLists& lists,
                                                         const std::vector<float>& control_inputs)
{
    InstanceToSave saved;
    saved.instance = instances.instances.front();
    saved.features = instances.feature_lists.front().data();
    {
        const std::lock_guard<std::mutex> held(instances.features.paths.lock);
        saved.scratch_folder = instances.features.paths.scratch_folder;
    }
    for (std::size_t c = 0; c < lists.control_inputs.size() && c < control_inputs.size(); ++c) {
        // The run's freewheeling says how it runs, not what the plugin is set to.
        if (static_cast<int64_t>(lists.control_inputs[c]) == lists.freewheel_port) {
            continue;
        }
        const LilvPort* port = lilv_plugin_get_port_by_index(setup.plugin, lists.control_inputs[c]);
        saved.values.push_back(
            {lilv_node_as_string(lilv_port_get_symbol(setup.plugin, port)), control_inputs[c]});
    }
    return save_preset(world, setup.plugin, saved, *setup.preset_target);
}

std::string saved_preset_note(const PluginStep& step, const PresetBundle& bundle)
{
    return "Note: Saved the preset '" + step.save_preset.value_or(std::string()) + "' in " +
           bundle.bundle() + "\n";
}

} // namespace tonbrix
