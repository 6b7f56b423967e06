// Job list lines: TAB pairs, JSON objects with their option values, lines
// that are skipped, and the message of each line that cannot be read.
#include "batch/job_list.h"

#include <gtest/gtest.h>

namespace {

using tonbrix::Job;
using tonbrix::JobLine;
using tonbrix::parse_job_line;
using tonbrix::parse_job_list;

TEST(JobList, ReadsPairsAndObjects)
{
    struct Case {
        const char* line;
        Job expected;
    };
    const Case cases[] = {
        {"a.wav\tout/b.wav", {"a.wav", "out/b.wav", {}, false, "", {}, 1, ""}},
        {"with space.wav\tb c.wav\r", {"with space.wav", "b c.wav", {}, false, "", {}, 1, ""}},
        {R"({"input": "a.wav", "output": "b.wav"})", {"a.wav", "b.wav", {}, false, "", {}, 1, ""}},
        {R"(  {"output": "b.wav", "input": "a.wav", "parameters": {"gain": -6, "mix": 0.25, "big": 1e30}})",
         {"a.wav", "b.wav", {"gain:-6", "mix:0.25", "big:1e+30"}, false, "", {}, 1, ""}},
        {R"({"input": "a", "output": "b", "preset": "Large Hall", "set": {"ir": "room.wav", "n": 2, "on": true}})",
         {"a", "b", {}, true, "Large Hall", {"ir=room.wav", "n=2", "on=true"}, 1, ""}},
    };
    for (const Case& c : cases) {
        Job job;
        ASSERT_EQ(parse_job_line(c.line, 1, job), JobLine::job) << c.line << job.error;
        EXPECT_EQ(job.input, c.expected.input) << c.line;
        EXPECT_EQ(job.output, c.expected.output) << c.line;
        EXPECT_EQ(job.parameters, c.expected.parameters) << c.line;
        EXPECT_EQ(job.has_preset, c.expected.has_preset) << c.line;
        EXPECT_EQ(job.preset, c.expected.preset) << c.line;
        EXPECT_EQ(job.set_values, c.expected.set_values) << c.line;
    }
}

TEST(JobList, SkipsBlankAndCommentLines)
{
    for (const char* line : {"", "   ", "\t", "\r", "# a comment", "  # indented", "#a\tb"}) {
        Job job;
        EXPECT_EQ(parse_job_line(line, 3, job), JobLine::skipped) << '"' << line << '"';
    }
}

TEST(JobList, NamesTheLineOfEveryUnreadableOne)
{
    struct Case {
        const char* line;
        const char* error;
    };
    const Case cases[] = {
        {"a.wav b.wav", "expected INPUT<TAB>OUTPUT or a JSON object"},
        {"a\tb\tc", "expected INPUT<TAB>OUTPUT or a JSON object"},
        {"\tb", "expected INPUT<TAB>OUTPUT or a JSON object"},
        {"a\t", "expected INPUT<TAB>OUTPUT or a JSON object"},
        {"{\"input\": \"a\"", "not valid JSON"},
        {"{\"input\": \"a\"}", "a job needs both \"input\" and \"output\""},
        {"{\"input\": 3, \"output\": \"b\"}", "\"input\" must be a non-empty string"},
        {"{\"input\": \"a\", \"output\": \"\"}", "\"output\" must be a non-empty string"},
        {"{\"input\": \"a\", \"output\": \"b\", \"gain\": 1}",
         "unknown key \"gain\" (known: input, output, parameters, preset, set)"},
        {"{\"input\": \"a\", \"output\": \"b\", \"parameters\": [1]}",
         "\"parameters\" must be an object"},
        {"{\"input\": \"a\", \"output\": \"b\", \"parameters\": {\"gain\": \"6\"}}",
         "the value of \"gain\" in \"parameters\" must be a number"},
        {"{\"input\": \"a\", \"output\": \"b\", \"parameters\": {\"a,b\": 1}}",
         "\"a,b\" in \"parameters\" is not a name"},
        {"{\"input\": \"a\", \"output\": \"b\", \"set\": {\"ir\": null}}",
         "the value of \"ir\" in \"set\" must be a number or a string"},
        {"{\"input\": \"a\", \"output\": \"b\", \"set\": {\"x=y\": 1}}", "\"x=y\" in \"set\" is not a name"},
        {"-\tb.wav", "\"-\" (standard input or output) cannot be a job's file"},
        {"[\"a\", \"b\"]", "expected INPUT<TAB>OUTPUT or a JSON object"},
    };
    for (const Case& c : cases) {
        Job job;
        EXPECT_EQ(parse_job_line(c.line, 12, job), JobLine::unreadable) << c.line;
        EXPECT_EQ(job.error, "Error: job list line 12: " + std::string(c.error) + "\n") << c.line;
    }
}

TEST(JobList, CountsLinesAcrossSkippedOnes)
{
    const std::vector<Job> jobs =
        parse_job_list("# header\n\na\tb\nbad\r\n{\"input\":\"c\",\"output\":\"d\"}\n\nlast\tone");
    ASSERT_EQ(jobs.size(), 4u);
    EXPECT_EQ(jobs[0].line, 3u);
    EXPECT_EQ(jobs[1].line, 4u);
    EXPECT_EQ(jobs[1].error, "Error: job list line 4: expected INPUT<TAB>OUTPUT or a JSON object\n");
    EXPECT_EQ(jobs[2].input, "c");
    EXPECT_EQ(jobs[3].line, 7u);
    EXPECT_EQ(jobs[3].output, "one");
}

} // namespace
