#include "engine/plugin_node.h"

#include "engine/channel_mix.h"

#include <algorithm>
#include <cstring>

namespace tonbrix {

PluginInstances plugin_instances(const BlockShape& shape, const Routing& routing,
                                 RunBuffers& buffers, InstanceSet& instances, const Urids& urids,
                                 int32_t latency_output)
{
    PluginInstances plugin;
    plugin.shape = shape;
    plugin.matrix = routing.matrix.data;
    plugin.buffers = &buffers;
    plugin.instances = &instances.instances;
    plugin.workers = &instances.worker_of_instance;
    plugin.events = &instances.events;
    plugin.sequence_type = urids.atom_Sequence;
    plugin.chunk_type = urids.atom_Chunk;
    plugin.latency_output = latency_output;
    return plugin;
}

PluginNode::PluginNode(const PluginInstances& instances)
    : plugin_(instances), ran_(instances.shape.instances, 0),
      latencies_(instances.shape.instances, 0.0), positions_(instances.shape.instances, 0)
{
}

std::optional<Error> PluginNode::prepare(const NodeSetup& setup)
{
    // Chunks filled on another thread sit in another core's cache.
    prefetch_ = setup.threaded;
    return std::nullopt;
}

std::optional<Error> PluginNode::run(std::size_t part, const ChunkInput& input,
                                     const ChunkOutput& output)
{
    const BlockShape& s = plugin_.shape;
    const std::size_t m = part;
    LilvInstance* instance = (*plugin_.instances)[m];
    InstanceBuffers& own = plugin_.buffers->instances[m];
    float* port_inputs = plugin_.buffers->input_ports.data + m * std::size_t{s.inputs} * s.block_size;
    const float* port_outputs =
        plugin_.buffers->output_ports.data + m * std::size_t{s.outputs} * s.block_size;
    const uint8_t* matrix = plugin_.matrix + m * std::size_t{s.inputs} * s.channels;
    const bool prefetch = prefetch_ && input.data != nullptr;
    const auto fetch = [&](std::size_t offset) {
        const std::size_t count = std::min<std::size_t>(s.block_size, input.frames - offset);
        if (input.step > 1) {
            // Interleaved frames: one run of samples.
            prefetch_samples(input.data + offset * input.step, count * input.step);
            return;
        }
        for (uint32_t c = 0; c < s.channels; ++c) {
            prefetch_samples(input.channel(c) + offset, count);
        }
    };
    if (prefetch && input.frames > 0) {
        fetch(0);
    }
    // What the instance raises while it runs a block stays with the block.
    InstanceEvents* raised =
        output.held != nullptr && plugin_.events != nullptr && m < plugin_.events->size()
            ? &(*plugin_.events)[m]
            : nullptr;
    // The events given with the chunk, handed out block by block.
    std::size_t given = 0;
    for (std::size_t offset = 0; offset < input.frames; offset += s.block_size) {
        const std::size_t frames = std::min<std::size_t>(s.block_size, input.frames - offset);
        const std::size_t next = offset + s.block_size;
        if (prefetch && next < input.frames) {
            // The next block's input arrives while the plugin runs.
            fetch(next);
        }
        if (input.data != nullptr) {
            mix_channels(input, s.channels, offset, frames, s.inputs, matrix, s.block_size,
                         port_inputs);
            if (frames < s.block_size) {
                // The last block of the input is run whole: silence after its end.
                for (uint32_t i = 0; i < s.inputs; ++i) {
                    std::memset(port_inputs + std::size_t{i} * s.block_size + frames, 0,
                                (s.block_size - frames) * sizeof(float));
                }
            }
        } else {
            std::memset(port_inputs, 0, std::size_t{s.inputs} * s.block_size * sizeof(float));
        }
        for (AtomBuffer& atoms : own.atom_outputs) {
            prepare_atom_output(atoms, plugin_.chunk_type);
        }
        const uint64_t start = positions_[m];
        const std::size_t first_given = given;
        while (given < input.events.size() && input.events[given].frame < start + s.block_size) {
            ++given;
        }
        const std::span<const StreamEvent> block_events =
            input.events.subspan(first_given, given - first_given);
        if (raised != nullptr) {
            raised->hold(output.held, offset / s.block_size);
        }
        for (BlockHooks* hooks : plugin_.hooks) {
            hooks->before_block(m, start, s.block_size, block_events);
        }
        lilv_instance_run(instance, s.block_size);
        if (plugin_.workers != nullptr && (*plugin_.workers)[m] != nullptr) {
            end_worker_run(*(*plugin_.workers)[m]);
        }
        for (AtomBuffer& atoms : own.atom_inputs) {
            reset_atom_input(atoms, plugin_.sequence_type);
        }
        for (BlockHooks* hooks : plugin_.hooks) {
            hooks->after_block(m, start, s.block_size, output.events);
        }
        if (raised != nullptr) {
            raised->release();
        }
        positions_[m] = start + s.block_size;
        if (ran_[m] == 0) {
            ran_[m] = 1;
            if (plugin_.latency_output >= 0) {
                latencies_[m] = own.control_outputs[static_cast<std::size_t>(plugin_.latency_output)];
            }
        }
        for (uint32_t q = 0; q < s.outputs; ++q) {
            std::memcpy(output.channel(static_cast<uint32_t>(m * s.outputs + q)) + offset,
                        port_outputs + std::size_t{q} * s.block_size, frames * sizeof(float));
        }
    }
    return std::nullopt;
}

} // namespace tonbrix
