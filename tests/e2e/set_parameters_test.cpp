// --set: writable parameters of every type, through the state interface or
// patch:Set messages, in effect from the first frame; its errors; and the
// convolver that needs an impulse response file.
#include "support/e2e.h"
#include "support/messages.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

const std::string ns = "http://tonbrix.test/plugins/params#";

// Output frames of the params plugins (see tests/plugins/README.md).
enum Field { f_float, f_double, f_int, f_long, f_bool, f_string, f_path, f_uri, f_restores,
             f_messages, field_count };

} // namespace

class SetParameters : public E2E {
protected:
    void SetUp() override
    {
        E2E::SetUp();
        write_sound(path("in.wav"), make_sound(2, 48, 48000, wav_float,
                                               [](long f, int) { return f / 64.0f; }));
        std::FILE* file = std::fopen(path("data.bin").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs("0123456789abc", file); // 13 bytes
        std::fclose(file);
    }

    CommandResult run(const std::string& plugin, const std::vector<std::string>& options)
    {
        std::remove(path("out.wav").c_str());
        std::remove(log_path().c_str());
        std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav"),
                                         "--ignore-clipping", "-b", "16"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(test_plugin(plugin));
        return tonbrix(args);
    }

    // The convolver through its worker leaves FFT plans behind when it is
    // freed: its own leak, not checked.
    CommandResult convolver(const std::vector<std::string>& args) const
    {
        return tonbrix(args, "",
                       {{"LV2_PATH", test_lv2_dir() + ":/usr/lib/lv2"},
                        {"ASAN_OPTIONS", "detect_leaks=0"}});
    }

    // Checks the fields at the start of every block of every channel;
    // fields not named hold their unset value (-1), the counters 0.
    void expect_fields(const std::map<int, float>& want, const std::string& label)
    {
        const Sound out = read_sound(path("out.wav"));
        ASSERT_EQ(out.frames(), 48) << label;
        for (long start = 0; start < out.frames(); start += 16) {
            for (int c = 0; c < out.channels; ++c) {
                for (int f = 0; f < field_count; ++f) {
                    const auto it = want.find(f);
                    const float unset = f >= f_restores ? 0.0f : -1.0f;
                    const float expected = it == want.end() ? unset : it->second;
                    EXPECT_EQ(out.at(start + f, c), expected)
                        << label << ": block at " << start << ", channel " << c << ", field " << f;
                }
                EXPECT_EQ(out.at(start + 12, c), (start + 12) / 64.0f) << label;
            }
        }
    }
};

TEST_F(SetParameters, EveryTypeReachesEveryInstanceBeforeTheFirstBlock)
{
    // Two channels, two instances; values by full URI or short name.
    const std::vector<std::string> options = {
        "-s", ns + "float=1.5", "--set", "double=-2.25", "-s", "int=-3", "-s", "long=4",
        "-s", "bool=true", "-s", "string=hello", "-s", "path=" + path("data.bin"),
        "-s", "uri=urn:x:y"};
    const std::map<int, float> values = {{f_float, 1.5f}, {f_double, -2.25f}, {f_int, -3.0f},
                                         {f_long, 4.0f},  {f_bool, 1.0f},     {f_string, 5.0f},
                                         {f_path, 13.0f}, {f_uri, 7.0f}};
    // Through the state interface: one restore, the plugin's default state
    // (int 7) before it.
    CommandResult r = run("params", options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, per_channel_notes(2));
    EXPECT_EQ(r.err, "");
    std::map<int, float> want = values;
    want[f_restores] = 2.0f;
    expect_fields(want, "state");

    // As patch:Set messages: eight of them, all in the first run only.
    r = run("paramsmsg", options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    want = values;
    want[f_messages] = 8.0f;
    expect_fields(want, "messages");
}

TEST_F(SetParameters, ValuesAreReadByTheirRange)
{
    struct Case {
        std::string item;
        Field field;
        float value;
    };
    const Case cases[] = {
        {"bool=false", f_bool, 0.0f},
        {"bool=0", f_bool, 0.0f},
        {"bool=-2", f_bool, 1.0f},
        {"float=1e-3", f_float, 1e-3f},
        {"int=-2147483648", f_int, -2147483648.0f},
        {"long=9007199254740993", f_long, 9007199254740992.0f},
        {"string=", f_string, 0.0f},
        {"string=a=b", f_string, 3.0f}, // the first '=' ends the name
        {"uri=not a uri", f_uri, 9.0f},
    };
    for (const Case& c : cases) {
        const CommandResult r = run("paramsmsg", {"-s", c.item});
        ASSERT_EQ(r.status, 0) << c.item << ": " << r.err;
        expect_fields({{c.field, c.value}, {f_messages, 1.0f}}, c.item);
    }
}

TEST_F(SetParameters, RelativePathsAreMadeAbsolute)
{
    CommandSpec spec;
    spec.args = {"-C", dir_, tonbrix_binary(), "-i", "in.wav", "-o", "out.wav", "-b", "16",
                 "--ignore-clipping", "-s", "path=data.bin", test_plugin("params")};
    spec.env = {{"LV2_PATH", test_lv2_dir()}};
    const CommandResult r = run_command("env", spec);
    ASSERT_EQ(r.status, 0) << r.err;
    expect_fields({{f_int, 7.0f}, {f_path, 13.0f}, {f_restores, 2.0f}}, "relative");
}

TEST_F(SetParameters, DefaultStateThenPresetThenSetValues)
{
    // The default state sets int 7; the preset "File" names data.txt of its
    // bundle (20 bytes) and float 0.75; --set comes last.
    CommandResult r = run("params", {});
    ASSERT_EQ(r.status, 0) << r.err;
    expect_fields({{f_int, 7.0f}, {f_restores, 1.0f}}, "default state");

    r = run("params", {"-P", "File"});
    ASSERT_EQ(r.status, 0) << r.err;
    expect_fields({{f_int, 7.0f}, {f_float, 0.75f}, {f_path, 20.0f}, {f_restores, 2.0f}},
                  "preset");

    r = run("params", {"-P", "File", "-s", "float=2", "-s", "int=5", "-s", "int=6"});
    ASSERT_EQ(r.status, 0) << r.err;
    expect_fields({{f_int, 6.0f}, {f_float, 2.0f}, {f_path, 20.0f}, {f_restores, 3.0f}},
                  "preset and --set");
}

TEST_F(SetParameters, BadValuesStopTheRunBeforeTheOutputIsTouched)
{
    struct Case {
        std::string plugin;
        std::string item;
        std::string err;
    };
    const std::string dir = path("");
    const Case cases[] = {
        {"params", "nosuch=1", "Error: the plugin has no writable parameter 'nosuch'.\n"},
        {"params", ns + "nosuch=1", "Error: the plugin has no writable parameter '" + ns +
                                        "nosuch'.\n"},
        {"params", "Float=1", "Error: the plugin has no writable parameter 'Float'.\n"},
        {"params", "gain=1",
         "Error: parameter name 'gain' is ambiguous: it matches " + ns +
             "gain, http://tonbrix.test/plugins/params/extra#gain.\n"},
        {"params", "float", "Error: invalid --set value 'float': expected PARAMETER=VALUE.\n"},
        {"params", "float=", "Error: invalid value '' for parameter 'float': expected a number.\n"},
        {"params", "float=1x",
         "Error: invalid value '1x' for parameter 'float': expected a number.\n"},
        {"params", "float=1e39",
         "Error: invalid value '1e39' for parameter 'float': expected a number.\n"},
        {"params", "double=nan",
         "Error: invalid value 'nan' for parameter 'double': expected a number.\n"},
        {"params", "int=1.5",
         "Error: invalid value '1.5' for parameter 'int': expected a whole number.\n"},
        {"params", "int=2147483648",
         "Error: invalid value '2147483648' for parameter 'int': expected a whole number.\n"},
        {"params", "long= 1",
         "Error: invalid value ' 1' for parameter 'long': expected a whole number.\n"},
        {"params", "bool=yes",
         "Error: invalid value 'yes' for parameter 'bool': expected true, false or a whole "
         "number.\n"},
        {"params", "path=" + path("missing.wav"),
         "Error: parameter 'path': '" + path("missing.wav") + "' does not name a readable file.\n"},
        {"params", "path=" + dir, "Error: parameter 'path': '" + dir +
                                      "' does not name a readable file.\n"},
        {"params", "path=", "Error: parameter 'path': '' does not name a readable file.\n"},
        {"params", "vector=1",
         "Error: parameter 'vector' has a type that cannot be set "
         "(http://lv2plug.in/ns/ext/atom#Vector).\n"},
        {"paramsnone", "float=1",
         "Error: cannot set parameter 'float': the plugin has neither the state interface nor a "
         "control atom input.\n"},
        {"thru", "gain=1", "Error: the plugin has no writable parameter 'float'.\n"},
    };
    for (const Case& c : cases) {
        // An output file that is there already is left as it is.
        std::FILE* file = std::fopen(path("out.wav").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs("keep", file);
        std::fclose(file);
        std::remove(log_path().c_str());
        const CommandResult r =
            tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-s", "float=1", "-s", c.item,
                     test_plugin(c.plugin)});
        EXPECT_EQ(r.status, 1) << c.item;
        EXPECT_EQ(r.out, "") << c.item;
        EXPECT_EQ(r.err, c.err) << c.item;
        EXPECT_EQ(read_file(path("out.wav")), "keep") << c.item;
        EXPECT_EQ(read_log(), "") << c.item;
    }
}

TEST_F(SetParameters, UnreadableFileIsRefused)
{
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads every file";
    }
    std::filesystem::permissions(path("data.bin"), std::filesystem::perms::none);
    const CommandResult r = run("params", {"-s", "path=" + path("data.bin")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "Error: parameter 'path': '" + path("data.bin") + "' does not name a readable file.\n");
}

// zeroconvolv#CfgMono with an impulse response of one impulse of 0.5 at
// frame 100: the output is the input scaled by 0.5, 100 + 64 frames later,
// from the very first block, at any block size.
TEST_F(SetParameters, ConvolverTakesItsImpulseResponseFromTheFirstFrame)
{
    const std::string plugin = "http://gareus.org/oss/lv2/zeroconvolv#CfgMono";
    const Sound ir = make_sound(1, 200, 48000, wav_float,
                                [](long f, int) { return f == 100 ? 0.5f : 0.0f; });
    write_sound(path("ir.wav"), ir);
    const Sound in = make_sound(1, 3000, 48000, wav_float, [](long f, int) {
        return static_cast<float>((f * 7919) % 2001 - 1000) / 2000.0f;
    });
    write_sound(path("noise.wav"), in);
    const long delay = 164;
    for (const char* block : {"1", "37", "64", "100", "512", "4096"}) {
        const CommandResult r = convolver({"-i", path("noise.wav"), "-o", path("out.wav"), "-b",
                                           block, "-s", "ir=" + path("ir.wav"), plugin});
        ASSERT_EQ(r.status, 0) << block << ": " << r.err;
        const Sound out = read_sound(path("out.wav"));
        ASSERT_EQ(out.frames(), in.frames()) << block;
        long wrong = 0;
        for (long f = 0; f < out.frames(); ++f) {
            const float expected = f < delay ? 0.0f : 0.5f * in.at(f - delay, 0);
            if (std::abs(out.at(f, 0) - expected) > 1e-5f) {
                ++wrong;
                ADD_FAILURE_AT(__FILE__, __LINE__)
                    << "block " << block << ", frame " << f << ": " << out.at(f, 0)
                    << " instead of " << expected;
                if (wrong > 5) {
                    break;
                }
            }
        }
    }
}

// loader takes each value through its worker and uses it two runs later;
// its restore asks for `level` under a key of its own and never for
// `offset` (see tests/plugins/README.md). Every value is in use from the
// first frame of the input, on every instance, at any block size.
TEST_F(SetParameters, ValuesLoadedInTheBackgroundAreInUseFromTheFirstFrame)
{
    const Sound in = read_sound(path("in.wav"));
    struct Case {
        const char* plugin;
        std::vector<std::string> sets;
        float level;
        float offset;
    };
    const Case cases[] = {
        // Restored again under the key the restore asked for.
        {"loader", {"level=0.5"}, 0.5f, 0.0f},
        {"loaderstate", {"level=0.5"}, 0.5f, 0.0f},
        // Not asked for by the restore: a patch:Set message.
        {"loader", {"offset=0.25"}, 1.0f, 0.25f},
        {"loader", {"level=2", "offset=0.125"}, 2.0f, 0.125f},
    };
    for (const Case& c : cases) {
        for (const char* block : {"1", "16", "512"}) {
            for (const char* jobs : {"1", "2"}) {
                std::string label = std::string(c.plugin) + ", block " + block + ", jobs " + jobs;
                std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav"),
                                                 "-q", "--ignore-clipping", "-b", block, "-j",
                                                 jobs};
                for (const std::string& set : c.sets) {
                    args.insert(args.end(), {"-s", set});
                    label += ", " + set;
                }
                args.push_back(test_plugin(c.plugin));
                const CommandResult r = tonbrix(args);
                ASSERT_EQ(r.status, 0) << label << ": " << r.err;
                EXPECT_EQ(r.err, "") << label;
                const Sound out = read_sound(path("out.wav"));
                ASSERT_EQ(out.frames(), in.frames()) << label;
                ASSERT_EQ(out.channels, 2) << label;
                for (long f = 0; f < out.frames(); ++f) {
                    for (int ch = 0; ch < 2; ++ch) {
                        ASSERT_EQ(out.at(f, ch), in.at(f, ch) * c.level + c.offset)
                            << label << ", frame " << f << ", channel " << ch;
                    }
                }
            }
        }
    }
}

TEST_F(SetParameters, ValuesThePluginCannotTakeStopTheRunBeforeTheOutputIsTouched)
{
    const std::string logged = "plugin: loader: negative value -1\n";
    const std::string rejected =
        "Error: the plugin reported an error while taking the --set values.\n";
    struct Case {
        const char* plugin;
        std::string item;
        std::string err;
    };
    const Case cases[] = {
        // The work logs the error, once per instance (two channels).
        {"loader", "level=-1", logged + logged + rejected},
        {"loader", "offset=-1", logged + logged + rejected},
        // No restore key and no control atom input.
        {"loaderstate", "offset=1",
         "Error: cannot set parameter 'offset': the plugin's state restore does not take it and "
         "the plugin has no control atom input.\n"},
        {"loader", "level=999",
         "Error: the plugin did not finish taking the --set values: still busy after 10 seconds "
         "of silence.\n"},
    };
    for (const Case& c : cases) {
        for (const bool old : {true, false}) {
            const std::string label = c.plugin + (", " + c.item) + (old ? ", old output" : "");
            std::remove(path("out.wav").c_str());
            if (old) {
                write_bytes(path("out.wav"), "keep");
            }
            const CommandResult r = tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-q",
                                             "-s", c.item, test_plugin(c.plugin)});
            EXPECT_EQ(r.status, 1) << label;
            EXPECT_EQ(r.out, "") << label;
            EXPECT_EQ(r.err, c.err) << label;
            if (old) {
                EXPECT_EQ(read_file(path("out.wav")), "keep") << label;
            } else {
                EXPECT_FALSE(file_exists(path("out.wav"))) << label;
            }
            // No temporary file either.
            std::vector<std::string> names = {"data.bin", "in.wav", "lifecycle.log"};
            if (old) {
                names.push_back("out.wav");
            }
            EXPECT_EQ(folder_entries(dir_), names) << label;
        }
    }
}

// The LSP convolvers: their restore asks for the file under another key
// than the parameter their data declares, and they load it in the
// background. The whole output is the direct convolution of the input and
// the impulse response, from the first frame, at any block size.
TEST_F(SetParameters, LspConvolversConvolveFromTheFirstFrame)
{
    const Sound ir = make_sound(1, 64, 48000, wav_float, [](long f, int) {
        return f == 0 ? 0.5f : f == 1 ? -0.25f : f == 7 ? 0.125f : f == 40 ? 0.0625f : 0.0f;
    });
    write_sound(path("ir.wav"), ir);
    const Sound in = make_sound(1, 3000, 48000, wav_float, [](long f, int) {
        return static_cast<float>((f * 7919) % 2001 - 1000) / 4000.0f;
    });
    write_sound(path("noise.wav"), in);
    std::vector<double> expected(static_cast<std::size_t>(in.frames()), 0.0);
    for (long f = 0; f < in.frames(); ++f) {
        for (long k = 0; k < ir.frames() && k <= f; ++k) {
            expected[f] += static_cast<double>(ir.at(k, 0)) * in.at(f - k, 0);
        }
    }
    struct Case {
        const char* plugin;
        const char* set;   // the parameter
        const char* ports; // no dry signal; the file feeds the output
        int channels;      // the convolution is on channel 0, the others are silent
    };
    const Case cases[] = {
        {"http://lsp-plug.in/plugins/lv2/impulse_responses_mono", "ifn", "cs:1,dry:0", 1},
        {"http://lsp-plug.in/plugins/lv2/impulse_reverb_mono", "ifn0", "csf0:1,dry:0", 2},
    };
    for (const Case& c : cases) {
        for (const char* block : {"64", "100", "512", "4096"}) {
            const std::string label = std::string(c.plugin) + ", block " + block;
            const CommandResult r =
                convolver({"-i", path("noise.wav"), "-o", path("out.wav"), "-q", "-b", block,
                           "-s", std::string(c.set) + "=" + path("ir.wav"), "-p", c.ports,
                           c.plugin});
            ASSERT_EQ(r.status, 0) << label << ": " << r.err;
            EXPECT_EQ(r.err, "") << label;
            const Sound out = read_sound(path("out.wav"));
            ASSERT_EQ(out.frames(), in.frames()) << label;
            ASSERT_EQ(out.channels, c.channels) << label;
            long wrong = 0;
            for (long f = 0; f < out.frames() && wrong <= 5; ++f) {
                for (int ch = 0; ch < c.channels; ++ch) {
                    const double want = ch == 0 ? expected[f] : 0.0;
                    if (std::abs(out.at(f, ch) - want) > 1e-5) {
                        ++wrong;
                        ADD_FAILURE_AT(__FILE__, __LINE__)
                            << label << ", frame " << f << ", channel " << ch << ": "
                            << out.at(f, ch) << " instead of " << want;
                    }
                }
            }
        }
    }
}

// A plugin that logs an error (or, like zeroconvolv, a warning) while it
// takes a --set value fails the run before anything is written.
TEST_F(SetParameters, PluginThatRejectsAValueFailsTheRun)
{
    write_sound(path("noise.wav"), make_sound(1, 1000, 48000, wav_float,
                                              [](long f, int) { return (f % 10) / 20.0f; }));
    write_bytes(path("notsound.wav"), "this is no sound file\n");
    for (const bool old : {false, true}) {
        std::remove(path("out.wav").c_str());
        const std::string before = old ? "an earlier output" : "";
        if (old) {
            write_bytes(path("out.wav"), before);
        }
        const CommandResult r =
            convolver({"-i", path("noise.wav"), "-o", path("out.wav"), "-s",
                       "ir=" + path("notsound.wav"),
                       "http://gareus.org/oss/lv2/zeroconvolv#CfgMono"});
        EXPECT_EQ(r.status, 1) << old;
        // The plugin's own lines, then ours.
        EXPECT_NE(r.err.find("plugin: ZConvolv Convolver: Error: cannot open IR file.\n"),
                  std::string::npos)
            << r.err;
        const std::string ours =
            "Error: the plugin reported an error while taking the --set values.\n";
        ASSERT_GE(r.err.size(), ours.size());
        EXPECT_EQ(r.err.substr(r.err.size() - ours.size()), ours);
        if (old) {
            EXPECT_EQ(read_file(path("out.wav")), before);
        } else {
            EXPECT_FALSE(file_exists(path("out.wav")));
        }
        for (const std::string& name : folder_entries(dir_)) {
            EXPECT_EQ(name.find(".tonbrix-"), std::string::npos) << name;
        }
    }
}

// The convolver's own preset names a file of its bundle; every instance
// gets it (the no-op impulse: the input 64 frames later).
TEST_F(SetParameters, PresetWithAFileRestoresOnEveryInstance)
{
    const Sound in = make_sound(2, 1000, 48000, wav_float, [](long f, int c) {
        return static_cast<float>((f * 31 + c * 17) % 101 - 50) / 100.0f;
    });
    write_sound(path("noise.wav"), in);
    const CommandResult r =
        convolver({"-i", path("noise.wav"), "-o", path("out.wav"), "-P", "No-OP Mono",
                   "http://gareus.org/oss/lv2/zeroconvolv#Mono"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Sound out = read_sound(path("out.wav"));
    ASSERT_EQ(out.channels, 2);
    for (long f = 0; f < out.frames(); ++f) {
        for (int c = 0; c < 2; ++c) {
            const float expected = f < 64 ? 0.0f : in.at(f - 64, c);
            ASSERT_NEAR(out.at(f, c), expected, 1e-6f) << "frame " << f << ", channel " << c;
        }
    }
}
