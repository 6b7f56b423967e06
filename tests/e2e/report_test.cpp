// --report: the control outputs of every instance after the last block,
// where the notes go; checked with a test plugin and a real meter.
#include "support/e2e.h"
#include "support/messages.h"

#include <cmath>
#include <cstdlib>

class Report : public E2E {};

TEST_F(Report, PrintsEveryControlOutputAfterTheRun)
{
    // mixed: level = the last output frame = in * gain + side + bias.
    // Two blocks exactly, so the last frame is the input's.
    write_sound(path("in.wav"), make_sound(2, 1024, 48000, wav_float, [](long f, int ch) {
                    return f == 1023 ? (ch == 0 ? 0.125f : 0.0625f) : 0.0f;
                }));
    struct Case {
        const char* label;
        std::vector<std::string> args;
        std::string out;
    };
    const std::string user_notes =
        "Note: Running 2 instances of the plugin.\nNote: Only making user specified "
        "connections.\n";
    const Case cases[] = {
        {"one instance", {"-p", "gain:2,bias:0.25"}, one_instance_notes + "level: 0.5625\n"},
        {"two instances, numbered",
         {"-p", "gain:4", "-c", "1:1.in,2:2.in"},
         user_notes + "1.level: 0.5\n2.level: 0.25\n"},
        {"quiet: the report only", {"-q", "-p", "bias:-0.5"}, "level: -0.3125\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"-i", path("in.wav"), "-o", path("out.wav"), "--report"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(test_plugin("mixed"));
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, 0) << c.label;
        EXPECT_EQ(r.out, c.out) << c.label;
        EXPECT_EQ(r.err, "") << c.label;
    }
}

TEST_F(Report, GoesToStandardErrorWhenTheAudioIsOnStandardOutput)
{
    const std::vector<float> in{0.0f, 0.0f, 0.375f, 0.0f};
    const CommandResult r = tonbrix({"-i", "-", "-o", "-", "-r", "48000", "-n", "2", "-b", "2",
                                     "--report", test_plugin("mixed")},
                                    to_raw_bytes(in));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, to_raw_bytes({0.0f, 0.375f}));
    EXPECT_EQ(r.err, one_instance_notes + "level: 0.375\n");
}

TEST_F(Report, NothingForAPluginWithoutControlOutputs)
{
    write_sound(path("in.wav"), make_sound(1, 10, 48000, wav_float, [](long, int) { return 0.5f; }));
    const CommandResult r =
        tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "--report", test_plugin("thru")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, one_instance_notes);
    EXPECT_EQ(r.err, "");
}

TEST_F(Report, RealCorrelationMeter)
{
    // Identical channels correlate fully; opposite ones fully negatively.
    const std::string meter = "http://gareus.org/oss/lv2/meters#COR";
    struct Case {
        float sign;
        double expected;
    };
    for (const Case c : {Case{1.0f, 1.0}, Case{-1.0f, -1.0}}) {
        write_sound(path("in.wav"), make_sound(2, 48000, 48000, wav_float, [&](long f, int ch) {
                        const float s = 0.5f * static_cast<float>(std::sin(f * 0.0576));
                        return ch == 0 ? s : c.sign * s;
                    }));
        // The meter leaks a few blocks of its own when it is freed.
        const CommandResult r =
            tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-q", "--report", meter}, "",
                    {{"LV2_PATH", test_lv2_dir() + ":/usr/lib/lv2"},
                     {"ASAN_OPTIONS", "detect_leaks=0"}});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string prefix = "correlation: ";
        ASSERT_EQ(r.out.rfind(prefix, 0), 0u) << r.out;
        ASSERT_EQ(r.out.back(), '\n');
        EXPECT_NEAR(std::strtod(r.out.c_str() + prefix.size(), nullptr), c.expected, 0.01) << r.out;
    }
}
