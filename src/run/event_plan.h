#pragma once

#include "engine/automation_feed.h"
#include "io/midi_file.h"
#include "lv2/event_ports.h"
#include "lv2/world.h"

#include <tonbrix/error.h>
#include <tonbrix/run.h>

#include <optional>
#include <string>
#include <vector>

namespace tonbrix {

// How a run's events, automation and files fit the plugin, settled before
// any file is touched.
struct EventPlan {
    bool reads_input = true;   // -i given
    bool writes_audio = true;  // -o given
    EventPorts ports;
    uint32_t audio_inputs = 0;
    uint32_t audio_outputs = 0;
    std::vector<std::string> automated_symbols; // by automated port
    std::vector<AutomatedPort> automated;
    std::optional<MidiFile> midi; // --midi, read
    // In a chain: the MIDI input takes what the plugin before gives from its
    // MIDI output, and the MIDI output goes on to the plugin after.
    bool midi_from_chain = false;
    bool midi_to_chain = false;
};

// True when the plugin lets a run leave out the input (it has no audio
// inputs) and the output (it has no audio outputs, or its MIDI output is
// written) that the run leaves out.
bool files_may_be_left_out(const LilvPlugin* plugin, const UriNodes& nodes, bool midi_out,
                           bool has_input, bool has_output);

// Where a plugin stands in a chain, as far as its events go: whether it
// takes MIDI from the plugin before, gives MIDI to the plugin after (so
// that it needs no audio outputs), or feeds audio to a plugin after it
// (as `has_output` says for the last), and whether another plugin of the
// chain plays the MIDI file (which then sets the length of a run without
// input). All false for a single plugin.
struct ChainPlace {
    bool midi_from_chain = false;
    bool midi_to_chain = false;
    bool feeds_next = false;
    bool midi_elsewhere = false;
};

// The message for a run that leaves out -o although the plugin's audio
// outputs need it: what to give instead. Empty when the missing input is
// the fault (the plugin has audio inputs), which the usage text names.
std::string missing_output_message(const LilvPlugin* plugin, World::Impl& world,
                                   bool has_input);

// Whether a step's MIDI output is taken, to a file or to memory.
bool takes_midi_output(const PluginStep& step);

// Whether some plugin of the run saves a preset, which lets the run leave
// out its input and output.
bool saves_presets(const RunSettings& settings);

// Checks the step's events and the run's files against the plugin and
// reads the MIDI file; the message of the first that does not fit
// otherwise.
Result<EventPlan> plan_events(const PluginStep& step, const RunSettings& settings,
                              World::Impl& world, const LilvPlugin* plugin, bool has_input,
                              bool has_output, const ChainPlace& place = {});

// The plugin's event ports; the message when its ports cannot be read.
Result<EventPorts> plugin_event_ports(World::Impl& world, const LilvPlugin* plugin);

// "'Name' (URI)", for messages about the plugin.
std::string plugin_title(const LilvPlugin* plugin);

// The frames at `rate` that a run without an input file takes before its
// tail: round(T × rate) for the end T of the MIDI file (its last event or
// end of track, whichever is later), so that an event at T falls outside;
// 0 without a MIDI file.
uint64_t midi_frames(const EventPlan& plan, int rate);

} // namespace tonbrix
