#pragma once

#include "lv2/ports.h"

#include <lilv/lilv.h>

#include <cstdint>

namespace tonbrix {

// The atom ports that events travel through, as positions in the atom
// input and output lists of PortIndexLists; -1 where the plugin has none.
struct EventPorts {
    int32_t midi_input = -1;      // takes midi:MidiEvent
    int32_t transport_input = -1; // takes time:Position
    int32_t midi_output = -1;     // gives midi:MidiEvent
};

// Finds each kind among the plugin's atom ports: of those that support the
// event type, the one designated lv2:control, else the first.
EventPorts find_event_ports(LilvWorld* world, const LilvPlugin* plugin,
                            const PortIndexLists& lists);

} // namespace tonbrix
