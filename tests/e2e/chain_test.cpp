// Chains: plugins joined by --then run one after the other in one run, each
// on the outputs of the one before it, with their own options and positions.
#include "support/e2e.h"
#include "support/messages.h"
#include "support/midi.h"
#include "support/samples.h"

#include <cmath>
#include <cstring>

namespace {

const std::string thru = test_plugin("thru");
const std::string thru2 = test_plugin("thru2");
const std::string delay = test_plugin("delay");
const std::string presets = test_plugin("presets");

const std::string eg_amp = "http://lv2plug.in/plugins/eg-amp";
const std::string gverb = "http://plugin.org.uk/swh-plugins/gverb";
const std::string detune = "http://drobilla.net/plugins/mda/Detune";
const std::string dpl = "http://gareus.org/oss/lv2/dpl#mono";

std::string system_lv2_path()
{
    return test_lv2_dir() + ":/usr/lib/lv2";
}

// A signal with distinct values, loud enough to reach the plugins' limits.
std::vector<float> signal(long frames)
{
    std::vector<float> s(static_cast<std::size_t>(frames));
    for (long f = 0; f < frames; ++f) {
        s[f] = static_cast<float>((f * 37 % 101) - 50) / 60.0f * (f % 3000 < 1500 ? 1.0f : 0.25f);
    }
    return s;
}

// The frame of the sample of largest magnitude in a mono signal.
long peak_frame(const std::vector<float>& samples)
{
    long best = 0;
    for (long f = 0; f < static_cast<long>(samples.size()); ++f) {
        if (std::fabs(samples[f]) > std::fabs(samples[best])) {
            best = f;
        }
    }
    return best;
}

} // namespace

class Chain : public E2E {
protected:
    // A raw float run at 48 kHz with the system's plugins and the test
    // bundles; the audio that came out, or a failure.
    // `leaky` turns off leak detection for plugins that never free some of
    // their memory.
    CommandResult raw_run(int channels, const std::vector<std::string>& args,
                          const std::string& input, bool leaky = false) const
    {
        std::vector<std::string> line = {"-q", "-r", "48000", "-n", std::to_string(channels),
                                         "-i", "-",  "-o",    "-"};
        line.insert(line.end(), args.begin(), args.end());
        std::vector<std::pair<std::string, std::string>> env = {{"LV2_PATH", system_lv2_path()}};
        if (leaky) {
            env.emplace_back("ASAN_OPTIONS", "detect_leaks=0");
        }
        return tonbrix(line, input, env);
    }

    bool installed(const std::vector<std::string>& uris) const
    {
        const CommandResult list = tonbrix({"--list"}, "", {{"LV2_PATH", system_lv2_path()}});
        for (const std::string& uri : uris) {
            if (list.out.find("\t" + uri + "\n") == std::string::npos) {
                return false;
            }
        }
        return true;
    }
};

TEST_F(Chain, RefusalsComeBeforeAnyFileIsTouched)
{
    write_sound(path("in.wav"), Sound{1, 48000, wav_float, signal(100)});
    const std::string in = path("in.wav");
    const std::string out = path("out.wav");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"-i", in, "-o", out, thru, "--then"},
         "Error: --then stands after the last plugin; it goes between two plugins.\n"},
        {{"--then", "-i", in, "-o", out, thru},
         "Error: --then stands before the first plugin; it goes between two plugins.\n"},
        {{"-i", in, "-o", out, thru, "--then", "--then", thru},
         "Error: two --then words stand together; each part of the chain between them names "
         "one plugin.\n"},
        {{"-i", in, "-o", out, thru, "--then", thru, delay},
         "Error: part 2 of the chain names two plugins, '" + thru + "' and '" + delay +
             "'; put --then between them.\n"},
        {{"-i", in, thru, "--then", "-o", out},
         "Error: part 2 of the chain names no plugin; each part between --then words names "
         "one.\n"},
        {{"-i", in, "-o", out, "-b", "64", thru, "--then", "-b", "128", thru},
         "Error: --blocksize is given in parts 1 and 2 of the chain with different values "
         "('64', '128'); it applies to the whole run: give it once.\n"},
        {{"-l", thru, "--then", thru},
         "Error: -l does not go with --then, which joins the plugins of a processing run.\n"},
        {{"-i", in, "-o", out, thru, "--then", "--help", thru},
         "Error: --help does not go with --then, which joins the plugins of a processing "
         "run.\n"},
        {{"-V", thru, "--then", thru},
         "Error: -V does not go with --then, which joins the plugins of a processing run.\n"},
        {{"-n", thru, "--then", thru},
         "Error: --nameports does not go with --then; in a chain -n gives the channel count of "
         "raw input, and '" + thru + "' is not a number.\n"},
        // Each plugin's own faults, after its position.
        {{"-i", in, "-o", out, thru, "--then", test_plugin("nosuch")},
         "2: No such plugin " + test_plugin("nosuch") + "\n"},
        {{"-i", in, "-o", out, thru, "--then", "-P", "Nope", presets},
         "2: Preset 'Nope' was not found.\n"},
        {{"-i", in, "-o", out, thru, "--then", thru, "--then", "-s", "x=1", thru},
         "3: Error: the plugin has no writable parameter 'x'.\n"},
        {{"-i", in, "-o", out, thru, "--then", "--bogus", thru},
         "2: tonbrix: invalid option \"--bogus\"\n"},
    };
    for (const Case& c : cases) {
        const CommandResult r = tonbrix(c.args);
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
        EXPECT_EQ(r.out, "") << c.err;
        EXPECT_FALSE(file_exists(out)) << c.err;
    }
}

TEST_F(Chain, ARoutingErrorOfALaterPluginLeavesNoOutput)
{
    // One channel reaches a plugin with two inputs.
    write_sound(path("in.wav"), Sound{1, 48000, wav_float, signal(100)});
    const CommandResult r = tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), thru,
                                     "--then", thru2});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "1: Note: Running 1 instances of the plugin.\n"
                     "1: Note: Mapping audio channels to plugin ports based on ordering\n"
                     "2: Note: Running 1 instances of the plugin.\n");
    EXPECT_EQ(r.err, "2: Error: Not enough input channels to connect all of the plugin's ports.  "
                     "Please manually specify connections\n");
    EXPECT_FALSE(file_exists(path("out.wav")));
}

TEST_F(Chain, NotesAndReportLinesCarryThePluginsPosition)
{
    // Stereo: two instances of thru, one of thru2, then two of delay.
    const Sound input = make_sound(2, 1000, 48000, wav_float,
                                   [](long f, int c) { return static_cast<float>(f % 50 + c) / 100.0f; });
    write_sound(path("in.wav"), input);
    const CommandResult r =
        tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "--report", "-p", "gain:0.5", thru,
                 "--then", thru2, "--then", "-p", "stagger:10", delay});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "1: Note: Running 2 instances of the plugin.\n"
                     "1: Note: Running an instance of the plugin per channel\n"
                     "2: Note: Running 1 instances of the plugin.\n"
                     "2: Note: Mapping audio channels to plugin ports based on ordering\n"
                     "3: Note: Running 2 instances of the plugin.\n"
                     "3: Note: Running an instance of the plugin per channel\n"
                     "3: 1.latency: 64\n"
                     "3: 2.latency: 74\n");
    // The -p of each part reached its own plugin only.
    const Sound out = read_sound(path("out.wav"));
    ASSERT_EQ(out.frames(), 1000);
    EXPECT_EQ(out.at(100, 0), input.at(36, 0) * 0.5f);
    EXPECT_EQ(out.at(100, 1), input.at(26, 1) * 0.5f);

    // A chain of one plugin has no positions.
    const CommandResult single = tonbrix({"-i", path("in.wav"), "-o", path("one.wav"), thru2});
    EXPECT_EQ(single.out, one_instance_notes);
}

TEST_F(Chain, JsonReportAddsEveryPluginInChainOrder)
{
    write_sound(path("in.wav"), Sound{1, 48000, wav_float, signal(480)});
    const CommandResult r = tonbrix({"-q", "-i", path("in.wav"), "-o", path("out.wav"), "--json",
                                     "-p", "delay:5", delay, "--then", thru, "--then", delay});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string reading = R"([
    {
      "time": 0.01,
      "frame": 480,
      "instances": [
        {
          "latency": LATENCY
        }
      ]
    }
  ])";
    auto with_latency = [&](const std::string& latency, const std::string& indent) {
        std::string text = reading;
        text.replace(text.find("LATENCY"), 7, latency);
        std::string out;
        for (char c : text) {
            out += c;
            if (c == '\n') {
                out += indent;
            }
        }
        return out;
    };
    const std::string empty_reading = R"([
        {
          "time": 0.01,
          "frame": 480,
          "instances": [
            {}
          ]
        }
      ])";
    EXPECT_EQ(r.out, "{\n  \"uri\": \"" + delay + "\",\n  \"rate\": 48000,\n  \"readings\": " +
                         with_latency("64.0", "") +
                         ",\n  \"plugins\": [\n    {\n      \"position\": 1,\n      \"uri\": \"" +
                         delay + "\",\n      \"readings\": " + with_latency("5.0", "    ") +
                         "\n    },\n    {\n      \"position\": 2,\n      \"uri\": \"" + thru +
                         "\",\n      \"readings\": " + empty_reading +
                         "\n    },\n    {\n      \"position\": 3,\n      \"uri\": \"" + delay +
                         "\",\n      \"readings\": " + with_latency("64.0", "    ") +
                         "\n    }\n  ]\n}\n");
}

TEST_F(Chain, InvalidLatencyWarningNamesItsPlugin)
{
    write_sound(path("in.wav"), Sound{1, 48000, wav_float, signal(300)});
    const CommandResult r = tonbrix({"-q", "-i", path("in.wav"), "-o", path("out.wav"),
                                     "--compensate-latency", thru, "--then", "-p", "report:-5",
                                     delay});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "2: WARNING: The plugin reported an invalid latency (-5); it was taken as "
                     "0.\n");
}

TEST_F(Chain, LatenciesAddUpAndTailsRunThroughEveryPlugin)
{
    // 64 + 100 frames of latency along the chain, with a plugin between.
    const std::vector<float> input = signal(2000);
    write_sound(path("in.wav"), Sound{1, 48000, wav_float, input});
    for (const char* block : {"1", "64", "8192"}) {
        for (const char* jobs : {"1", "2", "3", "4"}) {
            SCOPED_TRACE(std::string("block ") + block + ", jobs " + jobs);
            auto run = [&](const std::vector<std::string>& options) {
                std::vector<std::string> args = {"-q", "-b", block, "-j", jobs, "-i",
                                                 path("in.wav"), "-o", path("out.wav")};
                args.insert(args.end(), options.begin(), options.end());
                args.insert(args.end(), {delay, "--then", thru, "--then", "-p", "delay:100", delay});
                const CommandResult r = tonbrix(args);
                EXPECT_EQ(r.status, 0) << r.err;
                return r.status == 0 ? read_sound(path("out.wav")).samples : std::vector<float>{};
            };
            EXPECT_TRUE(same(run({}), delayed(input, 164, 2000)));
            EXPECT_TRUE(same(run({"--compensate-latency"}), input));
            // 0.01 s is 480 frames: the last 164 frames of the input come
            // out of the last plugin in the tail.
            EXPECT_TRUE(same(run({"--tail=0.01"}), delayed(input, 164, 2480)));
            EXPECT_TRUE(same(run({"--tail=0.01", "--compensate-latency"}),
                             delayed(input, 0, 2480)));
        }
    }
}

// Three real plugins, one turning one channel into two: the chain gives the
// bytes of the raw float pipe of single runs, at every job count.
TEST_F(Chain, RealPluginsGiveTheBytesOfTheRawPipe)
{
    if (!installed({eg_amp, gverb, detune})) {
        GTEST_SKIP() << "eg-amp, gverb or Detune is not installed";
    }
    const std::string input = to_raw_bytes(signal(12000));
    const std::vector<std::string> amp = {"-p", "gain:3", eg_amp};
    const std::vector<std::string> reverb = {"-p", "revtime:1.5", gverb};
    const std::vector<std::string> stereo = {"-P", "Stereo Detune", detune};
    for (const char* block : {"1", "64", "8192"}) {
        SCOPED_TRACE(std::string("block ") + block);
        auto stage = [&](int channels, std::vector<std::string> args, const std::string& in,
                         bool last) {
            args.insert(args.begin(), {"-b", block});
            if (!last) {
                args.insert(args.begin(), "--ignore-clipping");
            }
            const CommandResult r = raw_run(channels, args, in);
            EXPECT_EQ(r.status, 0) << r.err;
            return r.out;
        };
        const std::string piped =
            stage(2, stereo, stage(1, reverb, stage(1, amp, input, false), false), true);
        ASSERT_EQ(piped.size(), 12000u * 2 * sizeof(float));
        for (const char* jobs : {"1", "2", "3", "4"}) {
            std::vector<std::string> args = {"-b", block, "-j", jobs};
            args.insert(args.end(), amp.begin(), amp.end());
            args.push_back("--then");
            args.insert(args.end(), reverb.begin(), reverb.end());
            args.push_back("--then");
            args.insert(args.end(), stereo.begin(), stereo.end());
            const CommandResult r = raw_run(1, args, input);
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(r.out == piped) << "jobs " << jobs;
        }
    }
}

TEST_F(Chain, TwoLookAheadLimitersKeepAnImpulseAtItsFrame)
{
    if (!installed({dpl})) {
        GTEST_SKIP() << dpl << " is not installed";
    }
    // The limiter never frees a few of its buffers (12 KiB, in a single run too).
    std::vector<float> impulse(6000, 0.0f);
    impulse[1000] = 0.5f;
    const std::string input = to_raw_bytes(impulse);
    for (const char* block : {"1", "64", "8192"}) {
        for (const char* jobs : {"1", "2", "3", "4"}) {
            SCOPED_TRACE(std::string("block ") + block + ", jobs " + jobs);
            const CommandResult r = raw_run(
                1, {"-b", block, "-j", jobs, "--compensate-latency", dpl, "--then", dpl}, input,
                true);
            ASSERT_EQ(r.status, 0) << r.err;
            const std::vector<float> out = from_raw_bytes(r.out);
            ASSERT_EQ(out.size(), impulse.size());
            EXPECT_EQ(peak_frame(out), 1000);
        }
    }
    // Without compensation it comes out later by both limiters' latencies.
    const CommandResult single = raw_run(1, {"--report", dpl}, input, true);
    const std::size_t at = single.err.find("latency: ");
    ASSERT_NE(at, std::string::npos) << single.err;
    const long latency = std::stol(single.err.substr(at + 9));
    ASSERT_GT(latency, 0);
    const CommandResult late = raw_run(1, {dpl, "--then", dpl}, input,
                true);
    ASSERT_EQ(late.status, 0) << late.err;
    EXPECT_EQ(peak_frame(from_raw_bytes(late.out)), 1000 + 2 * latency);
}

TEST_F(Chain, ACrashNamesThePluginsOfTheChainAndLeavesNoFile)
{
    write_sound(path("in.wav"), Sound{1, 48000, wav_float, signal(20000)});
    write_bytes(path("in.mid"), midi_file(0, 480, {{{0, {0x90, 60, 64}}, {240, {0x80, 60, 0}}}}));
    const std::string probe = test_plugin("eventprobe");
    struct Case {
        std::vector<std::string> first; // the files and the first plugin
        std::string names;              // the plugins the crash line names
    };
    // The temporary files of the audio output and of a MIDI output go alike.
    const Case cases[] = {
        {{"-i", path("in.wav"), thru}, thru},
        {{"--midi=" + path("in.mid"), "--midi-out=" + path("out.mid"), probe}, probe},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-q", "-o", path("out.wav")};
        args.insert(args.end(), c.first.begin(), c.first.end());
        args.insert(args.end(), {"--then", "-p", "signal:11,after:4096", test_plugin("raise")});
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, 128 + 11) << c.names;
        EXPECT_EQ(r.err, "tonbrix: plugin " + c.names + " or " + test_plugin("raise") +
                             " crashed with signal 11 (SIGSEGV)\n");
        for (const std::string& name : folder_entries(dir_)) {
            EXPECT_TRUE(name == "in.wav" || name == "in.mid" || name == "lifecycle.log")
                << c.names << ": " << name;
        }
    }
}

TEST_F(Chain, ReadingsEverySecondsStartWithThePosition)
{
    write_sound(path("in.wav"), Sound{1, 1000, wav_float, signal(1000)});
    const CommandResult r = tonbrix({"-q", "-b", "250", "-i", path("in.wav"), "-o",
                                     path("out.wav"), "--report-every=0.5", delay, "--then", thru,
                                     "--then", "-p", "delay:3", delay});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1: 0.5 latency: 64\n1: 1 latency: 64\n3: 0.5 latency: 3\n3: 1 latency: 3\n");
}

TEST_F(Chain, AGeneratorNeedsNoInputAndAMeterNoOutput)
{
    // 0.01 s at 1000 Hz: ten frames counted by the generator, halved.
    const CommandResult made = tonbrix({"-q", "--ignore-clipping", "-r", "1000", "--tail=0.01",
                                        "-o", path("out.wav"),
                                        test_plugin("generator"), "--then", "-p", "gain:0.5",
                                        thru});
    ASSERT_EQ(made.status, 0) << made.err;
    const Sound out = read_sound(path("out.wav"));
    ASSERT_EQ(out.frames(), 10);
    EXPECT_EQ(out.at(9, 0), 4.5f);
    // The reading of a chain that ends in a meter, without -o, is the
    // meter's reading of a single run.
    write_sound(path("in.wav"), Sound{1, 48000, wav_float, signal(1000)});
    const CommandResult read = tonbrix({"-q", "-i", path("in.wav"), "--report", thru, "--then",
                                        test_plugin("sink")});
    ASSERT_EQ(read.status, 0) << read.err;
    const CommandResult single =
        tonbrix({"-q", "-i", path("in.wav"), "--report", test_plugin("sink")});
    ASSERT_EQ(single.status, 0) << single.err;
    EXPECT_EQ(read.out, "2: " + single.out);
    // A plugin without audio outputs cannot feed another.
    const CommandResult refused = tonbrix({"-q", "-i", path("in.wav"), "-o", path("x.wav"),
                                           test_plugin("sink"), "--then", thru});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err.substr(0, 3), "1: ");
    EXPECT_FALSE(file_exists(path("x.wav")));
}
