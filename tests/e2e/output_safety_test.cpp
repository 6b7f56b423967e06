// The output is replaced only by a complete file: failures, interruptions,
// crashes, closed pipes and size limits leave the old file (or none) and
// no temporary file; permissions and links of the output path; invalid
// samples from a plugin.
#include "support/e2e.h"
#include "support/messages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>
#include <thread>

namespace {

// Long enough for several reads of the render at any block size.
Sound long_mono()
{
    return make_sound(1, 48000, 48000, wav_float,
                      [](long f, int) { return static_cast<float>(f % 100) / 200.0f; });
}

mode_t mode_of(const std::string& file)
{
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool is_link(const std::string& file)
{
    struct stat st {};
    return ::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

const std::string full_lifecycle = "instantiate 0\nactivate 0\ndeactivate 0\ncleanup 0\n";

std::string crash_line(int number, const char* name)
{
    return "tonbrix: plugin " + test_plugin("raise") + " crashed with signal " +
           std::to_string(number) + " (" + name + ")\n";
}

} // namespace

class OutputSafety : public E2E {
protected:
    // An output file from an earlier run, which failed runs must leave alone.
    std::string write_old_output()
    {
        write_sound(path("out.wav"), make_sound(2, 10, 44100, wav_pcm16,
                                                [](long f, int) { return f / 16.0f; }));
        return read_file(path("out.wav"));
    }

    // Names in the test folder besides the input, the output and the log.
    std::vector<std::string> litter() const
    {
        std::vector<std::string> names;
        for (const std::string& name : folder_entries(dir_)) {
            if (name != "in.wav" && name != "out.wav" && name != "lifecycle.log") {
                names.push_back(name);
            }
        }
        return names;
    }
};

TEST_F(OutputSafety, FailedRunsLeaveTheOldOutputOrNoneAndNoTemporaryFile)
{
    struct Case {
        const char* label;
        std::vector<std::string> prefix; // a wrapper, e.g. a shell with limits
        std::vector<std::string> args;   // after -i in.wav -o out.wav
        int status;
        std::string err;
    };
    const Case cases[] = {
        {"second instantiation fails", {}, {test_plugin("failsecond")}, 1,
         "Failed to instantiate plugin!\n"},
        {"unknown parameter", {}, {"-p", "nosuch:1", test_plugin("thru")}, 1,
         "Error: Port with symbol nosuch does not exist.\n"},
        {"interrupted", {}, {"-p", "signal:15,after:20000", test_plugin("raise")}, 128 + SIGTERM,
         "Interrupted.\n"},
        {"plugin crash", {}, {"-p", "signal:11,after:20000", test_plugin("raise")}, 128 + SIGSEGV,
         crash_line(SIGSEGV, "SIGSEGV")},
        // 64 blocks of 512 bytes: the header fits, the samples do not.
        {"file size limit", shell_with("ulimit -f 64; trap '' XFSZ"), {test_plugin("thru")}, 1,
         "Error writing output file: " + path("out.wav") + ": File too large.\n"},
    };
    for (const Case& c : cases) {
        for (const bool old : {true, false}) {
            const std::string label = std::string(c.label) + (old ? ", old output" : "");
            std::remove(path("out.wav").c_str());
            const Sound in = c.label == std::string("second instantiation fails")
                                 ? make_sound(2, 100, 48000, wav_float,
                                              [](long, int) { return 0.25f; })
                                 : long_mono();
            write_sound(path("in.wav"), in);
            const std::string before = old ? write_old_output() : "";
            std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav")};
            args.insert(args.end(), c.args.begin(), c.args.end());
            const CommandResult r = c.prefix.empty() ? tonbrix(args) : tonbrix_under(c.prefix, args);
            EXPECT_EQ(r.status, c.status) << label;
            EXPECT_EQ(r.err, c.err) << label;
            if (old) {
                EXPECT_EQ(read_file(path("out.wav")), before) << label;
            } else {
                EXPECT_FALSE(file_exists(path("out.wav"))) << label;
            }
            EXPECT_EQ(litter(), std::vector<std::string>{}) << label;
        }
    }
}

TEST_F(OutputSafety, InterruptionStopsReleasesThePluginsAndExitsWithTheSignal)
{
    write_sound(path("in.wav"), long_mono());
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        const std::string label = "signal " + std::to_string(number);
        std::remove(log_path().c_str());
        const CommandResult r =
            tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-p",
                     "signal:" + std::to_string(number) + ",after:20000", test_plugin("raise")});
        EXPECT_EQ(r.status, 128 + number) << label;
        EXPECT_EQ(r.out, one_instance_notes) << label;
        EXPECT_EQ(r.err, "Interrupted.\n") << label;
        EXPECT_EQ(read_log(), full_lifecycle) << label;
        EXPECT_EQ(folder_entries(dir_), (std::vector<std::string>{"in.wav", "lifecycle.log"}))
            << label;
    }

    // A signal in the very first block: nothing of the run is kept.
    const CommandResult early = tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-p",
                                         "signal:2,after:0", test_plugin("raise")});
    EXPECT_EQ(early.status, 128 + SIGINT);
    EXPECT_EQ(early.err, "Interrupted.\n");
    EXPECT_FALSE(file_exists(path("out.wav")));

    // A signal in the very last block, raised on an instance thread while
    // the whole input is already read: the run still ends as interrupted.
    write_sound(path("short.wav"), make_sound(1, 1000, 48000, wav_float,
                                              [](long, int) { return 0.25f; }));
    for (const char* jobs : {"1", "2"}) {
        const CommandResult late =
            tonbrix({"-i", path("short.wav"), "-o", path("out.wav"), "-b", "100", "-j",
                     jobs, "-p", "signal:15,after:900", test_plugin("raise")});
        EXPECT_EQ(late.status, 128 + SIGTERM) << "jobs " << jobs;
        EXPECT_EQ(late.out, one_instance_notes) << "jobs " << jobs;
        EXPECT_EQ(late.err, "Interrupted.\n") << "jobs " << jobs;
        EXPECT_FALSE(file_exists(path("out.wav"))) << "jobs " << jobs;
    }
}

TEST_F(OutputSafety, SignalIgnoredAtStartStaysIgnored)
{
    const Sound in = long_mono();
    write_sound(path("in.wav"), in);
    struct Case {
        const char* ignored; // the shell's name of the signal ignored at start
        int raised;
        int status;
        const char* err;
    };
    const Case cases[] = {
        {"HUP", SIGHUP, 0, ""},
        {"INT", SIGINT, 0, ""},
        {"TERM", SIGTERM, 0, ""},
        // Only the ignored signal is spared: another still stops the run.
        {"HUP", SIGTERM, 128 + SIGTERM, "Interrupted.\n"},
    };
    for (const Case& c : cases) {
        const std::string label = std::string(c.ignored) + " ignored, " + std::to_string(c.raised);
        std::remove(path("out.wav").c_str());
        const CommandResult r = tonbrix_under(
            shell_with(std::string("trap '' ") + c.ignored),
            {"-i", path("in.wav"), "-o", path("out.wav"), "-p",
             "signal:" + std::to_string(c.raised) + ",after:20000", test_plugin("raise")});
        EXPECT_EQ(r.status, c.status) << label;
        EXPECT_EQ(r.err, c.err) << label;
        if (c.status == 0) {
            EXPECT_EQ(read_sound(path("out.wav")).samples, in.samples) << label;
        } else {
            EXPECT_FALSE(file_exists(path("out.wav"))) << label;
        }
        EXPECT_EQ(litter(), std::vector<std::string>{}) << label;
    }
}

TEST_F(OutputSafety, SecondSignalEndsAtOnceAndLeavesNoTemporaryFile)
{
    write_sound(path("in.wav"), long_mono());
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        for (const char* jobs : {"1", "2"}) {
            for (const bool old : {true, false}) {
                const std::string label = "signal " + std::to_string(number) + ", jobs " + jobs +
                                          (old ? ", old output" : "");
                std::remove(path("out.wav").c_str());
                std::remove(log_path().c_str());
                const std::string before = old ? write_old_output() : "";
                // The plugin raises the signal twice in a row inside one run.
                const CommandResult r = tonbrix(
                    {"-i", path("in.wav"), "-o", path("out.wav"), "-j", jobs, "-p",
                     "signal:" + std::to_string(number) + ",after:20000,times:2",
                     test_plugin("raise")});
                EXPECT_EQ(r.status, 128 + number) << label;
                EXPECT_EQ(r.err, "Interrupted.\n") << label;
                // The process ended inside the plugin's run, before any release.
                EXPECT_EQ(read_log(), "instantiate 0\nactivate 0\n") << label;
                if (old) {
                    EXPECT_EQ(read_file(path("out.wav")), before) << label;
                } else {
                    EXPECT_FALSE(file_exists(path("out.wav"))) << label;
                }
                EXPECT_EQ(litter(), std::vector<std::string>{}) << label;
            }
        }
    }
}

TEST_F(OutputSafety, CrashingPluginIsNamedAndLeavesNoTemporaryFile)
{
    write_sound(path("in.wav"), long_mono());
    struct Case {
        int number;
        const char* name;
    };
    const Case cases[] = {
        {SIGSEGV, "SIGSEGV"}, {SIGABRT, "SIGABRT"}, {SIGFPE, "SIGFPE"},
        {SIGBUS, "SIGBUS"},   {SIGILL, "SIGILL"},
    };
    for (const Case& c : cases) {
        std::remove(log_path().c_str());
        const std::string before = write_old_output();
        const CommandResult r =
            tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-p",
                     "signal:" + std::to_string(c.number) + ",after:20000", test_plugin("raise")});
        // The exit status still shows the signal.
        EXPECT_EQ(r.status, 128 + c.number) << c.name;
        EXPECT_EQ(r.err, crash_line(c.number, c.name)) << c.name;
        EXPECT_EQ(read_log(), "instantiate 0\nactivate 0\n") << c.name;
        EXPECT_EQ(read_file(path("out.wav")), before) << c.name;
        EXPECT_EQ(litter(), std::vector<std::string>{}) << c.name;
    }
}

TEST_F(OutputSafety, CompleteRunReplacesTheFileWithItsPermissions)
{
    const Sound in = long_mono();
    write_sound(path("in.wav"), in);
    const std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav"),
                                           test_plugin("thru")};

    // A new file: the bits that creating it directly would give.
    for (const char* mask : {"022", "077", "0"}) {
        std::remove(path("out.wav").c_str());
        const CommandResult r = tonbrix_under(shell_with(std::string("umask ") + mask), args);
        ASSERT_EQ(r.status, 0) << mask << r.err;
        EXPECT_EQ(mode_of(path("out.wav")), 0666 & ~std::stoul(mask, nullptr, 8)) << mask;
        EXPECT_EQ(read_sound(path("out.wav")).samples, in.samples) << mask;
    }

    // An existing file keeps its bits, whatever the mask.
    for (const mode_t mode : {0640, 0604, 0755}) {
        write_old_output();
        ASSERT_EQ(::chmod(path("out.wav").c_str(), mode), 0);
        const CommandResult r = tonbrix_under(shell_with("umask 077"), args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(mode_of(path("out.wav")), mode);
        EXPECT_EQ(read_sound(path("out.wav")).samples, in.samples);
    }
    EXPECT_EQ(litter(), std::vector<std::string>{});
}

TEST_F(OutputSafety, SymbolicLinkKeepsPointingAtItsTarget)
{
    const Sound in = long_mono();
    write_sound(path("in.wav"), in);
    ASSERT_EQ(::mkdir(path("elsewhere").c_str(), 0755), 0);
    write_sound(path("elsewhere/target.wav"), make_sound(1, 5, 8000, wav_pcm16,
                                                          [](long, int) { return 0.5f; }));
    ASSERT_EQ(::chmod(path("elsewhere/target.wav").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("elsewhere/target.wav", path("link.wav").c_str()), 0);

    const CommandResult r =
        tonbrix({"-i", path("in.wav"), "-o", path("link.wav"), test_plugin("thru")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(is_link(path("link.wav")));
    EXPECT_EQ(read_sound(path("elsewhere/target.wav")).samples, in.samples);
    EXPECT_EQ(mode_of(path("elsewhere/target.wav")), 0600u);
    EXPECT_EQ(folder_entries(path("elsewhere")), std::vector<std::string>{"target.wav"});

    // A link to nothing yet: the file is made where it points, in place.
    ASSERT_EQ(::symlink("elsewhere/new.wav", path("dangling.wav").c_str()), 0);
    const CommandResult dangling =
        tonbrix({"-i", path("in.wav"), "-o", path("dangling.wav"), test_plugin("thru")});
    ASSERT_EQ(dangling.status, 0) << dangling.err;
    EXPECT_TRUE(is_link(path("dangling.wav")));
    EXPECT_EQ(read_sound(path("elsewhere/new.wav")).samples, in.samples);
}

TEST_F(OutputSafety, OutputsThatAreNoRegularFileAreWrittenInPlace)
{
    const std::vector<float> samples(20000, 0.125f);
    const std::string bytes = to_raw_bytes(samples);
    write_sound(path("in.wav"), long_mono());
    const CommandResult to_null =
        tonbrix({"-i", path("in.wav"), "-o", "/dev/null", test_plugin("thru")});
    EXPECT_EQ(to_null.status, 0) << to_null.err;

    // A FIFO: the reader gets every byte through it.
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = read_file(path("fifo")); });
    std::FILE* raw = std::fopen(path("in.raw").c_str(), "wb");
    ASSERT_NE(raw, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), raw);
    std::fclose(raw);
    const CommandResult to_fifo = tonbrix({"-i", path("in.raw"), "-o", path("fifo"), "-r",
                                           "48000", "-n", "1", test_plugin("thru")});
    reader.join();
    EXPECT_EQ(to_fifo.status, 0) << to_fifo.err;
    EXPECT_EQ(received, bytes);
    EXPECT_EQ(folder_entries(dir_),
              (std::vector<std::string>{"fifo", "in.raw", "in.wav", "lifecycle.log"}));
}

TEST_F(OutputSafety, FolderThatRefusesTheTemporaryFileIsWrittenInPlace)
{
    const Sound in = long_mono();
    write_sound(path("in.wav"), in);
    const std::vector<std::string> gain = {"-p", "gain:0.5", test_plugin("thru")};

    // A name of 250 characters is allowed; the temporary name made from it
    // is too long.
    const std::string long_name = path(std::string(246, 'n') + ".wav");
    std::vector<std::string> args = {"-i", path("in.wav"), "-o", long_name};
    args.insert(args.end(), gain.begin(), gain.end());
    const CommandResult r = tonbrix(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_sound(long_name).at(3, 0), in.at(3, 0) * 0.5f);

    if (::geteuid() == 0) {
        GTEST_SKIP() << "folder permissions do not bind the superuser";
    }
    ASSERT_EQ(::mkdir(path("locked").c_str(), 0755), 0);
    write_sound(path("locked/out.wav"), in);
    ASSERT_EQ(::chmod(path("locked").c_str(), 0555), 0);
    args = {"-i", path("in.wav"), "-o", path("locked/out.wav")};
    args.insert(args.end(), gain.begin(), gain.end());
    const CommandResult locked = tonbrix(args);
    ::chmod(path("locked").c_str(), 0755);
    ASSERT_EQ(locked.status, 0) << locked.err;
    EXPECT_EQ(read_sound(path("locked/out.wav")).at(3, 0), in.at(3, 0) * 0.5f);
}

TEST_F(OutputSafety, ClosedPipeEndsARawStreamWithStatusOne)
{
    // Far more than a pipe holds, so that writes go on after the reader left.
    const std::vector<float> samples(1 << 20, 0.125f);
    std::FILE* raw = std::fopen(path("in.raw").c_str(), "wb");
    ASSERT_NE(raw, nullptr);
    const std::string bytes = to_raw_bytes(samples);
    std::fwrite(bytes.data(), 1, bytes.size(), raw);
    std::fclose(raw);
    const std::vector<std::string> prefix = {
        "sh", "-c", "(\"$0\" \"$@\"; echo $? > " + path("status") + ") | head -c 16 > /dev/null"};
    const CommandResult r = tonbrix_under(
        prefix, {"-i", path("in.raw"), "-o", "-", "-r", "48000", "-n", "1", test_plugin("thru")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(path("status")), "1\n");
    EXPECT_EQ(r.err, one_instance_notes +
                         "Error writing output file: System error : Broken pipe.\n");
    EXPECT_EQ(read_log(), full_lifecycle);
}

TEST_F(OutputSafety, InvalidSamplesAreSilencedAndClampedWhenChecked)
{
    // Frame c of the plugin's output is, by c % 5: the input, NaN,
    // +infinity, -infinity, -NaN.
    const float inf = std::numeric_limits<float>::infinity();
    const long frames = 12;
    auto input = [](long f, int) { return static_cast<float>(f) / 64.0f - 0.125f; };
    struct Case {
        const char* label;
        int format;
        bool ignore;
    };
    const Case cases[] = {
        {"float", wav_float, false},
        {"float, unchecked", wav_float, true},
        {"16-bit", wav_pcm16, false},
        {"16-bit, unchecked", wav_pcm16, true},
    };
    for (const Case& c : cases) {
        write_sound(path("in.wav"), make_sound(1, frames, 48000, c.format, input));
        // Blocks of 3 frames: the warnings come once, not once per block.
        std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav"), "-b", "3"};
        if (c.ignore) {
            args.push_back("--ignore-clipping");
        }
        args.push_back(test_plugin("invalid"));
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, 0) << c.label;
        EXPECT_EQ(r.out, one_instance_notes + (c.ignore ? std::string()
                                                        : clipping_warning + invalid_samples_warning))
            << c.label;
        EXPECT_EQ(r.err, "") << c.label;

        const Sound out = read_sound(path("out.wav"));
        ASSERT_EQ(out.frames(), frames) << c.label;
        const bool raw_floats = c.format == wav_float && c.ignore;
        const float top = c.format == wav_pcm16 ? 32767.0f / 32768.0f : 1.0f;
        for (long f = 0; f < frames; ++f) {
            const float v = out.at(f, 0);
            const std::string at = std::string(c.label) + ", frame " + std::to_string(f);
            switch (f % 5) {
            case 0: EXPECT_EQ(v, input(f, 0)) << at; break;
            case 2: EXPECT_EQ(v, raw_floats ? inf : top) << at; break;
            case 3: EXPECT_EQ(v, raw_floats ? -inf : -1.0f) << at; break;
            default:
                if (raw_floats) {
                    EXPECT_TRUE(std::isnan(v)) << at;
                } else {
                    // Silence, without a sign bit.
                    EXPECT_EQ(std::signbit(v) ? -1 : std::fpclassify(v), FP_ZERO) << at;
                }
            }
        }
    }
}
