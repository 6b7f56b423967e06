#include "lv2/run_buffers.h"


#include <algorithm>

namespace tonbrix {

namespace {

constexpr std::size_t atom_words = (8 + atom_body_capacity + 8) / 8;

} // namespace

bool allocate_port_buffers(const BlockShape& s, const PortIndexLists& lists,
                           uint32_t sequence_type, RunBuffers& buffers)
{
    std::size_t inputs = 0;
    std::size_t outputs = 0;
    if (!checked_product({s.instances, s.inputs, s.block_size}, inputs) ||
        !checked_product({s.instances, s.outputs, s.block_size}, outputs) ||
        !buffers.input_ports.allocate(inputs) || !buffers.output_ports.allocate(outputs)) {
        return false;
    }
    std::size_t cv_inputs = 0;
    std::size_t cv_outputs = 0;
    if (!checked_product({lists.cv_inputs.size(), s.block_size}, cv_inputs) ||
        !checked_product({lists.cv_outputs.size(), s.block_size}, cv_outputs) ||
        !buffers.cv_inputs.allocate(cv_inputs)) {
        return false;
    }
    buffers.cv_values.assign(lists.cv_inputs.size(), 0.0f);
    buffers.control_inputs.assign(lists.control_inputs.size(), 0.0f);
    buffers.instances.resize(s.instances);
    for (InstanceBuffers& own : buffers.instances) {
        own.control_outputs.assign(lists.control_outputs.size(), 0.0f);
        own.cv_outputs.assign(cv_outputs, 0.0f);
        own.atom_inputs.assign(lists.atom_inputs.size(), AtomBuffer(atom_words, 0));
        own.atom_outputs.assign(lists.atom_outputs.size(), AtomBuffer(atom_words, 0));
        for (AtomBuffer& buffer : own.atom_inputs) {
            reset_atom_input(buffer, sequence_type);
        }
    }
    return true;
}

void fill_cv_inputs(uint32_t block_size, RunBuffers& buffers) noexcept
{
    for (std::size_t k = 0; k < buffers.cv_values.size(); ++k) {
        float* frames = buffers.cv_inputs.data + k * block_size;
        std::fill(frames, frames + block_size, buffers.cv_values[k]);
    }
}

void reset_atom_input(AtomBuffer& buffer, uint32_t sequence_type) noexcept
{
    auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(buffer.data());
    sequence->atom.size = sizeof(LV2_Atom_Sequence_Body);
    sequence->atom.type = sequence_type;
    sequence->body.unit = 0;
    sequence->body.pad = 0;
}

void prepare_atom_output(AtomBuffer& buffer, uint32_t chunk_type) noexcept
{
    auto* header = reinterpret_cast<LV2_Atom*>(buffer.data());
    header->size = atom_body_capacity;
    header->type = chunk_type;
}

} // namespace tonbrix
