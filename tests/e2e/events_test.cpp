#include "support/e2e.h"
#include "support/midi.h"

#include <cmath>
#include <map>

namespace {

class Events : public E2E {
protected:
    // The files in the test's folder, but the plugins' log.
    std::vector<std::string> files_made() const
    {
        std::vector<std::string> names = folder_entries(dir_);
        std::erase(names, "lifecycle.log");
        return names;
    }
};

const std::string probe = test_plugin("eventprobe");
const std::string echo = test_plugin("eventecho");

// Channels of eventprobe's output.
enum { marks, clock_channel, held, cvcopy };

// At 120 BPM and 24000 ticks per quarter note a tick is a frame at 48 kHz.
constexpr std::uint16_t frame_ticks = 24000;

// What eventprobe adds to marks[f] for a channel message.
float mark_of(const MidiBytes& bytes)
{
    return (bytes.at(1) + 1) / 256.0f;
}

// The frames of a channel that are not 0, with their values.
std::map<long, float> nonzero(const Sound& sound, int channel)
{
    std::map<long, float> found;
    for (long f = 0; f < sound.frames(); ++f) {
        if (sound.at(f, channel) != 0.0f) {
            found[f] = sound.at(f, channel);
        }
    }
    return found;
}

} // namespace

TEST_F(Events, MidiReachesThePluginAtItsExactFrameAtEveryBlockSizeAndJobCount)
{
    // Format 1: the two tracks are merged in time; at one tick the first
    // track's events come first.
    const std::vector<MidiItem> first = {
        {0, {0x90, 10, 1}},   {1, {0x90, 20, 1}},    {511, {0x90, 30, 1}},
        {512, {0x90, 40, 1}}, {4095, {0x90, 60, 1}}, {30000, {0xB0, 64, 0}}};
    const std::vector<MidiItem> second = {
        {512, {0x80, 50, 0}}, {513, {0x90, 55, 1}}, {4096, {0x80, 10, 0}}};
    write_bytes(path("in.mid"), midi_file(1, frame_ticks, {first, second}, 48000));
    std::map<long, float> expected;
    for (const auto* track : {&first, &second}) {
        for (const MidiItem& item : *track) {
            expected[item.tick] += mark_of(item.bytes);
        }
    }
    const std::vector<std::pair<long, int>> order = {{0, 10},   {1, 20},    {511, 30},
                                                     {512, 40}, {512, 50},  {513, 55},
                                                     {4095, 60}, {4096, 10}, {30000, 64}};
    // Samples, not bytes: a float WAV's PEAK chunk holds the time it was written.
    std::vector<float> reference_audio;
    std::string reference_midi;
    for (const char* block : {"1", "7", "512", "4096"}) {
        for (const char* jobs : {"1", "3"}) {
            const std::string label = std::string("-b ") + block + " -j " + jobs;
            const CommandResult r =
                tonbrix({"-o", path("out.wav"), "--midi=" + path("in.mid"),
                         "--midi-out=" + path("out.mid"), "-b", block, "-j", jobs, "-q", probe});
            ASSERT_EQ(r.status, 0) << label << r.err;
            EXPECT_EQ(r.out + r.err, "") << label;
            const Sound out = read_sound(path("out.wav"));
            EXPECT_EQ(out.channels, 4) << label;
            EXPECT_EQ(out.rate, 48000) << label;
            EXPECT_EQ(out.format, wav_float) << label;
            // Up to the end of track at 1 s.
            EXPECT_EQ(out.frames(), 48000) << label;
            EXPECT_EQ(nonzero(out, marks), expected) << label;
            // The transport starts at 120 BPM at frame 0.
            EXPECT_EQ(nonzero(out, clock_channel), (std::map<long, float>{{0, 0.12f}})) << label;
            const ReadMidiFile midi = read_midi(read_file(path("out.mid")));
            std::vector<std::pair<long, int>> got;
            for (const ReadMidiEvent& event : midi.events) {
                got.emplace_back(std::lround(event.seconds * 48000), event.bytes.at(1));
            }
            EXPECT_EQ(got, order) << label;
            EXPECT_DOUBLE_EQ(midi.end_seconds, 1.0) << label;
            if (reference_audio.empty()) {
                reference_audio = out.samples;
                reference_midi = read_file(path("out.mid"));
            }
            EXPECT_EQ(out.samples, reference_audio) << label;
            EXPECT_EQ(read_file(path("out.mid")), reference_midi) << label;
        }
    }
}

TEST_F(Events, ARenderOfAMidiFileEndsAtItsEndAndAnEventThereFallsOutside)
{
    // 1.25 s at 480 ticks a quarter note and 120 BPM, with a note-off at the
    // end; and a loop of two bars of 4/4 (4 s) whose last note-off closes it.
    write_bytes(path("short.mid"),
                midi_file(0, 480, {{{0, {0x90, 60, 1}}, {600, {0x90, 62, 1}}, {1200, {0x80, 60, 0}}}}));
    write_bytes(path("loop.mid"),
                midi_file(0, 480, {{{0, {0x90, 36, 1}}, {1920, {0x90, 38, 1}}, {3840, {0x80, 36, 0}}}}));
    struct Case {
        const char* file;
        double seconds; // where the file ends
        int rate;
        const char* tail;
        long frames;
    };
    const Case cases[] = {
        {"short.mid", 1.25, 48000, "0", 60000},   {"short.mid", 1.25, 44100, "0", 55125},
        {"short.mid", 1.25, 96000, "0", 120000},  {"short.mid", 1.25, 48000, "0.5", 84000},
        {"short.mid", 1.25, 44100, "0.5", 77175}, {"short.mid", 1.25, 96000, "0.5", 168000},
        {"loop.mid", 4.0, 48000, "0", 192000},    {"loop.mid", 4.0, 44100, "0", 176400},
    };
    // Alone and after a plugin that passes the MIDI on, the same.
    const std::vector<std::vector<std::string>> plugins = {
        {"--midi-out=" + path("out.mid"), probe},
        {echo, "--then", "--midi-out=" + path("out.mid"), probe}};
    for (const Case& c : cases) {
        for (const std::vector<std::string>& chain : plugins) {
            const std::string label = std::string(c.file) + " at " + std::to_string(c.rate) +
                                      " Hz, tail " + c.tail + (chain.size() > 2 ? ", chain" : "");
            std::vector<std::string> args = {"-q", "-o", path("out.wav"),
                                             "--midi=" + path(c.file), "-r", std::to_string(c.rate),
                                             std::string("--tail=") + c.tail};
            args.insert(args.end(), chain.begin(), chain.end());
            const CommandResult r = tonbrix(args);
            ASSERT_EQ(r.status, 0) << label << r.err;
            EXPECT_EQ(r.out + r.err, "") << label;
            const Sound out = read_sound(path("out.wav"));
            EXPECT_EQ(out.frames(), c.frames) << label;
            // The note-off at the end plays only in the tail.
            const long end = std::lround(c.seconds * c.rate);
            const bool tail = std::string(c.tail) != "0";
            EXPECT_EQ(nonzero(out, marks).size(), tail ? 3u : 2u) << label;
            EXPECT_EQ(nonzero(out, marks).count(end), tail ? 1u : 0u) << label;
            const ReadMidiFile midi = read_midi(read_file(path("out.mid")));
            EXPECT_EQ(midi.events.size(), tail ? 3u : 2u) << label;
            EXPECT_DOUBLE_EQ(midi.end_seconds, static_cast<double>(c.frames) / c.rate) << label;
        }
    }
    // The plugin never receives the note-off at the end, whatever the block
    // size: not in a last block that runs past the end either.
    for (const char* block : {"512", "60000", "7"}) {
        const CommandResult r = tonbrix({"-q", "-o", path("out.wav"), "--midi=" + path("short.mid"),
                                         "-b", block, "--report", probe});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "meter: 2\n") << "-b " << block;
    }
}

TEST_F(Events, TempoChangesTimeTheEventsAndMoveTheTransport)
{
    // 120 BPM, then 240 BPM from tick 960 (1 s): tick 1440 is at 1.25 s.
    write_bytes(path("tempo.mid"),
                midi_file(0, 480,
                          {{{0, midi_tempo(500000)},
                            {480, {0x90, 60, 100}},
                            {960, midi_tempo(250000)},
                            {1440, {0x80, 60, 0}}}}));
    // 25 frames a second of 40 ticks: a tick is a millisecond.
    write_bytes(path("smpte.mid"), midi_file(0, 0xE728, {{{1500, {0x90, 70, 100}}}}, 2000));
    struct Case {
        const char* file;
        std::map<long, float> marks;
        std::map<long, float> clock;
        long frames;
    };
    const Case cases[] = {
        // The note-off at the end of the file falls outside it.
        {"tempo.mid", {{24000, 61 / 256.0f}}, {{0, 0.12f}, {48000, 0.24f}}, 60000},
        {"smpte.mid", {{72000, 71 / 256.0f}}, {{0, 0.12f}}, 96000},
    };
    for (const Case& c : cases) {
        const CommandResult r =
            tonbrix({"-o", path("out.wav"), "--midi=" + path(c.file), "-b", "1000", probe});
        ASSERT_EQ(r.status, 0) << c.file << r.err;
        const Sound out = read_sound(path("out.wav"));
        EXPECT_EQ(out.frames(), c.frames) << c.file;
        EXPECT_EQ(nonzero(out, marks), c.marks) << c.file;
        EXPECT_EQ(nonzero(out, clock_channel), c.clock) << c.file;
    }
}

TEST_F(Events, SystemExclusiveMessagesArriveWholeAndMetaEventsNot)
{
    // A text event, a system exclusive message of 6 bytes and a note, in a
    // file that ends after them.
    write_bytes(path("in.mid"),
                midi_file(0, frame_ticks,
                          {{{100, {0xFF, 0x01, 0x02, 'h', 'i'}},
                            {200, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
                            {300, {0x90, 60, 100}}}},
                          400));
    const CommandResult r = tonbrix({"-o", path("out.wav"), "--midi=" + path("in.mid"),
                                     "--ignore-clipping", "--report", "-q", probe});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "meter: 2\n");
    EXPECT_EQ(nonzero(read_sound(path("out.wav")), marks),
              (std::map<long, float>{{200, 7.0f}, {300, 61 / 256.0f}}));
}

TEST_F(Events, WithAnInputTheInputDecidesTheLengthAndLaterEventsAreLeftOutWithOneWarning)
{
    write_sound(path("in.wav"), make_sound(1, 24000, 48000, wav_float, [](long, int) { return 0.0f; }));
    write_bytes(path("in.mid"), midi_file(0, frame_ticks,
                                          {{{100, {0x90, 1, 1}},
                                            {30000, {0x90, 2, 1}},
                                            {40000, {0x90, 3, 1}}}}));
    const CommandResult r = tonbrix({"-i", path("in.wav"), "-o", path("out.wav"),
                                     "--midi=" + path("in.mid"), probe});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Note: Running 1 instances of the plugin.\n"
                     "Note: Extra channels ignored when mapping channels to plugin ports\n"
                     "WARNING: 2 MIDI events of '" + path("in.mid") +
                         "' came after the end of the run (0.5 s) and were left out.\n");
    const Sound out = read_sound(path("out.wav"));
    EXPECT_EQ(out.frames(), 24000);
    EXPECT_EQ(nonzero(out, marks), (std::map<long, float>{{100, 2 / 256.0f}}));
    // With a tail long enough, every event plays.
    const CommandResult tail = tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-q",
                                        "--tail=1", "--midi=" + path("in.mid"), probe});
    ASSERT_EQ(tail.status, 0) << tail.err;
    EXPECT_EQ(tail.out, "");
    EXPECT_EQ(nonzero(read_sound(path("out.wav")), marks).size(), 3u);
}

TEST_F(Events, WithoutAnInputRateTailAndOutputTypeComeFromTheOptions)
{
    struct Case {
        std::vector<std::string> args;
        int rate;
        long frames;
        int format;
    };
    const Case cases[] = {
        {{"--tail=0.5"}, 48000, 24000, wav_float},
        {{"--tail=0.5", "-r", "44100"}, 44100, 22050, wav_float},
        {{"--tail=1", "-r", "8000", "--output-format=wav:pcm16"}, 8000, 8000, wav_pcm16},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-o", path("out.wav"), "-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(probe);
        const CommandResult r = tonbrix(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const Sound out = read_sound(path("out.wav"));
        EXPECT_EQ(out.rate, c.rate);
        EXPECT_EQ(out.frames(), c.frames);
        EXPECT_EQ(out.format, c.format);
        EXPECT_EQ(out.channels, 4);
    }
    // A FLAC output gets 24 bits, the most FLAC holds.
    const CommandResult flac = tonbrix({"-o", path("out.flac"), "-q", "--tail=0.1", probe});
    ASSERT_EQ(flac.status, 0) << flac.err;
    EXPECT_EQ(read_sound(path("out.flac")).format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
}

TEST_F(Events, APluginWithoutAudioOutputsWritesItsMidiAloneExactToTheMillisecond)
{
    // A tick is a millisecond; at 44.1 kHz most fall between two frames.
    std::vector<MidiItem> items;
    for (std::uint32_t ms : {0u, 1u, 333u, 999u, 1000u, 1001u, 2718u}) {
        items.push_back({ms, {0x90, static_cast<std::uint8_t>(ms % 128), 64}});
    }
    write_bytes(path("in.mid"), midi_file(0, 500, {items}, 3000));
    for (const char* rate : {"48000", "44100"}) {
        const CommandResult r = tonbrix({"--midi=" + path("in.mid"), "--midi-out=" +
                                         path("out.mid"), "-r", rate, "-b", "300", echo});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "Note: Running 1 instances of the plugin.\n");
        const ReadMidiFile midi = read_midi(read_file(path("out.mid")));
        EXPECT_EQ(midi.format, 0);
        ASSERT_EQ(midi.events.size(), items.size()) << rate;
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_NEAR(midi.events[i].seconds * 1000.0, items[i].tick, 0.012) << rate;
            EXPECT_EQ(midi.events[i].bytes, items[i].bytes) << rate;
        }
    }
    EXPECT_EQ(files_made(), (std::vector<std::string>{"in.mid", "out.mid"}));
}

TEST_F(Events, AutomationSetsEveryBlockOverParametersOnEveryJobCount)
{
    // level: -1 at 0 s up to 1 at 1 s; cv: 0 until 0.5 s, up to 1 at 1.5 s.
    for (const char* jobs : {"1", "2"}) {
        const CommandResult r =
            tonbrix({"-o", path("out.wav"), "-q", "--tail=2", "-b", "4800", "-j", jobs,
                     "-p", "level:0.9,cv:0.3", "--automate=level:0=-1,1=1",
                     "--automate=cv:0.5=0,1.5=1", probe});
        ASSERT_EQ(r.status, 0) << r.err;
        const Sound out = read_sound(path("out.wav"));
        ASSERT_EQ(out.frames(), 96000);
        for (long f = 0; f < out.frames(); ++f) {
            const double start = (f / 4800) * 0.1; // the block's start in seconds
            const double level = start >= 1.0 ? 1.0 : -1.0 + 2.0 * start;
            const double cv = start <= 0.5 ? 0.0 : start >= 1.5 ? 1.0 : start - 0.5;
            ASSERT_NEAR(out.at(f, held), level, 1e-6) << "frame " << f;
            ASSERT_NEAR(out.at(f, cvcopy), cv, 1e-6) << "frame " << f;
        }
    }
}

TEST_F(Events, BadEventOptionsAreRefusedBeforeAnyFileIsTouched)
{
    write_sound(path("in.wav"), make_sound(1, 100, 48000, wav_float, [](long, int) { return 0.0f; }));
    write_bytes(path("ok.mid"), midi_file(0, 96, {{{0, {0x90, 60, 100}}}}));
    write_bytes(path("truncated.mid"), midi_file(0, 96, {{{0, {0x90, 60, 100}}}}).substr(0, 20));
    const std::string automate = "Error: invalid --automate value ";
    struct Case {
        std::vector<std::string> args;
        std::string plugin;
        std::string err;
    };
    const Case cases[] = {
        {{"--automate=nosuch:0=1"}, "eventprobe",
         automate + "'nosuch:0=1': the plugin has no port 'nosuch'; --nameports lists its "
                    "control inputs\n"},
        {{"--automate=meter:0=1"}, "eventprobe",
         automate + "'meter:0=1': 'meter' is an output; only control and CV inputs can be "
                    "automated\n"},
        {{"--automate=marks:0=1"}, "eventprobe",
         automate + "'marks:0=1': 'marks' is an output; only control and CV inputs can be "
                    "automated\n"},
        {{"--automate=events:0=1"}, "eventprobe",
         automate + "'events:0=1': 'events' is not a control or CV input; only those can be "
                    "automated\n"},
        {{"--automate=level:1=0,1=1"}, "eventprobe",
         automate + "'level:1=0,1=1': the time '1' of point 2 does not come after the time "
                    "'1' of point 1; times must increase\n"},
        {{"--automate=level:x=1"}, "eventprobe",
         automate + "'level:x=1': the time 'x' of point 1 is not a number"},
        {{"--automate=level:"}, "eventprobe",
         automate + "'level:': no points after the colon; give at least one TIME=VALUE\n"},
        {{"--automate=level:0=1", "--automate=level:1=0"}, "eventprobe",
         automate + "'level:1=0': the port 'level' is already automated by an earlier "
                    "--automate.\n"},
        {{"--midi=" + path("ok.mid")}, "thru",
         "Error: --midi needs a MIDI input, and the plugin 'Thru' "
         "(http://tonbrix.test/plugins/thru) has none.\n"},
        {{"--midi-out=" + path("out.mid")}, "thru",
         "Error: --midi-out needs a MIDI output, and the plugin 'Thru' "
         "(http://tonbrix.test/plugins/thru) has none.\n"},
        {{"--midi=" + path("truncated.mid")}, "eventprobe",
         "Error: MIDI file '" + path("truncated.mid") + "': "},
        {{"--midi=" + path("missing.mid")}, "eventprobe",
         "Error: MIDI file '" + path("missing.mid") + "': No such file or directory\n"},
        {{"--midi-out=" + path("no/such/folder/out.mid")}, "eventprobe",
         "Error: cannot write the MIDI file '" + path("no/such/folder/out.mid") +
             "': No such file or directory.\n"},
        {{"--midi-out=" + path("ok.mid"), "--midi=" + path("ok.mid")}, "eventprobe",
         "Error: --midi-out names a file that the run also reads or writes: '" + path("ok.mid") +
             "'.\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(test_plugin(c.plugin));
        const CommandResult r = tonbrix(args);
        const std::string label = args.at(4);
        EXPECT_EQ(r.status, 1) << label;
        EXPECT_EQ(r.out, "") << label;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << label;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << label << ": " << r.err;
        EXPECT_EQ(files_made(), (std::vector<std::string>{"in.wav", "ok.mid", "truncated.mid"}))
            << label;
    }
}

TEST_F(Events, RunsThatLeaveOutTheirFilesSayWhatIsMissing)
{
    const std::string echo_title = "'Event Echo' (http://tonbrix.test/plugins/eventecho)";
    const std::string probe_title = "'Event Probe' (http://tonbrix.test/plugins/eventprobe)";
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        // An instrument's audio needs -o; --midi-out is named where it has a MIDI output.
        {{"--tail=1", probe},
         "Error: the plugin " + probe_title +
             " has audio outputs, so the run needs -o FILE to write them (or --midi-out=FILE "
             "to write only its MIDI output).\n"},
        {{"--tail=1", "--report", probe},
         "Error: the plugin " + probe_title +
             " has audio outputs, so the run needs -o FILE to write them (or --midi-out=FILE "
             "to write only its MIDI output).\n"},
        {{"--tail=1", echo, "--then", probe},
         "2: Error: the plugin " + probe_title +
             " has audio outputs, so the run needs -o FILE to write them (or --midi-out=FILE "
             "to write only its MIDI output).\n"},
        {{"-o", path("out.wav"), "--tail=1", echo},
         "Error: the plugin " + echo_title +
             " has no audio outputs, so -o has nothing to write; use --midi-out=FILE for its "
             "MIDI or --report for its readings.\n"},
        {{"--tail=1", echo},
         "Error: the run would write nothing: the plugin " + echo_title +
             " has no audio outputs; give --midi-out=FILE or --report.\n"},
        {{"-o", path("out.wav"), probe},
         "Error: without -i the length of the run comes from --midi and --tail; give at least "
         "one of them (e.g. --tail=4).\n"},
        {{"-o", path("out.wav"), "--tail=1", "-n", "2", probe},
         "Error: --channels is for raw input; without -i the output has the plugin's audio "
         "outputs as its channels.\n"},
    };
    for (const Case& c : cases) {
        const CommandResult r = tonbrix(c.args);
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(files_made().empty());
    }
    // A plugin with audio inputs still needs -i: the usage as before.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-o", path("out.wav"), test_plugin("thru")},
          std::vector<std::string>{test_plugin("thru")}}) {
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("tonbrix: missing option -i input\n", 0), 0u) << r.err;
    }
    // A real instrument without a MIDI output is told to give -o alone.
    if (file_exists("/usr/lib/lv2/mda.lv2")) {
        write_bytes(path("song.mid"), midi_file(0, 480, {{{0, {0x90, 60, 100}}}}, 480));
        const CommandResult r = tonbrix_system(
            {"--midi=" + path("song.mid"), "http://drobilla.net/plugins/mda/DX10"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Error: the plugin 'MDA DX10' (http://drobilla.net/plugins/mda/DX10) "
                         "has audio outputs, so the run needs -o FILE to write them.\n");
    }
}

TEST_F(Events, APluginWithoutAudioOutputsRunsForItsReadingsWithoutAnOutputFile)
{
    // Its last reading is the input's last frame (two whole blocks).
    write_sound(path("in.wav"),
                make_sound(2, 1024, 48000, wav_float, [](long f, int c) { return (f + c) / 2000.0f; }));
    const CommandResult r = tonbrix({"-i", path("in.wav"), "--report", "-j", "2", test_plugin("sink")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "Note: Running 2 instances of the plugin.\n"
                     "Note: Running an instance of the plugin per channel\n"
                     "1.level: 0.5115\n"
                     "2.level: 0.512\n");
    EXPECT_EQ(files_made(), (std::vector<std::string>{"in.wav"}));
}
