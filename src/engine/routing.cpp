#include "engine/routing.h"

#include <string>

namespace tonbrix {

namespace {

void connect(Routing& r, uint32_t instance, uint32_t input, uint32_t channel)
{
    const std::size_t at =
        channel + std::size_t{r.channels} * (input + std::size_t{r.inputs} * instance);
    r.matrix.data[at] = 1;
}

} // namespace

Status apply_connections(const std::vector<ChannelConnection>& connections,
                         const LilvPlugin* plugin, const PortIndexLists& lists, Routing& routing)
{
    for (const ChannelConnection& wanted : connections) {
        const int channel = wanted.channel;
        if (channel < 1 || static_cast<uint32_t>(channel) > routing.channels) {
            return Error{"Input sound file does not have channel " +
                         std::to_string(static_cast<unsigned>(channel)) + ".  It has " +
                         std::to_string(routing.channels) + " channels.\n"};
        }
        bool found = false;
        for (uint32_t k = 0; k < lists.audio_inputs.size() && !found; ++k) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, lists.audio_inputs[k]);
            if (wanted.symbol == lilv_node_as_string(lilv_port_get_symbol(plugin, port))) {
                connect(routing, static_cast<uint32_t>(wanted.instance - 1), k,
                        static_cast<uint32_t>(channel - 1));
                found = true;
            }
        }
        if (!found) {
            return Error{"Port with symbol " + wanted.symbol + " does not exist.\n"};
        }
    }
    return {};
}

Status auto_map_channels(bool mono, Routing& r, EventSink& events)
{
    if (r.inputs == r.channels) {
        events.report(EventKind::note,
                      "Note: Mapping audio channels to plugin ports based on ordering\n");
        for (uint32_t c = 0; c < r.channels; ++c) {
            connect(r, 0, c, c);
        }
    } else if (r.inputs == 1 && mono) {
        events.report(EventKind::note, "Note: Down mixing all channels to a single plugin input\n");
        for (uint32_t c = 0; c < r.channels; ++c) {
            connect(r, 0, 0, c);
        }
    } else if (r.inputs == 1) {
        events.report(EventKind::note, "Note: Running an instance of the plugin per channel\n");
        for (uint32_t c = 0; c < r.channels; ++c) {
            connect(r, c, 0, c);
        }
    } else if (r.inputs > r.channels) {
        return Error{"Error: Not enough input channels to connect all of the plugin's ports.  "
                     "Please manually specify connections\n"};
    } else {
        events.report(EventKind::note,
                      "Note: Extra channels ignored when mapping channels to plugin ports\n");
        for (uint32_t c = 0; c < r.inputs; ++c) {
            connect(r, 0, c, c);
        }
    }
    return {};
}

uint32_t byte_sum(const uint8_t* bytes, uint32_t count)
{
    uint32_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return sum;
}

Status route_channels(const std::vector<ChannelConnection>* connections, bool mono,
                      uint32_t channels, const PortIndexLists& lists, const LilvPlugin* plugin,
                      EventSink& events, Routing& routing)
{
    routing.channels = channels;
    routing.inputs = static_cast<uint32_t>(lists.audio_inputs.size());
    const bool user = connections != nullptr;
    if (user) {
        routing.instances = 1;
        for (const ChannelConnection& connection : *connections) {
            if (static_cast<uint32_t>(connection.instance) > routing.instances) {
                routing.instances = static_cast<uint32_t>(connection.instance);
            }
        }
    } else {
        routing.instances = (routing.inputs == 1 && !mono) ? channels : 1;
    }
    events.report(EventKind::note, "Note: Running " +
                                       std::to_string(static_cast<int>(routing.instances)) +
                                       " instances of the plugin.\n");

    std::size_t size = 0;
    if (!checked_product({routing.instances, routing.inputs, routing.channels}, size) ||
        !routing.matrix.allocate(size)) {
        return Error{insufficient_memory_message};
    }
    if (user) {
        if (Status applied = apply_connections(*connections, plugin, lists, routing); !applied) {
            return applied;
        }
        events.report(EventKind::note, "Note: Only making user specified connections.\n");
        return {};
    }
    return auto_map_channels(mono, routing, events);
}

} // namespace tonbrix
