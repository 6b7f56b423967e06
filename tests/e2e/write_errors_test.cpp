// Failed writes and opens: every format fails on a full device or file
// system, whatever its encoder does with a short write, and keeps the old
// file; each failure names the path and the system's reason on standard
// error, and standard output stays clean.
#include "support/e2e.h"
#include "support/messages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

namespace {

// Three seconds of stereo noise: some 40 KiB even in Vorbis or Opus, more
// than the small file systems below have free.
Sound stereo_noise(int rate = 48000)
{
    return make_sound(2, 3L * rate, rate, wav_float, [](long f, int c) {
        uint32_t x = static_cast<uint32_t>(f) * 2654435761u + static_cast<uint32_t>(c) * 40503u;
        x ^= x >> 15;
        x *= 2246822519u;
        x ^= x >> 13;
        return static_cast<float>(x % 20001) / 40000.0f - 0.25f;
    });
}

// Runs a shell command; true when it succeeded.
bool shell(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

std::string quoted(const std::string& text)
{
    return "'" + text + "'";
}

} // namespace

class WriteErrors : public E2E {
protected:
    // A shell prefix for tonbrix_under that mounts a tmpfs of `kib` KiB
    // (with mount options `options`) at `mount` in a mount namespace of its
    // own, runs `setup` in it, then tonbrix, and copies what the file
    // system holds afterwards to `after` (its listing to after/.listing).
    std::vector<std::string> in_small_file_system(const std::string& mount, int kib,
                                                  const std::string& setup,
                                                  const std::string& options = "")
    {
        const std::string after = path("after");
        return {"unshare", "-m", "sh", "-c",
                "mount -t tmpfs -o size=" + std::to_string(kib) + "k" + options + " tmpfs " +
                    quoted(mount) + " || exit 99; " + setup + "; \"$0\" \"$@\"; s=$?; mkdir -p " +
                    quoted(after) + "; ls -A " + quoted(mount) + " > " + quoted(after + "/.listing") +
                    "; cp -p " + quoted(mount) + "/* " + quoted(after) + " 2>/dev/null; exit $s"};
    }

    // Whether this system lets a test mount a tmpfs in a namespace of its
    // own (root, or a user namespace); the tests that need it skip
    // otherwise.
    bool can_mount() const
    {
        const std::string probe = path("probe");
        return shell("mkdir -p " + quoted(probe) + " && unshare -m sh -c 'mount -t tmpfs -o "
                     "size=64k tmpfs " + probe + "' 2>/dev/null");
    }
};

TEST_F(WriteErrors, FullDeviceFailsInEveryFormatWithTheReason)
{
    if (!file_exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    write_sound(path("in.wav"), stereo_noise());
    // A device is written in place; -j 2 would encode 16-bit FLAC in
    // segments if it were a new file.
    for (const char* format : {"wav", "aiff", "caf", "w64", "raw", "flac", "flac:pcm24", "ogg",
                               "ogg:opus"}) {
        for (const char* jobs : {"1", "2"}) {
            const std::string label = std::string(format) + " -j " + jobs;
            const CommandResult r =
                tonbrix({"-q", "-j", jobs, "-i", path("in.wav"), "-o", "/dev/full",
                         std::string("--output-format=") + format, test_plugin("thru")});
            EXPECT_EQ(r.status, 1) << label;
            EXPECT_EQ(r.out, "") << label;
            EXPECT_EQ(r.err, "Error writing output file: /dev/full: No space left on device.\n")
                << label;
        }
    }
}

TEST_F(WriteErrors, FullFileSystemFailsTheRunAndKeepsTheOldFile)
{
    if (!can_mount()) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    write_sound(path("in.wav"), stereo_noise());
    const std::string disk = path("disk");
    ASSERT_EQ(::mkdir(disk.c_str(), 0755), 0);
    const std::string old_bytes = "an older take";
    write_bytes(path("old"), old_bytes);
    // A file system of 64 KiB holds the old file (one page of 4 KiB), a
    // filler and what is left free: almost nothing, or all of the new file
    // but its last page (the encoder's last pages are written when the file
    // is closed).
    struct Case {
        const char* label;
        const char* name;
        const char* format;
        const char* jobs;
        bool all_but_the_end;
    };
    const Case cases[] = {
        {"Ogg Vorbis", "out.ogg", "ogg", "1", false},
        {"Ogg Vorbis, all but the end", "out.ogg", "ogg", "2", true},
        {"Opus", "out.opus", "ogg:opus", "1", false},
        {"Opus, all but the end", "out.opus", "ogg:opus", "2", true},
        {"WAV", "out.wav", "wav", "1", false},
        {"FLAC by libsndfile", "out.flac", "flac:pcm24", "1", false},
        {"FLAC in segments", "out.flac", "flac:pcm16", "2", false},
        {"AIFF", "out.aiff", "aiff", "1", false},
    };
    for (const Case& c : cases) {
        int free_kib = 4;
        if (c.all_but_the_end) {
            const CommandResult whole =
                tonbrix({"-q", "-i", path("in.wav"), "-o", path(c.name),
                         std::string("--output-format=") + c.format, test_plugin("thru")});
            ASSERT_EQ(whole.status, 0) << whole.err;
            const auto size = static_cast<int>(read_file(path(c.name)).size());
            free_kib = (size - 1) / 4096 * 4;
            ASSERT_GT(free_kib, 8) << c.label;
            ASSERT_LE(free_kib, 56) << c.label;
        }
        const std::string out = disk + "/" + c.name;
        const std::string setup =
            "cp " + quoted(path("old")) + " " + quoted(out) + " && dd if=/dev/zero of=" +
            quoted(disk + "/filler") + " bs=1k count=" + std::to_string(64 - 4 - free_kib) +
            " 2>/dev/null";
        std::filesystem::remove_all(path("after"));
        const CommandResult r = tonbrix_under(
            in_small_file_system(disk, 64, setup),
            {"-q", "-j", c.jobs, "-i", path("in.wav"), "-o", out,
             std::string("--output-format=") + c.format, test_plugin("thru")});
        EXPECT_EQ(r.status, 1) << c.label << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.label;
        EXPECT_EQ(r.err, "Error writing output file: " + out + ": No space left on device.\n")
            << c.label;
        EXPECT_TRUE(read_file(path("after/") + c.name) == old_bytes) << c.label << ": old file lost";
        EXPECT_EQ(read_file(path("after/.listing")), std::string("filler\n") + c.name + "\n")
            << c.label;
    }
}

TEST_F(WriteErrors, FullFileSystemFailsAnOutputWrittenInPlace)
{
    if (!can_mount()) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    write_sound(path("in.wav"), stereo_noise());
    const std::string disk = path("disk");
    ASSERT_EQ(::mkdir(disk.c_str(), 0755), 0);
    // The name leaves no room for the temporary file's longer name (and
    // names no type, so that no warning comes).
    const std::string out = disk + "/" + std::string(254, 'n');
    for (const char* format : {"ogg", "ogg:opus", "flac:pcm16"}) {
        const CommandResult r = tonbrix_under(
            in_small_file_system(disk, 64, "dd if=/dev/zero of=" + quoted(disk + "/filler") +
                                               " bs=1k count=50 2>/dev/null"),
            {"-q", "-j", "2", "-i", path("in.wav"), "-o", out,
             std::string("--output-format=") + format, test_plugin("thru")});
        EXPECT_EQ(r.status, 1) << format;
        EXPECT_EQ(r.out, "") << format;
        EXPECT_EQ(r.err, "Error writing output file: " + out + ": No space left on device.\n")
            << format;
    }
}

TEST_F(WriteErrors, OpenFailuresNameThePathAndTheReason)
{
    write_sound(path("in.wav"), make_sound(1, 100, 48000, wav_float, [](long, int) { return 0.25f; }));
    ASSERT_EQ(::mkdir(path("folder").c_str(), 0755), 0);
    const std::string no_output = "Error reading output file: System error.\n";
    struct Case {
        const char* label;
        std::string input;
        std::string output;
        std::string err;
    };
    const Case cases[] = {
        {"missing input", path("missing.wav"), path("out.wav"),
         "Error reading input file: System error.\n" + path("missing.wav") +
             ": No such file or directory.\n"},
        {"output is a folder", path("in.wav"), path("folder"),
         no_output + path("folder") + ": Is a directory.\n"},
        {"output in a missing folder", path("in.wav"), path("none/out.wav"),
         no_output + path("none/out.wav") + ": No such file or directory.\n"},
    };
    for (const Case& c : cases) {
        const CommandResult r = tonbrix({"-q", "-i", c.input, "-o", c.output, test_plugin("thru")});
        EXPECT_EQ(r.status, 1) << c.label;
        EXPECT_EQ(r.out, "") << c.label;
        EXPECT_EQ(r.err, c.err) << c.label;
    }
}

TEST_F(WriteErrors, ImmutableOutputNamesTheReasonAndStaysAsItWas)
{
    write_sound(path("in.wav"), make_sound(1, 100, 48000, wav_float, [](long, int) { return 0.25f; }));
    write_bytes(path("kept.wav"), "kept");
    if (!shell("chattr +i " + quoted(path("kept.wav")) + " 2>/dev/null")) {
        GTEST_SKIP() << "cannot make a file immutable here";
    }
    const CommandResult r =
        tonbrix({"-q", "-i", path("in.wav"), "-o", path("kept.wav"), test_plugin("thru")});
    shell("chattr -i " + quoted(path("kept.wav")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error reading output file: System error.\n" + path("kept.wav") +
                         ": Operation not permitted.\n");
    EXPECT_EQ(read_file(path("kept.wav")), "kept");
}

TEST_F(WriteErrors, ReadOnlyFileSystemIsNamedForSoundAndMidiOutputs)
{
    if (!can_mount()) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    write_sound(path("in.wav"), make_sound(1, 100, 48000, wav_float, [](long, int) { return 0.25f; }));
    const std::string disk = path("disk");
    ASSERT_EQ(::mkdir(disk.c_str(), 0755), 0);
    const std::string read_only = "mount -o remount,ro " + quoted(disk);
    const std::string existing = "echo old > " + quoted(disk + "/old.wav") + " && " + read_only;
    const std::string no_output = "Error reading output file: System error.\n";
    struct Case {
        const char* label;
        std::string setup;
        std::vector<std::string> args; // after -q -i in.wav
        std::string err;
    };
    const Case cases[] = {
        {"new sound file", read_only, {"-o", disk + "/new.wav", test_plugin("thru")},
         no_output + disk + "/new.wav: Read-only file system.\n"},
        {"existing sound file", existing, {"-o", disk + "/old.wav", test_plugin("thru")},
         no_output + disk + "/old.wav: Read-only file system.\n"},
        {"MIDI file", read_only,
         {"-o", path("out.wav"), "--midi-out=" + disk + "/out.mid", test_plugin("eventprobe")},
         "Error: cannot write the MIDI file '" + disk + "/out.mid': Read-only file system.\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-q", "-i", path("in.wav")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CommandResult r = tonbrix_under(in_small_file_system(disk, 64, c.setup), args);
        EXPECT_EQ(r.status, 1) << c.label;
        EXPECT_EQ(r.out, "") << c.label;
        EXPECT_EQ(r.err, c.err) << c.label;
    }
}

TEST_F(WriteErrors, FailedJobsOfAFolderRunSayTheSame)
{
    if (!file_exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    // A job list whose outputs cannot be written, each for its own reason.
    ASSERT_EQ(::mkdir(path("folder").c_str(), 0755), 0);
    write_sound(path("a.wav"), stereo_noise());
    write_sound(path("b.wav"), stereo_noise());
    write_bytes(path("jobs.txt"), path("a.wav") + "\t/dev/full\n" + path("b.wav") + "\t" +
                                      path("folder") + "\n" + path("gone.wav") + "\t" +
                                      path("c.wav") + "\n");
    const CommandResult r = tonbrix({"-q", "--batch=" + path("jobs.txt"),
                                     "--output-format=ogg", test_plugin("thru")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, path("a.wav") + ": Error writing output file: /dev/full: No space left on "
                                     "device.\n" +
                         path("b.wav") + ": Error reading output file: System error.\n" +
                         path("b.wav") + ": " + path("folder") + ": Is a directory.\n" +
                         path("gone.wav") + ": Error reading input file: System error.\n" +
                         path("gone.wav") + ": " + path("gone.wav") +
                         ": No such file or directory.\n");
}

TEST_F(WriteErrors, OpusOutputRefusesOtherRatesBeforeAnythingIsTouched)
{
    write_sound(path("in.wav"), stereo_noise(44100));
    write_bytes(path("out.opus"), "old");
    const CommandResult r = tonbrix({"-q", "-i", path("in.wav"), "-o", path("out.opus"),
                                     "--output-format=ogg:opus", test_plugin("thru")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: Opus output takes only the sample rates 8000, 12000, 16000, 24000 "
                     "and 48000 Hz, not 44100 Hz, and tonbrix does not resample; choose another "
                     "encoding with --output-format, e.g. --output-format=flac.\n");
    EXPECT_EQ(read_file(path("out.opus")), "old");
    EXPECT_EQ(read_log(), ""); // refused before the plugin was made
    // A rate Opus takes is written.
    write_sound(path("in.wav"), make_sound(1, 2400, 24000, wav_float, [](long, int) { return 0.1f; }));
    const CommandResult ok = tonbrix({"-q", "-i", path("in.wav"), "-o", path("out.opus"),
                                      "--output-format=ogg:opus", test_plugin("thru")});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(read_sound(path("out.opus")).rate, 24000);
}
