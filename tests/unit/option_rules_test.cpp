#include "cli/option_tables.h"

#include <gtest/gtest.h>

using namespace tonbrix;
using namespace tonbrix::cli;

TEST(RawFloatRule, AcceptsBothOrNeither)
{
    struct Case {
        int rate;
        int channels;
        RawFloat expected;
    };
    const Case cases[] = {
        {-1, -1, RawFloat::off},       // both absent
        {44100, 2, RawFloat::on},      // both positive
        {0, 0, RawFloat::off},         // zeros open by header
        {44100, 0, RawFloat::off},
        {0, 2, RawFloat::off},
        {-5, -7, RawFloat::off},       // both negative
        {44100, -1, RawFloat::rejected},
        {-1, 2, RawFloat::rejected},
        {0, -1, RawFloat::rejected},
        {-1, 0, RawFloat::rejected},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(raw_float_rule(c.rate, c.channels), c.expected)
            << "rate " << c.rate << ", channels " << c.channels;
    }
}

TEST(ProcessingTable, DefaultsStandWhenOptionsAreAbsent)
{
    ProcessingTable table;
    ASSERT_TRUE(build_processing_table(table));
    char program[] = "tonbrix";
    char i[] = "-i";
    char in[] = "in.wav";
    char o[] = "-o";
    char out[] = "out.wav";
    char plugin[] = "urn:x";
    char* argv[] = {program, i, in, o, out, plugin};
    ASSERT_EQ(parse_processing_table(6, argv, table), 0);
    const RunOptions options = read_run_options(table);
    EXPECT_EQ(options.input, "in.wav");
    EXPECT_EQ(options.output, "out.wav");
    EXPECT_EQ(options.plugin, "urn:x");
    EXPECT_EQ(options.blocksize, 512);
    EXPECT_EQ(options.rate, -1);
    EXPECT_EQ(options.channels, -1);
    EXPECT_FALSE(options.has_preset);
    EXPECT_FALSE(options.mono);
    EXPECT_FALSE(options.ignore_clipping);
    EXPECT_TRUE(options.parameters.empty());
    EXPECT_TRUE(options.connect.empty());
}

TEST(ProcessingTable, RepeatedValuesKeepCommandLineOrder)
{
    ProcessingTable table;
    ASSERT_TRUE(build_processing_table(table));
    std::vector<std::string> words = {"tonbrix", "-i", "a", "-o", "b", "-p", "x:1", "--parameters",
                                      "y:2,z:3", "-c", "1:in", "-c", "2:2.in", "-b", "64",
                                      "-m", "--ignore-clipping", "-P", "Warm", "7"};
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(w.data());
    }
    ASSERT_EQ(parse_processing_table(static_cast<int>(argv.size()), argv.data(), table), 0);
    const RunOptions options = read_run_options(table);
    EXPECT_EQ(options.parameters, (std::vector<std::string>{"x:1", "y:2,z:3"}));
    EXPECT_EQ(options.connect, (std::vector<std::string>{"1:in", "2:2.in"}));
    EXPECT_EQ(options.blocksize, 64);
    EXPECT_TRUE(options.mono);
    EXPECT_TRUE(options.ignore_clipping);
    EXPECT_TRUE(options.has_preset);
    EXPECT_EQ(options.preset, "Warm");
    EXPECT_EQ(options.plugin, "7");
}
