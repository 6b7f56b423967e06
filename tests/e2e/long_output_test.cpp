// Outputs beyond what WAV and AIFF can hold: RF64 in place of WAV, a
// refusal for AIFF, decided before the first write. Sparse raw inputs give
// the long lengths; the raise plugin ends each run in its first block.
#include "support/e2e.h"

#include <sndfile.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <fcntl.h>

namespace {

// A raw float file of `frames` mono frames of silence that takes no room.
bool make_sparse_raw(const std::string& path, uint64_t frames)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool sized = ::ftruncate(fd, static_cast<off_t>(frames * sizeof(float))) == 0;
    ::close(fd);
    return sized;
}

// The most mono float frames a WAV output holds (4 GiB less 1 MiB of bytes).
constexpr uint64_t wav_float_frames = (0xFFFFFFFFull - (1ull << 20)) / 4;

const char* rf64_note =
    "Note: The output is too long for WAV (4 GiB at most); it is written as RF64.\n";
const char* aiff_error = "Error: The output is too long for AIFF (4 GiB at most); choose CAF, "
                         "W64 or RF64 with --output-format, e.g. --output-format=caf.\n";

} // namespace

class LongOutput : public E2E {};

TEST_F(LongOutput, TypeIsChosenByTheInputsLengthAndTheTail)
{
    struct Case {
        const char* label;
        uint64_t frames;
        std::vector<std::string> options;
        int status;
        std::string out;
        std::string err;
    };
    const std::string interrupted = "Interrupted.\n";
    const std::string routing = "Note: Running 1 instances of the plugin.\n"
                                "Note: Mapping audio channels to plugin ports based on ordering\n";
    const Case cases[] = {
        {"wav that fits", wav_float_frames, {"--output-format=wav:float"}, 128 + SIGTERM,
         routing, interrupted},
        {"wav one frame too long", wav_float_frames + 1, {"--output-format=wav:float"},
         128 + SIGTERM, std::string(routing) + rf64_note,
         interrupted},
        {"wav with a tail too long", wav_float_frames - 100,
         {"--output-format=wav:float", "--tail=0.01"}, 128 + SIGTERM,
         std::string(routing) + rf64_note, interrupted},
        {"wavex too long", wav_float_frames + 1, {"--output-format=wavex:float"}, 128 + SIGTERM,
         std::string(routing) + rf64_note, interrupted},
        {"quiet", wav_float_frames + 1, {"-q", "--output-format=wav:float"}, 128 + SIGTERM, "",
         interrupted},
        {"aiff too long", wav_float_frames + 1, {"--output-format=aiff:float"}, 1,
         routing, aiff_error},
        // The name says WAV, and says it once.
        {"caf holds it", wav_float_frames + 1, {"--output-format=caf:float"}, 128 + SIGTERM,
         routing + "WARNING: The output is written as CAF although its name ends in .wav; choose "
                   "the type with --output-format (e.g. --output-format=wav).\n",
         interrupted},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(make_sparse_raw(path("long.f32"), c.frames)) << c.label;
        std::vector<std::string> args = {"-r", "48000", "-n", "1", "-i", path("long.f32"), "-o",
                                         path("out.wav")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"-p", "signal:15,after:0", test_plugin("raise")});
        const CommandResult r = tonbrix(args);
        EXPECT_EQ(r.status, c.status) << c.label;
        EXPECT_EQ(r.out, c.out) << c.label;
        EXPECT_EQ(r.err, c.err) << c.label;
        EXPECT_FALSE(file_exists(path("out.wav"))) << c.label;
        for (const std::string& name : folder_entries(dir_)) {
            EXPECT_NE(name[0], '.') << c.label << ": " << name; // no temporary file left
        }
    }
}

TEST_F(LongOutput, StreamOfUnknownLengthThatFitsIsAPlainWavFile)
{
    std::vector<float> samples;
    for (int i = 0; i < 3000; ++i) {
        samples.push_back(static_cast<float>(i % 100) / 200.0f);
    }
    const CommandResult r =
        tonbrix({"-r", "44100", "-n", "1", "-i", "-", "-o", path("out.wav"),
                 "--output-format=wav", test_plugin("thru")},
                to_raw_bytes(samples));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Note: Running 1 instances of the plugin.\n"
                     "Note: Mapping audio channels to plugin ports based on ordering\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(path("out.wav")).substr(0, 4), "RIFF");
    const Sound out = read_sound(path("out.wav"));
    EXPECT_EQ(out.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
    EXPECT_EQ(out.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
    EXPECT_EQ(out.rate, 44100);
    EXPECT_EQ(out.samples, samples);
}
