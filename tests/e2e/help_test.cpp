// -h/--help and -V/--version: found anywhere on the line, before any mode,
// on standard output with status 0.
#include "support/e2e.h"

#include <sndfile.h>

#include <sstream>

namespace {

// The version of an installed Debian package, without its Debian revision;
// empty when dpkg cannot tell.
std::string package_version(const std::string& package)
{
    CommandSpec spec;
    spec.args = {"-W", "-f=${Version}", package};
    const CommandResult r = run_command("dpkg-query", spec);
    if (r.status != 0) {
        return "";
    }
    const std::string version = r.out.substr(r.out.find(':') + 1); // no epoch
    return version.substr(0, version.find_first_of("-+~"));
}

} // namespace

class Help : public E2E {};

TEST_F(Help, WinsOverEveryOtherOptionOnTheLine)
{
    const CommandResult plain = tonbrix({"--help"});
    ASSERT_EQ(plain.status, 0);
    ASSERT_EQ(plain.err, "");
    ASSERT_FALSE(plain.out.empty());
    const std::vector<std::vector<std::string>> lines = {
        {"-h"},
        {"-l", "-h"},
        {"-n", test_plugin("thru"), "--help"},
        {"-i", "missing.wav", "-o", path("out.wav"), "-h", test_plugin("thru")},
        {"--no-such-option", "-h"},
        {"-V", "-h"},
        {"--help", "--version"},
        {"-h", "--", "-V"},
    };
    for (const auto& args : lines) {
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.out, plain.out) << args[0];
        EXPECT_EQ(r.err, "") << args[0];
    }
    EXPECT_FALSE(file_exists(path("out.wav")));
}

TEST_F(Help, NamesEveryOptionWithinEightyColumns)
{
    const CommandResult r = tonbrix({"--help"});
    ASSERT_EQ(r.status, 0);
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(r.out.back(), '\n');
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), 80u) << line;
        EXPECT_EQ(line.find('\t'), std::string::npos) << line;
        EXPECT_TRUE(line.empty() || line.back() != ' ') << line;
    }
    for (const char* option :
         {"-l, --list", "-L, --list-presets", "-n, --nameports", "-h, --help", "-V, --version",
          "-i FILE", "-o FILE", "-r, --rate=N", "-n, --channels=N", "-P, --preset=NAME",
          "-p, --parameters=SYMBOL:VALUE", "-c, --connect=CHANNEL:[INSTANCE.]PORT",
          "-s, --set=PARAMETER=VALUE", "-b, --blocksize=N", "-m, --mono", "--ignore-clipping",
          "--compensate-latency", "--tail=SECONDS", "--output-format=TYPE[:ENCODING]",
          "--report", "--report-every=SECONDS", "-I, --info=PLUGIN", "--json", "-q, --quiet",
          "-j, --jobs=N", "--batch=FILE", "-i FOLDER -o FOLDER", "--then", "--midi=FILE",
          "--midi-out=FILE", "--save-preset=LABEL", "--preset-dir=DIR",
          "--automate=SYMBOL:TIME=VALUE[,TIME=VALUE...]"}) {
        EXPECT_NE(r.out.find(std::string("  ") + option), std::string::npos) << option;
    }
    for (const char* word : {"wav", "wavex", "w64", "rf64", "aiff", "caf", "au", "flac", "ogg",
                             "raw", "pcm16", "pcm24", "pcm32", "float", "double", "vorbis",
                             "patch:writable", "atom:Path", "LV2_PATH"}) {
        EXPECT_NE(r.out.find(std::string(" ") + word), std::string::npos) << word;
    }
    // The modes in the synopsis (a run of events may leave out its files,
    // a run of many files names folders or a job list, a run that saves a
    // preset may leave out its files), and seven examples: three of them
    // play, record and automate events, one saves a preset.
    EXPECT_EQ(r.out.rfind("Usage:\n  tonbrix -l|--list\n  tonbrix -L|--list-presets PLUGIN\n"
                          "  tonbrix -n|--nameports PLUGIN\n"
                          "  tonbrix -i INPUT -o OUTPUT [OPTION]... PLUGIN\n"
                          "  tonbrix [-i INPUT] [-o OUTPUT] --midi=FILE|--midi-out=FILE [OPTION]... "
                          "PLUGIN\n"
                          "  tonbrix -i FOLDER -o FOLDER | --batch=FILE [OPTION]... PLUGIN\n"
                          "  tonbrix [-i INPUT] [-o OUTPUT] --save-preset=LABEL [OPTION]... "
                          "PLUGIN\n"
                          "  tonbrix -I|--info PLUGIN\n",
                          0),
              0u);
    const std::size_t examples = r.out.find("\nExamples:\n");
    ASSERT_NE(examples, std::string::npos);
    int commands = 0;
    for (const std::string& line : lines_of(r.out.substr(examples))) {
        commands += line.rfind("  tonbrix ", 0) == 0 || line.find("| tonbrix ") != std::string::npos;
    }
    EXPECT_EQ(commands, 7);
}

TEST_F(Help, VersionNamesTheProgramAndTheLibrariesInUse)
{
    std::string sndfile = sf_version_string();
    sndfile = sndfile.substr(sndfile.find('-') + 1);
    const std::string lilv = package_version("liblilv-0-0");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"-V"}, {"--version"}, {"-l", "--version"},
                                               {"-i", "x.wav", "-V", "-o", "y.wav", "plugin"}}) {
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.err, "") << args[0];
        const std::vector<std::string> lines = lines_of(r.out);
        ASSERT_EQ(lines.size(), 3u) << r.out;
        EXPECT_EQ(lines[0], "tonbrix " TONBRIX_VERSION);
        EXPECT_EQ(lines[1].rfind("lilv ", 0), 0u) << lines[1];
        if (!lilv.empty()) {
            EXPECT_EQ(lines[1], "lilv " + lilv);
        }
        EXPECT_EQ(lines[2], "libsndfile " + sndfile);
    }
}

TEST_F(Help, OptionValuesAndArgumentsAfterDoubleDashAreNotRequests)
{
    // Each line would ask for help or the version if the value were read as
    // an option; instead the usual parse runs and fails.
    const std::vector<std::vector<std::string>> lines = {
        {"-i", "-h", "-o", path("out.wav"), test_plugin("thru")},
        {"-i", "in.wav", "-o", "-V", test_plugin("thru")},
        {"-i", "in.wav", "-o", path("out.wav"), "--tail", "-h", test_plugin("thru")},
        {"-i", "in.wav", "-o", path("out.wav"), "-P", "--version", test_plugin("thru")},
        {"--", "-h"},
        {"-l", "--", "--version"},
    };
    for (const auto& args : lines) {
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, 1) << testing::PrintToString(args);
        EXPECT_EQ(r.out.find("Usage:"), std::string::npos) << testing::PrintToString(args);
        EXPECT_EQ(r.out.find("tonbrix " TONBRIX_VERSION), std::string::npos);
        EXPECT_NE(r.err, "") << testing::PrintToString(args);
    }
}
