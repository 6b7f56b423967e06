// A plugin that asks for the worker but hands out no worker interface.
#include "support/e2e.h"

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
