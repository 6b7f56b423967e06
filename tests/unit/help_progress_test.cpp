#include "cli/help.h"
#include "cli/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tonbrix;
using namespace tonbrix::cli;

TEST(InfoRequest, FoundAnywhereExceptInOptionValuesAndAfterDoubleDash)
{
    struct Case {
        std::vector<std::string> args;
        InfoRequest expected;
    };
    const Case cases[] = {
        {{}, InfoRequest::none},
        {{"-l"}, InfoRequest::none},
        {{"-h"}, InfoRequest::help},
        {{"--help"}, InfoRequest::help},
        {{"-V"}, InfoRequest::version},
        {{"--version"}, InfoRequest::version},
        {{"-V", "--help"}, InfoRequest::help},           // help wins
        {{"--help", "-V"}, InfoRequest::help},
        {{"-i", "a.wav", "-o", "b.wav", "x", "-h"}, InfoRequest::help},
        {{"-i", "-h", "-o", "b.wav", "x"}, InfoRequest::none},  // a file called -h
        {{"-o", "-V"}, InfoRequest::none},
        {{"-i", "a", "-V", "-o", "-h"}, InfoRequest::version},
        {{"--", "-h"}, InfoRequest::none},
        {{"-V", "--", "-h"}, InfoRequest::version},
        {{"-i=-h"}, InfoRequest::none},
        {{"--rate=-h"}, InfoRequest::none},
        {{"-hx"}, InfoRequest::none},                    // no clusters
        {{"--helpx"}, InfoRequest::none},
    };
    for (const char* option : {"-i", "-o", "-r", "-n", "-P", "-p", "-c", "-b", "-s", "-j",
                               "--rate", "--channels", "--preset", "--parameters", "--connect",
                               "--blocksize", "--set", "--jobs", "--tail", "--output-format"}) {
        std::vector<std::string> args = {option, "-h", "-V"};
        std::vector<char*> argv = {const_cast<char*>("tonbrix")};
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        EXPECT_EQ(find_info_request(static_cast<int>(argv.size()), argv.data()),
                  InfoRequest::version)
            << option << " takes the next argument as its value";
    }
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        std::vector<char*> argv = {const_cast<char*>("tonbrix")};
        std::string shown;
        for (std::string& a : args) {
            argv.push_back(a.data());
            shown += a + " ";
        }
        EXPECT_EQ(find_info_request(static_cast<int>(argv.size()), argv.data()), c.expected)
            << shown;
    }
}

TEST(ProgressLine, ShowsWhatIsKnown)
{
    struct Case {
        int64_t total;
        uint64_t done;
        double elapsed;
        const char* expected;
    };
    const Case cases[] = {
        // Two hours at 48 kHz, a quarter done in 90 seconds: 20 times real
        // time, 270 seconds to go.
        {7200 * 48000, 1800 * 48000, 90.0, " 25.0%  0:30:00 of 2:00:00  20.0x real time  0:04:30 left"},
        {7200 * 48000, 7200 * 48000, 360.0, "100.0%  2:00:00 of 2:00:00  20.0x real time  0:00:00 left"},
        // Nothing done yet: no speed to tell.
        {48000, 0, 0.5, "  0.0%  0:00:00 of 0:00:01"},
        // Time left is rounded up: a run near its end is not done.
        {48000 * 10, 48000 * 9, 9.0, " 90.0%  0:00:09 of 0:00:10  1.0x real time  0:00:01 left"},
        {48000 * 10, 48000 * 9 + 1, 9.0, " 90.0%  0:00:09 of 0:00:10  1.0x real time  0:00:01 left"},
        // An empty file is complete.
        {0, 0, 0.0, "100.0%  0:00:00 of 0:00:00"},
        // Length unknown (a pipe).
        {-1, 3600 * 48000 + 61 * 48000, 1.0, "1:01:01 processed  3661.0x real time"},
        {-1, 0, 0.0, "0:00:00 processed"},
    };
    for (const Case& c : cases) {
        Progress progress;
        progress.total_frames = c.total;
        progress.sample_rate = 48000.0;
        progress.frames_done = c.done;
        EXPECT_EQ(progress_line(progress, c.elapsed), c.expected);
    }
}

TEST(ProgressLine, StaysOffTheTerminalWhenNotStarted)
{
    // A run without a terminal never starts the line; its callbacks must
    // then print nothing (the stream is a closed one, to catch any write).
    Progress progress;
    progress.stream = nullptr;
    progress_update_callback(&progress, 1000);
    progress_clear_callback(&progress);
    progress_finish(progress, true);
    EXPECT_FALSE(progress.shown);
}
