#include "run/plugin_setup.h"

#include "lv2/parameters.h"
#include "lv2/presets.h"
#include "lv2/world.h"

namespace tonbrix {

Status prepare_plugin_states(World& world, const LilvPlugin* plugin, const PluginStep& step,
                             uint32_t block_size, InstanceStates& states)
{
    World::Impl& lv2 = WorldAccess::impl(world);
    LilvWorld* lilv = lv2.lilv.get();
    if (step.preset) {
        states.preset = find_preset(lilv, plugin, lv2.nodes, *step.preset,
                                    lv2.urid_table.map_feature());
        if (!states.preset) {
            return Error{"Preset '" + *step.preset + "' was not found.\n"};
        }
    }
    if (Status status = block_length_supported(lilv, plugin, static_cast<int>(block_size)); !status) {
        return status;
    }
    if (Status status = plan_parameters(lilv, plugin, step.set_values, states.parameters);
        !status) {
        return status;
    }
    states.default_state = load_default_state(lilv, plugin, lv2.urid_table.map_feature());
    return {};
}

} // namespace tonbrix
