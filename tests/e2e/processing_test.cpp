// The render and the instances: block sizes, what the plugins see of
// the host, the worker, the lifecycle of the instances, the clip stage,
// two plugins from the system, and leaks.
#include "support/e2e.h"
#include "support/messages.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

std::string repeated(const std::string& text, int times)
{
    std::string all;
    for (int i = 0; i < times; ++i) {
        all += text;
    }
    return all;
}

// Equal lengths and every sample equal bit for bit, NaN matching NaN.
::testing::AssertionResult same_samples(const std::vector<float>& actual,
                                        const std::vector<float>& expected)
{
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << actual.size() << " samples, expected " << expected.size();
    }
    for (std::size_t i = 0; i < actual.size(); ++i) {
        const bool both_nan = std::isnan(actual[i]) && std::isnan(expected[i]);
        if (!both_nan && std::memcmp(&actual[i], &expected[i], sizeof(float)) != 0) {
            return ::testing::AssertionFailure() << "sample " << i << " is " << actual[i]
                                                 << ", expected " << expected[i];
        }
    }
    return ::testing::AssertionSuccess();
}

Sound mono(const std::vector<float>& samples, int rate = 48000)
{
    return Sound{1, rate, wav_float, samples};
}

// Valgrind cannot run a program built with a sanitizer.
bool built_with_a_sanitizer()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#endif
#endif
    return tonbrix_binary().find("asan") != std::string::npos ||
           tonbrix_binary().find("tsan") != std::string::npos;
}

} // namespace

class Processing : public E2E {};

TEST_F(Processing, OutputHasTheInputsLengthForEveryBlockSize)
{
    struct Case {
        int channels;
        long frames;
        std::vector<std::string> block_option;
    };
    const Case cases[] = {
        {1, 1000, {"-b", "512"}},      // a short last block
        {1, 1024, {"--blocksize", "512"}}, // whole blocks only
        {1, 100, {}},                  // one short block at the default size
        {1, 1000, {}},
        {1, 0, {}},                    // an empty file gives an empty file
        {1, 5, {"-b", "1"}},
        {3, 1000, {"-b", "512"}},      // three instances
        {2, 7, {"-b", "3"}},
    };
    for (const Case& c : cases) {
        const std::string label = std::to_string(c.channels) + " channels, " +
                                  std::to_string(c.frames) + " frames" +
                                  (c.block_option.empty() ? "" : ", " + c.block_option[1]);
        const Sound in = make_sound(c.channels, c.frames, 44100, wav_float, [](long f, int ch) {
            return static_cast<float>((f % 997) + 1) / 2000.0f * (ch % 2 == 0 ? 1.0f : -1.0f) +
                   static_cast<float>(ch) / 8.0f;
        });
        write_sound(path("in.wav"), in);
        std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav")};
        args.insert(args.end(), c.block_option.begin(), c.block_option.end());
        args.push_back(test_plugin("thru"));
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, 0) << label;
        EXPECT_EQ(r.out, c.channels == 1 ? one_instance_notes : per_channel_notes(c.channels))
            << label;
        EXPECT_EQ(r.err, "") << label;
        const Sound out = read_sound(path("out.wav"));
        EXPECT_EQ(out.frames(), c.frames) << label;
        EXPECT_EQ(out.channels, c.channels) << label;
        EXPECT_EQ(out.rate, 44100) << label;
        EXPECT_TRUE(same_samples(out.samples, in.samples)) << label;
    }
}

TEST_F(Processing, BlockSizeOutsideItsRangeIsRefusedBeforeAnyFileIsOpened)
{
    const char* below = "Error: block size must be at least 1 frame.\n";
    const char* above = "Error: block size must be at most 1048576 frames.\n";
    struct Case {
        std::vector<std::string> option;
        const char* message;
    };
    const Case cases[] = {
        {{"-b", "0"}, below},
        {{"-b", "-1"}, below},
        {{"--blocksize", "0"}, below},
        {{"--blocksize=-512"}, below},
        {{"-b", "-2147483648"}, below},
        {{"-b", "1048577"}, above},
        {{"--blocksize=2147483647"}, above},
    };
    for (const auto& c : cases) {
        // The input does not exist: the block size is reported, not the file.
        std::vector<std::string> args = {"-i", path("missing.wav"), "-o", path("out.wav")};
        args.insert(args.end(), c.option.begin(), c.option.end());
        args.push_back(test_plugin("thru"));
        const CommandResult r = tonbrix(args);
        const std::string label = c.option.back();
        EXPECT_EQ(r.status, 1) << label;
        EXPECT_EQ(r.out, "") << label;
        EXPECT_EQ(r.err, c.message) << label;
        EXPECT_FALSE(file_exists(path("out.wav"))) << label;
        EXPECT_EQ(read_log(), "") << label;
    }
}

TEST_F(Processing, LargestBlockSizeRuns)
{
    write_sound(path("in.wav"),
                make_sound(1, 3000, 48000, wav_float, [](long f, int) { return f * 1e-4f; }));
    const CommandResult r = tonbrix({"-q", "-i", path("in.wav"), "-o", path("out.wav"), "-b",
                                     "1048576", test_plugin("thru")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_sound(path("out.wav")).frames(), 3000);
}

TEST_F(Processing, ProbeSeesTheHostFeaturesInEveryRunOfEveryInstance)
{
    struct Case {
        const char* label;
        int channels;
        long frames;
        int rate;
        bool raw;
        std::vector<std::string> options;
        int block;
    };
    const Case cases[] = {
        // Two instances share the atom buffers; three runs each, the last short.
        {"two instances", 2, 40, 44100, false, {"-b", "16"}, 16},
        {"default block size", 1, 20, 48000, false, {}, 512},
        {"raw floats", 1, 600, 22050, true, {"-r", "22050", "-n", "1", "-b", "256"}, 256},
    };
    for (const Case& c : cases) {
        const Sound in = make_sound(c.channels, c.frames, c.rate, wav_float, [](long f, int ch) {
            return static_cast<float>(f) / 1024.0f - static_cast<float>(ch) / 4.0f;
        });
        std::vector<std::string> args;
        if (c.raw) {
            std::FILE* file = std::fopen(path("in.raw").c_str(), "wb");
            ASSERT_NE(file, nullptr);
            const std::string bytes = to_raw_bytes(in.samples);
            std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::fclose(file);
            args = {"-i", path("in.raw"), "-o", path("out.raw")};
        } else {
            write_sound(path("in.wav"), in);
            args = {"-i", path("in.wav"), "-o", path("out.wav")};
        }
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back("--ignore-clipping");
        args.push_back(test_plugin("probe"));
        const CommandResult r = tonbrix(args);
        ASSERT_EQ(r.status, 0) << c.label << ": " << r.err;
        EXPECT_EQ(r.out, c.channels == 1 ? one_instance_notes : per_channel_notes(c.channels))
            << c.label;
        EXPECT_EQ(r.err, "") << c.label;

        const std::vector<float> out = c.raw ? from_raw_bytes(read_file(path("out.raw")))
                                             : read_sound(path("out.wav")).samples;
        const auto b = static_cast<float>(c.block);
        // rate, min/max/nominal block length, sequence size, fresh input
        // sequence, fresh output chunk, freewheel, feature count, unmap.
        // The features: map, unmap, options, four block-length features (all
        // blocks here are powers of two), log, default state, three path
        // features.
        const float info[10] = {static_cast<float>(c.rate), b, b, b, 32768.0f, 1, 1, 1, 12, 1};
        std::vector<float> expected = in.samples;
        for (long f = 0; f < c.frames; ++f) {
            const long in_block = f % c.block;
            if (in_block < 10) {
                for (int ch = 0; ch < c.channels; ++ch) {
                    expected[f * c.channels + ch] = info[in_block];
                }
            }
        }
        EXPECT_TRUE(same_samples(out, expected)) << c.label;
    }
}

TEST_F(Processing, WorkerDeliversTheResponsesAfterTheRun)
{
    // Two instances, three runs each (the last one short).
    const Sound in = make_sound(2, 10, 48000, wav_float, [](long f, int ch) {
        return static_cast<float>(f) / 16.0f + static_cast<float>(ch) / 32.0f;
    });
    write_sound(path("in.wav"), in);
    const CommandResult r = tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-b", "4",
                                     "--ignore-clipping", test_plugin("worker")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, per_channel_notes(2) + repeated(schedule_line, 6));
    EXPECT_EQ(r.err, "");

    // Per run: no response has come when schedule_work returns; the
    // responses of the earlier runs have, and each instance counts only its
    // own.
    std::vector<float> expected = in.samples;
    for (long f = 0; f < 10; ++f) {
        for (int ch = 0; ch < 2; ++ch) {
            if (f % 4 == 0) {
                expected[f * 2 + ch] = 0.0f;
            } else if (f % 4 == 1) {
                expected[f * 2 + ch] = static_cast<float>(f / 4);
            }
        }
    }
    EXPECT_TRUE(same_samples(read_sound(path("out.wav")).samples, expected));
}

TEST_F(Processing, InstancesAreSetUpInTurnAndTornDownInOrder)
{
    struct Case {
        const char* plugin;
        const char* log;
    };
    const Case cases[] = {
        {"thru", "instantiate 0\nactivate 0\ninstantiate 1\nactivate 1\ninstantiate 2\n"
                 "activate 2\ndeactivate 0\ncleanup 0\ndeactivate 1\ncleanup 1\ndeactivate 2\n"
                 "cleanup 2\n"},
        // No activate or deactivate callbacks at all.
        {"noactivate", "instantiate 0\ninstantiate 1\ninstantiate 2\ncleanup 0\ncleanup 1\n"
                       "cleanup 2\n"},
    };
    const Sound in = make_sound(3, 20, 48000, wav_float, [](long f, int ch) {
        return static_cast<float>(f * 3 + ch) / 64.0f;
    });
    write_sound(path("in.wav"), in);
    for (const Case& c : cases) {
        std::remove(log_path().c_str());
        const CommandResult r =
            tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), test_plugin(c.plugin)});
        EXPECT_EQ(r.status, 0) << c.plugin;
        EXPECT_EQ(r.out, per_channel_notes(3)) << c.plugin;
        EXPECT_EQ(r.err, "") << c.plugin;
        EXPECT_EQ(read_log(), c.log) << c.plugin;
        EXPECT_TRUE(same_samples(read_sound(path("out.wav")).samples, in.samples)) << c.plugin;
    }
}

TEST_F(Processing, FailedSecondInstantiationTearsDownTheFirst)
{
    write_sound(path("in.wav"),
                make_sound(2, 20, 48000, wav_float, [](long, int) { return 0.5f; }));
    const CommandResult r =
        tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), test_plugin("failsecond")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, per_channel_notes(2));
    EXPECT_EQ(r.err, "Failed to instantiate plugin!\n");
    EXPECT_EQ(read_log(),
              "instantiate 0\nactivate 0\ninstantiate 1 failed\ndeactivate 0\ncleanup 0\n");
    // The output opened before the instances is removed again.
    EXPECT_EQ(folder_entries(dir_), (std::vector<std::string>{"in.wav", "lifecycle.log"}));
}

TEST_F(Processing, ClipStageClampsOnlyBeyondFullScale)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float above_one = std::nextafter(1.0f, 2.0f);
    struct Case {
        const char* label;
        float value;
        const char* gain;
        float clipped;
        bool warns;
        bool invalid = false; // NaN: written as 0 with its own warning
    };
    const Case cases[] = {
        {"one", 1.0f, "1", 1.0f, false},
        {"minus one", -1.0f, "1", -1.0f, false},
        {"just above one", above_one, "1", 1.0f, true},
        {"just below minus one", -above_one, "1", -1.0f, true},
        {"one and a half", 1.5f, "1", 1.0f, true},
        {"doubled by the plugin", 0.75f, "2", 1.0f, true},
        {"doubled negative", -0.75f, "2", -1.0f, true},
        // The output is examined, not the input.
        {"silenced by the plugin", 1.5f, "0", 0.0f, false},
        {"NaN", nan, "1", 0.0f, false, true},
        {"negative NaN", -nan, "1", 0.0f, false, true},
        {"plus infinity", inf, "1", 1.0f, true},
        {"minus infinity", -inf, "1", -1.0f, true},
        {"huge", 1e30f, "100", 1.0f, true},
    };
    for (const Case& c : cases) {
        // The neighbours stay within full scale at every gain used here.
        const float first = 0.0078125f;
        const float last = -0.00390625f;
        const std::vector<float> in = {first, c.value, last};
        write_sound(path("in.wav"), mono(in));
        const float gain = std::strtof(c.gain, nullptr);
        for (const bool ignore : {false, true}) {
            const std::string label = std::string(c.label) + (ignore ? ", ignored" : "");
            std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav"), "-p",
                                             std::string("gain:") + c.gain};
            if (ignore) {
                args.push_back("--ignore-clipping");
            }
            args.push_back(test_plugin("thru"));
            const CommandResult r = tonbrix(args);
            EXPECT_EQ(r.status, 0) << label;
            EXPECT_EQ(r.out, one_instance_notes + (c.warns && !ignore ? clipping_warning : "") +
                                 (c.invalid && !ignore ? invalid_samples_warning : ""))
                << label;
            EXPECT_EQ(r.err, "") << label;
            const float middle = ignore ? c.value * gain : c.clipped;
            EXPECT_TRUE(same_samples(read_sound(path("out.wav")).samples,
                                     {first * gain, middle, last * gain}))
                << label;
        }
    }
}

TEST_F(Processing, ClippingIsClampedInEveryBlockAndWarnedOnce)
{
    write_sound(path("in.wav"), mono({0.5f, 2.0f, 3.0f, 0.1f, 0.2f, 0.3f, -4.0f, 1.25f}));
    const CommandResult r =
        tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-b", "2", test_plugin("thru")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, one_instance_notes + clipping_warning);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(same_samples(read_sound(path("out.wav")).samples,
                             {0.5f, 1.0f, 1.0f, 0.1f, 0.2f, 0.3f, -1.0f, 1.0f}));
}

TEST_F(Processing, ClippingWarningFollowsTheFirstBlockThatClips)
{
    // The worker's second frame counts the responses of its earlier runs:
    // 0, 1, then 2 (too loud) from the third run on.
    write_sound(path("in.wav"), mono(std::vector<float>(12, 0.5f)));
    const CommandResult r =
        tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-b", "3", test_plugin("worker")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, one_instance_notes + schedule_line + schedule_line + schedule_line +
                         clipping_warning + schedule_line);
    EXPECT_EQ(r.err, "");
    std::vector<float> expected;
    for (int block = 0; block < 4; ++block) {
        expected.insert(expected.end(), {0.0f, block == 0 ? 0.0f : 1.0f, 0.5f});
    }
    EXPECT_TRUE(same_samples(read_sound(path("out.wav")).samples, expected));
}

TEST_F(Processing, ClipStageCoversTheChannelsOfEveryInstance)
{
    // Only the third instance gets too loud.
    const Sound in = make_sound(3, 6, 48000, wav_float, [](long f, int ch) {
        return ch == 2 && f == 4 ? 1.75f
                                 : static_cast<float>(f) / 8.0f - static_cast<float>(ch) / 4.0f;
    });
    write_sound(path("in.wav"), in);
    const CommandResult r =
        tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), test_plugin("thru")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, per_channel_notes(3) + clipping_warning);
    EXPECT_EQ(r.err, "");
    std::vector<float> expected = in.samples;
    expected[4 * 3 + 2] = 1.0f;
    EXPECT_TRUE(same_samples(read_sound(path("out.wav")).samples, expected));
}

TEST_F(Processing, SystemAmpScalesByTheGainInDecibels)
{
    const Sound in = make_sound(1, 1500, 48000, wav_float, [](long f, int) {
        return std::sin(static_cast<float>(f) * 0.05f) * 0.9f;
    });
    write_sound(path("in.wav"), in);
    const CommandResult r = tonbrix_system({"-i", path("in.wav"), "-o", path("out.wav"), "-p",
                                            "gain:-6", "http://lv2plug.in/plugins/eg-amp"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, one_instance_notes);
    EXPECT_EQ(r.err, "");
    const Sound out = read_sound(path("out.wav"));
    ASSERT_EQ(out.frames(), in.frames());
    const float coefficient = std::pow(10.0f, -6.0f * 0.05f);
    for (long f = 0; f < in.frames(); ++f) {
        const float expected = in.samples[f] * coefficient;
        EXPECT_NEAR(out.samples[f], expected, std::fabs(expected) * 1e-6f) << "frame " << f;
    }
}

TEST_F(Processing, SystemSamplerWithWorkerAndAtomPortsRuns)
{
    write_sound(path("in.wav"), make_sound(1, 2400, 48000, wav_float, [](long f, int) {
                    return static_cast<float>(f % 100) / 200.0f;
                }));
    const CommandResult r = tonbrix_system(
        {"-i", path("in.wav"), "-o", path("out.wav"), "http://lv2plug.in/plugins/eg-sampler"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const Sound out = read_sound(path("out.wav"));
    EXPECT_EQ(out.channels, 1);
    EXPECT_EQ(out.frames(), 2400);
}

TEST_F(Processing, NoDefiniteLeaksUnderValgrind)
{
    if (built_with_a_sanitizer()) {
        GTEST_SKIP() << "valgrind does not run sanitizer builds";
    }
    CommandSpec version;
    version.args = {"--version"};
    if (run_command("valgrind", version).status != 0) {
        GTEST_SKIP() << "valgrind is not installed";
    }
    struct Case {
        const char* plugin;
        int channels;
        int status;
    };
    const Case cases[] = {{"worker", 1, 0}, {"failsecond", 2, 1}};
    for (const Case& c : cases) {
        write_sound(path("in.wav"), make_sound(c.channels, 1000, 48000, wav_float, [](long f, int) {
                        return static_cast<float>(f % 7) / 8.0f;
                    }));
        CommandSpec command;
        command.args = {"--leak-check=full", "--error-exitcode=99",
                        "--errors-for-leak-kinds=definite", tonbrix_binary(),
                        "-i", path("in.wav"), "-o", path("out.wav"),
                        "--ignore-clipping", test_plugin(c.plugin)};
        command.env = {{"LV2_PATH", test_lv2_dir()}, {"TONBRIX_TEST_LOG", log_path()}};
        const CommandResult r = run_command("valgrind", command);
        EXPECT_EQ(r.status, c.status) << c.plugin << "\n" << r.err;
        // valgrind really ran, and found no memory errors either.
        EXPECT_NE(r.err.find("ERROR SUMMARY: 0 errors"), std::string::npos)
            << c.plugin << "\n"
            << r.err;
    }
}
