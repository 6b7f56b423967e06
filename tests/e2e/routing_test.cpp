// How file channels reach plugin instances and inputs: the instance count,
// the automatic mappings, --connect, and the output file's channel layout,
// checked with exact float samples.
#include "support/e2e.h"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

constexpr long frame_count = 1000; // more than one block of 512 frames

// A full-precision value in [-1, 1) that differs per frame and channel.
float noise(long frame, int channel)
{
    uint32_t x = static_cast<uint32_t>(frame) * 2654435761u ^
                 static_cast<uint32_t>(channel + 1) * 0x9E3779B9u;
    x ^= x >> 15;
    x *= 2246822519u;
    x ^= x >> 13;
    x *= 3266489917u;
    x ^= x >> 16;
    const int32_t centred = static_cast<int32_t>(x >> 7) - (1 << 24);
    return static_cast<float>(centred) / 16777216.0f;
}

// The mean as the host forms it: a float sum in the given (ascending
// channel) order, divided by the count.
float mean(std::initializer_list<float> values)
{
    float sum = 0.0f;
    for (float v : values) {
        sum += v;
    }
    return sum / static_cast<float>(values.size());
}

// The `four` plugin's output.
float four(float a, float b, float c, float d)
{
    return a + 10.0f * b + 100.0f * c + 1000.0f * d;
}

std::string instances_note(int count)
{
    return "Note: Running " + std::to_string(count) + " instances of the plugin.\n";
}

const std::string ordering_note = "Note: Mapping audio channels to plugin ports based on ordering\n";
const std::string downmix_note = "Note: Down mixing all channels to a single plugin input\n";
const std::string per_channel_note = "Note: Running an instance of the plugin per channel\n";
const std::string extra_note = "Note: Extra channels ignored when mapping channels to plugin ports\n";
const std::string user_note = "Note: Only making user specified connections.\n";
const std::string not_enough_error =
    "Error: Not enough input channels to connect all of the plugin's ports.  Please manually "
    "specify connections\n";

// Output channel `channel` at frame `frame`, from the input sound.
using Expected = std::function<float(const Sound& in, long frame, int channel)>;

// Checks the whole output: layout, format, and every sample bit for bit.
void expect_output(const Sound& in, const Sound& out, int channels, const Expected& want,
                   const std::string& label)
{
    ASSERT_EQ(out.channels, channels) << label;
    EXPECT_EQ(out.rate, in.rate) << label;
    EXPECT_EQ(out.format, in.format) << label;
    ASSERT_EQ(out.frames(), in.frames()) << label;
    for (long f = 0; f < out.frames(); ++f) {
        for (int c = 0; c < channels; ++c) {
            const float expected = want(in, f, c);
            if (std::bit_cast<uint32_t>(out.at(f, c)) != std::bit_cast<uint32_t>(expected)) {
                ADD_FAILURE() << label << ": frame " << f << ", channel " << c << ": got "
                              << out.at(f, c) << ", expected " << expected;
                return; // one report per run is enough
            }
        }
    }
}

} // namespace

class Routing : public E2E {
protected:
    // Writes an input of noise with `channels` channels to in.wav.
    Sound write_input(int channels)
    {
        const Sound in = make_sound(channels, frame_count, 48000, wav_float, noise);
        write_sound(path("in.wav"), in);
        return in;
    }

    CommandResult process(const std::vector<std::string>& options, const std::string& plugin)
    {
        std::remove(path("out.wav").c_str());
        std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav")};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(test_plugin(plugin));
        return tonbrix(args);
    }
};

TEST_F(Routing, AutomaticMappingsAndOutputLayout)
{
    struct Case {
        const char* label;
        int channels;
        const char* plugin;
        std::vector<std::string> options;
        int instances;
        std::string mapping_note;
        int output_channels;
        Expected want;
    };
    const Expected same = [](const Sound& in, long f, int c) { return in.at(f, c); };
    const Expected frame_number = [](const Sound&, long f, int) { return static_cast<float>(f); };
    const Case cases[] = {
        {"mono thru", 1, "thru", {}, 1, ordering_note, 1, same},
        {"mono thru -m", 1, "thru", {"-m"}, 1, ordering_note, 1, same},
        // One instance per channel; output channel m is instance m's output.
        {"stereo thru", 2, "thru", {}, 2, per_channel_note, 2, same},
        {"6 channels thru", 6, "thru", {}, 6, per_channel_note, 6, same},
        {"stereo thru -m", 2, "thru", {"-m"}, 1, downmix_note, 1,
         [](const Sound& in, long f, int) { return mean({in.at(f, 0), in.at(f, 1)}); }},
        {"6 channels thru --mono", 6, "thru", {"--mono"}, 1, downmix_note, 1,
         [](const Sound& in, long f, int) {
             return mean({in.at(f, 0), in.at(f, 1), in.at(f, 2), in.at(f, 3), in.at(f, 4),
                          in.at(f, 5)});
         }},
        {"stereo thru2", 2, "thru2", {}, 1, ordering_note, 2, same},
        // -m only matters for a plugin with one input.
        {"stereo thru2 -m", 2, "thru2", {"-m"}, 1, ordering_note, 2, same},
        {"4 channels thru2", 4, "thru2", {}, 1, extra_note, 2, same},
        {"4 channels four", 4, "four", {"--ignore-clipping"}, 1, ordering_note, 1,
         [](const Sound& in, long f, int) {
             return four(in.at(f, 0), in.at(f, 1), in.at(f, 2), in.at(f, 3));
         }},
        {"5 channels four", 5, "four", {"--ignore-clipping"}, 1, extra_note, 1,
         [](const Sound& in, long f, int) {
             return four(in.at(f, 0), in.at(f, 1), in.at(f, 2), in.at(f, 3));
         }},
        // mixed's inputs are port 2 (in) and port 5 (side), with controls and
        // outputs between them: inputs are numbered among audio inputs only.
        {"stereo mixed", 2, "mixed", {"--ignore-clipping"}, 1, ordering_note, 1,
         [](const Sound& in, long f, int) { return in.at(f, 0) * 1.0f + in.at(f, 1) + 0.0f; }},
        {"3 channels mixed", 3, "mixed", {"--ignore-clipping"}, 1, extra_note, 1,
         [](const Sound& in, long f, int) { return in.at(f, 0) * 1.0f + in.at(f, 1) + 0.0f; }},
        // No inputs at all: one instance, every channel ignored.
        {"mono generator", 1, "generator", {"--ignore-clipping"}, 1, extra_note, 1, frame_number},
        {"stereo generator", 2, "generator", {"--ignore-clipping"}, 1, extra_note, 1, frame_number},
        {"stereo generator -m", 2, "generator", {"--ignore-clipping", "-m"}, 1, extra_note, 1,
         frame_number},
    };
    for (const Case& c : cases) {
        const Sound in = write_input(c.channels);
        const CommandResult r = process(c.options, c.plugin);
        EXPECT_EQ(r.status, 0) << c.label;
        EXPECT_EQ(r.out, instances_note(c.instances) + c.mapping_note) << c.label;
        EXPECT_EQ(r.err, "") << c.label;
        if (r.status == 0) {
            expect_output(in, read_sound(path("out.wav")), c.output_channels, c.want, c.label);
        }
    }
}

TEST_F(Routing, DownMixSumsInFloatInAscendingChannelOrder)
{
    // tiny + 1 rounds to 1 in float, so the frames below tell the channel
    // order of the sum, and a sum kept in double, apart.
    const float tiny = 0x1p-30f;
    Sound in{3, 48000, wav_float, {}};
    in.samples = {
        tiny, 1.0f, -1.0f, // ascending: 0       descending: tiny / 3
        -1.0f, 1.0f, tiny, // ascending: tiny / 3   descending: 0
        1.0f, tiny, -1.0f, // ascending: 0       double sum: tiny / 3
        0.5f, 0.25f, 0.25f, // exact: 1/3 in float
    };
    write_sound(path("in.wav"), in);
    const std::vector<float> want = {0.0f, tiny / 3.0f, 0.0f, 1.0f / 3.0f};

    struct Case {
        std::vector<std::string> options;
        std::string notes;
    };
    // The order of the --connect items does not change the order of the sum.
    const Case cases[] = {
        {{"-m"}, instances_note(1) + downmix_note},
        {{"-c", "3:in,2:in,1:in"}, instances_note(1) + user_note},
    };
    for (const Case& c : cases) {
        const CommandResult r = process(c.options, "thru");
        const std::string label = c.options.back();
        ASSERT_EQ(r.status, 0) << label << r.err;
        EXPECT_EQ(r.out, c.notes) << label;
        EXPECT_EQ(r.err, "") << label;
        const Sound out = read_sound(path("out.wav"));
        ASSERT_EQ(out.channels, 1) << label;
        ASSERT_EQ(out.frames(), 4) << label;
        for (long f = 0; f < 4; ++f) {
            EXPECT_EQ(std::bit_cast<uint32_t>(out.at(f, 0)), std::bit_cast<uint32_t>(want[f]))
                << label << ", frame " << f << ": got " << out.at(f, 0) << ", expected "
                << want[f];
        }
    }
}

TEST_F(Routing, MorePluginInputsThanChannelsIsAnError)
{
    struct Case {
        int channels;
        const char* plugin;
        std::vector<std::string> options;
    };
    const Case cases[] = {
        {2, "four", {}},
        {3, "four", {"-m"}},
        {1, "thru2", {}},
        {1, "mixed", {}},
    };
    for (const Case& c : cases) {
        write_input(c.channels);
        const CommandResult r = process(c.options, c.plugin);
        const std::string label = std::string(c.plugin) + " " + std::to_string(c.channels);
        EXPECT_EQ(r.status, 1) << label;
        EXPECT_EQ(r.out, instances_note(1)) << label;
        EXPECT_EQ(r.err, not_enough_error) << label;
        EXPECT_FALSE(file_exists(path("out.wav"))) << label;
    }
}

TEST_F(Routing, UserConnections)
{
    struct Case {
        const char* label;
        int channels;
        const char* plugin;
        std::vector<std::string> options;
        int instances;
        int output_channels;
        Expected want;
    };
    const Case cases[] = {
        // four's weights show which channel reached which input.
        {"reversed", 4, "four", {"-c", "1:d,2:c,3:b,4:a"}, 1, 1,
         [](const Sound& in, long f, int) {
             return four(in.at(f, 3), in.at(f, 2), in.at(f, 1), in.at(f, 0));
         }},
        // Unfed inputs get silence: two channels are enough with --connect.
        {"partial", 2, "four", {"-c", "2:b,1:d"}, 1, 1,
         [](const Sound& in, long f, int) { return four(0.0f, in.at(f, 1), 0.0f, in.at(f, 0)); }},
        // Channels 1 and 3 both feed a: their mean.
        {"two channels into one input", 3, "four", {"-c", "3:a,2:c,1:a"}, 1, 1,
         [](const Sound& in, long f, int) {
             return four(mean({in.at(f, 0), in.at(f, 2)}), 0.0f, in.at(f, 1), 0.0f);
         }},
        {"one channel into every input", 1, "four", {"-c", "1:a,1:b,1:c,1:d"}, 1, 1,
         [](const Sound& in, long f, int) {
             const float x = in.at(f, 0);
             return four(x, x, x, x);
         }},
        // Several values add up; a value may end with a comma.
        {"several values", 4, "four", {"-c", "1:a", "--connect", "2:b,", "-c", "3:c,4:d"}, 1, 1,
         [](const Sound& in, long f, int) {
             return four(in.at(f, 0), in.at(f, 1), in.at(f, 2), in.at(f, 3));
         }},
        {"thru2 crossed", 2, "thru2", {"-c", "1:in_r,2:in_l"}, 1, 2,
         [](const Sound& in, long f, int c) { return in.at(f, 1 - c); }},
        // Output channel m*2 + q is output q of instance m.
        {"thru2 two instances", 2, "thru2", {"-c", "1:2.in_r,2:in_l"}, 2, 4,
         [](const Sound& in, long f, int c) {
             return c == 0 ? in.at(f, 1) : c == 3 ? in.at(f, 0) : 0.0f;
         }},
        {"mixed", 2, "mixed", {"-c", "2:in,1:side"}, 1, 1,
         [](const Sound& in, long f, int) { return in.at(f, 1) * 1.0f + in.at(f, 0) + 0.0f; }},
        // Instance 2 is named by nobody: it runs on silence.
        {"instance numbers", 2, "thru", {"-c", "1:in,2:3.in"}, 3, 3,
         [](const Sound& in, long f, int c) {
             return c == 0 ? in.at(f, 0) : c == 2 ? in.at(f, 1) : 0.0f;
         }},
        {"explicit instance 1, leading zeros", 2, "thru", {"-c", "2:1.in,01:002.in"}, 2, 2,
         [](const Sound& in, long f, int c) { return in.at(f, 1 - c); }},
        {"highest instance named first", 2, "thru", {"-c", "1:4.in,2:2.in"}, 4, 4,
         [](const Sound& in, long f, int c) {
             return c == 3 ? in.at(f, 0) : c == 1 ? in.at(f, 1) : 0.0f;
         }},
        // Without --connect, -m would mix both channels into one instance.
        {"mono has no effect", 2, "thru", {"-m", "-c", "1:in,2:2.in"}, 2, 2,
         [](const Sound& in, long f, int c) { return in.at(f, c); }},
        {"empty value", 2, "thru", {"-c", ""}, 1, 1, [](const Sound&, long, int) { return 0.0f; }},
        {"empty value, no inputs", 2, "generator", {"-c", ""}, 1, 1,
         [](const Sound&, long f, int) { return static_cast<float>(f); }},
    };
    for (const Case& c : cases) {
        const Sound in = write_input(c.channels);
        // Sums through `four` go beyond full scale.
        std::vector<std::string> options = {"--ignore-clipping"};
        options.insert(options.end(), c.options.begin(), c.options.end());
        const CommandResult r = process(options, c.plugin);
        EXPECT_EQ(r.status, 0) << c.label;
        EXPECT_EQ(r.out, instances_note(c.instances) + user_note) << c.label;
        EXPECT_EQ(r.err, "") << c.label;
        if (r.status == 0) {
            expect_output(in, read_sound(path("out.wav")), c.output_channels, c.want, c.label);
        }
    }
}

TEST_F(Routing, ConnectionErrors)
{
    const std::string no_colon = "Error parsing connection:  Expected colon between channel and port.\n";
    const std::string bad_instance = "Invalid plugin instance specified"; // no newline
    struct Case {
        int channels;
        const char* plugin;
        std::string value;
        std::string out;
        std::string err;
    };
    const std::string one = instances_note(1);
    const Case cases[] = {
        // First pass: every item is checked before any note.
        {2, "thru", "1in", "", no_colon},
        {2, "thru", "1:in,2in", "", no_colon},
        {2, "thru", "5:in,1in", "", no_colon},
        {2, "thru", "1:in,,2:in", "", no_colon},
        {2, "thru", ",1:in", "", no_colon},
        {2, "thru", "1:0.in", "", bad_instance},
        {2, "thru", "1:-1.in", "", bad_instance},
        {2, "thru", "1:.in", "", bad_instance},
        {2, "thru", "3:in,1:2.in,2:0.in", "", bad_instance},
        // Second pass, after the instance note.
        {2, "thru", "3:in", one, "Input sound file does not have channel 3.  It has 2 channels.\n"},
        {1, "thru", "2:in", one, "Input sound file does not have channel 2.  It has 1 channels.\n"},
        {2, "thru", "0:in", one, "Input sound file does not have channel 0.  It has 2 channels.\n"},
        {2, "thru", ":in", one, "Input sound file does not have channel 0.  It has 2 channels.\n"},
        {2, "thru", "x:in", one, "Input sound file does not have channel 0.  It has 2 channels.\n"},
        {2, "thru", "-1:in", one,
         "Input sound file does not have channel 4294967295.  It has 2 channels.\n"},
        {2, "thru", "1:2.in,3:in", instances_note(2),
         "Input sound file does not have channel 3.  It has 2 channels.\n"},
        {2, "thru", "1:nosuch", one, "Port with symbol nosuch does not exist.\n"},
        {2, "thru", "1:in,2:IN", one, "Port with symbol IN does not exist.\n"},
        {2, "thru", "1:gain", one, "Port with symbol gain does not exist.\n"},
        {2, "thru", "1:out", one, "Port with symbol out does not exist.\n"},
        {2, "thru", "1:", one, "Port with symbol  does not exist.\n"},
        {2, "thru", "1:2.", instances_note(2), "Port with symbol  does not exist.\n"},
        {2, "thru", "1:3.in,2:2.nosuch", instances_note(3), "Port with symbol nosuch does not exist.\n"},
        {2, "mixed", "1:in,2:level", one, "Port with symbol level does not exist.\n"},
        {2, "generator", "1:out", one, "Port with symbol out does not exist.\n"},
        {2, "generator", "1:offset", one, "Port with symbol offset does not exist.\n"},
        // A plugin without audio outputs is refused -o before any of this.
        {2, "sink", "1:level", "",
         "Error: the plugin 'Sink' (http://tonbrix.test/plugins/sink) has no audio outputs, so "
         "-o has nothing to write; use --midi-out=FILE for its MIDI or --report for its "
         "readings.\n"},
    };
    for (const Case& c : cases) {
        write_input(c.channels);
        const CommandResult r = process({"-c", c.value}, c.plugin);
        const std::string label = std::string(c.plugin) + " -c " + c.value;
        EXPECT_EQ(r.status, 1) << label;
        EXPECT_EQ(r.out, c.out) << label;
        EXPECT_EQ(r.err, c.err) << label;
        EXPECT_FALSE(file_exists(path("out.wav"))) << label;
    }
}

TEST_F(Routing, HugeInstanceNumbersFailCleanly)
{
    write_input(2);
    struct Case {
        const char* plugin;
        const char* value;
    };
    const Case cases[] = {
        {"thru", "1:99999999999.in"},  {"thru", "1:2147483647.in"},
        {"thru", "1:2147483648.in"},   {"thru", "1:4294967297.in"},
        {"thru2", "1:99999999999.in_l"}, {"four", "2:99999999999.a"},
        {"mixed", "1:99999999999.side"}, {"sink", "1:99999999999.in"},
    };
    for (const Case& c : cases) {
        const CommandResult r = process({"-c", c.value}, c.plugin);
        const std::string label = std::string(c.plugin) + " -c " + c.value;
        EXPECT_EQ(r.status, 1) << label << "\nstdout: " << r.out << "stderr: " << r.err;
        EXPECT_NE(r.err, "") << label;
        EXPECT_FALSE(file_exists(path("out.wav")))
            << label << "\nstdout: " << r.out << "stderr: " << r.err;
    }
}

TEST_F(Routing, NotesGoToStandardErrorWhenTheOutputIsStandardOutput)
{
    const Sound stereo = make_sound(2, frame_count, 48000, wav_float, noise);
    const std::string raw = to_raw_bytes(stereo.samples);
    auto run = [&](const std::string& plugin, const std::vector<std::string>& options) {
        std::vector<std::string> args = {"-r", "48000", "-n", "2", "-i", "-", "-o", "-"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(test_plugin(plugin));
        return tonbrix(args, raw);
    };

    // Two instances of thru: the stereo samples come back unchanged.
    const CommandResult per_channel = run("thru", {});
    EXPECT_EQ(per_channel.status, 0);
    EXPECT_EQ(per_channel.err, instances_note(2) + per_channel_note);
    EXPECT_EQ(from_raw_bytes(per_channel.out), stereo.samples);

    const CommandResult user = run("thru", {"-c", "2:in"});
    EXPECT_EQ(user.status, 0);
    EXPECT_EQ(user.err, instances_note(1) + user_note);
    std::vector<float> right;
    for (long f = 0; f < stereo.frames(); ++f) {
        right.push_back(stereo.at(f, 1));
    }
    EXPECT_EQ(from_raw_bytes(user.out), right);

    const CommandResult failed = run("four", {});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.err, instances_note(1) + not_enough_error);

    const CommandResult bad_port = run("thru", {"-c", "1:nosuch"});
    EXPECT_EQ(bad_port.status, 1);
    EXPECT_EQ(bad_port.out, "");
    EXPECT_EQ(bad_port.err, instances_note(1) + "Port with symbol nosuch does not exist.\n");
}
