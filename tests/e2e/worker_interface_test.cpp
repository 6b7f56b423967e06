// The worker: a plugin that asks for it but hands out no interface, and
// the order of responses, runs and end_run.
#include "support/e2e.h"
#include "support/messages.h"

class WorkerInterface : public E2E {};

TEST_F(WorkerInterface, ScheduleWithoutInterfaceIsRefusedQuietly)
{
    write_sound(path("in.wav"),
                make_sound(1, 1000, 48000, wav_float, [](long f, int) { return f / 4000.0f; }));
    const CommandResult r = tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-b", "256",
                                     test_plugin("workernull")});
    ASSERT_EQ(r.status, 0) << r.err;
    // No trace line: nothing was scheduled.
    EXPECT_EQ(r.out, "Note: Running 1 instances of the plugin.\n"
                     "Note: Mapping audio channels to plugin ports based on ordering\n");
    EXPECT_EQ(r.err, "");
    const Sound out = read_sound(path("out.wav"));
    ASSERT_EQ(out.frames(), 1000);
    for (long block_start : {0L, 256L, 512L, 768L}) {
        EXPECT_EQ(out.at(block_start, 0), 1.0f) << "LV2_WORKER_ERR_UNKNOWN at " << block_start;
        EXPECT_EQ(out.at(block_start + 1, 0), (block_start + 1) / 4000.0f);
    }
}

// The worker as a careful host runs it: responses after the run, then
// end_run, for every instance, on one thread or several, at any block size.
TEST_F(WorkerInterface, ResponsesFollowTheRunAndEndRunFollowsThem)
{
    struct Case {
        const char* label;
        int channels;
        std::vector<std::string> options;
        std::string notes;  // standard output before the trace lines
        std::string report; // after them
    };
    const std::vector<Case> cases = {
        {"one instance, one block at a time", 1, {"-b", "1"}, one_instance_notes, "faults: 0\n"},
        {"one instance, blocks larger than the file", 1, {"-b", "4096"}, one_instance_notes,
         "faults: 0\n"},
        {"two instances on two threads, quiet", 2, {"-q", "-j", "2", "-b", "64"}, "",
         "1.faults: 0\n2.faults: 0\n"},
    };
    for (const Case& c : cases) {
        const Sound in = make_sound(c.channels, 1000, 48000, wav_float, [](long f, int ch) {
            return static_cast<float>((f * 13 + ch * 7) % 50) / 100.0f;
        });
        write_sound(path("in.wav"), in);
        std::vector<std::string> args{"-i", path("in.wav"), "-o", path("out.wav"), "--report"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(test_plugin("workerorder"));
        const CommandResult r = tonbrix(args);
        ASSERT_EQ(r.status, 0) << c.label << ": " << r.err;
        // A fault is logged on standard error.
        EXPECT_EQ(r.err, "") << c.label;
        ASSERT_TRUE(r.out.starts_with(c.notes)) << c.label << ": " << r.out;
        ASSERT_TRUE(r.out.ends_with(c.report)) << c.label << ": " << r.out;
        const std::string traces =
            r.out.substr(c.notes.size(), r.out.size() - c.notes.size() - c.report.size());
        if (c.notes.empty()) {
            EXPECT_EQ(traces, "") << c.label;
        } else {
            const long block = std::stol(c.options[1]);
            std::string expected;
            for (long start = 0; start < 1000; start += block) {
                expected += schedule_line;
            }
            EXPECT_EQ(traces, expected) << c.label;
        }
        EXPECT_EQ(read_sound(path("out.wav")).samples, in.samples) << c.label;
    }
}
