// Ports connected before activation, the block-length, log, option and
// state path features, and real plugins that need them.
#include "support/e2e.h"
#include "support/messages.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

class HostFeatures : public E2E {
protected:
    Sound write_input(int channels, long frames)
    {
        const Sound in = make_sound(channels, frames, 48000, wav_float, [](long f, int c) {
            return static_cast<float>((f * 37 + c * 11) % 64) / 128.0f - 0.25f;
        });
        write_sound(path("in.wav"), in);
        return in;
    }
};

TEST_F(HostFeatures, EveryPortIsConnectedBeforeActivation)
{
    // strictconnect aborts when activated or run with any port unconnected:
    // audio, control, CV and atom ports, inputs and outputs. It takes gain
    // and cv as they are at activation, so the values must be there too.
    const Sound in = write_input(2, 100);
    const CommandResult r =
        tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-b", "32", "-p", "gain:2,cv:0.25",
                 "--ignore-clipping", test_plugin("strictconnect")},
                "", {{"TONBRIX_TEST_LOG", log_path()}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, per_channel_notes(2));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_log(), "instantiate 0\nactivate 0\ninstantiate 1\nactivate 1\n"
                          "deactivate 0\ncleanup 0\ndeactivate 1\ncleanup 1\n");
    const Sound out = read_sound(path("out.wav"));
    ASSERT_EQ(out.samples.size(), in.samples.size());
    for (std::size_t i = 0; i < in.samples.size(); ++i) {
        EXPECT_EQ(out.samples[i], in.samples[i] * 2.0f + 0.25f) << i;
    }
}

TEST_F(HostFeatures, RealPluginsThatReadTheirPortsEarlyRun)
{
    // The swh IIR filters read their ports in activate; the fomp filters
    // and oscillators have CV inputs.
    write_input(1, 4800);
    for (const char* plugin : {"http://plugin.org.uk/swh-plugins/lowpass_iir",
                               "http://plugin.org.uk/swh-plugins/bwxover_iir",
                               "http://drobilla.net/plugins/fomp/mvclpf1",
                               "http://drobilla.net/plugins/fomp/cs_phaser1"}) {
        const CommandResult r =
            tonbrix_system({"-i", path("in.wav"), "-o", path("out.wav"), "--ignore-clipping",
                            plugin});
        ASSERT_EQ(r.status, 0) << plugin << ": " << r.err;
        const Sound out = read_sound(path("out.wav"));
        EXPECT_EQ(out.frames(), 4800) << plugin;
        bool finite = true;
        bool sound = false;
        for (float x : out.samples) {
            finite = finite && std::isfinite(x);
            sound = sound || x != 0.0f;
        }
        EXPECT_TRUE(finite) << plugin;
        EXPECT_TRUE(sound) << plugin;
    }
}

TEST_F(HostFeatures, FeaturesAndOptionsAtInstantiation)
{
    // logger reports in frames 0..9: power-of-two, fixed, bounded and coarse
    // block length, default state, map path, free path, the sample rate
    // option, a file made through make path, the log feature.
    write_input(1, 64);
    struct Case {
        const char* block;
        float power_of_2;
    };
    for (const Case c : {Case{"16", 1.0f}, Case{"12", 0.0f}, Case{"1", 1.0f}}) {
        const CommandResult r =
            tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-b", c.block,
                     "--ignore-clipping", test_plugin("logger")},
                    "", {{"TMPDIR", dir_}});
        ASSERT_EQ(r.status, 0) << c.block << ": " << r.err;
        const Sound out = read_sound(path("out.wav"));
        const std::vector<float> want = {c.power_of_2, 1, 1, 1, 1, 1, 1, 48000, 1, 1};
        for (std::size_t f = 0; f < want.size() && static_cast<long>(f) < std::stol(c.block);
             ++f) {
            EXPECT_EQ(out.at(static_cast<long>(f), 0), want[f]) << c.block << ", frame " << f;
        }
        // The folder the plugin made its file in is gone after the run.
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
            EXPECT_EQ(entry.path().filename().string().rfind("tonbrix-state-", 0),
                      std::string::npos)
                << entry.path();
        }
    }
}

TEST_F(HostFeatures, PluginThatRequiresPowerOf2BlocksIsRefusedOtherBlockSizes)
{
    write_input(1, 64);
    for (const char* block : {"12", "500", "3"}) {
        std::remove(path("out.wav").c_str());
        const CommandResult r = tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-b",
                                         block, test_plugin("powerof2")});
        EXPECT_EQ(r.status, 1) << block;
        EXPECT_EQ(r.out, "") << block;
        EXPECT_EQ(r.err, std::string("Error: the plugin requires a power-of-two block length; "
                                     "block size ") +
                             block + " is not one.\n");
        EXPECT_FALSE(file_exists(path("out.wav"))) << block;
    }
    for (const char* block : {"1", "2", "64", "512"}) {
        const CommandResult r = tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-b",
                                         block, test_plugin("powerof2")});
        EXPECT_EQ(r.status, 0) << block << ": " << r.err;
    }
}

TEST_F(HostFeatures, LogErrorsAndWarningsGoToStandardErrorOneLineEach)
{
    const std::string lines = "plugin: error one 1\n"
                              "plugin: warning 2.5\n"
                              "plugin: two lines\n"
                              "plugin: " + std::string(1024, 'x') + "\n";
    // Also when the audio (raw floats) goes to standard output.
    const Sound in = write_input(2, 16);
    std::FILE* raw = std::fopen(path("in.raw").c_str(), "wb");
    ASSERT_NE(raw, nullptr);
    const std::string bytes = to_raw_bytes(in.samples);
    std::fwrite(bytes.data(), 1, bytes.size(), raw);
    std::fclose(raw);
    for (const char* output : {"out.wav", "-"}) {
        const bool piped = output[0] == '-';
        const CommandResult r =
            piped ? tonbrix({"-i", path("in.raw"), "-o", "-", "-r", "48000", "-n", "2",
                             "--ignore-clipping", test_plugin("logger")})
                  : tonbrix({"-i", path("in.wav"), "-o", path(output), "--ignore-clipping",
                             test_plugin("logger")});
        ASSERT_EQ(r.status, 0) << r.err;
        // Notes and traces are dropped; each instance logs at instantiation.
        if (piped) {
            EXPECT_EQ(r.err, per_channel_notes(2) + lines + lines);
            EXPECT_EQ(r.out.size(), bytes.size());
        } else {
            EXPECT_EQ(r.out, per_channel_notes(2));
            EXPECT_EQ(r.err, lines + lines);
        }
    }
}
