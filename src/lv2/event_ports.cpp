#include "lv2/event_ports.h"

#include "lv2/lilv_owners.h"

#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/time/time.h>

#include <span>

namespace tonbrix {

namespace {

// The position in `ports` of the port that supports `type`: designated
// lv2:control first, else the first; -1 for none.
int32_t port_supporting(const LilvPlugin* plugin, std::span<const uint32_t> ports,
                        const LilvNode* type, const LilvNode* designation,
                        const LilvNode* control)
{
    int32_t found = -1;
    for (std::size_t k = 0; k < ports.size(); ++k) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, ports[k]);
        if (!lilv_port_supports_event(plugin, port, type)) {
            continue;
        }
        NodePtr designated(lilv_port_get(plugin, port, designation));
        if (designated && lilv_node_equals(designated.get(), control)) {
            return static_cast<int32_t>(k);
        }
        if (found < 0) {
            found = static_cast<int32_t>(k);
        }
    }
    return found;
}

} // namespace

EventPorts find_event_ports(LilvWorld* world, const LilvPlugin* plugin,
                            const PortIndexLists& lists)
{
    NodePtr midi(lilv_new_uri(world, LV2_MIDI__MidiEvent));
    NodePtr position(lilv_new_uri(world, LV2_TIME__Position));
    NodePtr designation(lilv_new_uri(world, LV2_CORE__designation));
    NodePtr control(lilv_new_uri(world, LV2_CORE__control));
    EventPorts ports;
    if (!midi || !position || !designation || !control) {
        return ports;
    }
    ports.midi_input = port_supporting(plugin, lists.atom_inputs, midi.get(), designation.get(),
                                       control.get());
    ports.transport_input = port_supporting(plugin, lists.atom_inputs, position.get(),
                                            designation.get(), control.get());
    ports.midi_output = port_supporting(plugin, lists.atom_outputs, midi.get(),
                                        designation.get(), control.get());
    return ports;
}

} // namespace tonbrix
