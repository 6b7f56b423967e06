#include "engine/automation_feed.h"
#include "engine/event_hooks.h"
#include "lv2/event_feed.h"
#include "lv2/midi_capture.h"
#include "lv2/urid_table.h"

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

using tonbrix::AutomatedPort;
using tonbrix::AutomationFeed;
using tonbrix::EventFeed;
using tonbrix::EventHooks;
using tonbrix::EventUrids;
using tonbrix::MidiCapture;
using tonbrix::TimedMidiEvent;
using tonbrix::TransportPosition;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Urids {
    tonbrix::UridTable table;
    EventUrids ids = tonbrix::map_event_urids(*table.map_feature());
};

// What a plugin finds in a sequence: (frame in the block, second byte of a
// MIDI event, or -1 for a transport position).
using Seen = std::vector<std::pair<std::int64_t, int>>;

Seen seen_in(const void* buffer, const EventUrids& urids)
{
    Seen seen;
    const auto* sequence = static_cast<const LV2_Atom_Sequence*>(buffer);
    EXPECT_EQ(sequence->atom.type, urids.atom_Sequence);
    LV2_ATOM_SEQUENCE_FOREACH(sequence, event)
    {
        const auto* bytes = static_cast<const std::uint8_t*>(LV2_ATOM_BODY_CONST(&event->body));
        seen.emplace_back(event->time.frames,
                          event->body.type == urids.midi_MidiEvent ? bytes[1] : -1);
    }
    return seen;
}

// Runs the feed's instance through blocks of `block` frames up to `end` and
// lists what arrived, at frames of the run.
Seen run_feed(EventFeed& feed, std::size_t instance, std::uint32_t block, std::uint64_t end,
              const EventUrids& urids)
{
    Seen all;
    for (std::uint64_t start = 0; start < end; start += block) {
        feed.write(instance, start, block);
        for (auto [frame, what] : seen_in(feed.buffer(instance), urids)) {
            EXPECT_LT(frame, block);
            all.emplace_back(static_cast<std::int64_t>(start) + frame, what);
        }
    }
    return all;
}

} // namespace

TEST(EventFeed, EveryBlockSizeDeliversEachEventAtItsFrameInFileOrder)
{
    Urids urids;
    // At 1000 Hz a millisecond is a frame.
    const std::vector<TimedMidiEvent> events = {
        {0.000, {0x90, 1, 9}}, {0.007, {0x90, 2, 9}}, {0.007, {0x80, 3, 0}},
        {0.064, {0x90, 4, 9}}, {0.0645, {0x90, 5, 9}}, {0.999, {0xB0, 64, 127}},
    };
    const std::vector<TransportPosition> positions = {{0, 0.0, 120.0}, {64, 0.128, 90.0}};
    const Seen expected = {{0, -1}, {0, 1},   {7, 2},  {7, 3},
                           {64, -1}, {64, 4}, {65, 5}, {999, 64}};
    for (const std::uint32_t block : {1u, 7u, 64u, 512u, 4096u}) {
        EventFeed feed(events, positions, 1000.0, 2, block, urids.ids);
        EXPECT_EQ(run_feed(feed, 1, block, 1000, urids.ids), expected) << "block " << block;
        EXPECT_EQ(feed.undelivered(1), 0u);
        EXPECT_EQ(feed.left_out(1), 0u);
        // The other instance has received nothing yet.
        EXPECT_EQ(feed.undelivered(0), events.size());
        EXPECT_TRUE(seen_in(feed.buffer(0), urids.ids).empty());
    }
}

TEST(EventFeed, EventsAfterTheLastBlockStayUndelivered)
{
    Urids urids;
    const std::vector<TimedMidiEvent> events = {
        {0.5, {0x90, 1, 9}}, {1.5, {0x90, 2, 9}}, {2.5, {0x90, 3, 9}}};
    EventFeed feed(events, {}, 1000.0, 1, 100, urids.ids);
    EXPECT_EQ(run_feed(feed, 0, 100, 1600, urids.ids), (Seen{{500, 1}, {1500, 2}}));
    EXPECT_EQ(feed.undelivered(0), 1u);
}

TEST(EventFeed, ADenseBlockGetsRoomForAllItsEvents)
{
    Urids urids;
    // 6000 notes in one block of 4096 frames, far beyond a default buffer,
    // and a block that starts anywhere.
    std::vector<TimedMidiEvent> events;
    for (int i = 0; i < 6000; ++i) {
        events.push_back({0.001 + i * 1e-7, {0x90, static_cast<std::uint8_t>(i % 128), 1}});
    }
    EventFeed feed(events, {}, 48000.0, 1, 4096, urids.ids);
    feed.write(0, 17, 4096);
    EXPECT_EQ(seen_in(feed.buffer(0), urids.ids).size(), events.size());
    EXPECT_EQ(feed.left_out(0), 0u);
}

TEST(EventFeed, OnlyWholeMessagesReachThePlugin)
{
    const std::vector<TimedMidiEvent> events = {
        {0.0, {0x90, 60, 100}}, {0.1, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
        {0.2, {0x43, 0x12, 0xF7}}, {0.3, {}}, {0.4, {0xF8}}};
    const std::vector<TimedMidiEvent> kept = tonbrix::deliverable_midi(events);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].bytes, events[0].bytes);
    EXPECT_EQ(kept[1].bytes, events[1].bytes);
    EXPECT_EQ(kept[2].bytes, events[4].bytes);
}

namespace {

// An output sequence as a plugin leaves it: MIDI events at frames.
void plugin_writes(std::vector<std::uint64_t>& words, const EventUrids& urids,
                   const std::vector<std::pair<std::int64_t, Bytes>>& events)
{
    LV2_Atom_Forge forge{};
    forge.Sequence = urids.atom_Sequence;
    lv2_atom_forge_set_buffer(&forge, reinterpret_cast<std::uint8_t*>(words.data()),
                              words.size() * 8);
    LV2_Atom_Forge_Frame frame;
    lv2_atom_forge_sequence_head(&forge, &frame, 0);
    for (const auto& [time, bytes] : events) {
        lv2_atom_forge_frame_time(&forge, time);
        lv2_atom_forge_atom(&forge, static_cast<std::uint32_t>(bytes.size()), urids.midi_MidiEvent);
        lv2_atom_forge_write(&forge, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
    lv2_atom_forge_pop(&forge, &frame);
}

} // namespace

TEST(MidiCapture, EventsOfAllInstancesComeOutInTimeOrderAtTheirFramesInTheRun)
{
    Urids urids;
    std::vector<std::uint64_t> first(512), second(512);
    MidiCapture capture({{first.data(), 4096}, {second.data(), 4096}}, 1000.0, urids.ids);
    plugin_writes(first, urids.ids, {{3, {0x90, 1, 1}}, {3, {0x90, 2, 1}}});
    capture.read(0, 100, 10);
    plugin_writes(second, urids.ids, {{0, {0x90, 3, 1}}, {3, {0x90, 4, 1}}});
    capture.read(1, 100, 10);
    plugin_writes(first, urids.ids, {{9, {0x80, 1, 0}}});
    capture.read(0, 110, 10);
    plugin_writes(second, urids.ids, {});
    capture.read(1, 110, 10);
    std::vector<std::pair<double, int>> got;
    for (const TimedMidiEvent& event : capture.events()) {
        got.emplace_back(event.seconds, event.bytes.at(1));
    }
    const std::vector<std::pair<double, int>> expected = {
        {0.100, 3}, {0.103, 1}, {0.103, 2}, {0.103, 4}, {0.119, 1}};
    EXPECT_EQ(got, expected);
    EXPECT_FALSE(capture.overflowed());
}

TEST(AutomationFeed, EachBlockTakesTheEnvelopeAtItsStart)
{
    // gain: -30 at 0 s to 0 at 2 s; cv: 1 until 1 s, then down to 0 at 1.5 s.
    std::vector<AutomatedPort> ports = {{3, false, {{0.0, -30.0}, {2.0, 0.0}}},
                                        {5, true, {{1.0, 1.0}, {1.5, 0.0}}}};
    AutomationFeed feed(ports, 2, 4, 1000.0);
    EXPECT_EQ(feed.start_value(0), -30.0f);
    EXPECT_EQ(feed.start_value(1), 1.0f);
    struct Case {
        std::uint64_t start;
        float gain, cv;
    };
    for (const Case& c : {Case{0, -30.0f, 1.0f}, Case{500, -22.5f, 1.0f}, Case{1250, -11.25f, 0.5f},
                          Case{2000, 0.0f, 0.0f}, Case{9000, 0.0f, 0.0f}}) {
        feed.set(1, c.start);
        EXPECT_FLOAT_EQ(feed.value(1, 0), c.gain) << c.start;
        EXPECT_FLOAT_EQ(feed.value(1, 1), c.cv) << c.start;
        // The other instance keeps its own values.
        EXPECT_EQ(feed.value(0, 0), -30.0f);
    }
}

TEST(EventHooks, InstancesOnTheirOwnThreadsGetTheSameEvents)
{
    Urids urids;
    std::vector<TimedMidiEvent> events;
    for (int i = 0; i < 200; ++i) {
        events.push_back({i * 0.0101, {0x90, static_cast<std::uint8_t>(i % 128), 1}});
    }
    EventFeed feed(events, {}, 1000.0, 4, 16, urids.ids);
    AutomationFeed automation({{0, false, {{0.0, 0.0}, {2.0, 1.0}}}}, 4, 16, 1000.0);
    EventHooks hooks;
    hooks.feeds = {&feed};
    hooks.automation = &automation;
    std::vector<Seen> seen(4);
    {
        std::vector<std::jthread> threads;
        for (std::size_t m = 0; m < 4; ++m) {
            threads.emplace_back([&, m] {
                for (std::uint64_t start = 0; start < 2100; start += 16) {
                    hooks.before_block(m, start, 16, {});
                    for (auto [frame, what] : seen_in(feed.buffer(m), urids.ids)) {
                        seen[m].emplace_back(static_cast<std::int64_t>(start) + frame, what);
                    }
                    hooks.after_block(m, start, 16, nullptr);
                }
            });
        }
    }
    ASSERT_EQ(seen[0].size(), events.size());
    for (std::size_t m = 1; m < 4; ++m) {
        EXPECT_EQ(seen[m], seen[0]);
        EXPECT_EQ(automation.value(m, 0), 1.0f);
    }
}
