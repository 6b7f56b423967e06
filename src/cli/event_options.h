#pragma once

#include "cli/option_tables.h"
#include "engine/automation_feed.h"
#include "io/midi_file.h"
#include "lv2/event_ports.h"
#include "lv2/world.h"

#include <tonbrix/error.h>

#include <optional>
#include <string>
#include <vector>

namespace tonbrix::cli {

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
};

// The sample rate of a run without an input file: -r, else 48000 Hz.
inline constexpr int default_instrument_rate = 48000;

// True when the plugin lets a run leave out the input (it has no audio
// inputs) and the output (it has no audio outputs, or --midi-out is given)
// that the command line leaves out.
bool files_may_be_left_out(const LilvPlugin* plugin, const UriNodes& nodes,
                           const RunOptions& options, bool has_input, bool has_output);

// The message for a run that leaves out -o although the plugin's audio
// outputs need it: what to give instead. Empty when the missing input is
// the fault (the plugin has audio inputs), which the usage text names.
std::string missing_output_message(const LilvPlugin* plugin, World::Impl& world,
                                   bool has_input);

// Checks the event options and the files against the plugin and reads the
// MIDI file; the message of the first that does not fit otherwise.
Result<EventPlan> plan_events(const RunOptions& options, World::Impl& world,
                              const LilvPlugin* plugin, bool has_input, bool has_output);

// The frames at `rate` that a run without an input file takes before its
// tail: up to the end of the MIDI file (its last event or end of track,
// whichever is later) and one more, so that the last event falls inside;
// 0 without a MIDI file.
uint64_t midi_frames(const EventPlan& plan, int rate);

} // namespace tonbrix::cli
