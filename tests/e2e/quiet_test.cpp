// -q/--quiet: no notes and no worker trace lines; errors, warnings and
// the audio are as without it.
#include "support/e2e.h"
#include "support/messages.h"

class Quiet : public E2E {};

TEST_F(Quiet, NoNotesAndTheSameOutput)
{
    write_sound(path("in.wav"), make_sound(2, 600, 48000, wav_float, [](long f, int ch) {
                    return static_cast<float>((f + ch * 5) % 64) / 128.0f;
                }));
    const std::vector<std::vector<std::string>> runs{
        {test_plugin("thru2")},
        {test_plugin("thru")},                       // one instance per channel
        {"-m", test_plugin("thru")},                 // down mix
        {"-c", "2:in", test_plugin("thru")},         // user connections
        {"-c", "1:in,2:in_r", test_plugin("thru2")}, // ...both notes
    };
    for (const std::vector<std::string>& run : runs) {
        std::vector<std::string> args{"-i", path("in.wav"), "-o", path("loud.wav")};
        args.insert(args.end(), run.begin(), run.end());
        const CommandResult loud = tonbrix(args);
        args[3] = path("quiet.wav");
        args.insert(args.begin(), "-q");
        const CommandResult quiet = tonbrix(args);
        EXPECT_EQ(quiet.status, loud.status) << args.back();
        EXPECT_NE(loud.out, "") << args.back();
        EXPECT_EQ(quiet.out, "") << args.back();
        EXPECT_EQ(quiet.err, loud.err) << args.back();
        // Samples, not bytes: the float WAV header holds a time stamp.
        EXPECT_TRUE(read_sound(path("quiet.wav")).samples == read_sound(path("loud.wav")).samples)
            << args.back();
    }
}

TEST_F(Quiet, WarningsAndErrorsStillPrint)
{
    // The worker's count of responses clips from the third run on; its
    // trace lines are notes.
    const std::vector<float> in(9, 0.5f);
    const CommandResult worker = tonbrix({"--quiet", "-i", "-", "-o", "-", "-r", "48000", "-n",
                                          "1", "-b", "3", test_plugin("worker")},
                                         to_raw_bytes(in));
    EXPECT_EQ(worker.status, 0);
    EXPECT_EQ(worker.out, to_raw_bytes({0, 0, 0.5f, 0, 1, 0.5f, 0, 1, 0.5f}));
    EXPECT_EQ(worker.err, clipping_warning);

    write_sound(path("in.wav"), make_sound(1, 10, 48000, wav_float, [](long, int) { return 0.5f; }));
    const CommandResult to_file = tonbrix(
        {"-q", "-i", path("in.wav"), "-o", path("out.wav"), "-p", "gain:3", test_plugin("thru")});
    EXPECT_EQ(to_file.status, 0);
    EXPECT_EQ(to_file.out, clipping_warning);
    EXPECT_EQ(to_file.err, "");

    const CommandResult error = tonbrix(
        {"-q", "-i", path("in.wav"), "-o", path("out.wav"), "-c", "1:nope", test_plugin("thru")});
    EXPECT_EQ(error.status, 1);
    EXPECT_EQ(error.out, "");
    EXPECT_EQ(error.err, "Port with symbol nope does not exist.\n");
}
