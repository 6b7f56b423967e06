// Port scan errors, the start value of every control input, the freewheel
// port, and --parameters with its errors and their cleanup.
#include "support/e2e.h"
#include "support/messages.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();

std::string instances_note(int count)
{
    return "Note: Running " + std::to_string(count) + " instances of the plugin.\n";
}

const std::string ordering_note = "Note: Mapping audio channels to plugin ports based on ordering\n";
const std::string per_channel_note = "Note: Running an instance of the plugin per channel\n";
const std::string extra_note = "Note: Extra channels ignored when mapping channels to plugin ports\n";
// The `ranges` plugin's control inputs, in port order, and their start values.
const std::vector<std::string> range_symbols = {"both",        "onlymax_neg", "onlymax_pos",
                                                "onlymin_pos", "onlymin_neg", "norange",
                                                "outside",     "huge"};
const std::vector<float> range_starts = {1.0f, -2.0f, 0.0f, 0.25f, 0.0f, 0.0f, 7.0f, inf};

bool same_bits(float a, float b)
{
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

// Checks the first frames of a one-channel output against `want`, the
// remaining frames against `rest`.
void expect_frames(const Sound& out, const std::vector<float>& want, float rest,
                   const std::string& label)
{
    ASSERT_EQ(out.channels, 1) << label;
    for (long f = 0; f < out.frames(); ++f) {
        const float expected = f < static_cast<long>(want.size()) ? want[f] : rest;
        EXPECT_TRUE(same_bits(out.at(f, 0), expected))
            << label << ", frame " << f << ": got " << out.at(f, 0) << ", expected " << expected;
    }
}

// Every instance 0..count-1 went through instantiate, activate, deactivate
// and cleanup, in that order, and nothing else was logged.
void expect_full_lifecycles(const std::string& log, int count, const std::string& label)
{
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(4 * count)) << label << "\n" << log;
    for (int k = 0; k < count; ++k) {
        const std::string suffix = " " + std::to_string(k);
        std::vector<std::string> events;
        for (const std::string& line : lines) {
            if (line.size() > suffix.size() &&
                line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0) {
                events.push_back(line.substr(0, line.size() - suffix.size()));
            }
        }
        const std::vector<std::string> want = {"instantiate", "activate", "deactivate", "cleanup"};
        EXPECT_EQ(events, want) << label << ", instance " << k << "\n" << log;
    }
}

} // namespace

class Controls : public E2E {
protected:
    // A one-channel input of `frames` frames, sample f = 0.25 + f / 1024.
    Sound write_mono(long frames = 12)
    {
        const Sound in = make_sound(1, frames, 44100, wav_float, [](long f, int) {
            return 0.25f + static_cast<float>(f) / 1024.0f;
        });
        write_sound(path("in.wav"), in);
        return in;
    }

    Sound write_stereo()
    {
        const Sound in = make_sound(2, 600, 44100, wav_float, [](long f, int c) {
            return (c == 0 ? 0.5f : -0.375f) + static_cast<float>(f % 64) / 256.0f;
        });
        write_sound(path("in.wav"), in);
        return in;
    }

    CommandResult process(const std::vector<std::string>& options, const std::string& plugin)
    {
        std::remove(path("out.wav").c_str());
        std::remove(log_path().c_str());
        std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav")};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(test_plugin(plugin));
        return tonbrix(args);
    }
};

TEST_F(Controls, RequiredPortOfUnknownTypeStopsTheRun)
{
    write_mono();
    const CommandResult r = process({}, "oddrequired");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error!  Unable to handle a required port \n");
    EXPECT_FALSE(file_exists(path("out.wav")));
    EXPECT_EQ(read_log(), "");
}

TEST_F(Controls, OptionalPortOfUnknownTypeIsLeftUnconnected)
{
    const Sound in = write_stereo();
    const CommandResult r = process({}, "oddoptional");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, instances_note(2) + per_channel_note);
    EXPECT_EQ(r.err, "");
    const Sound out = read_sound(path("out.wav"));
    EXPECT_EQ(out.channels, 2);
    EXPECT_EQ(out.samples, in.samples);
}

TEST_F(Controls, CvInputsHoldTheirValueInEveryFrame)
{
    // cvrequired: out = in + cv, cv from its default 0.25 or -p; cvoptional:
    // the same, its start value the midpoint of 0.5..1.5. Blocks of 5 frames
    // over 12: every frame of every block, the last one included.
    const Sound in = write_mono(12);
    struct Case {
        std::string plugin;
        std::vector<std::string> options;
        float cv;
    };
    const Case cases[] = {
        {"cvrequired", {"-b", "5"}, 0.25f},
        {"cvrequired", {"-b", "5", "-p", "cv:-0.5"}, -0.5f},
        {"cvrequired", {"--parameters", "cv:0.125", "-b", "1"}, 0.125f},
        {"cvoptional", {"-b", "5"}, 1.0f},
        {"cvoptional", {"-p", "cv:0.75"}, 0.75f},
    };
    for (const Case& c : cases) {
        std::vector<std::string> options = c.options;
        options.push_back("--ignore-clipping");
        const CommandResult r = process(options, c.plugin);
        const std::string label = c.plugin + " " + c.options.back();
        ASSERT_EQ(r.status, 0) << label << ": " << r.err;
        EXPECT_EQ(r.out, instances_note(1) + ordering_note) << label;
        EXPECT_EQ(r.err, "") << label;
        const Sound out = read_sound(path("out.wav"));
        ASSERT_EQ(out.frames(), in.frames()) << label;
        for (long f = 0; f < out.frames(); ++f) {
            EXPECT_EQ(out.at(f, 0), in.at(f, 0) + c.cv) << label << ", frame " << f;
        }
    }
}

TEST_F(Controls, CvInputsFollowTheControlInputRulesOfParameters)
{
    write_mono();
    struct Case {
        std::string item;
        std::string err;
    };
    const Case cases[] = {
        {"cvout:1", "Error: Port with symbol cvout does not exist.\n"}, // a CV output
        {"CV:1", "Error: Port with symbol CV does not exist.\n"},
        {"cv", "Error parsing parameters:  Expected colon between port and value.\n"},
    };
    for (const Case& c : cases) {
        const CommandResult r = process({"-p", c.item}, "cvrequired");
        EXPECT_EQ(r.status, 1) << c.item;
        EXPECT_EQ(r.err, c.err) << c.item;
    }
    // As for a control input, text after the colon that is not a number
    // reads as 0.
    const CommandResult r = process({"-p", "cv:abc"}, "cvrequired");
    ASSERT_EQ(r.status, 0) << r.err;
    const Sound out = read_sound(path("out.wav"));
    EXPECT_EQ(out.at(3, 0), 0.25f + 3.0f / 1024.0f);
}

TEST_F(Controls, CvInputsPerInstanceWithCvOutputsLeftOutOfTheFile)
{
    const Sound in = write_stereo();
    const CommandResult r = process({"-p", "cv:0.5", "-b", "64", "--ignore-clipping"},
                                    "cvrequired");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, instances_note(2) + per_channel_note);
    const Sound out = read_sound(path("out.wav"));
    ASSERT_EQ(out.channels, 2); // one audio output per instance, no CV output
    for (long f = 0; f < out.frames(); ++f) {
        for (int c = 0; c < 2; ++c) {
            EXPECT_EQ(out.at(f, c), in.at(f, c) + 0.5f) << f << " " << c;
        }
    }
}

TEST_F(Controls, StartValuesFollowDefaultsAndRanges)
{
    write_mono();
    const std::string notes = instances_note(1) + extra_note;
    struct Case {
        std::vector<std::string> options;
        std::vector<float> want;
        std::string out;
    };
    const Case cases[] = {
        // No clamping to the range: `outside` keeps its default of 7, and the
        // midpoint of FLT_MAX and FLT_MAX overflows to infinity.
        {{"--ignore-clipping"}, range_starts, notes},
        // The clip stage clamps the samples, not the controls.
        {{}, {1.0f, -1.0f, 0.0f, 0.25f, 0.0f, 0.0f, 1.0f, 1.0f}, notes + clipping_warning},
    };
    for (const Case& c : cases) {
        const std::string label = c.options.empty() ? "clipped" : c.options[0];
        const CommandResult r = process(c.options, "ranges");
        EXPECT_EQ(r.status, 0) << label;
        EXPECT_EQ(r.out, c.out) << label;
        EXPECT_EQ(r.err, "") << label;
        const Sound out = read_sound(path("out.wav"));
        EXPECT_EQ(out.frames(), 12) << label;
        expect_frames(out, c.want, 0.0f, label);
    }
}

TEST_F(Controls, SampleRatePortsTakeFractionsOfTheRunsRate)
{
    // rateport: `cutoff` (default 0.25, 0.0625..0.5) and `width` (no
    // default, 0.125..0.375) are fractions of the rate; `gain` (0.5) is not.
    // The control outputs report what the plugin received.
    struct Case {
        int rate;
        std::vector<std::string> options;
        std::string report;
    };
    const Case cases[] = {
        {48000, {}, "cutoff_seen: 12000\nwidth_seen: 12000\ngain_seen: 0.5\n"},
        {44100, {}, "cutoff_seen: 11025\nwidth_seen: 11025\ngain_seen: 0.5\n"},
        {22050, {}, "cutoff_seen: 5512.5\nwidth_seen: 5512.5\ngain_seen: 0.5\n"},
        // Values given by the user are in units already (within the ranges
        // at 48 kHz, 3000 to 24000 and 6000 to 18000 Hz: no warning).
        {48000, {"-p", "cutoff:4000,width:7000"},
         "cutoff_seen: 4000\nwidth_seen: 7000\ngain_seen: 0.5\n"},
    };
    for (const Case& c : cases) {
        const std::string label = std::to_string(c.rate) + (c.options.empty() ? "" : " -p");
        write_sound(path("in.wav"),
                    make_sound(1, 64, c.rate, wav_float, [](long, int) { return 0.125f; }));
        std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav"), "-q",
                                         "--report"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(test_plugin("rateport"));
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, 0) << label;
        EXPECT_EQ(r.out, c.report) << label;
        EXPECT_EQ(r.err, "") << label;
    }
}

TEST_F(Controls, SampleRateCutoffOfARealFilterStartsInHertz)
{
    // swh butthigh_iir: `cutoff` defaults to 0.112575 of the rate, about
    // 5.4 kHz at 48 kHz. A 100 Hz tone is cut by some 70 dB, a 15 kHz tone
    // passes; a cutoff taken as 0.11 Hz would pass both.
    struct Case {
        double hertz;
        double least_ratio; // output RMS over input RMS
        double most_ratio;
    };
    for (const Case c : {Case{100.0, 0.0, 0.01}, Case{15000.0, 0.7, 1.1}}) {
        const Sound in = make_sound(1, 48000, 48000, wav_float, [&](long f, int) {
            return static_cast<float>(0.5 * std::sin(2.0 * M_PI * c.hertz * f / 48000.0));
        });
        write_sound(path("in.wav"), in);
        const CommandResult r = tonbrix_system({"-i", path("in.wav"), "-o", path("out.wav"), "-q",
                                                "http://plugin.org.uk/swh-plugins/butthigh_iir"});
        ASSERT_EQ(r.status, 0) << c.hertz << ": " << r.err;
        const Sound out = read_sound(path("out.wav"));
        ASSERT_EQ(out.frames(), in.frames());
        // The second half, once the filter has settled.
        double in_sum = 0.0;
        double out_sum = 0.0;
        for (long f = in.frames() / 2; f < in.frames(); ++f) {
            in_sum += in.at(f, 0) * in.at(f, 0);
            out_sum += out.at(f, 0) * out.at(f, 0);
        }
        const double ratio = std::sqrt(out_sum / in_sum);
        EXPECT_GE(ratio, c.least_ratio) << c.hertz;
        EXPECT_LE(ratio, c.most_ratio) << c.hertz;
    }
}

TEST_F(Controls, SampleRateDefaultsInHertzStayInHertz)
{
    // Ports whose bounds are fractions of the rate: a default within them is
    // a fraction too (the swh IIR filters), one beyond them (440 beside a
    // maximum of 0.5) is in Hz already. Either way the default run gives
    // what setting the port to the default in Hz gives, and sound; before,
    // the oscillators started at 440 x 48000 Hz (silent or at Nyquist) and
    // the Moog filter wide open.
    struct Case {
        const char* plugin;
        std::string setting; // the default at 48 kHz, as -p gives it
    };
    const float iir_cutoff = static_cast<float>(static_cast<double>(0.112575f) * 48000.0);
    char iir_text[32];
    std::snprintf(iir_text, sizeof iir_text, "cutoff:%.9g", iir_cutoff);
    const Case cases[] = {
        {"http://drobilla.net/plugins/blop/sawtooth", "freq:440"},
        {"http://drobilla.net/plugins/blop/tracker", "hattack:100,hdecay:100,lattack:100,ldecay:100"},
        {"http://drobilla.net/plugins/fomp/mvclpf1", "freq:440"},
        {"http://drobilla.net/plugins/fomp/saw_vco", "freq:440"}, // a CV input
        {"http://plugin.org.uk/swh-plugins/analogueOsc", "freq:440"},
        {"http://plugin.org.uk/swh-plugins/butthigh_iir", iir_text},
    };
    write_sound(path("in.wav"), make_sound(1, 24000, 48000, wav_float, [](long f, int) {
                    return static_cast<float>(0.5 * std::sin(f * 0.05) + 0.25 * std::sin(f * 1.3));
                }));
    for (const Case& c : cases) {
        const CommandResult plain =
            tonbrix_system({"-i", path("in.wav"), "-o", path("default.wav"), "-q", c.plugin});
        ASSERT_EQ(plain.status, 0) << c.plugin << ": " << plain.err;
        const CommandResult set = tonbrix_system(
            {"-i", path("in.wav"), "-o", path("set.wav"), "-q", "-p", c.setting, c.plugin});
        ASSERT_EQ(set.status, 0) << c.plugin << ": " << set.err;
        EXPECT_EQ(set.out, "") << c.plugin; // the values lie within the ranges
        const Sound by_default = read_sound(path("default.wav"));
        EXPECT_EQ(by_default.samples, read_sound(path("set.wav")).samples) << c.plugin;
        float peak = 0.0f;
        for (const float x : by_default.samples) {
            peak = std::max(peak, std::fabs(x));
        }
        EXPECT_GT(peak, 0.01f) << c.plugin;
    }
}

TEST_F(Controls, FreewheelPortStartsAtOne)
{
    write_mono();
    struct Case {
        const char* plugin;
        std::vector<std::string> options;
        long frame; // first frame that shows freewheel values
        std::vector<float> want;
    };
    const Case cases[] = {
        // With two freewheel ports only the later one is set.
        {"freewheel2", {}, 0, {0.0f, 1.0f}},
        {"freewheel2", {"-p", "fw_a:0.25"}, 0, {0.25f, 1.0f}},
        {"freewheel2", {"-p", "fw_b:0.5"}, 0, {0.0f, 0.5f}},
        {"probe", {}, 7, {1.0f}},
        {"probe", {"-p", "freewheel:0"}, 7, {0.0f}},
        {"probe", {"--parameters", "freewheel:0.75"}, 7, {0.75f}},
    };
    for (const Case& c : cases) {
        const std::string label =
            std::string(c.plugin) + (c.options.empty() ? "" : " " + c.options.back());
        const CommandResult r = process(c.options, c.plugin);
        EXPECT_EQ(r.status, 0) << label << r.err;
        EXPECT_EQ(r.err, "") << label;
        const Sound out = read_sound(path("out.wav"));
        ASSERT_EQ(out.channels, 1) << label;
        ASSERT_EQ(out.frames(), 12) << label;
        for (std::size_t i = 0; i < c.want.size(); ++i) {
            EXPECT_TRUE(same_bits(out.at(c.frame + static_cast<long>(i), 0), c.want[i]))
                << label << ", frame " << c.frame + static_cast<long>(i) << ": got "
                << out.at(c.frame + static_cast<long>(i), 0) << ", expected " << c.want[i];
        }
    }
}

TEST_F(Controls, ParametersSetControlValues)
{
    write_mono();
    struct Case {
        std::vector<std::string> values; // one -p each
        std::vector<std::pair<int, float>> changes; // port index, value
        std::string warning = {}; // for a value outside its port's range
    };
    const auto outside = [](const std::string& text) {
        return "WARNING: " + text + " (applied as given).\n";
    };
    const std::string huge_range = ", outside its range 3.4028235e+38 to 3.4028235e+38";
    const Case cases[] = {
        {{"both:2"}, {{0, 2.0f}}},
        {{"both:2,norange:-3.5"}, {{0, 2.0f}, {5, -3.5f}}},
        {{"norange:-3.5,onlymax_pos:4.5,onlymin_neg:-0.125"}, {{5, -3.5f}, {2, 4.5f}, {4, -0.125f}}},
        // Later items win, within a value and across values.
        {{"both:2,both:0.5"}, {{0, 0.5f}}},
        {{"both:2", "both:0.5"}, {{0, 0.5f}}},
        {{"both:2,norange:1", "norange:-1.5", "both:3"}, {{0, 3.0f}, {5, -1.5f}}},
        // A value may end with a comma.
        {{"both:2,"}, {{0, 2.0f}}},
        {{"both:2,", "norange:3,"}, {{0, 2.0f}, {5, 3.0f}}},
        // No clamping to the declared range, with a warning.
        {{"outside:-5"}, {{6, -5.0f}}, outside("outside is -5, outside its range 0 to 1")},
        {{"both:1e3"}, {{0, 1000.0f}}, outside("both is 1000, outside its range -1 to 3")},
        {{"onlymax_neg:100"}, {{1, 100.0f}}, outside("onlymax_neg is 100, above its maximum -2")},
        // Numbers as strtof reads them.
        {{"both:2abc"}, {{0, 2.0f}}},
        {{"both:abc"}, {{0, 0.0f}}},
        {{"both:"}, {{0, 0.0f}}},
        {{"both: 3.5"}, {{0, 3.5f}}, outside("both is 3.5, outside its range -1 to 3")},
        {{"both:-inf"}, {{0, -inf}}, outside("both is -inf, outside its range -1 to 3")},
        {{"both:0x10"}, {{0, 16.0f}}, outside("both is 16, outside its range -1 to 3")},
        {{"both:1.5e-3"}, {{0, 1.5e-3f}}},
        {{"huge:1e39"}, {{7, inf}}, outside("huge is inf" + huge_range)},
        {{"huge:-0"}, {{7, -0.0f}}, outside("huge is -0" + huge_range)},
        {{"outside:1:2"}, {{6, 1.0f}}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> options = {"--ignore-clipping"};
        std::string label;
        for (const std::string& v : c.values) {
            options.push_back("-p");
            options.push_back(v);
            label += " -p " + v;
        }
        std::vector<float> want = range_starts;
        for (const auto& [index, value] : c.changes) {
            want[static_cast<std::size_t>(index)] = value;
        }
        const CommandResult r = process(options, "ranges");
        EXPECT_EQ(r.status, 0) << label;
        EXPECT_EQ(r.out, instances_note(1) + extra_note + c.warning) << label;
        EXPECT_EQ(r.err, "") << label;
        if (r.status == 0) {
            expect_frames(read_sound(path("out.wav")), want, 0.0f, label);
        }
    }
}

TEST_F(Controls, ParametersReachEveryInstanceAndTheRightPort)
{
    const Sound in = write_stereo();
    using Want = std::function<float(long f, int c)>;
    struct Case {
        const char* plugin;
        std::vector<std::string> options;
        std::string notes;
        int channels;
        Want want;
    };
    const Case cases[] = {
        {"thru", {"-p", "gain:0.5"}, instances_note(2) + per_channel_note, 2,
         [&](long f, int c) { return in.at(f, c) * 0.5f; }},
        // Beyond the declared maximum of 100: applied, with a warning.
        {"thru", {"--ignore-clipping", "-p", "gain:200"},
         instances_note(2) + per_channel_note +
             "WARNING: gain is 200, outside its range 0 to 100 (applied as given).\n",
         2, [&](long f, int c) { return in.at(f, c) * 200.0f; }},
        // mixed's controls are ports 1 and 4, between its audio ports.
        {"mixed", {"--ignore-clipping", "-p", "bias:0.5,gain:2"}, instances_note(1) + ordering_note,
         1, [&](long f, int) { return in.at(f, 0) * 2.0f + in.at(f, 1) + 0.5f; }},
        {"mixed", {"--ignore-clipping", "-p", "gain:0", "-p", "bias:-0.25"},
         instances_note(1) + ordering_note, 1,
         [&](long f, int) { return in.at(f, 0) * 0.0f + in.at(f, 1) + -0.25f; }},
    };
    for (const Case& c : cases) {
        const std::string label = std::string(c.plugin) + " " + c.options.back();
        const CommandResult r = process(c.options, c.plugin);
        EXPECT_EQ(r.status, 0) << label << r.err;
        EXPECT_EQ(r.out, c.notes) << label;
        EXPECT_EQ(r.err, "") << label;
        if (r.status != 0) {
            continue;
        }
        const Sound out = read_sound(path("out.wav"));
        ASSERT_EQ(out.channels, c.channels) << label;
        ASSERT_EQ(out.frames(), in.frames()) << label;
        for (long f = 0; f < out.frames(); ++f) {
            for (int ch = 0; ch < c.channels; ++ch) {
                ASSERT_TRUE(same_bits(out.at(f, ch), c.want(f, ch)))
                    << label << ", frame " << f << ", channel " << ch << ": got " << out.at(f, ch)
                    << ", expected " << c.want(f, ch);
            }
        }
    }
}

TEST_F(Controls, ParameterErrorsCleanUpEveryInstance)
{
    const std::string no_colon = "Error parsing parameters:  Expected colon between port and value.\n";
    auto no_port = [](const std::string& symbol) {
        return "Error: Port with symbol " + symbol + " does not exist.\n";
    };
    write_stereo();
    struct Case {
        const char* plugin;
        std::vector<std::string> values; // one -p each
        std::string err;
    };
    const Case cases[] = {
        {"thru", {"gain"}, no_colon},
        {"thru", {"gain2"}, no_colon},
        {"thru", {"gain:2,,gain:3"}, no_colon},
        {"thru", {",gain:2"}, no_colon},
        {"thru", {"gain:2", "gain"}, no_colon},
        // Items are handled in order: the first bad one is reported.
        {"thru", {"gain,nosuch:1"}, no_colon},
        {"thru", {"nosuch:1,gain"}, no_port("nosuch")},
        {"thru", {"nosuch:1"}, no_port("nosuch")},
        {"thru", {"GAIN:1"}, no_port("GAIN")},
        {"thru", {"gai:1"}, no_port("gai")},
        {"thru", {":1"}, no_port("")},
        {"thru", {"gain:2", "in:1"}, no_port("in")},
        {"thru", {"out:1"}, no_port("out")},
        {"mixed", {"gain:2,level:1"}, no_port("level")},
        {"mixed", {"side:1"}, no_port("side")},
    };
    for (const Case& c : cases) {
        const bool per_channel = std::string(c.plugin) == "thru";
        const int instances = per_channel ? 2 : 1;
        std::vector<std::string> options;
        std::string label = c.plugin;
        for (const std::string& v : c.values) {
            options.push_back("-p");
            options.push_back(v);
            label += " -p " + v;
        }
        const CommandResult r = process(options, c.plugin);
        EXPECT_EQ(r.status, 1) << label;
        EXPECT_EQ(r.out, instances_note(instances) + (per_channel ? per_channel_note : ordering_note))
            << label;
        EXPECT_EQ(r.err, c.err) << label;
        // The output was opened before the instances; the failed run
        // leaves nothing there.
        EXPECT_EQ(folder_entries(dir_), (std::vector<std::string>{"in.wav", "lifecycle.log"}))
            << label;
        expect_full_lifecycles(read_log(), instances, label);
    }
}
