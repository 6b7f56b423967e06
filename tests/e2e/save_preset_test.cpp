// --save-preset: the state of an instance saved as an LV2 preset bundle, read
// back by -L and -P (by label, URI or bundle path), in single runs and
// chains; where bundles go and how they are replaced; the errors that stop
// a run before anything is written.
#include "support/e2e.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::string learn = test_plugin("learn");
const std::string note_prefix = "Note: Saved the preset '";

// The bundle folder a save's note names, or "" when the note is not there.
std::string noted_bundle(const std::string& out, const std::string& label)
{
    const std::string head = note_prefix + label + "' in ";
    const std::size_t at = out.find(head);
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t end = out.find('\n', at);
    return out.substr(at + head.size(), end - at - head.size());
}

// Every file under a folder with its bytes, by path relative to it. The
// lines of a .ttl file are sorted, without the " ;" between properties:
// lilv writes a state's properties in the order of their URIDs, which
// differ from one process to the next.
std::vector<std::pair<std::string, std::string>> folder_files(const std::string& dir)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (entry.is_directory()) {
            continue;
        }
        std::string bytes = entry.is_symlink() ? "a link" : read_file(entry.path().string());
        if (entry.path().extension() == ".ttl") {
            std::vector<std::string> lines = lines_of(bytes);
            for (std::string& line : lines) {
                if (line.ends_with(" ;")) {
                    line.resize(line.size() - 2); // only the last property has none
                }
            }
            std::sort(lines.begin(), lines.end());
            bytes.clear();
            for (const std::string& line : lines) {
                bytes += line + "\n";
            }
        }
        files.emplace_back(std::filesystem::relative(entry.path(), dir).string(), bytes);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The largest difference between two files of raw floats of one length.
float largest_difference(const std::string& a, const std::string& b)
{
    if (a.size() != b.size() || a.size() % sizeof(float) != 0) {
        return 1e30f;
    }
    float largest = 0.0f;
    for (std::size_t at = 0; at < a.size(); at += sizeof(float)) {
        float x = 0.0f;
        float y = 0.0f;
        std::memcpy(&x, a.data() + at, sizeof x);
        std::memcpy(&y, b.data() + at, sizeof y);
        largest = std::max(largest, std::abs(x - y));
    }
    return largest;
}

} // namespace

class SavePreset : public E2E {
protected:
    void SetUp() override
    {
        E2E::SetUp();
        std::filesystem::create_directories(presets());
        std::filesystem::create_directories(path("home"));
        write_sound(path("in.wav"), make_sound(2, 4800, 48000, wav_float, [](long f, int c) {
                        return static_cast<float>((f * 7919 + c * 31) % 2001 - 1000) / 2500.0f;
                    }));
    }

    std::string presets() const { return path("presets"); }

    // tonbrix with the test bundles (and the system's with `system`), the
    // preset folder on LV2_PATH and HOME in the test's folder.
    CommandResult run(const std::vector<std::string>& args, bool system = false) const
    {
        const std::string lv2 =
            test_lv2_dir() + (system ? ":/usr/lib/lv2" : "") + ":" + presets();
        // The convolvers leave FFT plans behind when freed: their own leak.
        return tonbrix(args, "",
                       {{"LV2_PATH", lv2}, {"HOME", path("home")},
                        {"ASAN_OPTIONS", "detect_leaks=0"}});
    }

    bool installed(const std::string& plugin) const
    {
        return run({"-I", plugin}, true).status == 0;
    }

    // The names in the preset folder.
    std::vector<std::string> saved() const { return folder_entries(presets()); }
};

// Saving what -p and -s set, without -i and -o, then loading it with -P,
// gives the bytes of the run with the original options, also after the
// files the options named are gone (the preset holds copies). The LSP
// convolver computes in FFT blocks whose phase follows the silence it ran
// on while loading its file: there only rounding may differ. Loading it
// and saving it again under its label gives the same bundle.
TEST_F(SavePreset, RoundTripGivesTheBytesOfTheOriginalOptions)
{
    const Sound ir = make_sound(1, 200, 48000, wav_float, [](long f, int) {
        return f == 0 ? 0.5f : f == 3 ? -0.25f : f == 150 ? 0.125f : 0.0f;
    });
    struct Case {
        std::string name;
        std::string plugin;
        bool system;
        std::vector<std::string> settings;
        bool audio; // eg-params has no audio ports: only its saved state is compared
        float tolerance = 0.0f; // 0: the same bytes
    };
    const std::vector<Case> cases = {
        {"test plugin with a file and a control", learn, false,
         {"-p", "gain:2.5", "-s", "scale=" + path("scale.txt")}, true},
        {"eg-amp", "http://lv2plug.in/plugins/eg-amp", true, {"-p", "gain:-7.25"}, true},
        {"fil4, many controls", "http://gareus.org/oss/lv2/fil4#mono", true,
         {"-p", "gain:-3.5,HSsec:1,HSfreq:5000,HSgain:4.5,LSsec:1,LSfreq:120,LSgain:-6",
          "-p", "sec1:1,freq1:800,gain1:3.25,q1:2,HighPass:1,HPfreq:60,LowPass:1,LPfreq:9000"},
         true},
        {"eg-params, every type", "http://lv2plug.in/plugins/eg-params", true,
         {"-s", "int=42", "-s", "long=1234567890123", "-s", "float=0.5", "-s", "double=0.25",
          "-s", "bool=true", "-s", "string=Hello, preset", "-s", "path=" + path("scale.txt"),
          "-s", "spring=0.75"},
         false},
        {"zeroconvolv with an impulse response", "http://gareus.org/oss/lv2/zeroconvolv#CfgMono",
         true, {"-s", "ir=" + path("ir.wav")}, true},
        {"LSP convolver with an impulse response",
         "http://lsp-plug.in/plugins/lv2/impulse_responses_mono", true,
         {"-s", "ifn=" + path("ir.wav"), "-p", "cs:1,dry:0"}, true, 1e-5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.system && !installed(c.plugin)) {
            std::printf("skipped %s: not installed\n", c.name.c_str());
            continue;
        }
        std::filesystem::remove_all(presets());
        std::filesystem::create_directories(presets());
        write_bytes(path("scale.txt"), "0.75\n");
        write_sound(path("ir.wav"), ir);
        // Raw floats: every bit of the output, and no header with a time in it.
        std::vector<std::string> original = {"-q", "-i", path("in.wav"), "-o", path("a.raw"),
                                             "--output-format=raw:float"};
        original.insert(original.end(), c.settings.begin(), c.settings.end());
        original.push_back(c.plugin);
        if (c.audio) {
            const CommandResult r = run(original, c.system);
            ASSERT_EQ(r.status, 0) << r.err;
        }

        std::vector<std::string> save = {"--preset-dir=" + presets(), "--save-preset=Round Trip"};
        save.insert(save.end(), c.settings.begin(), c.settings.end());
        save.push_back(c.plugin);
        const CommandResult saving = run(save, c.system);
        ASSERT_EQ(saving.status, 0) << saving.err;
        EXPECT_EQ(saving.err, "");
        // After the worker's trace and what the plugin prints.
        const std::string bundle = noted_bundle(saving.out, "Round Trip");
        EXPECT_TRUE(saving.out.ends_with(note_prefix + "Round Trip' in " + bundle + "\n"))
            << saving.out;
        ASSERT_EQ(std::filesystem::path(bundle).parent_path().string(), presets());
        EXPECT_TRUE(bundle.ends_with(".preset.lv2")) << bundle;
        EXPECT_EQ(saved().size(), 1u);
        EXPECT_TRUE(file_exists(bundle + "/manifest.ttl"));
        EXPECT_TRUE(file_exists(bundle + "/Round_Trip.ttl"));

        const CommandResult listed = run({"-L", c.plugin}, c.system);
        EXPECT_NE(listed.out.find("Preset: Round Trip\n"), std::string::npos) << listed.out;

        // The files the options named are gone; the preset has its own.
        std::remove(path("scale.txt").c_str());
        std::remove(path("ir.wav").c_str());
        if (c.audio) {
            const CommandResult loaded =
                run({"-q", "-i", path("in.wav"), "-o", path("b.raw"), "--output-format=raw:float",
                     "-P", "Round Trip", c.plugin},
                    c.system);
            ASSERT_EQ(loaded.status, 0) << loaded.err;
            EXPECT_EQ(loaded.err, "");
            const std::string original_bytes = read_file(path("a.raw"));
            const std::string preset_bytes = read_file(path("b.raw"));
            EXPECT_EQ(original_bytes.size(), 4800u * 2 * sizeof(float));
            if (c.tolerance == 0.0f) {
                EXPECT_TRUE(original_bytes == preset_bytes)
                    << "the preset's output differs from the original's";
            } else {
                EXPECT_LE(largest_difference(original_bytes, preset_bytes), c.tolerance);
            }
        }
        const auto first = folder_files(bundle);
        for (const auto& [name, bytes] : first) {
            EXPECT_NE(bytes, "a link") << name;
            EXPECT_EQ(bytes.find(dir_), std::string::npos) << name << " names an absolute path";
        }
        const CommandResult again = run(
            {"--preset-dir=" + presets(), "--save-preset=Round Trip", "-P", "Round Trip",
             c.plugin},
            c.system);
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(noted_bundle(again.out, "Round Trip"), bundle);
        EXPECT_EQ(folder_files(bundle), first);
        EXPECT_EQ(saved().size(), 1u);
    }
}

// eg-params keeps every type of value it was given.
TEST_F(SavePreset, EveryParameterTypeIsInThePreset)
{
    const std::string plugin = "http://lv2plug.in/plugins/eg-params";
    if (!installed(plugin)) {
        GTEST_SKIP() << "lv2-examples is not installed";
    }
    write_bytes(path("notes.txt"), "some notes\n");
    const CommandResult r =
        run({"--preset-dir=" + presets(), "--save-preset=Types", "-s", "int=42", "-s",
             "long=1234567890123", "-s", "double=0.25", "-s", "bool=true", "-s",
             "string=Hello, preset", "-s", "path=" + path("notes.txt"), plugin},
            true);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string bundle = noted_bundle(r.out, "Types");
    const std::string ttl = read_file(bundle + "/Types.ttl");
    for (const char* value : {"42", "1234567890123", "0.25", "true", "\"Hello, preset\"",
                              "<notes.txt>"}) {
        EXPECT_NE(ttl.find(value), std::string::npos) << value << " is not in\n" << ttl;
    }
    EXPECT_EQ(read_file(bundle + "/notes.txt"), "some notes\n");
}

// With a processing run the state is saved after the last block, from the
// first instance: what the plugin learned while running is kept. The
// output may be left out then.
TEST_F(SavePreset, WhatThePluginLearnedWhileRunningIsKept)
{
    // Channel 1 peaks at 0.8, channel 2 (the second instance) at 0.3.
    write_sound(path("loud.wav"), make_sound(2, 3000, 48000, wav_float, [](long f, int c) {
                    return f == 2000 ? (c == 0 ? -0.8f : 0.3f) : 0.01f;
                }));
    write_sound(path("quiet.wav"), make_sound(1, 100, 48000, wav_float,
                                              [](long, int) { return 0.0f; }));
    for (const bool output : {true, false}) {
        SCOPED_TRACE(output ? "with -o" : "without -o");
        std::filesystem::remove_all(presets());
        std::vector<std::string> args = {"-q", "-i", path("loud.wav")};
        if (output) {
            args.insert(args.end(), {"-o", path("out.wav")});
        }
        args.insert(args.end(), {"--preset-dir=" + presets(), "--save-preset=Learned", learn});
        const CommandResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, ""); // -q: no note
        EXPECT_EQ(file_exists(path("out.wav")), output);
        std::remove(path("out.wav").c_str());

        const CommandResult loaded = run({"-q", "-i", path("quiet.wav"), "-o", path("q.wav"),
                                          "--report", "-P", "Learned", learn});
        ASSERT_EQ(loaded.status, 0) << loaded.err;
        EXPECT_EQ(loaded.out, "peak: 0.8\n");
    }
}

// A label saved again replaces its own bundle, whole and in one step; a
// label whose bundle name is taken by another gets a name of its own.
TEST_F(SavePreset, SavingALabelAgainReplacesItsBundle)
{
    const auto save = [&](const std::string& label, const std::string& gain) {
        return run({"--preset-dir=" + presets(), "--save-preset=" + label, "-p", "gain:" + gain,
                    "-s", "scale=" + path("scale.txt"), learn});
    };
    write_bytes(path("scale.txt"), "2\n");
    const CommandResult first = save("Voice EQ", "2");
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string bundle = noted_bundle(first.out, "Voice EQ");
    EXPECT_EQ(bundle, presets() + "/Learn_Voice_EQ.preset.lv2");
    write_bytes(bundle + "/stale.txt", "from before");

    write_bytes(path("scale.txt"), "3\n");
    const CommandResult second = save("Voice EQ", "4");
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(noted_bundle(second.out, "Voice EQ"), bundle);
    EXPECT_EQ(saved(), std::vector<std::string>{"Learn_Voice_EQ.preset.lv2"});
    EXPECT_FALSE(file_exists(bundle + "/stale.txt"));

    // Another label that makes the same name.
    const CommandResult other = save("Voice-EQ", "1");
    ASSERT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(noted_bundle(other.out, "Voice-EQ"), presets() + "/Learn_Voice_EQ_2.preset.lv2");

    // The folder need not be where plugins are looked for.
    for (int time = 0; time < 2; ++time) {
        const CommandResult elsewhere = tonbrix(
            {"--preset-dir=" + path("elsewhere"), "--save-preset=Voice EQ", learn});
        ASSERT_EQ(elsewhere.status, 0) << elsewhere.err;
        EXPECT_EQ(noted_bundle(elsewhere.out, "Voice EQ"),
                  path("elsewhere") + "/Learn_Voice_EQ.preset.lv2");
    }
    EXPECT_EQ(folder_entries(path("elsewhere")),
              std::vector<std::string>{"Learn_Voice_EQ.preset.lv2"});

    const CommandResult listed = run({"-L", learn});
    std::vector<std::string> lines = lines_of(listed.out);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"Preset: Voice EQ", "Preset: Voice-EQ"}));

    write_sound(path("one.wav"), make_sound(1, 4, 48000, wav_float,
                                            [](long, int) { return 0.0625f; }));
    const CommandResult loaded =
        run({"-q", "-i", path("one.wav"), "-o", path("out.wav"), "-P", "Voice EQ", learn});
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(read_sound(path("out.wav")).at(0, 0), 0.0625f * 4 * 3);
}

// Everything that stops a save stops it before the preset or the output
// is written, and leaves nothing behind.
TEST_F(SavePreset, ErrorsStopTheRunBeforeAnythingIsWritten)
{
    write_bytes(path("a file"), "not a folder");
    struct Case {
        std::string name;
        std::vector<std::string> options;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"empty label",
         {"--save-preset", "", "--preset-dir=" + presets()},
         "Error: the preset's label is empty; --save-preset needs a name.\n"},
        {"empty label after =",
         {"--save-preset=", "--preset-dir=" + presets()},
         "Error: the preset's label is empty; --save-preset needs a name.\n"},
        {"blank label",
         {"--save-preset= ", "--preset-dir=" + presets()},
         "Error: the preset's label is empty; --save-preset needs a name.\n"},
        {"folder that is a file",
         {"--save-preset=X", "--preset-dir=" + path("a file")},
         "Error: cannot save presets in '" + path("a file") + "': Not a directory.\n"},
        {"system preset",
         {"--save-preset=Alpha", "--preset-dir=" + presets()},
         ""},
        {"failing save",
         {"--save-preset=X", "--preset-dir=" + presets(), "-p", "fail:1"},
         "plugin: learn: cannot save while fail is set\n"
         "Error: the plugin could not save its state: it reported an unknown error.\n"},
        {"--preset-dir alone",
         {"--preset-dir=" + presets()},
         "Error: --preset-dir says where --save-preset saves; give --save-preset too.\n"},
        {"a folder of files",
         {"--save-preset=X", "--preset-dir=" + presets(), "-i", path("batch"), "-o",
          path("batch-out")},
         "Error: --save-preset saves the state of one run; folders and --batch job lists run "
         "many files.\n"},
    };
    std::filesystem::create_directories(path("batch"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool presets_plugin = c.name == "system preset";
        std::vector<std::string> args = {"-q"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        if (std::find(args.begin(), args.end(), "-i") == args.end()) {
            args.insert(args.end(), {"-i", path("in.wav"), "-o", path("out.wav")});
        }
        args.push_back(presets_plugin ? test_plugin("presets") : learn);
        const CommandResult r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        if (presets_plugin) {
            EXPECT_TRUE(r.err.starts_with("Error: the plugin already has a preset 'Alpha' in '" +
                                          test_lv2_dir() + "/presets.lv2', a system preset "
                                          "outside '" + presets() +
                                          "', which is not replaced; choose another label.\n"))
                << r.err;
        } else {
            EXPECT_EQ(r.err, c.err);
        }
        EXPECT_FALSE(file_exists(path("out.wav")));
        EXPECT_EQ(saved(), std::vector<std::string>{});
    }
    if (::geteuid() != 0) {
        ::chmod(presets().c_str(), 0555);
        const CommandResult r = run({"--save-preset=X", "--preset-dir=" + presets(), learn});
        ::chmod(presets().c_str(), 0755);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Error: cannot save presets in '" + presets() + "': Permission denied.\n");
        EXPECT_EQ(saved(), std::vector<std::string>{});
    }
}

// -P takes a label, the preset's URI, its bundle folder or its .ttl file;
// the bundle need not be where plugins are looked for.
TEST_F(SavePreset, PresetByLabelUriOrBundlePath)
{
    write_bytes(path("scale.txt"), "0.5\n");
    const CommandResult r = run({"--preset-dir=" + path("project"), "--save-preset=Kept", "-p",
                                 "gain:3", "-s", "scale=" + path("scale.txt"), learn});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string bundle = noted_bundle(r.out, "Kept");
    const std::string uri = "file://" + bundle + "/Kept.ttl";
    write_sound(path("one.wav"), make_sound(1, 4, 48000, wav_float,
                                            [](long, int) { return 0.25f; }));
    for (const std::string& name : {bundle, bundle + "/", bundle + "/Kept.ttl", uri}) {
        SCOPED_TRACE(name);
        std::remove(path("out.wav").c_str());
        const CommandResult loaded =
            run({"-q", "-i", path("one.wav"), "-o", path("out.wav"), "-P", name, learn});
        ASSERT_EQ(loaded.status, 0) << loaded.err;
        EXPECT_EQ(read_sound(path("out.wav")).at(0, 0), 0.25f * 3 * 0.5f);
    }
    // The preset's URI among the plugin's presets, from its folder on LV2_PATH.
    const CommandResult listed = tonbrix({"-L", "--json", learn}, "",
                                         {{"LV2_PATH", test_lv2_dir() + ":" + path("project")}});
    EXPECT_NE(listed.out.find(uri), std::string::npos) << listed.out;
    const CommandResult by_uri = tonbrix(
        {"-q", "-i", path("one.wav"), "-o", path("out.wav"), "-P", uri, learn}, "",
        {{"LV2_PATH", test_lv2_dir() + ":" + path("project")}});
    EXPECT_EQ(by_uri.status, 0) << by_uri.err;

    // A bundle without a preset of this plugin, and a path that is nothing.
    for (const std::string& name : {test_lv2_dir() + "/presets.lv2", path("nothing.lv2")}) {
        const CommandResult none =
            run({"-q", "-i", path("one.wav"), "-o", path("out.wav"), "-P", name, learn});
        EXPECT_EQ(none.status, 1);
        EXPECT_EQ(none.err, "Preset '" + name + "' was not found.\n");
    }
}

// In a chain every part saves its own plugin's preset, after its position.
TEST_F(SavePreset, ChainPartsSaveTheirOwnPresets)
{
    const CommandResult r =
        run({"-i", path("in.wav"), "-o", path("out.wav"), "--preset-dir=" + presets(), "-p",
             "gain:2", "--save-preset=First", learn, "--then", "-p", "gain:3",
             "--save-preset=Second", learn});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("1: " + note_prefix + "First' in " + presets() +
                         "/Learn_First.preset.lv2\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("2: " + note_prefix + "Second' in " + presets() +
                         "/Learn_Second.preset.lv2\n"),
              std::string::npos)
        << r.out;
    // Without -i and -o too, and only the notes of the saves.
    const CommandResult bare = run({"--preset-dir=" + presets(), "-p", "gain:3.5",
                                    "--save-preset=Third", learn, "--then", test_plugin("thru")});
    ASSERT_EQ(bare.status, 0) << bare.err;
    EXPECT_EQ(bare.out, "1: " + note_prefix + "Third' in " + presets() +
                            "/Learn_Third.preset.lv2\n");

    write_sound(path("one.wav"), make_sound(1, 4, 48000, wav_float,
                                            [](long, int) { return 0.25f; }));
    for (const auto& [label, gain] : {std::pair{"First", 2.0f}, {"Second", 3.0f}, {"Third", 3.5f}}) {
        const CommandResult loaded =
            run({"-q", "-i", path("one.wav"), "-o", path("p.wav"), "-P", label, learn});
        ASSERT_EQ(loaded.status, 0) << loaded.err;
        EXPECT_EQ(read_sound(path("p.wav")).at(0, 0), 0.25f * gain) << label;
    }
}

// Without --preset-dir the preset goes to ~/.lv2, which -L reads while
// LV2_PATH is unset, as lilv does.
TEST_F(SavePreset, UserFolderIsTheDefault)
{
    const std::string amp = "http://lv2plug.in/plugins/eg-amp";
    if (!installed(amp)) {
        GTEST_SKIP() << "lv2-examples is not installed";
    }
    const std::vector<std::string> prefix = {"env", "-u", "LV2_PATH", "HOME=" + path("home")};
    const CommandResult r =
        tonbrix_under(prefix, {"--save-preset=Mine", "-p", "gain:-3", amp});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, note_prefix + "Mine' in " + path("home") +
                         "/.lv2/Simple_Amplifier_Mine.preset.lv2\n");
    const CommandResult listed = tonbrix_under(prefix, {"-L", amp});
    EXPECT_EQ(listed.out, "Preset: Mine\n");
}
