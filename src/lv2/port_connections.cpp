#include "lv2/port_connections.h"

namespace tonbrix {

void connect_instance_ports(const PortIndexLists& lists, LilvInstance* instance, std::size_t m,
                            const BlockShape& s, RunBuffers& buffers)
{
    for (std::size_t p = 0; p < lists.audio_inputs.size(); ++p) {
        lilv_instance_connect_port(instance, lists.audio_inputs[p],
                                   buffers.input_ports.data + (m * s.inputs + p) * s.block_size);
    }
    for (std::size_t q = 0; q < lists.audio_outputs.size(); ++q) {
        lilv_instance_connect_port(instance, lists.audio_outputs[q],
                                   buffers.output_ports.data + (m * s.outputs + q) * s.block_size);
    }
    for (std::size_t k = 0; k < lists.control_inputs.size(); ++k) {
        lilv_instance_connect_port(instance, lists.control_inputs[k], &buffers.control_inputs[k]);
    }
    for (std::size_t k = 0; k < lists.cv_inputs.size(); ++k) {
        lilv_instance_connect_port(instance, lists.cv_inputs[k],
                                   buffers.cv_inputs.data + k * s.block_size);
    }
    InstanceBuffers& own = buffers.instances[m];
    for (std::size_t k = 0; k < lists.cv_outputs.size(); ++k) {
        lilv_instance_connect_port(instance, lists.cv_outputs[k],
                                   own.cv_outputs.data() + k * s.block_size);
    }
    for (std::size_t k = 0; k < lists.control_outputs.size(); ++k) {
        lilv_instance_connect_port(instance, lists.control_outputs[k], &own.control_outputs[k]);
    }
    for (std::size_t k = 0; k < lists.atom_inputs.size(); ++k) {
        lilv_instance_connect_port(instance, lists.atom_inputs[k], own.atom_inputs[k].data());
    }
    for (std::size_t k = 0; k < lists.atom_outputs.size(); ++k) {
        lilv_instance_connect_port(instance, lists.atom_outputs[k], own.atom_outputs[k].data());
    }
}

} // namespace tonbrix
