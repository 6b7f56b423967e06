// Runs whose buffers cannot be had are refused with a message, not a crash.
#include "support/e2e.h"

#include <string>

class Memory : public E2E {};

TEST_F(Memory, BuffersBeyondTheAddressSpaceLimitAreRefused)
{
    if (tonbrix_binary().find("build-asan") != std::string::npos) {
        GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
    }
    write_sound(path("in.wav"),
                make_sound(64, 100, 48000, wav_float, [](long, int) { return 0.25f; }));
    // 400 MB of address space; blocks of the largest size, 1048576 frames,
    // need 4 MB for each port buffer, 512 MB for the 64 instances.
    CommandSpec spec;
    spec.args = {"-c", "ulimit -v 400000 && exec \"$0\" \"$@\"", tonbrix_binary(), "-i",
                 path("in.wav"), "-o", path("out.wav"), "-b", "1048576", test_plugin("thru")};
    spec.env = {{"LV2_PATH", test_lv2_dir()}, {"TONBRIX_TEST_LOG", log_path()}};
    const CommandResult r = run_command("sh", spec);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Note: Running 64 instances of the plugin.\n"
                     "Note: Running an instance of the plugin per channel\n");
    EXPECT_EQ(r.err, "Error: insufficient memory\n");
    // The buffers come before the instances, which are connected to them
    // before they are activated: no instance was made.
    EXPECT_EQ(read_log(), "");
}
