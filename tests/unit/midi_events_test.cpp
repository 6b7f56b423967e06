#include "lv2/midi_events.h"
#include "lv2/transport.h"

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/time/time.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

using tonbrix::AtomRegion;
using tonbrix::BlockEvents;
using tonbrix::EventCursor;
using tonbrix::EventSource;
using tonbrix::EventUrids;
using tonbrix::TimedMidiEvent;
using tonbrix::TransportPosition;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A URID map of the test's own: URIs numbered from 1 in the order asked.
struct FakeMap {
    std::map<std::string, LV2_URID> ids;
    LV2_URID_Map record{this, map};

    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri)
    {
        auto& ids = static_cast<FakeMap*>(handle)->ids;
        return ids.emplace(uri, static_cast<LV2_URID>(ids.size() + 1)).first->second;
    }
};

EventUrids test_urids()
{
    FakeMap map;
    return tonbrix::map_event_urids(map.record);
}

// An 8-byte aligned port buffer.
struct PortBuffer {
    explicit PortBuffer(std::uint32_t capacity) : words((capacity + 7) / 8, 0xABABABABABABABABull), capacity(capacity) {}
    AtomRegion atom() { return {words.data(), capacity}; }
    const LV2_Atom_Sequence* sequence() const { return reinterpret_cast<const LV2_Atom_Sequence*>(words.data()); }
    std::vector<std::uint64_t> words;
    std::uint32_t capacity;
};

// One event of a sequence as the test reads it: MIDI bytes, or the fields of
// a time:Position.
struct Item {
    std::int64_t offset = 0;
    bool is_position = false;
    Bytes midi;
    std::int64_t frame = 0;
    float speed = 0, bar_beat = 0, beats_per_bar = 0, bpm = 0;
    std::int64_t bar = 0;
    double beat = 0;
    std::int32_t beat_unit = 0;
};

// Walks a sequence the way a plugin does and checks that its size adds up.
std::vector<Item> items_of(const PortBuffer& buffer, const EventUrids& urids)
{
    const LV2_Atom_Sequence* sequence = buffer.sequence();
    EXPECT_EQ(sequence->atom.type, urids.atom_Sequence);
    EXPECT_EQ(sequence->body.unit, 0u);
    EXPECT_LE(sizeof(LV2_Atom) + sequence->atom.size, buffer.capacity);
    std::vector<Item> items;
    std::uint32_t walked = sizeof(LV2_Atom_Sequence_Body);
    LV2_ATOM_SEQUENCE_FOREACH(sequence, event)
    {
        walked += static_cast<std::uint32_t>(sizeof(LV2_Atom_Event) + lv2_atom_pad_size(event->body.size));
        Item item;
        item.offset = event->time.frames;
        if (event->body.type == urids.midi_MidiEvent) {
            const auto* bytes = static_cast<const std::uint8_t*>(LV2_ATOM_BODY_CONST(&event->body));
            item.midi.assign(bytes, bytes + event->body.size);
        } else {
            EXPECT_EQ(event->body.type, urids.atom_Object);
            const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
            EXPECT_EQ(object->body.otype, urids.time_Position);
            item.is_position = true;
            const LV2_Atom *frame = nullptr, *speed = nullptr, *bar = nullptr, *bar_beat = nullptr,
                           *beat = nullptr, *unit = nullptr, *per_bar = nullptr, *bpm = nullptr;
            lv2_atom_object_get(object, urids.time_frame, &frame, urids.time_speed, &speed, urids.time_bar, &bar,
                                urids.time_barBeat, &bar_beat, urids.time_beat, &beat, urids.time_beatUnit, &unit,
                                urids.time_beatsPerBar, &per_bar, urids.time_beatsPerMinute, &bpm, 0);
            EXPECT_TRUE(frame && speed && bar && bar_beat && beat && unit && per_bar && bpm);
            if (!(frame && speed && bar && bar_beat && beat && unit && per_bar && bpm)) {
                continue;
            }
            EXPECT_EQ(frame->type, urids.atom_Long);
            EXPECT_EQ(speed->type, urids.atom_Float);
            EXPECT_EQ(bar->type, urids.atom_Long);
            EXPECT_EQ(bar_beat->type, urids.atom_Float);
            EXPECT_EQ(beat->type, urids.atom_Double);
            EXPECT_EQ(unit->type, urids.atom_Int);
            EXPECT_EQ(per_bar->type, urids.atom_Float);
            EXPECT_EQ(bpm->type, urids.atom_Float);
            item.frame = reinterpret_cast<const LV2_Atom_Long*>(frame)->body;
            item.speed = reinterpret_cast<const LV2_Atom_Float*>(speed)->body;
            item.bar = reinterpret_cast<const LV2_Atom_Long*>(bar)->body;
            item.bar_beat = reinterpret_cast<const LV2_Atom_Float*>(bar_beat)->body;
            item.beat = reinterpret_cast<const LV2_Atom_Double*>(beat)->body;
            item.beat_unit = reinterpret_cast<const LV2_Atom_Int*>(unit)->body;
            item.beats_per_bar = reinterpret_cast<const LV2_Atom_Float*>(per_bar)->body;
            item.bpm = reinterpret_cast<const LV2_Atom_Float*>(bpm)->body;
        }
        items.push_back(item);
    }
    EXPECT_EQ(walked, sequence->atom.size);
    return items;
}

// The offsets and first MIDI bytes of a block (a position shows as 'P').
std::vector<std::pair<std::int64_t, int>> summary(const std::vector<Item>& items)
{
    std::vector<std::pair<std::int64_t, int>> out;
    for (const Item& item : items) {
        out.emplace_back(item.offset, item.is_position ? 'P' : item.midi.at(1));
    }
    return out;
}

} // namespace

TEST(MidiEvents, MapsEveryUriToItsOwnNumber)
{
    FakeMap map;
    const EventUrids urids = tonbrix::map_event_urids(map.record);
    EXPECT_EQ(map.ids.size(), sizeof(EventUrids) / sizeof(LV2_URID));
    EXPECT_EQ(urids.midi_MidiEvent, map.ids.at(LV2_MIDI__MidiEvent));
    EXPECT_EQ(urids.time_beatsPerMinute, map.ids.at(LV2_TIME__beatsPerMinute));
    EXPECT_EQ(urids.atom_Sequence, map.ids.at(LV2_ATOM__Sequence));
}

TEST(MidiEvents, BlocksReceiveTheirEventsAtExactFramesInOrder)
{
    const EventUrids urids = test_urids();
    // At 1000 Hz a millisecond is a frame.
    const std::vector<TimedMidiEvent> events = {
        {0.000, {0x90, 1, 1}}, {0.0096, {0x90, 2, 1}}, {0.0104, {0x90, 3, 1}}, {0.015, {0x90, 4, 1}},
        {0.015, {0x90, 5, 1}}, {0.016, {0x90, 6, 1}},  {0.0317, {0x90, 7, 1}}, {0.040, {}},
        {0.041, {0x90, 8, 1}},
    };
    const std::vector<TransportPosition> positions = {{0, 0.0, 120.0}, {15, 0.5, 60.0}, {41, 1.0, 90.0}};
    const EventSource source{events, positions, 1000.0};
    struct Case {
        std::int64_t start;
        std::uint32_t frames;
        std::vector<std::pair<std::int64_t, int>> items;
    };
    // Each block goes on from where the one before stopped.
    const Case blocks[] = {
        {0, 16, {{0, 'P'}, {0, 1}, {10, 2}, {10, 3}, {15, 'P'}, {15, 4}, {15, 5}}},
        {16, 16, {{0, 6}}},
        {33, 7, {{0, 7}}}, // frame 32, from before the block: at its start
        {40, 2, {{1, 'P'}, {1, 8}}}, // the empty event is skipped
        {42, 100, {}},
    };
    EventCursor cursor;
    for (const Case& block : blocks) {
        PortBuffer buffer(4096);
        const BlockEvents result = tonbrix::write_block_events(source, cursor, block.start, block.frames, urids,
                                                               buffer.atom());
        EXPECT_EQ(summary(items_of(buffer, urids)), block.items) << "block at " << block.start;
        EXPECT_EQ(result.written, block.items.size()) << "block at " << block.start;
        EXPECT_EQ(result.left_out, 0u) << "block at " << block.start;
        cursor = result.next;
    }
    EXPECT_EQ(cursor.event, events.size());
    EXPECT_EQ(cursor.position, positions.size());
}

TEST(MidiEvents, PositionsCarryTheTransportAtTheirBeat)
{
    const EventUrids urids = test_urids();
    struct Case {
        TransportPosition position;
        std::int64_t bar;
        float bar_beat;
    };
    const Case cases[] = {
        {{0, 0.0, 120.0}, 0, 0.0f},
        {{96000, 4.0, 60.0}, 1, 0.0f},
        {{100, 5.5, 90.0}, 1, 1.5f},
        {{7, 11.25, 240.0}, 2, 3.25f},
    };
    for (const Case& c : cases) {
        const std::vector<TransportPosition> positions = {c.position};
        const EventSource source{{}, positions, 48000.0};
        PortBuffer buffer(static_cast<std::uint32_t>(sizeof(LV2_Atom_Sequence) + tonbrix::position_event_bytes()));
        const BlockEvents result =
            tonbrix::write_block_events(source, {}, c.position.frame, 64, urids, buffer.atom());
        ASSERT_EQ(result.written, 1u) << "beat " << c.position.beat;
        const std::vector<Item> items = items_of(buffer, urids);
        ASSERT_EQ(items.size(), 1u);
        const Item& item = items[0];
        EXPECT_TRUE(item.is_position);
        EXPECT_EQ(item.offset, 0);
        EXPECT_EQ(item.frame, c.position.frame);
        EXPECT_EQ(item.speed, 1.0f);
        EXPECT_EQ(item.bar, c.bar);
        EXPECT_EQ(item.bar_beat, c.bar_beat);
        EXPECT_EQ(item.beat, c.position.beat);
        EXPECT_EQ(item.beat_unit, 4);
        EXPECT_EQ(item.beats_per_bar, 4.0f);
        EXPECT_EQ(item.bpm, static_cast<float>(c.position.bpm));
    }
}

TEST(MidiEvents, WhatDoesNotFitIsLeftOutAndTheSequenceStaysWhole)
{
    const EventUrids urids = test_urids();
    std::vector<TimedMidiEvent> events;
    for (int i = 0; i < 40; ++i) {
        // Dense at the start, one long sysex in the middle, sparse later.
        const double seconds = i < 20 ? i * 0.0001 : i * 0.01;
        Bytes bytes = {0x90, static_cast<std::uint8_t>(i), 1};
        if (i == 25) {
            bytes.assign(300, 0x01);
            bytes.front() = 0xF0;
            bytes.back() = 0xF7;
        }
        events.push_back({seconds, bytes});
    }
    const std::vector<TransportPosition> positions = {{0, 0.0, 120.0}};
    const EventSource source{events, positions, 48000.0};
    const std::uint32_t frames = 256;
    const std::size_t needed = tonbrix::sequence_capacity_needed(source, frames);
    EXPECT_EQ(needed, sizeof(LV2_Atom_Sequence) + tonbrix::position_event_bytes() +
                          20 * tonbrix::midi_event_bytes(3));

    struct Case {
        std::size_t capacity;
        std::size_t left_out;
    };
    const Case cases[] = {
        {needed, 0},
        {needed - 1, 1},
        {needed - tonbrix::midi_event_bytes(3), 1},
        {needed - tonbrix::midi_event_bytes(3) - 1, 2},
        // The position, 18 of the first block's events and the sysex.
        {sizeof(LV2_Atom_Sequence) + 2 * tonbrix::midi_event_bytes(3), 1 + 18 + 1},
        {sizeof(LV2_Atom_Sequence), 41},
        {sizeof(LV2_Atom_Sequence) - 1, 41}, // no room for a sequence: the buffer is left as it is
        {0, 41},
    };
    for (const Case& c : cases) {
        EventCursor cursor;
        std::size_t left_out = 0;
        std::size_t written = 0;
        for (std::int64_t start = 0; start < 48000; start += frames) {
            PortBuffer buffer(static_cast<std::uint32_t>(c.capacity));
            const BlockEvents result = tonbrix::write_block_events(source, cursor, start, frames, urids, buffer.atom());
            if (c.capacity >= sizeof(LV2_Atom_Sequence)) {
                EXPECT_EQ(items_of(buffer, urids).size(), result.written) << "capacity " << c.capacity;
            } else if (!buffer.words.empty()) {
                EXPECT_EQ(buffer.words[0], 0xABABABABABABABABull) << "capacity " << c.capacity;
            }
            left_out += result.left_out;
            written += result.written;
            cursor = result.next;
        }
        EXPECT_EQ(left_out, c.left_out) << "capacity " << c.capacity;
        EXPECT_EQ(written + left_out, events.size() + positions.size()) << "capacity " << c.capacity;
    }
}

TEST(MidiEvents, OutputSequencesAreReadWithinTheirCapacity)
{
    const EventUrids urids = test_urids();
    PortBuffer output(512);
    tonbrix::reset_output_sequence(output.atom(), urids);
    EXPECT_EQ(output.sequence()->atom.type, urids.atom_Chunk);
    EXPECT_EQ(output.sequence()->atom.size, 512u - sizeof(LV2_Atom));

    // A plugin writes a note at frame 3, a position (skipped) and a sysex at
    // frame 10, and one note beyond the block, which stays in it.
    const std::vector<TimedMidiEvent> written = {
        {3.0 / 100, {0x90, 60, 1}}, {10.0 / 100, {0xF0, 1, 2, 3, 0xF7}}, {10.0 / 100, {0x80, 60, 0}}};
    const std::vector<TransportPosition> positions = {{5, 0.0, 120.0}};
    tonbrix::write_block_events({written, positions, 100.0}, {}, 0, 16, urids, output.atom());
    const std::int64_t late_frame = 99;
    std::memcpy(reinterpret_cast<std::uint8_t*>(output.words.data()) + sizeof(LV2_Atom_Sequence) +
                    tonbrix::midi_event_bytes(3) + tonbrix::position_event_bytes() + tonbrix::midi_event_bytes(5),
                &late_frame, sizeof late_frame);

    std::vector<TimedMidiEvent> read;
    tonbrix::read_block_events(output.atom(), 1000, 16, 100.0, urids, read);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_DOUBLE_EQ(read[0].seconds, 10.03);
    EXPECT_EQ(read[0].bytes, written[0].bytes);
    EXPECT_DOUBLE_EQ(read[1].seconds, 10.10);
    EXPECT_EQ(read[1].bytes, written[1].bytes);
    EXPECT_DOUBLE_EQ(read[2].seconds, 10.15); // frame 99 held at the block's last frame
    EXPECT_EQ(read[2].bytes, written[2].bytes);

    // Sizes that claim more than the buffer holds end the reading there.
    auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(output.words.data());
    struct Case {
        const char* label;
        std::uint32_t capacity;
        std::uint32_t sequence_size;
        std::uint32_t first_event_size;
        std::size_t events;
    };
    const std::uint32_t full = sequence->atom.size;
    const Case cases[] = {
        {"as written", 512, full, 3, 3},
        {"a sequence larger than the buffer", 512, 0xFFFFFFF0u, 3, 3},
        {"a capacity that ends in the last event's bytes", static_cast<std::uint32_t>(sizeof(LV2_Atom) + full - 6),
         full, 3, 2},
        {"a first event larger than the sequence", 512, full, 0xFFFFFFF0u, 0},
        {"a first event one byte past the sequence", 512, full, full - 24 + 1, 0},
        {"a first event that ends with the sequence", 512, full, full - 24, 1},
        {"a sequence too small for an event", 512, 8 + 15, 3, 0},
        {"a capacity of a sequence header", 16, full, 3, 0},
        {"a capacity below a sequence header", 15, full, 3, 0},
    };
    const LV2_Atom_Sequence saved = *sequence;
    LV2_Atom_Event* first = lv2_atom_sequence_begin(&sequence->body);
    const std::uint32_t first_size = first->body.size;
    for (const Case& c : cases) {
        sequence->atom.size = c.sequence_size;
        first->body.size = c.first_event_size;
        read.clear();
        tonbrix::read_block_events({output.words.data(), c.capacity}, 0, 16, 100.0, urids, read);
        EXPECT_EQ(read.size(), c.events) << c.label;
    }
    *sequence = saved;
    first->body.size = first_size;

    // A buffer the plugin left as a chunk holds no events.
    tonbrix::reset_output_sequence(output.atom(), urids);
    read.clear();
    tonbrix::read_block_events(output.atom(), 0, 16, 100.0, urids, read);
    EXPECT_TRUE(read.empty());
}

TEST(Transport, APositionAtTheStartAndAtEachTempoChange)
{
    struct Case {
        const char* label;
        std::vector<tonbrix::TempoChange> tempos;
        std::vector<TransportPosition> positions;
    };
    const Case cases[] = {
        {"no tempo: 120 BPM", {}, {{0, 0.0, 120.0}}},
        {"a tempo at the start replaces 120", {{0.0, 90.0}}, {{0, 0.0, 90.0}}},
        {"changes count beats at the tempo before them",
         {{0.0, 60.0}, {2.0, 120.0}, {3.5, 240.0}},
         {{0, 0.0, 60.0}, {96000, 2.0, 120.0}, {168000, 5.0, 240.0}}},
        {"a first change after the start counts at 120", {{1.0, 60.0}}, {{0, 0.0, 120.0}, {48000, 2.0, 60.0}}},
        {"a change between frames goes to the nearest", {{0.5 / 48000 * 1.2, 30.0}},
         {{0, 0.0, 120.0}, {1, 2.0 * (0.5 / 48000 * 1.2), 30.0}}},
    };
    for (const Case& c : cases) {
        const std::vector<TransportPosition> positions = tonbrix::transport_positions(c.tempos, 48000.0);
        ASSERT_EQ(positions.size(), c.positions.size()) << c.label;
        for (std::size_t i = 0; i < positions.size(); ++i) {
            EXPECT_EQ(positions[i].frame, c.positions[i].frame) << c.label << ", position " << i;
            EXPECT_DOUBLE_EQ(positions[i].beat, c.positions[i].beat) << c.label << ", position " << i;
            EXPECT_DOUBLE_EQ(positions[i].bpm, c.positions[i].bpm) << c.label << ", position " << i;
        }
    }
}

TEST(Transport, FramesOfTimes)
{
    struct Case {
        double seconds;
        double rate;
        std::int64_t frame;
    };
    const Case cases[] = {
        {0.0, 48000.0, 0},          {1.0, 44100.0, 44100},      {0.6 / 44100, 44100.0, 1},
        {0.49 / 44100, 44100.0, 0}, {-1.0, 100.0, -100},        {1e300, 48000.0, 4611686018427387904LL},
        {std::nan(""), 48000.0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tonbrix::frame_of(c.seconds, c.rate), c.frame) << c.seconds << " s at " << c.rate;
    }
}
