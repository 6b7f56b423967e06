// MIDI along a chain: a plugin's MIDI output feeds the next plugin's MIDI
// input in the same run, at the events' frames, as a render in two steps
// through a MIDI file would; and renders of MIDI files have exact lengths.
#include "support/e2e.h"
#include "support/midi.h"

#include <cmath>
#include <map>

namespace {

const std::string probe = test_plugin("eventprobe");
const std::string echo = test_plugin("eventecho");
const std::string transpose = "http://gareus.org/oss/lv2/midifilter#miditranspose";
const std::string piano = "http://drobilla.net/plugins/mda/Piano";

// At 120 BPM and 24000 ticks per quarter note a tick is a frame at 48 kHz.
constexpr std::uint16_t frame_ticks = 24000;

// eventprobe's first channel: what each MIDI event added at its frame.
std::map<long, float> marks(const Sound& sound)
{
    std::map<long, float> found;
    for (long f = 0; f < sound.frames(); ++f) {
        if (sound.at(f, 0) != 0.0f) {
            found[f] = sound.at(f, 0);
        }
    }
    return found;
}

class ChainMidi : public E2E {
protected:
    bool installed(const std::string& uri) const { return tonbrix_system({"-I", uri}).status == 0; }

    // Notes at frames that fall on block edges and inside blocks, two at one
    // frame, and a note-off at the end of the file (1.25 s at 48 kHz).
    void write_edges(const std::string& name) const
    {
        write_bytes(path(name), midi_file(0, frame_ticks,
                                          {{{0, {0x90, 10, 1}},
                                            {511, {0x90, 20, 1}},
                                            {512, {0x90, 30, 1}},
                                            {512, {0x80, 40, 0}},
                                            {4097, {0x90, 50, 1}},
                                            {33000, {0xB0, 64, 127}},
                                            {60000, {0x80, 10, 0}}}}));
    }
};

} // namespace

TEST_F(ChainMidi, ATestPluginGivesItsMidiToTheNextAsItsOwnRunWouldTakeIt)
{
    write_edges("in.mid");
    // The probe alone, played from the file, is the reference.
    const CommandResult alone = tonbrix(
        {"-q", "-o", path("alone.wav"), "--midi=" + path("in.mid"), "--tail=0.25", probe});
    ASSERT_EQ(alone.status, 0) << alone.err;
    const Sound reference = read_sound(path("alone.wav"));
    ASSERT_EQ(reference.frames(), 72000);
    // Every note before the end plays, the note-off at the file's end too
    // (the tail holds it).
    EXPECT_EQ(marks(reference).size(), 6u);
    struct Case {
        std::string label;
        std::vector<std::string> plugins;
    };
    // The probe after a plugin that gives only MIDI, after one that gives
    // MIDI and audio (which the probe, without audio inputs, leaves), and
    // after two; and --midi written in the part of a plugin without a MIDI
    // input goes to the first that takes MIDI.
    const Case cases[] = {
        {"echo, probe", {"--midi=" + path("in.mid"), echo, "--then", probe}},
        {"probe, probe", {"--midi=" + path("in.mid"), probe, "--then", probe}},
        {"echo, echo, probe",
         {"--midi=" + path("in.mid"), echo, "--then", echo, "--then", probe}},
        {"generator, probe",
         {"--midi=" + path("in.mid"), test_plugin("generator"), "--then", probe}},
    };
    for (const Case& c : cases) {
        for (const char* block : {"1", "7", "512"}) {
            for (const char* jobs : {"1", "2"}) {
                const std::string label = c.label + ", -b " + block + " -j " + jobs;
                std::vector<std::string> args = {"-q", "--ignore-clipping", "-o",
                                                 path("chain.wav"), "--tail=0.25", "-b", block,
                                                 "-j", jobs};
                args.insert(args.end(), c.plugins.begin(), c.plugins.end());
                const CommandResult r = tonbrix(args);
                ASSERT_EQ(r.status, 0) << label << "\n" << r.err;
                EXPECT_EQ(r.out + r.err, "") << label;
                const Sound out = read_sound(path("chain.wav"));
                EXPECT_EQ(out.channels, reference.channels) << label;
                EXPECT_EQ(out.samples, reference.samples) << label;
            }
        }
    }
}

TEST_F(ChainMidi, MidiOutOfAChainedPluginIsWhatItWasGiven)
{
    write_edges("in.mid");
    // Without a tail the note-off at the file's end lies outside the run.
    const CommandResult r =
        tonbrix({"-q", "-o", path("out.wav"), "--midi=" + path("in.mid"), echo, "--then",
                 "--midi-out=" + path("out.mid"), probe});
    ASSERT_EQ(r.status, 0) << r.err;
    const ReadMidiFile midi = read_midi(read_file(path("out.mid")));
    std::vector<std::pair<long, MidiBytes>> got;
    for (const ReadMidiEvent& event : midi.events) {
        got.emplace_back(std::lround(event.seconds * 48000), event.bytes);
    }
    const std::vector<std::pair<long, MidiBytes>> expected = {
        {0, {0x90, 10, 1}},   {511, {0x90, 20, 1}},     {512, {0x90, 30, 1}},
        {512, {0x80, 40, 0}}, {4097, {0x90, 50, 1}}, {33000, {0xB0, 64, 127}}};
    EXPECT_EQ(got, expected);
    EXPECT_DOUBLE_EQ(midi.end_seconds, 1.25);
    EXPECT_EQ(read_sound(path("out.wav")).frames(), 60000);
}

TEST_F(ChainMidi, ATransposerBeforeAPianoSoundsAsTheTwoStepRender)
{
    if (!installed(transpose) || !installed(piano)) {
        GTEST_SKIP() << "x42-plugins or mda-lv2 is not installed";
    }
    // Notes, chords and a sustain pedal over 1.25 s at 480 ticks a quarter.
    std::vector<MidiItem> items = {{0, {0xB0, 64, 127}}};
    const std::uint8_t notes[] = {48, 55, 60, 64, 67, 72};
    for (std::uint32_t i = 0; i < std::size(notes); ++i) {
        items.push_back({i * 160, {0x90, notes[i], static_cast<std::uint8_t>(60 + 10 * i)}});
        items.push_back({i * 160 + 150, {0x80, notes[i], 0}});
    }
    items.push_back({1100, {0xB0, 64, 0}});
    write_bytes(path("notes.mid"), midi_file(0, 480, {items}, 1200));
    // The two steps: the transposed MIDI into a file, then that file
    // played; and the one run, at every job count, with the same block size.
    std::string two_steps;
    for (const char* block : {"512", "100"}) {
        const CommandResult first = tonbrix_system(
            {"-q", "-b", block, "--midi=" + path("notes.mid"), "--midi-out=" + path("up.mid"),
             "--tail=1", "-p", "transpose:7", transpose});
        ASSERT_EQ(first.status, 0) << first.err;
        const CommandResult second = tonbrix_system(
            {"-q", "-b", block, "--midi=" + path("up.mid"), "-o", path("two.au"), piano});
        ASSERT_EQ(second.status, 0) << second.err;
        two_steps = read_file(path("two.au"));
        EXPECT_EQ(read_sound(path("two.au")).frames(), 108000);
        for (const char* jobs : {"1", "2"}) {
            const std::string label = std::string("-b ") + block + " -j " + jobs;
            const CommandResult one = tonbrix_system(
                {"-q", "--midi=" + path("notes.mid"), "-o", path("one.au"), "--tail=1", "-b",
                 block, "-j", jobs, "-p", "transpose:7", transpose, "--then", piano});
            ASSERT_EQ(one.status, 0) << label << "\n" << one.err;
            EXPECT_EQ(read_file(path("one.au")), two_steps) << label;
        }
    }
    // Without the transposer the piano plays other notes.
    const CommandResult plain = tonbrix_system(
        {"-q", "--midi=" + path("notes.mid"), "-o", path("plain.au"), "--tail=1", piano});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_NE(read_file(path("plain.au")), two_steps);
}

TEST_F(ChainMidi, ChainsThatCannotCarryTheMidiAreRefusedBeforeAnyFileIsTouched)
{
    write_edges("in.mid");
    write_edges("other.mid");
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const Case cases[] = {
        {{"--midi=" + path("in.mid"), echo, "--then", "--midi=" + path("other.mid"), probe},
         "Error: --midi is given in parts 1 and 2 of the chain; a chain plays one MIDI file, "
         "into its first plugin that takes MIDI.\n"},
        {{"--tail=1", echo, "--then", "--midi=" + path("in.mid"), probe},
         "2: Error: --midi plays into the first plugin of the chain that takes MIDI, plugin 1 "
         "'Event Echo' (" + echo + "); give it in that part.\n"},
        {{"--midi=" + path("in.mid"), echo, "--then", test_plugin("described")},
         "2: Error: the plugin 'Described' (" + test_plugin("described") +
             ") takes audio, and plugin 1 before it gives none (only MIDI).\n"},
        {{"--midi=" + path("in.mid"), echo, "--then", test_plugin("thru")},
         "1: Error: the plugin 'Event Echo' (" + echo +
             ") has no audio outputs and no MIDI output that the next plugin takes, so it has "
             "nothing to pass on; only the last plugin of a chain may end it (with "
             "--midi-out=FILE or --report).\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-q", "-o", path("out.wav")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, 1) << c.error;
        EXPECT_EQ(r.out, "") << c.error;
        EXPECT_EQ(r.err, c.error);
        EXPECT_FALSE(file_exists(path("out.wav"))) << c.error;
    }
}
