#include "io/midi_file.h"
#include "io/midi_writer.h"
#include "lv2/transport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

using MidiFileRead = tonbrix::Result<tonbrix::MidiFile>;
using tonbrix::TimedMidiEvent;

namespace {

using Bytes = std::vector<std::uint8_t>;

MidiFileRead round_trip(const std::vector<TimedMidiEvent>& events, double length,
                        std::uint16_t ticks_per_quarter = tonbrix::default_ticks_per_quarter)
{
    return tonbrix::parse_midi_file(tonbrix::write_midi_file(events, length, ticks_per_quarter), "out.mid");
}

} // namespace

TEST(MidiWriter, WritesAFormat0FileAt120BpmWithTheChosenDivision)
{
    const Bytes file = tonbrix::write_midi_file({}, 0.0);
    const Bytes expected = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x5D, 0xC0, // 24000 ticks
                            'M', 'T', 'r', 'k', 0, 0, 0, 11,
                            0, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, // 500000 µs a quarter note
                            0, 0xFF, 0x2F, 0x00};
    EXPECT_EQ(file, expected);
}

TEST(MidiWriter, EveryKindOfMessageComesBackAsItWent)
{
    const std::vector<TimedMidiEvent> events = {
        {0.0, {0x90, 60, 100}},
        {0.0, {0xC1, 5}},                           // one data byte
        {0.0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}, // sysex
        {0.001, {0xF8}},                            // real time: escaped
        {0.001, {0xF2, 0x10, 0x20}},                // system common: escaped
        {0.001, {0x90, 60}},                        // a broken message: escaped
        {0.001, {0xC0, 1, 2}},                      // too long: escaped
        {0.001, {0x80, 0x90, 0}},                   // a status byte as data: escaped
        {0.002, {0xFF}},                            // a reset, not a meta event
        {0.002, {0xF7, 1}},                         // starts like the escape form
        {0.25, {0xF0}},                             // sysex without body
        {1.5, {0xE0, 0, 64}},
    };
    const MidiFileRead read = round_trip(events, 2.0);
    ASSERT_TRUE(read) << read.error().message;
    ASSERT_EQ(read->events.size(), events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(read->events[i].bytes, events[i].bytes) << "event " << i;
        EXPECT_DOUBLE_EQ(read->events[i].seconds, events[i].seconds) << "event " << i;
    }
    EXPECT_DOUBLE_EQ(read->length_seconds, 2.0);
    ASSERT_EQ(read->tempo_changes.size(), 1u);
    EXPECT_DOUBLE_EQ(read->tempo_changes[0].bpm, 120.0);
}

TEST(MidiWriter, TimesAreSortedRoundedToTicksAndTheLengthCoversTheLastEvent)
{
    struct Case {
        const char* label;
        std::vector<TimedMidiEvent> events;
        double length;
        std::vector<double> times;
        std::vector<std::uint8_t> notes; // the second byte of each event, in the order read
        double read_length;
    };
    const Case cases[] = {
        {"out of order, ties keep their order", {{0.5, {0x90, 1, 1}}, {0.25, {0x90, 2, 1}}, {0.25, {0x90, 3, 1}}},
         0.0, {0.25, 0.25, 0.5}, {2, 3, 1}, 0.5},
        {"negative and NaN times count as 0",
         {{-3.0, {0x90, 1, 1}}, {std::numeric_limits<double>::quiet_NaN(), {0x90, 2, 1}}, {0.0, {0x90, 3, 1}}},
         1.0, {0.0, 0.0, 0.0}, {1, 2, 3}, 1.0},
        {"empty events are left out", {{0.1, {}}, {0.2, {0x90, 4, 1}}}, 0.0, {0.2}, {4}, 0.2},
        {"a time between ticks goes to the nearest (1/48000 s)", {{1.0 / 96000.0 * 1.01, {0x90, 5, 1}}}, 0.0,
         {1.0 / 48000.0}, {5}, 1.0 / 48000.0},
        {"a gap longer than one delta can hold", {{0.0, {0x90, 6, 1}}, {7000.0, {0x90, 7, 1}}}, 7200.0,
         {0.0, 7000.0}, {6, 7}, 7200.0},
    };
    for (const Case& c : cases) {
        const MidiFileRead read = round_trip(c.events, c.length);
        ASSERT_TRUE(read) << c.label << ": " << read.error().message;
        ASSERT_EQ(read->events.size(), c.times.size()) << c.label;
        for (std::size_t i = 0; i < c.times.size(); ++i) {
            EXPECT_DOUBLE_EQ(read->events[i].seconds, c.times[i]) << c.label << ", event " << i;
            EXPECT_EQ(read->events[i].bytes[1], c.notes[i]) << c.label << ", event " << i;
        }
        EXPECT_DOUBLE_EQ(read->length_seconds, c.read_length) << c.label;
    }
}

TEST(MidiWriter, MillisecondsAndFramesComeBackExactly)
{
    struct Case {
        double rate;
        std::uint16_t ticks_per_quarter;
        std::int64_t frame_error; // a tick is one frame, or two at 96 kHz
    };
    const Case cases[] = {
        {48000.0, tonbrix::default_ticks_per_quarter, 0},
        {44100.0, tonbrix::ticks_per_quarter_for_rate(44100.0), 0},
        {22050.0, tonbrix::ticks_per_quarter_for_rate(22050.0), 0},
        {96000.0, tonbrix::ticks_per_quarter_for_rate(96000.0), 1},
    };
    for (const Case& c : cases) {
        std::vector<TimedMidiEvent> events;
        for (std::int64_t frame = 0; frame < 3 * 44100; frame += 997) {
            events.push_back({static_cast<double>(frame) / c.rate, {0x90, 1, 1}});
        }
        const MidiFileRead read = round_trip(events, 0.0, c.ticks_per_quarter);
        ASSERT_TRUE(read) << read.error().message;
        ASSERT_EQ(read->events.size(), events.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            EXPECT_LE(std::llabs(tonbrix::frame_of(read->events[i].seconds, c.rate) -
                                 tonbrix::frame_of(events[i].seconds, c.rate)),
                      c.frame_error)
                << "rate " << c.rate << ", event " << i;
        }
    }
    std::vector<TimedMidiEvent> milliseconds;
    for (int ms = 0; ms < 5000; ms += 7) {
        milliseconds.push_back({ms / 1000.0, {0x90, 1, 1}});
    }
    for (std::uint16_t ticks : {tonbrix::default_ticks_per_quarter, tonbrix::ticks_per_quarter_for_rate(44100.0)}) {
        const MidiFileRead read = round_trip(milliseconds, 0.0, ticks);
        ASSERT_TRUE(read) << read.error().message;
        for (std::size_t i = 0; i < milliseconds.size(); ++i) {
            EXPECT_NEAR(read->events[i].seconds, milliseconds[i].seconds, 0.5 / (2.0 * ticks) + 1e-12)
                << ticks << " ticks, event " << i;
        }
    }
}

TEST(MidiWriter, DivisionForARate)
{
    struct Case {
        double rate;
        std::uint16_t ticks;
    };
    const Case cases[] = {
        {44100.0, 22050}, {48000.0, 24000}, {22050.0, 11025}, {8000.0, 4000}, {65534.0, 32767},
        {65536.0, 24000}, {96000.0, 24000}, {11025.0, 24000}, {2.0, 1},       {1.0, 24000},
        {0.0, 24000},     {-48000.0, 24000}, {std::numeric_limits<double>::quiet_NaN(), 24000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tonbrix::ticks_per_quarter_for_rate(c.rate), c.ticks) << "rate " << c.rate;
    }
}
