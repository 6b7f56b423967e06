#pragma once

#include "engine/block_hooks.h"
#include "engine/routing.h"
#include "lv2/instances.h"
#include "lv2/run_buffers.h"
#include "lv2/urid_table.h"
#include "lv2/worker.h"

#include <tonbrix/graph.h>

#include <lilv/lilv.h>

#include <cstdint>
#include <deque>
#include <vector>

namespace tonbrix {

// The instances of one plugin with their port buffers, and the routing of
// the node's input channels to their audio inputs.
struct PluginInstances {
    BlockShape shape;
    // [instance][audio input][channel]: 1 where the channel feeds the input.
    const uint8_t* matrix = nullptr;
    RunBuffers* buffers = nullptr;
    const std::vector<LilvInstance*>* instances = nullptr;
    // By instance, null where the plugin has no worker: its responses are
    // delivered after each run.
    const std::vector<WorkerContext*>* workers = nullptr;
    // By instance: its log lines and worker trace, held with the block it
    // runs when the chunk takes them.
    std::deque<InstanceEvents>* events = nullptr;
    uint32_t sequence_type = 0; // atom:Sequence, to empty the atom inputs
    uint32_t chunk_type = 0;    // atom:Chunk, to offer the atom outputs their room
    int32_t latency_output = -1; // index among the control outputs, -1 for none
    // Called around every run of every instance, in this order.
    std::vector<BlockHooks*> hooks;
};

// The instances of a plugin as a node sees them: their shape, routing,
// buffers and workers, and the latency output's index among the control
// outputs (-1 for none); no hooks yet.
PluginInstances plugin_instances(const BlockShape& shape, const Routing& routing,
                                 RunBuffers& buffers, InstanceSet& instances, const Urids& urids,
                                 int32_t latency_output);

// A node of N instances of one plugin; instance m is part m and writes
// outputs m * O up to (m + 1) * O. Each instance touches only its own
// buffers, so instances may run on different threads.
class PluginNode : public Node {
public:
    explicit PluginNode(const PluginInstances& instances);

    uint32_t input_channels() const override { return plugin_.shape.channels; }
    uint32_t output_channels() const override
    {
        return plugin_.shape.instances * plugin_.shape.outputs;
    }
    std::size_t parts() const override { return plugin_.shape.instances; }
    bool reads_interleaved() const override { return true; }
    std::optional<Error> prepare(const NodeSetup& setup) override;
    std::optional<Error> run(std::size_t part, const ChunkInput& input,
                             const ChunkOutput& output) override;
    bool reports_latency() const override { return plugin_.latency_output >= 0; }
    double latency(std::size_t part) const override { return latencies_[part]; }

private:
    PluginInstances plugin_;
    bool prefetch_ = false;
    std::vector<uint8_t> ran_;      // by instance: has run once
    std::vector<double> latencies_; // by instance: the reading after its first run
    std::vector<uint64_t> positions_; // by instance: the stream frame of its next block
};

} // namespace tonbrix
