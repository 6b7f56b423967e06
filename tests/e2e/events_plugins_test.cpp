#include "support/e2e.h"
#include "support/midi.h"

#include <cmath>

// Events through real Debian plugins: instruments played from a MIDI file,
// a metronome that follows the transport, a MIDI filter, a drum trigger
// and an automated amplifier.
namespace {

class EventPlugins : public E2E {
protected:
    // Skips the test when a plugin is not installed.
    bool installed(const std::string& uri)
    {
        const CommandResult r = tonbrix_system({"-I", uri});
        return r.status == 0;
    }

    // A few notes across the range with velocities and a sustain pedal.
    void write_notes(const std::string& name)
    {
        std::vector<MidiItem> items = {{0, {0xB0, 64, 127}}};
        const std::uint8_t notes[] = {36, 48, 60, 64, 67, 72, 84};
        for (std::uint32_t i = 0; i < std::size(notes); ++i) {
            items.push_back({i * 240, {0x90, notes[i], static_cast<std::uint8_t>(50 + 10 * i)}});
            items.push_back({i * 240 + 200, {0x80, notes[i], 0}});
        }
        items.push_back({1700, {0xB0, 64, 0}});
        write_bytes(path(name), midi_file(0, 480, {items}));
    }
};

double rms(const Sound& sound, long from, long to)
{
    double sum = 0.0;
    for (long f = from; f < to; ++f) {
        for (int c = 0; c < sound.channels; ++c) {
            sum += static_cast<double>(sound.at(f, c)) * sound.at(f, c);
        }
    }
    return std::sqrt(sum / static_cast<double>((to - from) * sound.channels));
}

} // namespace

TEST_F(EventPlugins, InstrumentsPlayAMidiFileWithoutAnInput)
{
    write_notes("notes.mid");
    const char* instruments[] = {
        "http://drobilla.net/plugins/mda/Piano",  "http://drobilla.net/plugins/mda/EPiano",
        "http://drobilla.net/plugins/mda/DX10",   "http://drobilla.net/plugins/mda/JX10",
        "http://calf.sourceforge.net/plugins/Organ",
        "http://calf.sourceforge.net/plugins/Monosynth",
    };
    for (const char* uri : instruments) {
        if (!installed(uri)) {
            GTEST_SKIP() << uri << " is not installed";
        }
        const CommandResult r = tonbrix_system(
            {"-o", path("out.wav"), "--midi=" + path("notes.mid"), "--tail=1", "-q", uri});
        ASSERT_EQ(r.status, 0) << uri << ": " << r.err;
        const Sound out = read_sound(path("out.wav"));
        EXPECT_EQ(out.channels, 2) << uri;
        // The pedal goes up at tick 1700 (85000 frames), then the tail of 1 s.
        EXPECT_EQ(out.frames(), 85000 + 48000) << uri;
        EXPECT_GT(rms(out, 0, 84000), 0.01) << uri;
    }
}

TEST_F(EventPlugins, TheMetronomeClicksTwiceASecondAt120Bpm)
{
    const std::string metro = "http://lv2plug.in/plugins/eg-metro";
    if (!installed(metro)) {
        GTEST_SKIP() << "lv2-examples is not installed";
    }
    for (const char* block : {"64", "1000"}) {
        // The metronome never frees its one cycle of sine (54 floats).
        const CommandResult r =
            tonbrix({"-o", path("clicks.wav"), "--tail=4", "-b", block, "-q", metro}, "",
                    {{"LV2_PATH", test_lv2_dir() + ":/usr/lib/lv2"},
                     {"ASAN_OPTIONS", "detect_leaks=0"}});
        ASSERT_EQ(r.status, 0) << r.err;
        const Sound out = read_sound(path("clicks.wav"));
        ASSERT_EQ(out.frames(), 192000);
        // An onset: the first sound after a thousand frames of silence (the
        // click is a sine from 0, so its first frame is 0).
        std::vector<long> onsets;
        long quiet = 1000000;
        for (long f = 0; f < out.frames(); ++f) {
            if (out.at(f, 0) != 0.0f && quiet > 1000) {
                onsets.push_back(f);
            }
            quiet = out.at(f, 0) != 0.0f ? 0 : quiet + 1;
        }
        ASSERT_EQ(onsets.size(), 8u) << "-b " << block;
        for (std::size_t k = 0; k < onsets.size(); ++k) {
            EXPECT_GE(onsets[k], static_cast<long>(k) * 24000) << "-b " << block;
            EXPECT_LE(onsets[k], static_cast<long>(k) * 24000 + 1) << "-b " << block;
        }
    }
}

TEST_F(EventPlugins, TheAmplifierFollowsItsGainEnvelopeInEveryBlock)
{
    const std::string amp = "http://lv2plug.in/plugins/eg-amp";
    if (!installed(amp)) {
        GTEST_SKIP() << "lv2-examples is not installed";
    }
    write_sound(path("in.wav"), make_sound(1, 120000, 48000, wav_float, [](long, int) { return 0.5f; }));
    const CommandResult r = tonbrix_system({"-i", path("in.wav"), "-o", path("out.wav"), "-q",
                                            "-b", "1200", "-p", "gain:6",
                                            "--automate=gain:0=-30,2=0", amp});
    ASSERT_EQ(r.status, 0) << r.err;
    const Sound out = read_sound(path("out.wav"));
    ASSERT_EQ(out.frames(), 120000);
    for (long f = 0; f < out.frames(); ++f) {
        const double start = static_cast<double>(f / 1200 * 1200) / 48000.0;
        const double db = start >= 2.0 ? 0.0 : -30.0 + 15.0 * start;
        const double expected = 0.5 * std::pow(10.0, db / 20.0);
        ASSERT_NEAR(out.at(f, 0), expected, expected * 1e-5) << "frame " << f;
    }
}

TEST_F(EventPlugins, AMidiFilterTurnsMidiIntoMidi)
{
    const std::string transpose = "http://gareus.org/oss/lv2/midifilter#miditranspose";
    if (!installed(transpose)) {
        GTEST_SKIP() << "x42-plugins is not installed";
    }
    write_notes("notes.mid");
    const CommandResult r =
        tonbrix_system({"--midi=" + path("notes.mid"), "--midi-out=" + path("up.mid"), "-q",
                        "-p", "transpose:12", transpose});
    ASSERT_EQ(r.status, 0) << r.err;
    const ReadMidiFile in = read_midi(read_file(path("notes.mid")));
    const ReadMidiFile out = read_midi(read_file(path("up.mid")));
    // The pedal goes up at the end of the file, outside it: every event but that.
    ASSERT_EQ(out.events.size() + 1, in.events.size());
    EXPECT_DOUBLE_EQ(out.end_seconds, in.events.back().seconds);
    for (std::size_t i = 0; i < out.events.size(); ++i) {
        EXPECT_NEAR(out.events[i].seconds, in.events[i].seconds, 1e-6);
        MidiBytes expected = in.events[i].bytes;
        if ((expected[0] & 0xE0) == 0x80) {
            expected[1] = static_cast<std::uint8_t>(expected[1] + 12);
        }
        EXPECT_EQ(out.events[i].bytes, expected) << i;
    }
}

TEST_F(EventPlugins, ADrumTriggerTurnsAudioIntoMidiLinedUpWithItsInput)
{
    const std::string trigger = "http://gareus.org/oss/lv2/onsettrigger#bassdrum_mono";
    if (!installed(trigger)) {
        GTEST_SKIP() << "x42-plugins is not installed";
    }
    // Two kicks, at 0.25 s and 1.25 s.
    write_sound(path("kicks.wav"), make_sound(1, 96000, 48000, wav_float, [](long f, int) {
                    for (long start : {12000L, 60000L}) {
                        if (f >= start && f < start + 4800) {
                            const double t = static_cast<double>(f - start);
                            return static_cast<float>(0.8 * std::sin(2 * M_PI * 60 * t / 48000) *
                                                      std::exp(-t / 2000));
                        }
                    }
                    return 0.0f;
                }));
    const CommandResult r =
        tonbrix_system({"-i", path("kicks.wav"), "--midi-out=" + path("kicks.mid"), "-q",
                        "--compensate-latency", trigger});
    ASSERT_EQ(r.status, 0) << r.err;
    const ReadMidiFile midi = read_midi(read_file(path("kicks.mid")));
    std::vector<double> note_ons;
    for (const ReadMidiEvent& event : midi.events) {
        if ((event.bytes.at(0) & 0xF0) == 0x90 && event.bytes.at(2) > 0) {
            note_ons.push_back(event.seconds);
        }
    }
    ASSERT_EQ(note_ons.size(), 2u);
    EXPECT_NEAR(note_ons[0], 0.25, 0.02);
    EXPECT_NEAR(note_ons[1], 1.25, 0.02);
    EXPECT_NEAR(midi.end_seconds, 2.0, 1e-9);
}
