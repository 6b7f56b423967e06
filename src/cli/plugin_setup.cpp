#include "cli/plugin_setup.h"

#include "lv2/parameters.h"
#include "lv2/presets.h"
#include "lv2/world.h"

namespace tonbrix::cli {

Status prepare_plugin_states(World& world, const LilvPlugin* plugin, const RunOptions& options,
                             InstanceStates& states)
{
    World::Impl& lv2 = world.impl();
    LilvWorld* lilv = lv2.lilv.get();
    if (options.has_preset) {
        states.preset = find_preset(lilv, plugin, lv2.nodes, options.preset,
                                    lv2.urid_table.map_feature());
        if (!states.preset) {
            return Error{"Preset '" + options.preset + "' was not found.\n"};
        }
    }
    if (Status status = block_length_supported(lilv, plugin, options.blocksize); !status) {
        return status;
    }
    if (Status status = plan_parameters(lilv, plugin, options.set_values, states.parameters);
        !status) {
        return status;
    }
    states.default_state = load_default_state(lilv, plugin, lv2.urid_table.map_feature());
    return {};
}

} // namespace tonbrix::cli
