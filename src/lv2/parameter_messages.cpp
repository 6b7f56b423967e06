#include "lv2/parameter_messages.h"

#include "lv2/patch_messages.h"
#include "lv2/urid_table.h"

#include <algorithm>
#include <cstdio>

bool queue_parameter_messages(const ParameterPlan& plan, const PortIndexLists& lists,
                              RunBuffers& buffers)
{
    if (plan.delivery != ParameterDelivery::messages) {
        return true;
    }
    const auto port = std::find(lists.atom_inputs.begin(), lists.atom_inputs.end(),
                                plan.message_port);
    if (port == lists.atom_inputs.end()) {
        return true;
    }
    const auto k = static_cast<std::size_t>(port - lists.atom_inputs.begin());
    for (InstanceBuffers& own : buffers.instances) {
        auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(own.atom_inputs[k].data());
        if (!write_patch_sets(sequence, atom_body_capacity, plan.values, &g_urid_map_record)) {
            std::fputs("Error: the --set values do not fit in the plugin's control input.\n",
                       stderr);
            return false;
        }
    }
    return true;
}
