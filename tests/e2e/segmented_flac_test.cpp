// 16-bit FLAC outputs are encoded in segments on several threads; the file
// must be the one a single thread writes, and failures must not leave
// anything behind.
#include "support/e2e.h"
#include "support/messages.h"

#include <sndfile.h>

#include <cmath>

class SegmentedFlac : public E2E {};

TEST_F(SegmentedFlac, SameBytesWithAnyJobCount)
{
    const struct {
        const char* label;
        long frames;
        std::vector<std::string> options;
    } cases[] = {
        {"empty", 0, {}},
        {"one frame", 1, {}},
        {"one block and one frame", 4097, {}},
        {"one segment", 65536, {}},
        {"segments and a piece", 3 * 65536 + 4321, {}},
        {"tail", 70000, {"--tail", "0.5"}},
        {"block size 7", 70001, {"-b", "7"}},
    };
    for (const auto& c : cases) {
        // Beyond full scale now and then, so the clamping shows too.
        write_sound(path("in.wav"), make_sound(2, c.frames, 48000, wav_pcm16, [](long f, int ch) {
                        return 1.3f * std::sin(static_cast<float>(f) * 0.003f * (ch + 1));
                    }));
        std::string expected;
        for (const char* jobs : {"1", "2", "3"}) {
            std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.flac"),
                                             "--output-format", "flac", "-j", jobs};
            args.insert(args.end(), c.options.begin(), c.options.end());
            args.push_back(test_plugin("thru2"));
            const CommandResult r = tonbrix(args);
            ASSERT_EQ(r.status, 0) << c.label << ", jobs " << jobs << ": " << r.err;
            const std::string bytes = read_file(path("out.flac"));
            if (jobs == std::string("1")) {
                expected = bytes;
            } else {
                // A stream FLAC readers take, with all the frames (none
                // at all too).
                SF_INFO info{};
                SNDFILE* file = sf_open(path("out.flac").c_str(), SFM_READ, &info);
                ASSERT_NE(file, nullptr) << c.label;
                const long tail = c.options.empty() || c.options[0] != "--tail" ? 0 : 24000;
                // FLAC cannot say "no samples": a count of 0 means unknown,
                // which libsndfile gives as the largest count.
                EXPECT_EQ(info.frames, c.frames + tail == 0 ? SF_COUNT_MAX : c.frames + tail)
                    << c.label;
                std::vector<short> frame(2);
                long read = 0;
                while (sf_readf_short(file, frame.data(), 1) == 1) {
                    ++read;
                }
                EXPECT_EQ(read, c.frames + tail) << c.label;
                sf_close(file);
            }
            EXPECT_TRUE(bytes == expected) << c.label << ", jobs " << jobs;
        }
    }
}

TEST_F(SegmentedFlac, FailedWriteLeavesNothing)
{
    write_sound(path("in.wav"), make_sound(2, 200000, 48000, wav_pcm16, [](long f, int) {
                    return static_cast<float>(f % 1000) / 1000.0f - 0.5f;
                }));
    // 64 blocks of 512 bytes: the header fits, the frames do not.
    const CommandResult r =
        tonbrix_under(shell_with("ulimit -f 64; trap '' XFSZ"),
                      {"-i", path("in.wav"), "-o", path("out.flac"), "--output-format", "flac", "-j",
                       "2", test_plugin("thru2")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error writing output file: " + path("out.flac") + ": File too large.\n");
    EXPECT_EQ(folder_entries(dir_), (std::vector<std::string>{"in.wav", "lifecycle.log"}));
}
