// Listing presets and loading one before the control values.
#include "support/e2e.h"
#include "support/messages.h"

#include <algorithm>
#include <sstream>

namespace {

const std::string plugin = test_plugin("presets");

} // namespace

class Presets : public E2E {
protected:
    void SetUp() override
    {
        E2E::SetUp();
        write_sound(path("in.wav"), make_sound(1, 16, 48000, wav_float, [](long, int) { return 0.0f; }));
    }

    // Runs the plugin with extra options; the control inputs a..e come
    // back in output frames 0..4.
    CommandResult run(std::vector<std::string> options)
    {
        std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav"),
                                         "--ignore-clipping"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(plugin);
        return tonbrix(args);
    }

    std::vector<float> controls()
    {
        const Sound out = read_sound(path("out.wav"));
        return std::vector<float>(out.samples.begin(), out.samples.begin() + 5);
    }
};

TEST_F(Presets, ListShowsTheFirstLabelOfEveryLabelledPreset)
{
    for (const char* option : {"-L", "--list-presets"}) {
        const CommandResult r = tonbrix({option, plugin});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        std::vector<std::string> lines = lines_of(r.out);
        std::sort(lines.begin(), lines.end());
        // Both presets labelled Twin; lilv keeps one label of the preset
        // with two; the preset without a label is left out.
        EXPECT_EQ(lines, (std::vector<std::string>{"Preset: Alpha", "Preset: Beta",
                                                   "Preset: Outputs", "Preset: Second",
                                                   "Preset: Strings", "Preset: Twin",
                                                   "Preset: Twin", "Preset: Unknown"}));
    }
}

TEST_F(Presets, ListByPluginNumber)
{
    const CommandResult by_uri = tonbrix({"-L", plugin});
    const CommandResult list = tonbrix({"-l"});
    std::string number;
    for (const std::string& line : lines_of(list.out)) {
        if (line.size() > plugin.size() && line.substr(line.size() - plugin.size()) == plugin) {
            number = line.substr(0, line.find('\t'));
        }
    }
    ASSERT_FALSE(number.empty());
    const CommandResult by_number = tonbrix({"-L", number});
    EXPECT_EQ(by_number.status, 0);
    // lilv lists presets in no fixed order from one process to the next.
    std::vector<std::string> numbered = lines_of(by_number.out);
    std::vector<std::string> named = lines_of(by_uri.out);
    std::sort(numbered.begin(), numbered.end());
    std::sort(named.begin(), named.end());
    EXPECT_EQ(numbered, named);
}

TEST_F(Presets, LoadedValuesBecomeStartValues)
{
    struct Case {
        const char* preset;
        std::vector<float> controls; // a, b, c, d, e
    };
    const Case cases[] = {
        // Integer literals come as atom:Int and apply like floats.
        {"Alpha", {0.5f, 8000.0f, -0.25f, 0.0f, 0.0f}},
        // A double and a boolean.
        {"Beta", {1.0f, 1.0f, 0.0f, 0.0f, 0.0f}},
        // The string value for a is ignored; b applies.
        {"Strings", {0.0f, 4.0f, 0.0f, 0.0f, 0.0f}},
        // A value for a symbol the plugin lacks is ignored.
        {"Unknown", {0.0f, 0.0f, 5.0f, 0.0f, 0.0f}},
        // Values for an output and an audio port change nothing that is read.
        {"Outputs", {0.0f, 0.0f, 0.0f, 6.0f, 0.0f}},
        {"Second", {3.0f, 0.0f, 0.0f, 0.0f, 0.0f}},
    };
    for (const Case& c : cases) {
        for (const char* option : {"-P", "--preset"}) {
            const CommandResult r = run({option, c.preset});
            ASSERT_EQ(r.status, 0) << c.preset << r.err;
            EXPECT_EQ(r.out, one_instance_notes) << c.preset;
            EXPECT_EQ(r.err, "") << c.preset;
            EXPECT_EQ(controls(), c.controls) << c.preset;
        }
    }
}

TEST_F(Presets, TwoPresetsWithOneLabelLoadTheFirstListed)
{
    // twin1 (a = 1) and twin2 (a = 2) share the label; -L lists twin1 first.
    const CommandResult r = run({"-P", "Twin"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(controls()[0], 1.0f);
}

TEST_F(Presets, ParametersWinOverThePreset)
{
    const CommandResult r = run({"-P", "Alpha", "-p", "b:2.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(controls(), (std::vector<float>{0.5f, 2.5f, -0.25f, 0.0f, 0.0f}));
}

TEST_F(Presets, EveryInstanceReceivesThePreset)
{
    // Three channels through a one-input plugin: three instances, one
    // output channel each, and every one of them sees the preset.
    write_sound(path("in.wav"), make_sound(3, 16, 48000, wav_float, [](long, int) { return 0.0f; }));
    const CommandResult r = run({"-P", "Alpha"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Note: Running 3 instances of the plugin.\n"
                     "Note: Running an instance of the plugin per channel\n");
    const Sound out = read_sound(path("out.wav"));
    ASSERT_EQ(out.channels, 3);
    for (int channel = 0; channel < 3; ++channel) {
        EXPECT_EQ(out.at(0, channel), 0.5f) << channel;
        EXPECT_EQ(out.at(1, channel), 8000.0f) << channel;
        EXPECT_EQ(out.at(2, channel), -0.25f) << channel;
    }
}

TEST_F(Presets, NamesMatchWholeLabelsExactly)
{
    // Checked before the input is opened: the missing input goes unreported.
    for (const char* name : {"alpha", "Alph", "Alpha ", "First", "", "Nolabel"}) {
        const CommandResult r = tonbrix({"-i", path("missing.wav"), "-o", path("out.wav"), "-P",
                                         name, plugin});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.out, "") << name;
        EXPECT_EQ(r.err, "Preset '" + std::string(name) + "' was not found.\n") << name;
        EXPECT_FALSE(file_exists(path("out.wav"))) << name;
    }
}

TEST_F(Presets, PluginWithoutPresets)
{
    const CommandResult r =
        tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-P", "Alpha", test_plugin("thru")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Preset 'Alpha' was not found.\n");
}

TEST_F(Presets, RealPluginPresets)
{
    const std::string detune = "http://drobilla.net/plugins/mda/Detune";
    const CommandResult list = tonbrix_system({"-L", detune});
    if (list.status == 1 && list.err == "No such plugin " + detune + "\n") {
        GTEST_SKIP() << "mda-lv2 is not installed";
    }
    ASSERT_EQ(list.status, 0) << list.err;
    const std::vector<std::string> lines = lines_of(list.out);
    ASSERT_FALSE(lines.empty());
    const std::string label = lines.front().substr(std::string("Preset: ").size());

    write_sound(path("in.wav"), make_sound(2, 4800, 48000, wav_float,
                                           [](long f, int) { return (f % 100) / 400.0f; }));
    const CommandResult run = tonbrix_system(
        {"-i", path("in.wav"), "-o", path("out.wav"), "-P", label, detune});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(read_sound(path("out.wav")).frames(), 4800);
}
