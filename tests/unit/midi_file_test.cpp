#include "io/midi_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

using tonbrix::MidiFile;
using tonbrix::parse_midi_file;
using tonbrix::TempoChange;
using tonbrix::TimedMidiEvent;
using MidiFileRead = tonbrix::Result<MidiFile>;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes chunk(const char* type, const Bytes& body)
{
    Bytes out;
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(type[i]));
    }
    const auto size = static_cast<std::uint32_t>(body.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(size >> shift));
    }
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes header(int format, int tracks, std::uint8_t division_high, std::uint8_t division_low)
{
    return chunk("MThd", {0, static_cast<std::uint8_t>(format), static_cast<std::uint8_t>(tracks >> 8),
                          static_cast<std::uint8_t>(tracks), division_high, division_low});
}

// Ticks per quarter note as the two division bytes.
Bytes header_ppq(int format, int tracks, int ppq)
{
    return header(format, tracks, static_cast<std::uint8_t>(ppq >> 8), static_cast<std::uint8_t>(ppq));
}

Bytes track(const Bytes& body)
{
    return chunk("MTrk", body);
}

// A delta time as a variable-length number.
Bytes delta(std::uint32_t ticks)
{
    Bytes groups;
    do {
        groups.insert(groups.begin(), static_cast<std::uint8_t>((ticks & 0x7F) | (groups.empty() ? 0 : 0x80)));
        ticks >>= 7;
    } while (ticks != 0);
    return groups;
}

Bytes tempo(std::uint32_t micros)
{
    return {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(micros >> 16), static_cast<std::uint8_t>(micros >> 8),
            static_cast<std::uint8_t>(micros)};
}

const Bytes end_of_track = {0xFF, 0x2F, 0x00};

MidiFileRead parse(const Bytes& bytes)
{
    return parse_midi_file(bytes, "song.mid");
}

struct Expected {
    double seconds;
    Bytes bytes;
};

void expect_events(const MidiFileRead& read, const std::vector<Expected>& expected, const std::string& label)
{
    ASSERT_TRUE(read) << label << ": " << read.error().message;
    ASSERT_EQ(read->events.size(), expected.size()) << label;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_DOUBLE_EQ(read->events[i].seconds, expected[i].seconds) << label << ", event " << i;
        EXPECT_EQ(read->events[i].bytes, expected[i].bytes) << label << ", event " << i;
    }
}

} // namespace

TEST(MidiFileTiming, TicksBecomeSecondsThroughTheTempoMapOfAllTracks)
{
    struct Case {
        const char* label;
        Bytes file;
        std::vector<Expected> events;
        std::vector<TempoChange> tempos;
        double length;
    };
    const Case cases[] = {
        {"no tempo: 120 BPM",
         concat({header_ppq(0, 1, 480),
                 track(concat({delta(0), {0x90, 60, 100}, delta(480), {0x80, 60, 0}, delta(480), end_of_track}))}),
         {{0.0, {0x90, 60, 100}}, {0.5, {0x80, 60, 0}}},
         {},
         1.0},
        {"tempo changes within one track",
         concat({header_ppq(0, 1, 96),
                 track(concat({delta(0), tempo(1000000), delta(96), {0x90, 60, 1}, delta(0), tempo(250000),
                               delta(96), {0x80, 60, 0}, delta(0), end_of_track}))}),
         {{1.0, {0x90, 60, 1}}, {1.25, {0x80, 60, 0}}},
         {{0.0, 60.0}, {1.0, 240.0}},
         1.25},
        {"format 1: the first track's tempo times the second track",
         concat({header_ppq(1, 2, 480),
                 track(concat({delta(0), tempo(500000), delta(480), tempo(1000000), delta(0), end_of_track})),
                 track(concat({delta(240), {0x90, 60, 1}, delta(720), {0x80, 60, 0}, delta(0), end_of_track}))}),
         {{0.25, {0x90, 60, 1}}, {1.5, {0x80, 60, 0}}},
         {{0.0, 120.0}, {0.5, 60.0}},
         1.5},
        {"format 1: a later track's tempo times the first track",
         concat({header_ppq(1, 2, 100),
                 track(concat({delta(50), {0xC0, 5}, delta(150), {0xB0, 7, 90}, delta(0), end_of_track})),
                 track(concat({delta(100), tempo(2000000), delta(0), end_of_track}))}),
         {{0.25, {0xC0, 5}}, {0.5 + 2.0, {0xB0, 7, 90}}},
         {{0.5, 30.0}},
         2.5},
        {"two tempos at one tick: the one later in the file counts",
         concat({header_ppq(1, 2, 10),
                 track(concat({delta(10), tempo(1000000), delta(10), {0x90, 1, 1}, delta(0), end_of_track})),
                 track(concat({delta(10), tempo(250000), delta(0), end_of_track}))}),
         {{0.5 + 0.25, {0x90, 1, 1}}},
         {{0.5, 240.0}},
         0.75},
        {"the length is the last end of track, in any track",
         concat({header_ppq(1, 3, 1), track(concat({delta(1), end_of_track})),
                 track(concat({delta(6), end_of_track})), track(concat({delta(2), end_of_track}))}),
         {},
         {},
         3.0},
        {"the largest division and delta",
         concat({header_ppq(0, 1, 0x7FFF),
                 track(concat({delta(0x0FFFFFFF), {0x90, 1, 1}, delta(0), end_of_track}))}),
         {{0x0FFFFFFF / 2.0 / 0x7FFF, {0x90, 1, 1}}},
         {},
         0x0FFFFFFF / 2.0 / 0x7FFF},
    };
    for (const Case& c : cases) {
        const MidiFileRead read = parse(c.file);
        expect_events(read, c.events, c.label);
        ASSERT_EQ(read->tempo_changes.size(), c.tempos.size()) << c.label;
        for (std::size_t i = 0; i < c.tempos.size(); ++i) {
            EXPECT_DOUBLE_EQ(read->tempo_changes[i].seconds, c.tempos[i].seconds) << c.label;
            EXPECT_DOUBLE_EQ(read->tempo_changes[i].bpm, c.tempos[i].bpm) << c.label;
        }
        EXPECT_DOUBLE_EQ(read->length_seconds, c.length) << c.label;
    }
}

TEST(MidiFileTiming, SmpteDivisionCountsFramesAndIgnoresTempo)
{
    struct Case {
        std::uint8_t frames_byte; // the negative frame rate
        std::uint8_t ticks_per_frame;
        std::uint32_t ticks;
        double seconds;
    };
    const Case cases[] = {
        {static_cast<std::uint8_t>(-25), 40, 1, 0.001},     {static_cast<std::uint8_t>(-25), 40, 2500, 2.5},
        {static_cast<std::uint8_t>(-24), 4, 96, 1.0},       {static_cast<std::uint8_t>(-30), 80, 1200, 0.5},
        {static_cast<std::uint8_t>(-29), 100, 3000, 1.001}, {static_cast<std::uint8_t>(-30), 255, 7650, 1.0},
    };
    for (const Case& c : cases) {
        const MidiFileRead read = parse(concat(
            {header(0, 1, c.frames_byte, c.ticks_per_frame),
             track(concat({delta(0), tempo(1000000), delta(c.ticks), {0x90, 60, 1}, delta(0), end_of_track}))}));
        const std::string label = "frames " + std::to_string(-static_cast<std::int8_t>(c.frames_byte)) +
                                  " x " + std::to_string(c.ticks_per_frame);
        expect_events(read, {{c.seconds, {0x90, 60, 1}}}, label);
        EXPECT_DOUBLE_EQ(read->length_seconds, c.seconds) << label;
        ASSERT_EQ(read->tempo_changes.size(), 1u) << label;
        EXPECT_DOUBLE_EQ(read->tempo_changes[0].bpm, 60.0) << label;
    }
}

TEST(MidiFileEvents, RunningStatusSysexAndMetaEvents)
{
    struct Case {
        const char* label;
        Bytes body;
        std::vector<Expected> events;
    };
    const Case cases[] = {
        {"running status repeats the status byte",
         concat({delta(0), {0x91, 60, 100}, delta(0), {62, 100}, delta(0), {64, 0}, delta(0), end_of_track}),
         {{0.0, {0x91, 60, 100}}, {0.0, {0x91, 62, 100}}, {0.0, {0x91, 64, 0}}}},
        {"running status of one-byte messages",
         concat({delta(0), {0xC3, 1}, delta(0), {2}, delta(0), {0xD3, 90}, delta(0), {80}, delta(0), end_of_track}),
         {{0.0, {0xC3, 1}}, {0.0, {0xC3, 2}}, {0.0, {0xD3, 90}}, {0.0, {0xD3, 80}}}},
        {"a new status replaces the running one",
         concat({delta(0), {0x90, 1, 2}, delta(0), {0xE0, 0, 64}, delta(0), {3, 4}, delta(0), end_of_track}),
         {{0.0, {0x90, 1, 2}}, {0.0, {0xE0, 0, 64}}, {0.0, {0xE0, 3, 4}}}},
        {"sysex in the F0 form keeps F0 and its bytes",
         concat({delta(0), {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, delta(0), end_of_track}),
         {{0.0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}}},
        {"the F7 form gives its bytes as they are; an empty one is nothing",
         concat({delta(0), {0xF7, 0x02, 0xF8, 0xFA}, delta(0), {0xF7, 0x00}, delta(0), end_of_track}),
         {{0.0, {0xF8, 0xFA}}}},
        {"a sysex split over F0 and F7 packets gives each packet",
         concat({delta(0), {0xF0, 0x03, 0x43, 0x12, 0x00}, delta(10), {0xF7, 0x02, 0x07, 0xF7}, delta(0),
                 end_of_track}),
         {{0.0, {0xF0, 0x43, 0x12, 0x00}}, {0.1, {0x07, 0xF7}}}},
        {"meta events are dropped",
         concat({delta(0), {0xFF, 0x03, 0x04, 'N', 'a', 'm', 'e'}, delta(0), {0xFF, 0x58, 0x04, 4, 2, 24, 8},
                 delta(0), {0x90, 60, 1}, delta(0), {0xFF, 0x7F, 0x00}, delta(0), end_of_track}),
         {{0.0, {0x90, 60, 1}}}},
        {"a status byte inside a meta event's data is only data",
         concat({delta(0), {0xFF, 0x01, 0x02, 0x90, 0xFF}, delta(0), {0x80, 1, 0}, delta(0), end_of_track}),
         {{0.0, {0x80, 1, 0}}}},
    };
    for (const Case& c : cases) {
        // 50 ticks a quarter note at 120 BPM: 100 ticks a second.
        expect_events(parse(concat({header_ppq(0, 1, 50), track(c.body)})), c.events, c.label);
    }
}

TEST(MidiFileEvents, EventsAtOneTimeKeepTrackThenWrittenOrder)
{
    const Bytes file = concat(
        {header_ppq(1, 3, 10),
         track(concat({delta(0), {0x90, 1, 1}, delta(0), {0x90, 2, 1}, delta(10), {0x90, 5, 1}, delta(0),
                       {0x90, 6, 1}, delta(0), end_of_track})),
         track(concat({delta(0), {0x91, 3, 1}, delta(0), {0xF0, 0x01, 0xF7}, delta(10), {0x91, 7, 1}, delta(0),
                       end_of_track})),
         // Unknown chunks between tracks are skipped.
         chunk("XFIH", {1, 2, 3}),
         track(concat({delta(5), {0x92, 4, 1}, delta(5), {0x92, 8, 1}, delta(0), end_of_track}))});
    expect_events(parse(file), {{0.0, {0x90, 1, 1}},
                                {0.0, {0x90, 2, 1}},
                                {0.0, {0x91, 3, 1}},
                                {0.0, {0xF0, 0xF7}},
                                {0.25, {0x92, 4, 1}},
                                {0.5, {0x90, 5, 1}},
                                {0.5, {0x90, 6, 1}},
                                {0.5, {0x91, 7, 1}},
                                {0.5, {0x92, 8, 1}}},
                  "three tracks");
}

TEST(MidiFileErrors, MalformedFilesAreRefusedWithWhatIsWrong)
{
    const Bytes good_track = track(concat({delta(0), {0x90, 60, 1}, delta(0), end_of_track}));
    const Bytes good_header = header_ppq(0, 1, 96);
    struct Case {
        Bytes file;
        const char* message;
    };
    const Case cases[] = {
        {{}, "not a Standard MIDI File (it does not begin with 'MThd')"},
        {Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 4, 'W', 'A', 'V', 'E'},
         "not a Standard MIDI File (it does not begin with 'MThd')"},
        {Bytes{'M', 'T', 'h', 'd', 0, 0}, "the file ends inside its header"},
        {chunk("MThd", {0, 0, 0, 1, 0}), "the header chunk has 5 bytes; it needs 6"},
        {Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1}, "the header chunk claims 6 bytes, but only 4 follow"},
        {Bytes{'M', 'T', 'h', 'd', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 0, 96},
         "the header chunk claims 4294967295 bytes, but only 6 follow"},
        {concat({header_ppq(2, 1, 96), good_track}),
         "format 2 (independent sequences) is not supported; only formats 0 and 1 are"},
        {concat({header_ppq(7, 1, 96), good_track}), "format 7 is not a MIDI file format (0, 1 or 2)"},
        {concat({header_ppq(1, 0, 96)}), "the header announces no tracks"},
        {concat({header_ppq(0, 2, 96), good_track, good_track}), "format 0 has one track, but the header announces 2"},
        {concat({header_ppq(0, 1, 0), good_track}), "the division is 0 ticks per quarter note"},
        {concat({header(0, 1, 0x80, 40), good_track}),
         "the SMPTE division has 128 frames per second; only 24, 25, 29 (29.97) and 30 exist"},
        {concat({header(0, 1, 0xFF, 40), good_track}),
         "the SMPTE division has 1 frames per second; only 24, 25, 29 (29.97) and 30 exist"},
        {concat({header(0, 1, static_cast<std::uint8_t>(-25), 0), good_track}),
         "the SMPTE division has 0 ticks per frame"},
        {good_header, "the header announces 1 track, but the file holds only 0"},
        {concat({header_ppq(1, 65535, 96), good_track, good_track}),
         "the header announces 65535 tracks, but the file holds only 2"},
        {concat({header_ppq(1, 2, 96), good_track}), "the header announces 2 tracks, but the file holds only 1"},
        {concat({header_ppq(1, 2, 96), good_track, good_track, good_track}),
         "the file holds more tracks than the 2 tracks its header announces"},
        {concat({good_header, Bytes{'M', 'T', 'r'}}), "the file ends inside a chunk header (at byte 14)"},
        {concat({good_header, Bytes{'M', 'T', 'r', 'k', 0, 0, 0, 9, 0, 0x90, 60}}),
         "track 1 is cut short: it claims 9 bytes, but only 3 remain"},
        {concat({good_header, Bytes{'M', 'T', 'r', 'k', 0xFF, 0xFF, 0xFF, 0xF0}}),
         "track 1 is cut short: it claims 4294967280 bytes, but only 0 remain"},
        {concat({good_header, Bytes{'J', 'U', 'N', 'K', 0, 0, 1, 0, 1, 2}}),
         "the chunk 'JUNK' is cut short: it claims 256 bytes, but only 2 remain"},
        {concat({good_header, Bytes{0, 1, 0xFE, 3, 0, 0, 1, 0, 1, 2}}),
         "the chunk 0x00 0x01 0xFE 0x03 is cut short: it claims 256 bytes, but only 2 remain"},
        {concat({good_header, track(concat({delta(0), {0x90, 60, 1}}))}), "track 1 has no end of track"},
        {concat({good_header, track({})}), "track 1 has no end of track"},
        {concat({header_ppq(1, 2, 96), good_track, track(concat({delta(0), {0x90, 60, 1}}))}),
         "track 2 has no end of track"},
        {concat({good_header, track(concat({delta(0), end_of_track, delta(0), {0x90, 60, 1}}))}),
         "track 1 goes on after its end of track (at byte 26)"},
        {concat({good_header, track(concat({delta(0), {60, 1}, delta(0), end_of_track}))}),
         "track 1 uses running status with no status byte before it (at byte 23)"},
        {concat({good_header, track(concat({delta(0), {0xFF, 0x01, 0x00}, delta(0), {60, 1}, delta(0), end_of_track}))}),
         "track 1 uses running status with no status byte before it (at byte 27)"},
        {concat({good_header, track(concat({delta(0), {0x90, 60, 1}, delta(0), {0xF0, 0x01, 0xF7}, delta(0), {61, 1},
                                            delta(0), end_of_track}))}),
         "track 1 uses running status with no status byte before it (at byte 31)"},
        {concat({header_ppq(1, 2, 96), track(concat({delta(0), {0x90, 60, 1}, delta(0), end_of_track})),
                 track(concat({delta(0), {61, 1}, delta(0), end_of_track}))}),
         "track 2 uses running status with no status byte before it (at byte 39)"},
        {concat({good_header, track(concat({delta(0), {0xF4}, delta(0), end_of_track}))}),
         "track 1 has the status byte 0xF4, which a MIDI file cannot hold (at byte 23)"},
        {concat({good_header, track(concat({delta(0), {0x90, 60, 0x81}, delta(0), end_of_track}))}),
         "track 1 has the byte 0x81 where a data byte (below 0x80) belongs (at byte 25)"},
        {concat({good_header, track(concat({delta(0), {0x90, 60}}))}), "track 1 ends inside an event (at byte 23)"},
        {concat({good_header, track(concat({delta(0)}))}), "track 1 ends inside an event (at byte 23)"},
        {concat({good_header, track(Bytes{0x80, 0x80})}), "track 1 ends inside an event (at byte 24)"},
        {concat({good_header, track(concat({delta(0), {0xFF}}))}), "track 1 ends inside an event (at byte 24)"},
        {concat({good_header, track(Bytes{0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1})}),
         "track 1 has a variable-length number longer than 4 bytes (at byte 26)"},
        {concat({good_header, track(concat({delta(0), {0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x7F}}))}),
         "track 1 has an event of 268435455 bytes, but only 0 remain in the track (at byte 29)"},
        {concat({good_header, track(concat({delta(0), {0xF0, 0x05, 0x01}}))}),
         "track 1 has an event of 5 bytes, but only 1 remain in the track (at byte 25)"},
        {concat({good_header, track(concat({delta(0), {0xFF, 0x51, 0x02, 0x07, 0xA1}, delta(0), end_of_track}))}),
         "track 1 has a tempo event of 2 bytes; a tempo has 3 (at byte 25)"},
        {concat({good_header, track(concat({delta(0), tempo(0), delta(0), end_of_track}))}),
         "track 1 sets a tempo of 0 microseconds per quarter note (at byte 25)"},
    };
    for (const Case& c : cases) {
        const MidiFileRead read = parse(c.file);
        ASSERT_FALSE(read) << c.message;
        EXPECT_EQ(read.error().message, std::string("Error: MIDI file 'song.mid': ") + c.message + "\n");
    }
}

TEST(MidiFileErrors, EveryCutOfAGoodFileIsRefused)
{
    // Each prefix of a valid file is refused: the reader never guesses past
    // the end (ASan watches the reads).
    const Bytes file = concat(
        {header_ppq(1, 2, 96),
         track(concat({delta(0), tempo(600000), delta(100), {0x90, 60, 1}, delta(0x3FFF), {61, 1}, delta(0),
                       end_of_track})),
         track(concat({delta(0), {0xF0, 0x03, 1, 2, 0xF7}, delta(0), {0xC0, 4}, delta(0), end_of_track}))});
    ASSERT_TRUE(parse(file)) << parse(file).error().message;
    for (std::size_t size = 0; size < file.size(); ++size) {
        const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(parse(cut)) << "cut at " << size;
    }
}

TEST(MidiFileFromPath, ReadsTheFileAndNamesThePathInErrors)
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "tonbrix-midi-file-test";
    std::filesystem::create_directories(folder);
    const std::string good = (folder / "good.mid").string();
    const std::string bad = (folder / "bad.mid").string();
    const Bytes file =
        concat({header_ppq(0, 1, 96), track(concat({delta(96), {0x90, 60, 1}, delta(0), end_of_track}))});
    std::ofstream(good, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    std::ofstream(bad, std::ios::binary) << "RIFF....WAVE";

    const MidiFileRead read = tonbrix::read_midi_file(good);
    expect_events(read, {{0.5, {0x90, 60, 1}}}, good);
    const std::string missing = (folder / "missing.mid").string();
    struct Case {
        std::string path;
        std::string message;
    };
    const Case cases[] = {
        {bad, "Error: MIDI file '" + bad + "': not a Standard MIDI File (it does not begin with 'MThd')\n"},
        {missing, "Error: MIDI file '" + missing + "': No such file or directory\n"},
        {folder.string(), "Error: MIDI file '" + folder.string() + "': Is a directory\n"},
    };
    for (const Case& c : cases) {
        const MidiFileRead refused = tonbrix::read_midi_file(c.path);
        ASSERT_FALSE(refused) << c.path;
        EXPECT_EQ(refused.error().message, c.message);
    }
    std::filesystem::remove_all(folder);
}
