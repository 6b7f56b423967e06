// The output does not depend on the number of threads nor on the block size.
#include "support/e2e.h"
#include "support/messages.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>

namespace {

std::string digest(const std::string& bytes)
{
    return std::to_string(std::hash<std::string>{}(bytes)) + "/" + std::to_string(bytes.size());
}

// An Ogg stream's bytes with each page's serial number and checksum set to
// zero: libsndfile picks a new serial number for every file it writes.
std::string without_ogg_serials(std::string bytes)
{
    std::size_t at = 0;
    while (at + 27 <= bytes.size() && bytes.compare(at, 4, "OggS") == 0) {
        const auto segments = static_cast<unsigned char>(bytes[at + 26]);
        std::size_t size = 27 + segments;
        for (std::size_t k = 0; k < segments && at + 27 + k < bytes.size(); ++k) {
            size += static_cast<unsigned char>(bytes[at + 27 + k]);
        }
        bytes.replace(at + 14, 4, 4, '\0');
        bytes.replace(at + 22, 4, 4, '\0');
        at += size;
    }
    EXPECT_EQ(at, bytes.size()) << "not a whole Ogg stream";
    return bytes;
}

} // namespace

class Threads : public E2E {};

TEST_F(Threads, LossyOutputsAreTheSameWithAnyJobCountBlockSizeAndInAFolderRun)
{
    // Stereo through a mono plugin: two instances, so -j changes how the
    // chunks are cut.
    const Sound input = make_sound(2, 150000, 48000, wav_float, [](long f, int c) {
        const auto t = static_cast<double>(f);
        return static_cast<float>(0.4 * std::sin(t * 0.021 * (c + 1)) + 0.2 * std::sin(t * t * 3e-7));
    });
    ASSERT_EQ(::mkdir(path("in").c_str(), 0755), 0);
    write_sound(path("in/take.wav"), input);
    for (const char* format : {"ogg", "ogg:opus"}) {
        const std::string option = std::string("--output-format=") + format;
        std::string expected;
        const auto check = [&](const std::string& file, const std::string& label) {
            const std::string bytes = without_ogg_serials(read_file(file));
            ASSERT_GT(bytes.size(), 1000u) << format << ", " << label;
            if (expected.empty()) {
                expected = bytes;
            }
            EXPECT_TRUE(bytes == expected) << format << ", " << label;
        };
        for (const char* jobs : {"1", "2"}) {
            for (const char* block : {"64", "1000", "4096", "20000"}) {
                const CommandResult r =
                    tonbrix({"-q", "-j", jobs, "-b", block, "-i", path("in/take.wav"), "-o",
                             path("out.ogg"), option, "-p", "gain:0.5", test_plugin("thru")});
                ASSERT_EQ(r.status, 0) << r.err;
                check(path("out.ogg"), std::string("jobs ") + jobs + ", block " + block);
            }
        }
        for (const char* jobs : {"1", "2"}) {
            std::filesystem::remove_all(path("out"));
            const CommandResult r = tonbrix({"-q", "-j", jobs, "-i", path("in"), "-o",
                                             path("out"), option, "-p", "gain:0.5",
                                             test_plugin("thru")});
            ASSERT_EQ(r.status, 0) << r.err;
            // A folder run names Ogg outputs by libsndfile's extension.
            check(path("out/take.oga"), std::string("folder run, jobs ") + jobs);
        }
    }
}

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

TEST_F(Threads, EveryInstanceOutputLandsInItsChannelWithAnyJobCount)
{
    // Inputs longer than a chunk of the threaded pipeline, and tails of
    // several chunks of silence: each instance writes its own channels of
    // every chunk, the last one cut where the tail ends.
    struct Case {
        const char* label;
        int channels;
        std::vector<std::string> options;
        std::string plugin;
        long tail;                  // frames, at 8000 frames a second
        std::vector<long> delays;   // by channel
    };
    const Case cases[] = {
        {"delays that run into a tail", 3, {"-p", "stagger:1000", "--tail", "5"},
         test_plugin("delay"), 40000, {64, 1064, 2064}},
        {"instances of two outputs each", 4, {"-c", "1:1.in_l,2:1.in_r,3:2.in_l,4:2.in_r"},
         test_plugin("thru2"), 0, {0, 0, 0, 0}},
        {"one instance and a tail shorter than a block", 1, {"--tail", "0.001"},
         test_plugin("delay"), 8, {64}},
    };
    for (const Case& c : cases) {
        const long frames = 70001;
        const Sound input = make_sound(c.channels, frames, 8000, wav_float, [](long f, int ch) {
            return static_cast<float>(((f * 7 + ch * 13) % 2001) - 1000) / 1024.0f;
        });
        write_sound(path("in.wav"), input);
        std::vector<float> expected(static_cast<std::size_t>((frames + c.tail) * c.channels));
        for (long f = 0; f < frames + c.tail; ++f) {
            for (int ch = 0; ch < c.channels; ++ch) {
                const long from = f - c.delays[ch];
                expected[f * c.channels + ch] = from >= 0 && from < frames ? input.at(from, ch) : 0;
            }
        }
        for (const char* jobs : {"1", "2", "3", "8"}) {
            for (const char* block : {"5", "1000", "32768", "40000"}) {
                std::vector<std::string> args = {"-q", "-i", path("in.wav"), "-o", path("out.wav"),
                                                 "-j", jobs, "-b", block};
                args.insert(args.end(), c.options.begin(), c.options.end());
                args.push_back(c.plugin);
                const CommandResult r = tonbrix(args);
                ASSERT_EQ(r.status, 0) << c.label << ": " << r.err;
                EXPECT_EQ(r.err, "") << c.label;
                const Sound out = read_sound(path("out.wav"));
                EXPECT_EQ(out.channels, c.channels) << c.label;
                EXPECT_TRUE(out.samples == expected)
                    << c.label << ", jobs " << jobs << ", block " << block << ": "
                    << out.frames() << " frames";
            }
        }
    }
}
