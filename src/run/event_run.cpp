#include "run/event_run.h"

#include <tonbrix/number_text.h>
#include "io/midi_writer.h"
#include "lv2/transport.h"

#include <lv2/atom/atom.h>

namespace tonbrix {

Status EventRun::open_midi_output(const PluginStep& step, RunObserver& observer)
{
    midi_memory_ = step.midi_out;
    if (step.midi_out_file.empty()) {
        return {};
    }
    Status opened = midi_output_.emplace(step.midi_out_file).open();
    if (opened) {
        observer.temporary_file(midi_output_->temporary_path());
    }
    return opened;
}

void EventRun::start(const EventPlan& plan, const PluginStep& step, World::Impl& world,
                     const PortIndexLists& lists, RunBuffers& buffers,
                     const std::vector<LilvInstance*>& instances, uint32_t block_size,
                     double rate, std::size_t given_instances)
{
    rate_ = rate;
    midi_name_ = step.midi_file.empty() ? std::string("the events in memory")
                                         : "'" + step.midi_file + "'";
    const EventUrids urids = map_event_urids(*world.urid_table.map_feature());
    const std::size_t count = instances.size();
    const int32_t midi_port =
        plan.midi || plan.midi_from_chain ? plan.ports.midi_input : -1;
    // Room for what the plugin before writes into its MIDI outputs in a block.
    const bool takes_given = plan.midi_from_chain;
    const std::size_t given_bytes =
        takes_given ? given_instances * std::size_t{atom_body_capacity} : 0;
    const int32_t transport_port = plan.ports.transport_input;
    std::vector<TimedMidiEvent> events =
        plan.midi ? deliverable_midi(plan.midi->events) : std::vector<TimedMidiEvent>{};
    std::vector<TransportPosition> positions;
    if (transport_port >= 0) {
        positions = transport_positions(
            plan.midi ? std::span<const TempoChange>(plan.midi->tempo_changes)
                      : std::span<const TempoChange>(),
            rate);
    }
    const auto connect = [&](EventFeed& feed, int32_t port) {
        for (std::size_t m = 0; m < count; ++m) {
            lilv_instance_connect_port(instances[m],
                                       lists.atom_inputs[static_cast<std::size_t>(port)],
                                       feed.buffer(m));
        }
        hooks_.feeds.push_back(&feed);
    };
    if (midi_port >= 0 && midi_port == transport_port) {
        connect(midi_feed_.emplace(std::move(events), std::move(positions), rate, count,
                                   block_size, urids, takes_given, given_bytes),
                midi_port);
    } else {
        if (midi_port >= 0) {
            connect(midi_feed_.emplace(std::move(events), std::vector<TransportPosition>{}, rate,
                                       count, block_size, urids, takes_given, given_bytes),
                    midi_port);
        }
        if (transport_port >= 0) {
            connect(transport_feed_.emplace(std::vector<TimedMidiEvent>{}, std::move(positions),
                                            rate, count, block_size, urids),
                    transport_port);
        }
    }
    if (!plan.automated.empty()) {
        automation_.emplace(plan.automated, count, block_size, rate);
        for (std::size_t m = 0; m < count; ++m) {
            automation_->connect(m, instances[m]);
        }
        hooks_.automation = &*automation_;
    }
    if (midi_output_ || midi_memory_ != nullptr) {
        std::vector<AtomRegion> outputs;
        for (std::size_t m = 0; m < count; ++m) {
            AtomBuffer& output =
                buffers.instances[m].atom_outputs[static_cast<std::size_t>(plan.ports.midi_output)];
            outputs.push_back({output.data(),
                               static_cast<uint32_t>(sizeof(LV2_Atom) + atom_body_capacity)});
        }
        capture_.emplace(std::move(outputs), rate, urids);
        hooks_.capture = &*capture_;
    }
    if (plan.midi_to_chain) {
        hooks_.urids = urids;
        for (std::size_t m = 0; m < count; ++m) {
            AtomBuffer& output =
                buffers.instances[m].atom_outputs[static_cast<std::size_t>(plan.ports.midi_output)];
            hooks_.given_outputs.push_back(
                {output.data(), static_cast<uint32_t>(sizeof(LV2_Atom) + atom_body_capacity)});
        }
    }
    used_ = !hooks_.feeds.empty() || hooks_.automation != nullptr || hooks_.capture != nullptr ||
            !hooks_.given_outputs.empty();
}

void EventRun::end_at(uint64_t frame)
{
    for (std::optional<EventFeed>* feed : {&midi_feed_, &transport_feed_}) {
        if (feed->has_value()) {
            (*feed)->end_at(frame);
        }
    }
}

void EventRun::report_leftovers(uint64_t frames, EventSink& events) const
{
    if (!midi_feed_) {
        return;
    }
    // An event at the run's last frame + 1 lies at its end: outside, but
    // not after it (the note-offs at the end of a MIDI file).
    const std::size_t left = midi_feed_->after(frames);
    if (left > 0) {
        events.report(EventKind::warning,
                      "WARNING: " + std::to_string(left) + " MIDI event" +
                          (left == 1 ? "" : "s") + " of " + midi_name_ +
                          " came after the end of the run (" + seconds_text(frames, rate_) +
                          " s) and " + (left == 1 ? "was" : "were") + " left out.\n");
    }
}

Status EventRun::write_midi_output(uint64_t frames, const std::vector<double>& latencies)
{
    if (!midi_output_ && midi_memory_ == nullptr) {
        return {};
    }
    for (std::size_t m = 0; m < latencies.size(); ++m) {
        if (latencies[m] > 0.0) {
            capture_->set_delay(m, latencies[m] / rate_);
        }
    }
    if (capture_->overflowed()) {
        return Error{insufficient_memory_message};
    }
    // The output ends where the run ends: what came at its end or later is outside.
    std::vector<TimedMidiEvent> events = capture_->events();
    std::erase_if(events, [&](const TimedMidiEvent& event) {
        return frame_of(event.seconds, rate_) >= static_cast<std::int64_t>(frames);
    });
    const double length = static_cast<double>(frames) / rate_;
    Status written;
    if (midi_output_) {
        written = midi_output_->commit(
            write_midi_file(events, length, ticks_per_quarter_for_rate(rate_)));
    }
    if (midi_memory_ != nullptr) {
        midi_memory_->events = std::move(events);
        midi_memory_->tempo_changes.clear();
        midi_memory_->length_seconds = length;
    }
    return written;
}

} // namespace tonbrix
