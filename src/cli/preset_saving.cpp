#include "cli/preset_saving.h"

#include "lv2/world.h"

namespace tonbrix::cli {

Status plan_preset_saving(World& world, PluginSetup& setup)
{
    if (!setup.options.has_save_preset) {
        return {};
    }
    const std::string folder =
        setup.options.has_preset_dir ? setup.options.preset_dir : user_preset_folder();
    if (folder.empty()) {
        return Error{"Error: there is no home folder to save presets in; give --preset-dir.\n"};
    }
    Result<PresetTarget> target =
        plan_preset_save(world.impl(), setup.plugin, setup.options.save_preset, folder);
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

bool names_empty_preset_label(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view word(argv[i]);
        if (word == "--") {
            return false;
        }
        if (word == "--save-preset=" ||
            (word == "--save-preset" && i + 1 < argc && argv[i + 1][0] == '\0')) {
            return true;
        }
    }
    return false;
}

std::string saved_preset_note(const PluginSetup& setup, const PresetBundle& bundle)
{
    return "Note: Saved the preset '" + setup.options.save_preset + "' in " + bundle.bundle() +
           "\n";
}

} // namespace tonbrix::cli
