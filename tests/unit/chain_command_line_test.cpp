#include "cli/chain_command_line.h"
#include "cli/option_tables.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace tonbrix;
using namespace tonbrix::cli;

namespace {

std::vector<std::string_view> views(const std::vector<std::string>& words)
{
    return {words.begin(), words.end()};
}

std::string joined(const std::vector<std::string>& words)
{
    std::ostringstream text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        text << (i > 0 ? " " : "") << words[i];
    }
    return text.str();
}

// A chain as text: "run: WORDS | OPTIONS > PLUGIN | ...".
std::string described(const ChainCommandLine& chain)
{
    std::string text = "run: " + joined(chain.run_options);
    for (const ChainSegment& segment : chain.segments) {
        text += " | " + joined(segment.options) + (segment.options.empty() ? "> " : " > ") +
                segment.plugin;
    }
    return text;
}

} // namespace

TEST(ChainCommandLine, IsAChainOnlyWithTheWordThen)
{
    EXPECT_FALSE(is_chain({}));
    EXPECT_FALSE(is_chain({"-i", "a", "-o", "b", "urn:x"}));
    EXPECT_FALSE(is_chain({"--thenx", "-then", "--the"}));
    EXPECT_TRUE(is_chain({"urn:x", "--then", "urn:y"}));
}

TEST(ChainCommandLine, SortsEachSegmentsWordsIntoTheRunsAndThePlugins)
{
    struct Case {
        std::vector<std::string> words;
        std::string expected;
    };
    const Case cases[] = {
        {{"-i", "a.wav", "-o", "b.wav", "urn:x", "--then", "urn:y"},
         "run: -i a.wav -o b.wav | > urn:x | > urn:y"},
        // Run options in any segment; plugin options stay with their plugin.
        {{"-p", "gain:1", "urn:x", "--then", "-i", "a", "-P", "Warm", "urn:y", "-o", "b", "-m"},
         "run: -i a -o b | -p gain:1 > urn:x | -P Warm -m > urn:y"},
        // Every plugin option, long and short; values glued or in the next word.
        {{"--parameters=g:1", "--preset", "W", "-sfile=x", "-c", "1:in", "--mono", "7", "--then",
          "--set", "a=b", "--connect=2:in", "8"},
         "run:  | --parameters=g:1 --preset W -sfile=x -c 1:in --mono > 7 | --set a=b "
         "--connect=2:in > 8"},
        // The event options belong to their plugin.
        {{"--midi", "a.mid", "urn:x", "--then", "--automate", "g:0=1", "--midi-out=o.mid", "urn:y"},
         "run:  | --midi a.mid > urn:x | --automate g:0=1 --midi-out=o.mid > urn:y"},
        // A preset saved belongs to its plugin; the folder it goes to, to the run.
        {{"--save-preset=Warm", "urn:x", "--then", "--preset-dir", "p", "--save-preset", "Cold",
          "urn:y"},
         "run: --preset-dir p | --save-preset=Warm > urn:x | --save-preset Cold > urn:y"},
        // Every run option.
        {{"-r", "48000", "-n2", "--blocksize=64", "-j", "2", "-q", "--ignore-clipping",
          "--compensate-latency", "--tail", "1", "--output-format=flac", "--report",
          "--report-every", "0.5", "--json", "urn:x", "--then", "urn:y"},
         "run: -r 48000 -n2 --blocksize=64 -j 2 -q --ignore-clipping --compensate-latency "
         "--tail 1 --output-format=flac --report --report-every 0.5 --json | > urn:x | > urn:y"},
        // Clustered short options are split by their role.
        {{"-qm", "urn:x", "--then", "-mqb64", "urn:y"},
         "run: -q -b64 | -m > urn:x | -m > urn:y"},
        // Unique prefixes of long names, as getopt_long takes them.
        {{"--comp", "--param", "g:1", "urn:x", "--then", "--mon", "urn:y"},
         "run: --comp | --param g:1 > urn:x | --mon > urn:y"},
        // A value that looks like an option, or holds the word --then.
        {{"-o", "-", "-i", "-", "-p", "-x:1", "urn:x", "--then", "-P--then", "urn:y"},
         "run: -o - -i - | -p -x:1 > urn:x | -P--then > urn:y"},
        // Repeats across segments that change nothing are dropped.
        {{"-q", "-b", "64", "urn:x", "--then", "-q", "--blocksize=64", "urn:y", "--then", "-b64",
          "urn:z"},
         "run: -q -b 64 | > urn:x | > urn:y | > urn:z"},
        // A repeat inside one segment is argtable's to judge, as without --then.
        {{"-q", "-q", "urn:x", "--then", "urn:y"}, "run: -q -q | > urn:x | > urn:y"},
        // Unknown options go to their segment, where argtable names them.
        {{"--bogus", "-x", "urn:x", "--then", "--re", "urn:y"},
         "run:  | --bogus -x > urn:x | --re > urn:y"},
        // After --, every word is a plugin.
        {{"urn:x", "--then", "--", "-weird"}, "run:  | > urn:x | > -weird"},
        // A list number is a plugin like a URI.
        {{"3", "--then", "14", "--then", "urn:z"}, "run:  | > 3 | > 14 | > urn:z"},
    };
    for (const Case& c : cases) {
        const Result<ChainCommandLine> chain = split_chain(views(c.words));
        ASSERT_TRUE(chain.ok()) << joined(c.words) << ": " << chain.error().message;
        EXPECT_EQ(described(chain.value()), c.expected) << joined(c.words);
    }
}

TEST(ChainCommandLine, RefusesWhatNoChainCanMean)
{
    struct Case {
        std::vector<std::string> words;
        std::string message;
    };
    const Case cases[] = {
        {{"--then", "urn:x"},
         "Error: --then stands before the first plugin; it goes between two plugins.\n"},
        {{"urn:x", "--then"},
         "Error: --then stands after the last plugin; it goes between two plugins.\n"},
        {{"--then"}, "Error: --then stands before the first plugin; it goes between two plugins.\n"},
        {{"urn:x", "--then", "--then", "urn:y"},
         "Error: two --then words stand together; each part of the chain between them names "
         "one plugin.\n"},
        {{"urn:x", "--then", "-i", "a.wav", "-o", "b.wav"},
         "Error: part 2 of the chain names no plugin; each part between --then words names "
         "one.\n"},
        {{"-p", "g:1", "--then", "urn:y"},
         "Error: part 1 of the chain names no plugin; each part between --then words names "
         "one.\n"},
        {{"urn:x", "--then", "urn:y", "urn:z"},
         "Error: part 2 of the chain names two plugins, 'urn:y' and 'urn:z'; put --then "
         "between them.\n"},
        {{"urn:x", "-p", "--then", "urn:y"}, "Error: -p needs a value before --then.\n"},
        {{"urn:x", "--then", "urn:y", "--tail"}, "Error: --tail needs a value.\n"},
        {{"urn:x", "-o", "--then", "urn:y"}, "Error: -o needs a value before --then.\n"},
        // Other modes.
        {{"-l", "urn:x", "--then", "urn:y"},
         "Error: -l does not go with --then, which joins the plugins of a processing run.\n"},
        {{"urn:x", "--then", "--list-presets", "urn:y"},
         "Error: --list-presets does not go with --then, which joins the plugins of a "
         "processing run.\n"},
        {{"-L", "urn:x", "--then", "urn:y"},
         "Error: -L does not go with --then, which joins the plugins of a processing run.\n"},
        {{"urn:x", "--then", "-I", "urn:y"},
         "Error: -I does not go with --then, which joins the plugins of a processing run.\n"},
        {{"urn:x", "--then", "--info=urn:y", "urn:z"},
         "Error: --info does not go with --then, which joins the plugins of a processing "
         "run.\n"},
        {{"urn:x", "--then", "urn:y", "-qh"},
         "Error: -h does not go with --then, which joins the plugins of a processing run.\n"},
        {{"urn:x", "--help", "--then", "urn:y"},
         "Error: --help does not go with --then, which joins the plugins of a processing "
         "run.\n"},
        {{"urn:x", "--then", "urn:y", "-V"},
         "Error: -V does not go with --then, which joins the plugins of a processing run.\n"},
        {{"urn:x", "--then", "urn:y", "--vers"},
         "Error: --vers does not go with --then, which joins the plugins of a processing "
         "run.\n"},
        {{"--nameports", "urn:x", "--then", "urn:y"},
         "Error: --nameports does not go with --then, which joins the plugins of a processing "
         "run.\n"},
        {{"-n", "urn:x", "--then", "urn:y"},
         "Error: --nameports does not go with --then; in a chain -n gives the channel count of "
         "raw input, and 'urn:x' is not a number.\n"},
        // Run options given twice with different values.
        {{"-b", "64", "urn:x", "--then", "-b", "128", "urn:y"},
         "Error: --blocksize is given in parts 1 and 2 of the chain with different values "
         "('64', '128'); it applies to the whole run: give it once.\n"},
        {{"-o", "a.wav", "urn:x", "--then", "urn:y", "--then", "-o", "b.wav", "urn:z"},
         "Error: -o is given in parts 1 and 3 of the chain with different values ('a.wav', "
         "'b.wav'); it applies to the whole run: give it once.\n"},
        {{"--tail=1", "urn:x", "--then", "--tail", "1.0", "urn:y"},
         "Error: --tail is given in parts 1 and 2 of the chain with different values ('1', "
         "'1.0'); it applies to the whole run: give it once.\n"},
    };
    for (const Case& c : cases) {
        const Result<ChainCommandLine> chain = split_chain(views(c.words));
        ASSERT_FALSE(chain.ok()) << joined(c.words);
        EXPECT_EQ(chain.error().message, c.message) << joined(c.words);
    }
}

// Each segment's words, parsed by the processing table, give the run's
// options and that segment's own plugin options.
TEST(ChainCommandLine, EachSegmentParsesWithTheRunsOptions)
{
    const std::vector<std::string> words = {"-i", "in.wav", "-p", "gain:-6", "urn:x", "--then",
                                            "-P", "Warm", "-c", "1:in", "-o", "out.wav",
                                            "urn:y", "--then", "-b", "64", "--tail=2", "-m",
                                            "--", "-weird"};
    Result<ChainCommandLine> chain = split_chain(views(words));
    ASSERT_TRUE(chain.ok()) << chain.error().message;
    ASSERT_EQ(chain->segments.size(), 3u);
    std::vector<RunOptions> parsed;
    for (std::size_t k = 0; k < 3; ++k) {
        std::vector<std::string> argv_words = segment_words("tonbrix", chain.value(), k);
        std::vector<char*> argv;
        for (std::string& word : argv_words) {
            argv.push_back(word.data());
        }
        ProcessingTable table;
        ASSERT_TRUE(build_processing_table(table));
        ASSERT_EQ(parse_processing_table(static_cast<int>(argv.size()), argv.data(), table), 0)
            << joined(argv_words);
        parsed.push_back(read_run_options(table));
    }
    for (const RunOptions& options : parsed) {
        EXPECT_EQ(options.input, "in.wav");
        EXPECT_EQ(options.output, "out.wav");
        EXPECT_EQ(options.blocksize, 64);
        EXPECT_EQ(options.tail, "2");
    }
    EXPECT_EQ(parsed[0].plugin, "urn:x");
    EXPECT_EQ(parsed[0].parameters, std::vector<std::string>{"gain:-6"});
    EXPECT_FALSE(parsed[0].has_preset);
    EXPECT_EQ(parsed[1].plugin, "urn:y");
    EXPECT_EQ(parsed[1].preset, "Warm");
    EXPECT_EQ(parsed[1].connect, std::vector<std::string>{"1:in"});
    EXPECT_TRUE(parsed[1].parameters.empty());
    EXPECT_FALSE(parsed[1].mono);
    EXPECT_EQ(parsed[2].plugin, "-weird");
    EXPECT_TRUE(parsed[2].mono);
    EXPECT_TRUE(parsed[2].connect.empty());
}
