// Values the user gives outside a port's range: -p items, --automate points
// and a job's parameters are applied as given, with one warning per port;
// values within the range, and defaults or presets outside it, warn of
// nothing.
#include "support/e2e.h"
#include "support/messages.h"

#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string warning(const std::string& text)
{
    return "WARNING: " + text + " (applied as given).\n";
}

} // namespace

class RangeWarnings : public E2E {
protected:
    // The test plugins need the input's length, eg-amp its level, `mixed`
    // two channels.
    void write_input(int rate = 48000, float level = 1e-6f, int channels = 1)
    {
        write_sound(path("in.wav"), make_sound(channels, 64, rate, wav_float,
                                               [level](long, int) { return level; }));
    }
};

TEST_F(RangeWarnings, OnePerPortWithTheValueAndTheRange)
{
    // ranges: out[f] is control input f, so the output shows what was applied.
    // both -1..3 (port 0), onlymax_neg ..-2 (1), onlymin_pos 0.25.. (3),
    // norange (5), outside 0..1 with the default 7 (6).
    write_input();
    struct Case {
        const char* what;
        std::vector<std::string> options;
        std::string warnings;
        std::vector<std::pair<long, float>> applied; // frame (port), value
    };
    const Case cases[] = {
        {"defaults, the default 7 of `outside` beyond its range", {}, "", {{0, 1.0f}, {6, 7.0f}}},
        {"on the bounds", {"-p", "both:-1,onlymax_neg:-2,onlymin_pos:0.25,outside:1"}, "",
         {{0, -1.0f}, {1, -2.0f}, {3, 0.25f}, {6, 1.0f}}},
        {"no range at all", {"-p", "norange:1e30"}, "", {{5, 1e30f}}},
        {"above", {"-p", "both:10"}, warning("both is 10, outside its range -1 to 3"),
         {{0, 10.0f}}},
        {"only a maximum", {"-p", "onlymax_neg:-1.5"},
         warning("onlymax_neg is -1.5, above its maximum -2"), {{1, -1.5f}}},
        {"only a minimum", {"-p", "onlymin_pos:0.125"},
         warning("onlymin_pos is 0.125, below its minimum 0.25"), {{3, 0.125f}}},
        {"in port order, whatever the order given", {"-p", "outside:-3", "-p", "both:-2"},
         warning("both is -2, outside its range -1 to 3") +
             warning("outside is -3, outside its range 0 to 1"),
         {{0, -2.0f}, {6, -3.0f}}},
        {"the later value is the one applied", {"-p", "both:10,both:2"}, "", {{0, 2.0f}}},
        {"automation: the lowest and the highest point",
         {"--automate=both:0=-5,0.0001=9,0.0002=-7"},
         warning("both moves to -7 and 9, outside its range -1 to 3"), {{0, -5.0f}}},
        {"automation within the range", {"--automate=both:0=-1,1=3"}, "", {{0, -1.0f}}},
        {"automation replaces the -p value", {"-p", "both:10", "--automate=both:0=2"}, "",
         {{0, 2.0f}}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav"), "-q",
                                         "--ignore-clipping"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(test_plugin("ranges"));
        const CommandResult r = tonbrix(args);
        ASSERT_EQ(r.status, 0) << c.what << ": " << r.err;
        EXPECT_EQ(r.out, c.warnings) << c.what;
        EXPECT_EQ(r.err, "") << c.what;
        const Sound out = read_sound(path("out.wav"));
        for (const auto& [frame, value] : c.applied) {
            EXPECT_EQ(out.at(frame, 0), value) << c.what << ", port " << frame;
        }
    }
}

TEST_F(RangeWarnings, RangesAtTheRunsRateAndRealPlugins)
{
    struct Case {
        const char* what;
        int rate;
        std::vector<std::string> args; // after the files
        std::string out;
        bool system = false;
        int channels = 1;
    };
    const std::string amp = "http://lv2plug.in/plugins/eg-amp";
    const std::string delay = "http://lsp-plug.in/plugins/lv2/comp_delay_mono";
    const Case cases[] = {
        // rateport's cutoff is 0.0625 to 0.5 of the rate.
        {"fraction ports in Hz at 48 kHz", 48000, {"-p", "cutoff:1000", test_plugin("rateport")},
         warning("cutoff is 1000, outside its range 3000 to 24000")},
        {"fraction ports in Hz at 22.05 kHz", 22050, {"-p", "cutoff:12000", test_plugin("rateport")},
         warning("cutoff is 12000, outside its range 1378.125 to 11025")},
        {"fraction ports within", 48000, {"-p", "cutoff:3000", test_plugin("rateport")}, ""},
        {"eg-amp", 48000, {"-p", "gain:100", amp}, warning("gain is 100, outside its range -90 to 24"),
         true},
        {"eg-amp automated", 48000, {"--automate=gain:0=-500,2=500", amp},
         warning("gain moves to -500 and 500, outside its range -90 to 24"), true},
        {"eg-amp within", 48000, {"-p", "gain:24", "--automate=gain:0=-90,1=24", amp}, "", true},
        {"an enumeration and a toggle", 48000, {"-p", "mode:7,ramp:2", delay},
         warning("mode is 7, outside its range 0 to 2") +
             warning("ramp is 2, outside its range 0 to 1"),
         true},
        {"an enumeration and a toggle within", 48000, {"-p", "mode:2,ramp:1", delay}, "", true},
        // thru runs an instance per channel, and its two outputs feed mixed.
        {"in a chain, after the plugin's position", 48000,
         {test_plugin("thru"), "--then", "-p", "gain:11", test_plugin("mixed")},
         "2: " + warning("gain is 11, outside its range 0 to 10"), false, 2},
    };
    for (const Case& c : cases) {
        write_input(c.rate, 1e-6f, c.channels);
        std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav"), "-q",
                                         "--ignore-clipping"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        // LSP's plugins leak a few blocks of their own when they are freed.
        const CommandResult r =
            c.system ? tonbrix(args, "",
                               {{"LV2_PATH", test_lv2_dir() + ":/usr/lib/lv2"},
                                {"ASAN_OPTIONS", "detect_leaks=0"}})
                     : tonbrix(args);
        ASSERT_EQ(r.status, 0) << c.what << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.what;
    }
    // +100 dB is applied: 1e-6 becomes 0.1.
    write_input(48000, 1e-6f);
    ASSERT_EQ(tonbrix_system({"-i", path("in.wav"), "-o", path("out.wav"), "-q", "-p", "gain:100",
                              amp})
                  .status,
              0);
    EXPECT_NEAR(read_sound(path("out.wav")).at(10, 0), 0.1f, 1e-5f);
}

TEST_F(RangeWarnings, JobParametersWarnForTheirFile)
{
    // mixed (two inputs): gain 0..10. The first job's value is within, the
    // second's not; -p gives both the same bias beyond its range -1..1.
    write_input(48000, 1e-6f, 2);
    std::ofstream(path("jobs.txt"))
        << "{\"input\": \"" << path("in.wav") << "\", \"output\": \"" << path("a.wav")
        << "\", \"parameters\": {\"gain\": 2}}\n"
        << "{\"input\": \"" << path("in.wav") << "\", \"output\": \"" << path("b.wav")
        << "\", \"parameters\": {\"gain\": 20}}\n";
    const CommandResult r = tonbrix({"--batch=" + path("jobs.txt"), "-q", "--ignore-clipping",
                                     "-j", "1", "-p", "bias:-2", test_plugin("mixed")});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string in = path("in.wav") + ": ";
    EXPECT_EQ(r.out, in + warning("bias is -2, outside its range -1 to 1") + in +
                         warning("gain is 20, outside its range 0 to 10") + in +
                         warning("bias is -2, outside its range -1 to 1"));
    EXPECT_EQ(read_sound(path("b.wav")).at(0, 0), 1e-6f * 20.0f + 1e-6f - 2.0f);
}
