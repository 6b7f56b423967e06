#pragma once

#include <tonbrix/midi.h>
#include <tonbrix/run.h>

#include <pybind11/pybind11.h>

#include <deque>
#include <memory>
#include <vector>

namespace tonbrix::python {

// The plugins of one run as the library takes them, made from the Python
// side's description of each plugin (a dict; see tonbrix/_plugin.py), with
// the MIDI outputs they fill.
struct Steps {
    std::vector<PluginStep> plugins;
    // By chain position: the MIDI output asked of that plugin, else null.
    std::vector<std::unique_ptr<MidiSequence>> midi_out;
};

// Reads the dicts; call with the GIL held. TypeError or KeyError when one
// is not as the Python side makes them; tonbrix.Error for automation text
// that --automate would refuse, with its message.
Steps read_steps(const pybind11::list& steps);

// The MIDI events as a list of (seconds, bytes) tuples.
pybind11::list midi_events_list(const MidiSequence& sequence);

} // namespace tonbrix::python
