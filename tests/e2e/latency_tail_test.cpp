// Latency compensation and tails: what the plugin still has to play after
// the input, and output that lines up with the input sample for sample.
#include "support/e2e.h"
#include "support/messages.h"
#include "support/samples.h"

#include <sys/stat.h>

#include <cmath>
#include <cstring>

namespace {

const std::string delay = test_plugin("delay");

// A test signal with an impulse near the start and distinct values after.
std::vector<float> signal(long frames)
{
    std::vector<float> s(static_cast<std::size_t>(frames));
    for (long f = 0; f < frames; ++f) {
        s[f] = static_cast<float>((f * 37 % 101) - 50) / 128.0f;
    }
    if (frames > 1) {
        s[1] = 0.75f;
    }
    return s;
}

} // namespace

class LatencyAndTail : public E2E {
protected:
    std::vector<float> run_mono(const std::vector<float>& input,
                                const std::vector<std::string>& options)
    {
        write_sound(path("in.wav"), Sound{1, 48000, wav_float, input});
        std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav")};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(delay);
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.status == 0 ? read_sound(path("out.wav")).samples : std::vector<float>{};
    }
};

TEST_F(LatencyAndTail, CompensationLinesTheOutputUpWithTheInput)
{
    // Block sizes below, at and above the latency, and one that does not
    // divide the file; threads or not.
    const std::vector<float> input = signal(3000);
    for (const char* block : {"1", "64", "100", "512", "4096"}) {
        for (const char* jobs : {"1", "2"}) {
            SCOPED_TRACE(std::string("block ") + block + ", jobs " + jobs);
            EXPECT_TRUE(same(run_mono(input, {"--compensate-latency", "-b", block, "-j", jobs}),
                             input));
        }
    }
}

TEST_F(LatencyAndTail, WithoutTheOptionTheOutputIsLateAndCutShort)
{
    const std::vector<float> input = signal(1000);
    EXPECT_TRUE(same(run_mono(input, {}), delayed(input, 64, 1000)));
}

TEST_F(LatencyAndTail, LatencyLongerThanTheInput)
{
    const std::vector<float> input = signal(1000);
    EXPECT_TRUE(same(run_mono(input, {"--compensate-latency", "-p", "delay:5000", "-b", "300"}),
                     input));
}

TEST_F(LatencyAndTail, EachInstanceIsCompensatedByItsOwnLatency)
{
    // Instance k is 64 + 1000 k frames late.
    const Sound input = make_sound(3, 5000, 48000, wav_float,
                                   [](long f, int c) { return static_cast<float>(f % 97 + c) / 200.0f; });
    write_sound(path("in.wav"), input);
    for (const char* jobs : {"1", "3"}) {
        const CommandResult r = tonbrix({"-i", path("in.wav"), "-o", path("out.wav"),
                                         "--compensate-latency", "-p", "stagger:1000", "-j", jobs,
                                         delay});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, per_channel_notes(3));
        EXPECT_TRUE(same(read_sound(path("out.wav")).samples, input.samples)) << "jobs " << jobs;
    }
}

TEST_F(LatencyAndTail, TailAddsExactlyItsFrames)
{
    const std::vector<float> input = signal(1000);
    // 0.01 s at 48 kHz is 480 frames; the delay's last 64 input frames
    // come out in the tail.
    EXPECT_TRUE(same(run_mono(input, {"--tail", "0.01"}), delayed(input, 64, 1480)));
    // After compensation the tail is what follows the input: silence here.
    EXPECT_TRUE(same(run_mono(input, {"--tail=0.01", "--compensate-latency", "-b", "333"}),
                     delayed(input, 0, 1480)));
    // Rounded to whole frames: 0.0000104 s is 0.4992 frames.
    EXPECT_EQ(run_mono(input, {"--tail", "0.0000104"}).size(), 1000u);
    EXPECT_EQ(run_mono(input, {"--tail", "0"}).size(), 1000u);
}

TEST_F(LatencyAndTail, TailOfAnEmptyInput)
{
    EXPECT_TRUE(same(run_mono({}, {"--tail", "0.001"}), std::vector<float>(48, 0.0f)));
    EXPECT_TRUE(same(run_mono({}, {"--compensate-latency"}), {}));
}

TEST_F(LatencyAndTail, TailInRawFloatMode)
{
    const std::vector<float> input = signal(700);
    const CommandResult r = tonbrix({"-r", "1000", "-n", "1", "-i", "-", "-o", "-", "--tail",
                                     "0.25", "--compensate-latency", delay},
                                    to_raw_bytes(input));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(same(from_raw_bytes(r.out), delayed(input, 0, 950)));
}

TEST_F(LatencyAndTail, InvalidLatencyReadingsAreTakenAsZero)
{
    const std::vector<float> input = signal(500);
    write_sound(path("in.wav"), Sound{1, 48000, wav_float, input});
    // `report` ranges from -1000 to 1e6: inf is beyond it, and warned of too.
    const struct {
        const char* reading;
        const char* shown;
        const char* range_warning;
    } cases[] = {{"-5", "-5", ""},
                 {"nan", "nan", ""},
                 {"inf", "inf",
                  "WARNING: report is inf, outside its range -1000 to 1e+06 (applied as given).\n"}};
    for (const auto& c : cases) {
        const CommandResult r =
            tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "--compensate-latency", "-p",
                     std::string("report:") + c.reading, delay});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, one_instance_notes + c.range_warning +
                             "WARNING: The plugin reported an invalid latency (" + c.shown +
                             "); it was taken as 0.\n");
        EXPECT_TRUE(same(read_sound(path("out.wav")).samples, delayed(input, 64, 500)));
    }
}

TEST_F(LatencyAndTail, PluginWithoutLatencyOutputRunsAsWithoutTheOption)
{
    const Sound input = make_sound(1, 2000, 48000, wav_float, [](long f, int) { return f / 4000.0f; });
    write_sound(path("in.wav"), input);
    const CommandResult r = tonbrix({"-i", path("in.wav"), "-o", path("out.wav"),
                                     "--compensate-latency", test_plugin("thru")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, one_instance_notes);
    EXPECT_TRUE(same(read_sound(path("out.wav")).samples, input.samples));
}

TEST_F(LatencyAndTail, BadValuesAreRefusedBeforeAnyFileIsOpened)
{
    write_sound(path("in.wav"), Sound{1, 48000, wav_float, signal(10)});
    const struct {
        std::vector<std::string> option;
        std::string message;
    } cases[] = {
        {{"--tail", "-1"}, "Error: invalid --tail value '-1': expected a number of seconds, 0 or more.\n"},
        {{"--tail", "abc"}, "Error: invalid --tail value 'abc': expected a number of seconds, 0 or more.\n"},
        {{"--tail", "inf"}, "Error: invalid --tail value 'inf': expected a number of seconds, 0 or more.\n"},
        {{"--tail", "nan"}, "Error: invalid --tail value 'nan': expected a number of seconds, 0 or more.\n"},
        {{"--tail", "1e999"}, "Error: invalid --tail value '1e999': expected a number of seconds, 0 or more.\n"},
        {{"--tail", "0x10"}, "Error: invalid --tail value '0x10': expected a number of seconds, 0 or more.\n"},
        {{"-j", "0"}, "Error: invalid --jobs value '0': expected a whole number, 1 or more.\n"},
        {{"--jobs=-2"}, "Error: invalid --jobs value '-2': expected a whole number, 1 or more.\n"},
        {{"-j", "two"}, "Error: invalid --jobs value 'two': expected a whole number, 1 or more.\n"},
        {{"-j", "1.5"}, "Error: invalid --jobs value '1.5': expected a whole number, 1 or more.\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"-i", path("missing.wav"), "-o", path("out.wav")};
        args.insert(args.end(), c.option.begin(), c.option.end());
        args.push_back(delay);
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, 1) << c.option.back();
        EXPECT_EQ(r.out, "");
        // The input does not exist: the value was refused before opening it.
        EXPECT_EQ(r.err, c.message);
        EXPECT_FALSE(file_exists(path("out.wav")));
    }
}

TEST_F(LatencyAndTail, LimiterFromTheSystemKeepsAnImpulseInPlace)
{
    std::vector<float> input(4000, 0.0f);
    input[1] = 0.25f;
    write_sound(path("in.wav"), Sound{1, 48000, wav_float, input});
    // The limiter leaks a few blocks of its own when it is freed.
    const CommandResult r = tonbrix({"-i", path("in.wav"), "-o", path("out.wav"),
                                     "--compensate-latency", "http://gareus.org/oss/lv2/dpl#mono"},
                                    "",
                                    {{"LV2_PATH", test_lv2_dir() + ":/usr/lib/lv2"},
                                     {"ASAN_OPTIONS", "detect_leaks=0"}});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<float> out = read_sound(path("out.wav")).samples;
    ASSERT_EQ(out.size(), input.size());
    std::size_t loudest = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (std::fabs(out[i]) > std::fabs(out[loudest])) {
            loudest = i;
        }
    }
    EXPECT_EQ(loudest, 1u);
    EXPECT_NEAR(out[1], 0.25f, 1e-3);
}
