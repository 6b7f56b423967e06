#pragma once

#include "run/event_plan.h"
#include "engine/event_hooks.h"
#include "io/midi_output.h"
#include "lv2/run_buffers.h"

#include <tonbrix/events.h>
#include <tonbrix/run.h>

#include <optional>

namespace tonbrix {

// The event side of a run: the MIDI file and the transport fed to the
// plugin's atom inputs, the automated inputs, and the MIDI output collected
// into --midi-out.
class EventRun {
public:
    // Makes the MIDI output file's temporary file, if asked for, and tells
    // the observer of it; the message when it cannot be written.
    Status open_midi_output(const PluginStep& step, RunObserver& observer);

    // Makes the feeds and the capture for the instances, which have taken
    // their --set values, and connects their ports to the feeds' buffers.
    // `given_instances`: the instances of the plugin before whose MIDI the
    // plugin takes in a chain.
    void start(const EventPlan& plan, const PluginStep& step, World::Impl& world,
               const PortIndexLists& lists, RunBuffers& buffers,
               const std::vector<LilvInstance*>& instances, uint32_t block_size, double rate,
               std::size_t given_instances = 0);

    // True when the MIDI given to the plugin after could not all be kept
    // in memory.
    bool gives_overflowed() const { return hooks_.overflowed.load(); }

    // Plays nothing at `frame` or later: the end of a run whose length is
    // known before it starts.
    void end_at(uint64_t frame);

    // The hooks the plugin node calls; null when the run has no events.
    BlockHooks* hooks() { return used_ ? &hooks_ : nullptr; }

    // After a finished run of `frames` frames: warns of the MIDI events
    // that came after its end.
    void report_leftovers(uint64_t frames, EventSink& events) const;

    // Writes the MIDI output file and fills the step's MIDI output in
    // memory, if asked for, with the run's length of `frames` frames; with
    // `latencies` (by instance, in frames) the events are moved earlier by
    // them, as the audio is. The message of a failure.
    Status write_midi_output(uint64_t frames, const std::vector<double>& latencies);

private:
    EventHooks hooks_;
    bool used_ = false;
    double rate_ = 0.0;
    std::string midi_name_;
    std::optional<EventFeed> midi_feed_;
    std::optional<EventFeed> transport_feed_;
    std::optional<AutomationFeed> automation_;
    std::optional<MidiCapture> capture_;
    std::optional<MidiOutput> midi_output_;
    MidiSequence* midi_memory_ = nullptr;
};

} // namespace tonbrix
