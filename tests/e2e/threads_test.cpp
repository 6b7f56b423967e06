// The output does not depend on the number of threads nor on the block size.
#include "support/e2e.h"
#include "support/messages.h"

#include <sndfile.h>

namespace {

std::string digest(const std::string& bytes)
{
    return std::to_string(std::hash<std::string>{}(bytes)) + "/" + std::to_string(bytes.size());
}

} // namespace

class Threads : public E2E {};

TEST_F(Threads, ManyInstancesGiveTheSameBytesWithAnyJobCount)
{
    // Five channels through a one-input plugin: five instances. Values
    // beyond full scale exercise the clip stage on every path.
    const Sound input = make_sound(5, 30011, 44100, wav_pcm16, [](long f, int c) {
        return static_cast<float>(((f * (c + 3)) % 2001) - 1000) / 1024.0f;
    });
    write_sound(path("in.wav"), input);
    std::string expected;
    for (const char* jobs : {"1", "2", "3", "5", "64"}) {
        for (const char* block : {"7", "512", "8192", "20000"}) {
            const CommandResult r = tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "-j",
                                             jobs, "-b", block, "-p", "gain:1.5",
                                             test_plugin("thru")});
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, per_channel_notes(5) + clipping_warning);
            const std::string bytes = digest(read_file(path("out.wav")));
            if (expected.empty()) {
                expected = bytes;
            }
            EXPECT_EQ(bytes, expected) << "jobs " << jobs << ", block " << block;
        }
    }
}

TEST_F(Threads, FlacRoundTripIsTheSameWithAndWithoutThreads)
{
    Sound input = make_sound(2, 100000, 48000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                             [](long f, int c) { return static_cast<float>((f * 13 + c * 7) % 600 - 300) / 1000.0f; });
    write_sound(path("in.flac"), input);
    input = read_sound(path("in.flac")); // as 16-bit values
    std::string expected;
    for (const char* jobs : {"1", "2", "4"}) {
        const CommandResult r = tonbrix({"-i", path("in.flac"), "-o", path("out.flac"), "-j", jobs,
                                         test_plugin("thru2")});
        ASSERT_EQ(r.status, 0) << r.err;
        const Sound out = read_sound(path("out.flac"));
        EXPECT_EQ(out.samples, input.samples) << "jobs " << jobs;
        const std::string bytes = digest(read_file(path("out.flac")));
        if (expected.empty()) {
            expected = bytes;
        }
        EXPECT_EQ(bytes, expected) << "jobs " << jobs;
    }
}
