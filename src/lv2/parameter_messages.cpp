#include "lv2/parameter_messages.h"

#include "lv2/patch_messages.h"

#include <algorithm>

namespace tonbrix {

Status queue_parameter_messages(const ParameterPlan& plan, const PortIndexLists& lists,
                                LV2_URID_Map* map, RunBuffers& buffers)
{
    if (plan.message_values.empty() || !plan.has_message_port) {
        return {};
    }
    const auto port = std::find(lists.atom_inputs.begin(), lists.atom_inputs.end(),
                                plan.message_port);
    if (port == lists.atom_inputs.end()) {
        return {};
    }
    const auto k = static_cast<std::size_t>(port - lists.atom_inputs.begin());
    for (InstanceBuffers& own : buffers.instances) {
        auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(own.atom_inputs[k].data());
        if (!write_patch_sets(sequence, atom_body_capacity, plan.message_values, map)) {
            return Error{"Error: the --set values do not fit in the plugin's control input.\n"};
        }
    }
    return {};
}

} // namespace tonbrix
