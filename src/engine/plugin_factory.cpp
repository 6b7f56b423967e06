#include "engine/event_hooks.h"
#include "engine/plugin_node.h"
#include "lv2/event_feed.h"
#include "lv2/event_ports.h"
#include "engine/routing.h"
#include "lv2/instances.h"
#include "lv2/port_connections.h"
#include "lv2/ports.h"
#include "lv2/presets.h"
#include "lv2/world.h"

#include <tonbrix/plugin.h>

#include <optional>

namespace tonbrix {

namespace {

// The MIDI outputs of the node before whose events, in one block, a node's
// MIDI input has room for; more are left out.
constexpr std::size_t given_midi_outputs = 8;

// A plugin node with everything its instances point into, released in
// reverse order: the instances before their buffers and states.
class OwnedPluginNode final : public Node {
public:
    NoEvents quiet; // where the instances report when nobody listens
    PortIndexLists lists;
    Routing routing;
    BlockShape shape;
    RunBuffers buffers;
    InstanceStates states;
    PortRanges ranges;
    std::optional<EventFeed> midi_feed; // what the node before gives, into the MIDI input
    EventHooks hooks;
    InstanceSet instances;
    std::unique_ptr<PluginNode> node;

    uint32_t input_channels() const override { return node->input_channels(); }
    uint32_t output_channels() const override { return node->output_channels(); }
    std::size_t parts() const override { return node->parts(); }
    bool reads_interleaved() const override { return node->reads_interleaved(); }
    std::optional<Error> prepare(const NodeSetup& setup) override
    {
        if (setup.block_size != shape.block_size) {
            return Error{"Error: the plugin node was made for blocks of " +
                         std::to_string(shape.block_size) + " frames, not " +
                         std::to_string(setup.block_size) + ".\n"};
        }
        return node->prepare(setup);
    }
    std::optional<Error> run(std::size_t part, const ChunkInput& input,
                             const ChunkOutput& output) override
    {
        return node->run(part, input, output);
    }
    bool reports_latency() const override { return node->reports_latency(); }
    double latency(std::size_t part) const override { return node->latency(part); }
};

} // namespace

Result<std::unique_ptr<Node>> make_plugin_node(World& world, const PluginSettings& settings)
{
    World::Impl& lv2 = WorldAccess::impl(world);
    const LilvPlugin* plugin = find_lilv_plugin(lv2, settings.uri);
    if (plugin == nullptr) {
        return Error{"Error: no plugin has the URI " + settings.uri + ".\n"};
    }
    auto owned = std::make_unique<OwnedPluginNode>();
    OwnedPluginNode& n = *owned;
    EventSink& events = settings.events != nullptr ? *settings.events : n.quiet;
    if (Status status = block_length_supported(lv2.lilv.get(), plugin,
                                               static_cast<int32_t>(settings.block_size));
        !status) {
        return status.error();
    }
    if (Status status = scan_ports(plugin, lv2.nodes, n.lists); !status) {
        return status.error();
    }
    if (Status status = route_channels(settings.connections.empty() ? nullptr
                                                                    : &settings.connections,
                                       settings.mono, settings.channels, n.lists, plugin, events,
                                       n.routing);
        !status) {
        return status.error();
    }
    n.shape = BlockShape{settings.block_size, settings.channels,
                         static_cast<uint32_t>(n.lists.audio_inputs.size()),
                         static_cast<uint32_t>(n.lists.audio_outputs.size()), n.routing.instances};
    if (!allocate_port_buffers(n.shape, n.lists, lv2.urids.atom_Sequence, n.buffers)) {
        return Error{insufficient_memory_message};
    }
    n.states.default_state =
        load_default_state(lv2.lilv.get(), plugin, lv2.urid_table.map_feature());
    if (!settings.preset.empty()) {
        n.states.preset = find_preset(lv2.lilv.get(), plugin, lv2.nodes, settings.preset,
                                      lv2.urid_table.map_feature());
        if (!n.states.preset) {
            return Error{"Preset '" + settings.preset + "' was not found.\n"};
        }
    }
    const auto set_values = [&]() -> Status {
        const std::vector<float> start = set_control_start_values(
            n.lists, n.ranges.start_values, n.ranges.minimums, n.ranges.maximums);
        std::copy(start.begin(), start.end(), n.buffers.control_inputs.begin());
        n.buffers.cv_values = set_cv_start_values(n.lists, n.ranges.start_values,
                                                  n.ranges.minimums, n.ranges.maximums);
        for (const auto& [symbol, value] : settings.controls) {
            if (Status status = set_input_value(symbol, value, plugin, n.lists,
                                                n.buffers.control_inputs, n.buffers.cv_values);
                !status) {
                return status;
            }
        }
        fill_cv_inputs(settings.block_size, n.buffers);
        return {};
    };
    const ConnectPorts connect = [&](LilvInstance* instance, std::size_t m) {
        connect_instance_ports(n.lists, instance, m, n.shape, n.buffers);
        // Plugins may read their inputs in activate.
        if (m == 0) {
            static_cast<void>(set_values());
        }
    };
    const InstanceSettings instance_settings{n.routing.instances, settings.sample_rate,
                                             static_cast<int32_t>(settings.block_size), &events};
    if (Status status = create_instances(lv2, plugin, instance_settings, n.states, connect,
                                         n.ranges, n.instances);
        !status) {
        return status.error();
    }
    if (Status status = set_values(); !status) {
        return status.error();
    }
    PluginInstances node = plugin_instances(n.shape, n.routing, n.buffers, n.instances,
                                            lv2.urids, n.lists.latency_output);
    // MIDI goes along a chain: into the MIDI input from what the node
    // before gives, and from the MIDI output on to the node after.
    const EventPorts ports = find_event_ports(lv2.lilv.get(), plugin, n.lists);
    const EventUrids urids = map_event_urids(*lv2.urid_table.map_feature());
    if (ports.midi_input >= 0) {
        n.midi_feed.emplace(std::vector<TimedMidiEvent>{}, std::vector<TransportPosition>{},
                            settings.sample_rate, n.instances.instances.size(),
                            settings.block_size, urids, true,
                            given_midi_outputs * std::size_t{atom_body_capacity});
        for (std::size_t m = 0; m < n.instances.instances.size(); ++m) {
            lilv_instance_connect_port(
                n.instances.instances[m],
                n.lists.atom_inputs[static_cast<std::size_t>(ports.midi_input)],
                n.midi_feed->buffer(m));
        }
        n.hooks.feeds.push_back(&*n.midi_feed);
    }
    if (ports.midi_output >= 0) {
        n.hooks.urids = urids;
        for (InstanceBuffers& own : n.buffers.instances) {
            AtomBuffer& output = own.atom_outputs[static_cast<std::size_t>(ports.midi_output)];
            n.hooks.given_outputs.push_back(
                {output.data(), static_cast<uint32_t>(sizeof(LV2_Atom) + atom_body_capacity)});
        }
    }
    if (ports.midi_input >= 0 || ports.midi_output >= 0) {
        node.hooks.push_back(&n.hooks);
    }
    n.node = std::make_unique<PluginNode>(node);
    return std::unique_ptr<Node>(std::move(owned));
}

} // namespace tonbrix
