// --report: the control outputs of every instance after the last block,
// where the notes go; checked with a test plugin and a real meter.
#include "support/e2e.h"
#include "support/messages.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <filesystem>

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

TEST_F(Report, APluginWithoutControlOutputsIsWarnedAbout)
{
    // A report asked of plugins that have no control outputs says so once,
    // where the warnings go, also when quiet; a chain warns only when no
    // plugin of it has one.
    write_sound(path("in.wav"), make_sound(1, 10, 48000, wav_float, [](long, int) { return 0.5f; }));
    std::filesystem::create_directories(path("in"));
    write_sound(path("in/a.wav"), make_sound(1, 10, 48000, wav_float, [](long, int) { return 0.5f; }));
    write_sound(path("in/b.wav"), make_sound(1, 10, 48000, wav_float, [](long, int) { return 0.5f; }));
    const std::string thru = test_plugin("thru");
    const std::string single = "WARNING: The plugin " + thru + " has no control outputs to report.\n";
    const std::string chain = "WARNING: No plugin of the chain has control outputs to report.\n";
    const std::vector<float> raw_in{0.25f, 0.5f};
    struct Case {
        const char* label;
        std::vector<std::string> args;
        std::string out;
        std::string err;
        std::string stdin_data = {};
    };
    const std::vector<Case> cases = {
        {"report", {"-i", path("in.wav"), "-o", path("out.wav"), "--report", thru},
         single + one_instance_notes, ""},
        {"quiet", {"-q", "-i", path("in.wav"), "-o", path("out.wav"), "--report-every=1", thru},
         single, ""},
        {"audio on standard output",
         {"-q", "-r", "48000", "-n", "1", "-i", "-", "-o", "-", "--report", thru},
         to_raw_bytes(raw_in), single, to_raw_bytes(raw_in)},
        {"chain", {"-q", "-i", path("in.wav"), "-o", path("out.wav"), "--report", thru, "--then", thru},
         chain, ""},
        {"chain with a control output",
         {"-q", "-i", path("in.wav"), "-o", path("out.wav"), "--report", thru, "--then",
          test_plugin("delay")},
         "2: latency: 64\n", ""},
        {"folder: once for all files",
         {"-q", "-i", path("in"), "-o", path("out"), "--report", thru}, single, ""},
        {"no report asked for", {"-q", "-i", path("in.wav"), "-o", path("out.wav"), thru}, "", ""},
    };
    for (const Case& c : cases) {
        const CommandResult r = tonbrix(c.args, c.stdin_data);
        EXPECT_EQ(r.status, 0) << c.label << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.label;
        EXPECT_EQ(r.err, c.err) << c.label;
    }
    // With --json the warning goes to standard error, beside the document.
    const CommandResult json =
        tonbrix({"-q", "-i", path("in.wav"), "-o", path("out.wav"), "--json", thru});
    EXPECT_EQ(json.err, single);
    EXPECT_EQ(nlohmann::json::parse(json.out)["readings"][0]["instances"][0],
              nlohmann::json::object());
}

TEST_F(Report, RealMeterWithoutControlOutputsIsWarnedAbout)
{
    // x42's EBU R128 meter sends its readings to its user interface as
    // atom messages.
    const std::string uri = "http://gareus.org/oss/lv2/meters#EBUr128";
    if (!file_exists("/usr/lib/lv2/meters.lv2")) {
        GTEST_SKIP() << "x42-plugins is not installed";
    }
    write_sound(path("in.wav"),
                make_sound(2, 4800, 48000, wav_float, [](long f, int) { return (f % 48) / 96.0f; }));
    // The meter leaks a few blocks of its own when it is freed.
    const CommandResult r =
        tonbrix({"-q", "-i", path("in.wav"), "-o", path("out.wav"), "--report", uri}, "",
                {{"LV2_PATH", test_lv2_dir() + ":/usr/lib/lv2"}, {"ASAN_OPTIONS", "detect_leaks=0"}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "WARNING: The plugin " + uri + " has no control outputs to report.\n");
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

// --report-every: readings at the first block boundary at or after each
// multiple of the period, then the last one at the output's end.
class ReportEvery : public E2E {
protected:
    // mixed at 1000 Hz: level = the last input frame of the block, in[f] =
    // f / 1000 on channel 1 and its negative on channel 2 (1000 frames).
    void SetUp() override
    {
        E2E::SetUp();
        write_sound(path("in.wav"), make_sound(2, 1000, 1000, wav_float, [](long f, int ch) {
                        return (ch == 0 ? 0.001f : -0.001f) * static_cast<float>(f);
                    }));
    }

    CommandResult run(std::vector<std::string> options)
    {
        std::vector<std::string> args{"-q", "-i", path("in.wav"), "-o", path("out.wav"), "-b",
                                      "100"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(test_plugin("mixed"));
        return tonbrix(args);
    }
};

TEST_F(ReportEvery, ReadingsAtTheBlockBoundariesAfterEachPeriodAndAtTheEnd)
{
    struct Case {
        const char* label;
        std::vector<std::string> options;
        std::string out;
    };
    // One instance takes channel 1 as its input and channel 2 as its side
    // input: level = in - in = 0 there, so the side input is left silent by
    // connecting channel 1 alone.
    const std::vector<std::string> one = {"-c", "1:in"};
    const std::vector<std::string> two = {"-c", "1:1.in,2:2.in"};
    const auto with = [](std::vector<std::string> a, std::initializer_list<std::string> b) {
        a.insert(a.end(), b);
        return a;
    };
    const Case cases[] = {
        {"periods between boundaries", with(one, {"--report-every=0.25"}),
         "0.3 level: 0.299\n0.5 level: 0.499\n0.8 level: 0.799\n1 level: 0.999\n"},
        {"a period ending with the output: one reading there", with(one, {"--report-every", "0.5"}),
         "0.5 level: 0.499\n1 level: 0.999\n"},
        {"a period longer than the run: the last reading only",
         with(one, {"--report-every=60", "--report"}), "1 level: 0.999\n"},
        {"periods shorter than a block: one reading per block", with(one, {"--report-every=0.03"}),
         "0.1 level: 0.099\n0.2 level: 0.199\n0.3 level: 0.299\n0.4 level: 0.399\n"
         "0.5 level: 0.499\n0.6 level: 0.599\n0.7 level: 0.699\n0.8 level: 0.799\n"
         "0.9 level: 0.899\n1 level: 0.999\n"},
        {"two instances, numbered", with(two, {"--report-every=0.5"}),
         "0.5 1.level: 0.499\n0.5 2.level: -0.499\n1 1.level: 0.999\n1 2.level: -0.999\n"},
        {"a tail: readings in it too, the last at the output's end",
         with(one, {"--report-every=0.5", "--tail=0.25"}),
         "0.5 level: 0.499\n1 level: 0.999\n1.25 level: 0\n"},
    };
    for (const Case& c : cases) {
        const CommandResult r = run(c.options);
        EXPECT_EQ(r.status, 0) << c.label << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << c.label;
        EXPECT_EQ(r.err, "") << c.label;
    }
}

TEST_F(ReportEvery, SameReadingsWithAnyJobCount)
{
    const std::vector<std::string> options = {"-c", "1:1.in,2:2.in", "--report-every=0.2",
                                              "--tail=0.33"};
    const CommandResult first = run({"-j", "1", options[0], options[1], options[2], options[3]});
    ASSERT_EQ(first.status, 0) << first.err;
    for (const char* jobs : {"2", "3"}) {
        const CommandResult r = run({"-j", jobs, options[0], options[1], options[2], options[3]});
        EXPECT_EQ(r.out, first.out) << jobs;
    }
}

TEST_F(ReportEvery, RealMeterEndsInTheSameStateWithAnyJobCount)
{
    // The meter's level falls with every block of silence: after a tail the
    // readings show whether more silent blocks ran than the output needs.
    write_sound(path("tone.wav"), make_sound(2, 48000, 48000, wav_float, [](long f, int) {
                    return 0.5f * static_cast<float>(std::sin(f * 0.0576));
                }));
    for (const char* tail : {"--tail=0.01", "--tail=0.3"}) {
        std::string first;
        for (const char* jobs : {"1", "2", "3"}) {
            const CommandResult r =
                tonbrix({"-q", "-b", "64", "-j", jobs, tail, "--report-every=0.25", "-i",
                         path("tone.wav"), "-o", path("out.wav"),
                         "http://gareus.org/oss/lv2/meters#dBTPmono"},
                        "", {{"LV2_PATH", test_lv2_dir() + ":/usr/lib/lv2"},
                             {"ASAN_OPTIONS", "detect_leaks=0"}});
            ASSERT_EQ(r.status, 0) << r.err;
            if (first.empty()) {
                first = r.out;
            }
            EXPECT_EQ(r.out, first) << tail << " -j " << jobs;
        }
    }
}

TEST_F(ReportEvery, InvalidPeriodIsRefusedBeforeTheOutputIsWritten)
{
    for (const char* value : {"0", "-1", "abc", "0x10", "nan", "1s", "1e999"}) {
        const CommandResult r = run({std::string("--report-every=") + value});
        EXPECT_EQ(r.status, 1) << value;
        EXPECT_EQ(r.out, "") << value;
        EXPECT_EQ(r.err, std::string("Error: invalid --report-every value '") + value +
                             "': expected a number of seconds above 0.\n");
        EXPECT_FALSE(file_exists(path("out.wav"))) << value;
    }
}

TEST_F(ReportEvery, RealCorrelationMeterSeesWhatTheLastReadingHides)
{
    // Out of phase for 3.5 seconds, then in phase for half a second: the
    // reading after the last block says "in phase", the ones before do not.
    write_sound(path("phase.wav"), make_sound(2, 4 * 48000, 48000, wav_float, [](long f, int ch) {
                    const float s = 0.5f * static_cast<float>(std::sin(f * 0.0576));
                    return ch == 1 && f < 3 * 48000 + 24000 ? -s : s;
                }));
    const CommandResult r =
        tonbrix({"-q", "--report-every=1", "-i", path("phase.wav"), "-o", path("out.wav"),
                 "http://gareus.org/oss/lv2/meters#COR"},
                "", {{"LV2_PATH", test_lv2_dir() + ":/usr/lib/lv2"}, {"ASAN_OPTIONS", "detect_leaks=0"}});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t colon = lines[i].find(" correlation: ");
        ASSERT_NE(colon, std::string::npos) << lines[i];
        const double time = std::strtod(lines[i].c_str(), nullptr);
        const double value = std::strtod(lines[i].c_str() + colon + 14, nullptr);
        if (i < 3) {
            EXPECT_GE(time, static_cast<double>(i + 1)) << lines[i];
            EXPECT_LT(time, i + 1 + 512.0 / 48000) << lines[i];
            EXPECT_LT(value, -0.9) << lines[i];
        } else {
            EXPECT_EQ(time, 4.0) << lines[i];
            EXPECT_GT(value, 0.0) << lines[i];
        }
    }
}

// --json with a processing run: the readings as one document, alone on
// standard output (or on standard error when the audio is there).
class ReportJson : public ReportEvery {};

TEST_F(ReportJson, ReadingsWithTimeFrameAndExactValues)
{
    const CommandResult r = run({"-c", "1:1.in,2:2.in", "--report-every=0.5", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // Each value is the shortest decimal of the plugin's float: 0.001f * 999
    // is 0.9990001 as a float, and reads back as exactly that float.
    const float last = 0.001f * 999.0f;
    EXPECT_EQ(nlohmann::json::parse(r.out), nlohmann::json::parse(R"({
        "uri": "http://tonbrix.test/plugins/mixed", "rate": 1000, "readings": [
        {"time": 0.5, "frame": 500, "instances": [{"level": 0.499}, {"level": -0.499}]},
        {"time": 1, "frame": 1000, "instances": [{"level": 0.9990001}, {"level": -0.9990001}]}]})"));
    EXPECT_EQ(static_cast<float>(0.9990001), last);
    EXPECT_NE(r.out.find("\"level\": 0.499\n"), std::string::npos) << r.out;
}

TEST_F(ReportJson, StandardOutputHoldsOnlyTheDocument)
{
    // Notes go to standard error; --json alone asks for the report too.
    const CommandResult r = tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "--json", "-c",
                                     "1:in", test_plugin("mixed")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "Note: Running 1 instances of the plugin.\nNote: Only making user specified "
                     "connections.\n");
    const nlohmann::json doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["readings"].size(), 1u);
    EXPECT_EQ(doc["readings"][0]["frame"], 1000);
    // The last block runs whole, on silence after the input's 1000th frame.
    EXPECT_EQ(doc["readings"][0]["instances"][0]["level"], 0.0);

    // What a plugin prints with printf goes to standard error too.
    const CommandResult chatty = tonbrix({"-q", "-i", path("in.wav"), "-o", path("out.wav"),
                                          "--json", "-c", "1:in", test_plugin("chatty")});
    EXPECT_EQ(chatty.status, 0) << chatty.err;
    EXPECT_EQ(nlohmann::json::parse(chatty.out)["uri"], test_plugin("chatty"));
    EXPECT_NE(chatty.err.find("chatty: run of 512 frames\n"), std::string::npos) << chatty.err;

    // With the audio on standard output the document goes to standard error.
    const std::vector<float> in{0.0f, 0.0f, 0.375f, 0.0f};
    const CommandResult raw = tonbrix({"-q", "-i", "-", "-o", "-", "-r", "48000", "-n", "2", "-b",
                                       "2", "--report", "--json", test_plugin("mixed")},
                                      to_raw_bytes(in));
    EXPECT_EQ(raw.status, 0);
    EXPECT_EQ(raw.out, to_raw_bytes({0.0f, 0.375f}));
    const nlohmann::json on_stderr = nlohmann::json::parse(raw.err);
    EXPECT_EQ(on_stderr["readings"][0]["instances"][0]["level"], 0.375);
    EXPECT_EQ(on_stderr["readings"][0]["time"], 2.0 / 48000);
}
