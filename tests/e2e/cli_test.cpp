// The command line: mode choice, usage text, raw-float rule, plugin lookup
// and the two listing modes, checked byte for byte with their statuses.
#include "support/e2e.h"

#include <sstream>

namespace {

std::string golden(const std::string& name)
{
    return read_file(std::string(TONBRIX_SOURCE_DIR) + "/tests/e2e/golden/" + name);
}

// The plugin list as lilv's own tool prints it, numbered from 1.
std::vector<std::string> installed_uris()
{
    CommandSpec spec;
    spec.env = {{"LV2_PATH", test_lv2_dir()}};
    const CommandResult ls = run_command("lv2ls", spec);
    std::vector<std::string> uris;
    std::istringstream lines(ls.out);
    for (std::string line; std::getline(lines, line);) {
        uris.push_back(line);
    }
    return uris;
}

const std::string mixed_ports = "==Audio Ports==\n"
                                "in: Input\n"
                                "side: Side\n"
                                "==Control Ports==\n"
                                "gain: Gain\n"
                                "bias: Bias\n";

} // namespace

class Cli : public E2E {};

TEST_F(Cli, NoArgumentsPrintsTheProcessingErrorsAndUsage)
{
    const CommandResult r = tonbrix({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tonbrix: missing option -i input\n"
                     "tonbrix: missing option -o output\n"
                     "tonbrix: missing option plugin\n" +
                         golden("usage.txt"));
}

TEST_F(Cli, OptionsOfTwoTablesMatchNone)
{
    const CommandResult r = tonbrix({"-l", "-i", "in.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tonbrix: invalid option \"-l\"\n" + golden("usage.txt"));
}

TEST_F(Cli, TwoPluginsWithoutThenAreToldAboutThen)
{
    // A second word that names a plugin (a URI or a list number) gets one
    // line on --then before the usage; any other extra word does not.
    const std::string hint =
        "tonbrix: a run names one plugin; plugins are chained with --then (PLUGIN --then "
        "PLUGIN).\n";
    struct Case {
        std::string extra;
        bool hinted;
    };
    const Case cases[] = {
        {test_plugin("thru"), true}, {"2", true}, {"urn:other", true}, {"b.wav", false}};
    for (const Case& c : cases) {
        const CommandResult r = tonbrix({"-i", "in.wav", "-o", "out.wav", test_plugin("thru"), c.extra});
        EXPECT_EQ(r.status, 1) << c.extra;
        EXPECT_EQ(r.out, "") << c.extra;
        EXPECT_EQ(r.err, "tonbrix: excess option " + c.extra + "\n" + (c.hinted ? hint : "") +
                             golden("usage.txt"))
            << c.extra;
    }
}

TEST_F(Cli, SkipExistingIsForFolderAndJobListRunsOnly)
{
    write_sound(path("in.wav"), make_sound(1, 10, 48000, wav_float, [](long, int) { return 0.5f; }));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--skip-existing", "-i", path("in.wav"), "-o", path("out.wav"),
                                   test_plugin("thru")},
          std::vector<std::string>{"-i", path("in.wav"), "-o", path("out.wav"), test_plugin("thru"),
                                   "--then", "--skip-existing", test_plugin("thru")}}) {
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Error: --skip-existing is for folder and --batch runs, which write many "
                         "files.\n");
        EXPECT_FALSE(file_exists(path("out.wav")));
    }
}

TEST_F(Cli, ListPrintsEveryPluginNumberedInCollectionOrder)
{
    const std::vector<std::string> uris = installed_uris();
    ASSERT_GE(uris.size(), 10u);
    std::string expected;
    for (std::size_t i = 0; i < uris.size(); ++i) {
        expected += std::to_string(i + 1) + "\t" + uris[i] + "\n";
    }
    for (const char* option : {"-l", "--list"}) {
        const CommandResult r = tonbrix({option});
        EXPECT_EQ(r.status, 1) << option;
        EXPECT_EQ(r.out, expected) << option;
        EXPECT_EQ(r.err, "") << option;
    }
}

TEST_F(Cli, ListWithNoPluginsInstalledPrintsNothing)
{
    const CommandResult r = tonbrix({"-l"}, "", {{"LV2_PATH", path("empty")}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

TEST_F(Cli, RelativePluginPathIsFound)
{
    // lilv itself cannot load bundles from a relative LV2_PATH entry.
    CommandSpec spec;
    spec.args = {"-C", "/", tonbrix_binary(), "-n", test_plugin("mixed")};
    spec.env = {{"LV2_PATH", test_lv2_dir().substr(1)}};
    const CommandResult r = run_command("env", spec);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, mixed_ports);
    EXPECT_EQ(r.err, "");
}

TEST_F(Cli, NameportsListsAudioThenControlInputsInPortOrder)
{
    for (const char* option : {"-n", "--nameports"}) {
        const CommandResult r = tonbrix({option, test_plugin("mixed")});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, mixed_ports);
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(Cli, NameportsLayouts)
{
    struct Case {
        const char* plugin;
        const char* listing;
    };
    const Case cases[] = {
        {"controlsonly", "==Audio Ports==\n==Control Ports==\nalpha: Alpha\nbeta: Beta\n"},
        {"noports", "==Audio Ports==\n==Control Ports==\n"},
        // A port without a name shows its symbol.
        {"noname", "==Audio Ports==\nin: Input\n==Control Ports==\nanon: anon\n"},
        // CV inputs among the control inputs, in port order.
        {"strictconnect", "==Audio Ports==\nin: Input\n==Control Ports==\ngain: Gain\ncv: CV\n"},
        // Writable parameters by URI: short name and label.
        {"params", "==Audio Ports==\nin: Input\n==Control Ports==\n==Parameters==\n"
                   "bool: A Bool\ndouble: A Double\nfloat: A Float\ngain: Gain\nint: An Int\n"
                   "long: A Long\npath: A File\nstring: A String\nuri: A URI\n"
                   "vector: A Vector\ngain: Other Gain\n"},
    };
    for (const Case& c : cases) {
        const CommandResult r = tonbrix({"-n", test_plugin(c.plugin)});
        EXPECT_EQ(r.status, 1) << c.plugin;
        EXPECT_EQ(r.out, c.listing) << c.plugin;
        EXPECT_EQ(r.err, "") << c.plugin;
    }
}

TEST_F(Cli, PluginNumbersFollowTheList)
{
    const std::vector<std::string> uris = installed_uris();
    ASSERT_GE(uris.size(), 10u);
    auto ports_of = [&](const std::string& text) { return tonbrix({"-n", text}); };
    struct Case {
        const char* text;
        std::size_t index; // into the list
    };
    const Case cases[] = {{"1", 0}, {"007", 6}, {"3abc", 2}, {" 3", 2}, {"+2", 1}};
    for (const Case& c : cases) {
        const CommandResult by_number = ports_of(c.text);
        const CommandResult by_uri = ports_of(uris[c.index]);
        EXPECT_EQ(by_number.status, 1) << c.text;
        EXPECT_EQ(by_number.out, by_uri.out) << c.text;
        EXPECT_EQ(by_number.err, "") << c.text;
        EXPECT_FALSE(by_number.out.empty()) << c.text;
    }
}

TEST_F(Cli, TextsThatNameNoPlugin)
{
    const std::string count = std::to_string(installed_uris().size());
    const std::string above = std::to_string(installed_uris().size() + 1);
    for (const std::string& text :
         {std::string("0"), std::string("+0"), std::string("-0"), std::string("-1"), above,
          std::string("99999999999999999999"), std::string("-99999999999999999999"),
          std::string("http://tonbrix.test/plugins/none"), std::string("not a uri"),
          // A URI that begins with a digit is read as a list number.
          "1" + count + "http://tonbrix.test/plugins/mixed", std::string("")}) {
        // "--" lets texts that begin with a dash through as the plugin.
        const CommandResult r = tonbrix({"-n", "--", text});
        EXPECT_EQ(r.status, 1) << text;
        EXPECT_EQ(r.out, "") << text;
        EXPECT_EQ(r.err, "No such plugin " + text + "\n") << text;
    }
}

TEST_F(Cli, ProcessingAndListPresetsReportAnUnknownPlugin)
{
    const CommandResult processing =
        tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "urn:nothing:here"});
    EXPECT_EQ(processing.status, 1);
    EXPECT_EQ(processing.out, "");
    EXPECT_EQ(processing.err, "No such plugin urn:nothing:here\n");
    EXPECT_FALSE(file_exists(path("out.wav")));

    const CommandResult presets = tonbrix({"-L", "0"});
    EXPECT_EQ(presets.status, 1);
    EXPECT_EQ(presets.out, "");
    EXPECT_EQ(presets.err, "No such plugin 0\n");
}

TEST_F(Cli, ListPresetsOfAPluginWithoutPresetsPrintsNothing)
{
    for (const char* option : {"-L", "--list-presets"}) {
        const CommandResult r = tonbrix({option, test_plugin("thru")});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.out, "") << option;
        EXPECT_EQ(r.err, "") << option;
    }
}

TEST_F(Cli, RawFloatRule)
{
    const std::string rejected = "--rate/-r and --channels/-n must both be specified or not at all";
    write_sound(path("in.wav"), make_sound(1, 8, 48000, wav_float, [](long, int) { return 0.25f; }));
    struct Case {
        std::vector<std::string> options;
        bool accepted;
    };
    const Case cases[] = {
        {{"-r", "44100"}, false},
        {{"--rate", "0"}, false},
        {{"--channels", "1"}, false},
        {{"-n", "2"}, false}, // -n is the channel count in a processing command line
        {{"-r", "0", "-n", "0"}, true},
        {{"-r", "44100", "-n", "0"}, true},
        {{"-r", "-3", "-n", "-4"}, true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(test_plugin("thru"));
        const CommandResult r = tonbrix(args);
        const std::string label = c.options[0] + " " + c.options[1];
        if (c.accepted) {
            // Opened by its header: a normal run.
            EXPECT_EQ(r.status, 0) << label << r.err;
            EXPECT_EQ(read_sound(path("out.wav")).frames(), 8) << label;
        } else {
            EXPECT_EQ(r.status, 1) << label;
            EXPECT_EQ(r.out, "") << label;
            EXPECT_EQ(r.err, rejected) << label;
            EXPECT_FALSE(file_exists(path("out.wav"))) << label;
        }
        std::remove(path("out.wav").c_str());
    }
}

TEST_F(Cli, ListPresetsAppliesTheRawFloatRuleToo)
{
    const CommandResult r = tonbrix({"-L", test_plugin("thru"), "-r", "44100"});
    // -r belongs to no table that accepts -L: the usage text.
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("usage:\n"), std::string::npos);
}
