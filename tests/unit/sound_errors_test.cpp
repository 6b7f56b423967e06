// What the io layer tells of failures: the frames a cut-short file's header
// promised (from libsndfile's log), libsndfile's texts without its stray
// printing, and the first failed write under an encoder that ignores it.
#include "io/checked_descriptor.h"
#include "io/promised_frames.h"
#include "io/sound_errors.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace {

SF_INFO info_of(int format, int channels, sf_count_t frames)
{
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.frames = frames;
    info.samplerate = 48000;
    info.seekable = 1;
    return info;
}

} // namespace

TEST(PromisedFrames, ComeFromTheSizeLibsndfileFoundTooLong)
{
    struct Case {
        const char* label;
        SF_INFO info;
        std::string log;
        uint64_t promised;
    };
    const int wav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const Case cases[] = {
        {"WAV", info_of(wav16, 2, 3993), "RIFF : 40036 (should be 16009)\ndata : 40000 (should be 15973)\n",
         10000},
        {"WAV 24-bit mono", info_of(SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, 10), "data : 300 (should be 31)\n",
         100},
        {"WAVEX", info_of(SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 2, 3), "data : 800 (should be 24)\n", 100},
        {"AIFF counts its offset fields", info_of(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 3991),
         "FORM : 40046 (should be 16013)\n SSND : 40008 (should be 15975)\n", 10000},
        {"AU", info_of(SF_FORMAT_AU | SF_FORMAT_ULAW, 2, 3996),
         "  Data Size   : 20000 (should be 7993)\n", 10000},
        {"RF64 says it in its ds64 chunk", info_of(SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 2, 3984),
         "  Riff size : 40096 (should be 16033)\n  Data size : 40000\n  Frames    : 10000\n",
         10000},
        {"compressed samples", info_of(SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 2, 4082),
         "data : 10240 (should be 4060)\n", 0},
        // No promise beyond the file.
        {"whole file", info_of(wav16, 2, 10000), "data : 40000\n", 0},
        {"only the RIFF size is off", info_of(wav16, 2, 10000), "RIFF : 40100 (should be 40036)\n", 0},
        {"size of a stream to a pipe (ffmpeg)", info_of(wav16, 1, 4410),
         "data : 4294967295 (should be 8820)\n", 0},
        {"size of a stream to a pipe (sox)", info_of(wav16, 2, 4800),
         "data : 2147479552 (should be 19200)\n", 0},
        {"type whose log says nothing", info_of(SF_FORMAT_W64 | SF_FORMAT_PCM_16, 2, 3984),
         "data : 40024 (should be 15960)\n", 0},
        {"RF64 whose ds64 holds no more", info_of(SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 2, 100),
         "  Frames    : 100\n", 0},
        {"no number", info_of(wav16, 2, 10), "data : x (should be 4)\n", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tonbrix::logged_promised_frames(c.log, c.info), c.promised) << c.label;
    }
}

TEST(SoundErrors, TextsOfUndefinedCodesPrintNothing)
{
    // libsndfile prints "Not a valid error number" on standard output for
    // these; run them with standard output going to a pipe and look.
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(pipe_ends[1], STDOUT_FILENO);
    const std::string negative = tonbrix::sound_error_text(-1);
    const std::string huge = tonbrix::sound_error_text(1 << 20);
    const std::string system = tonbrix::sound_error_text(SF_ERR_SYSTEM);
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(pipe_ends[1]);
    char byte = 0;
    EXPECT_EQ(::read(pipe_ends[0], &byte, 1), 0) << "something was printed";
    ::close(pipe_ends[0]);
    EXPECT_EQ(negative, "The encoder failed without naming the error (libsndfile error -1).");
    EXPECT_EQ(huge, "The encoder failed without naming the error (libsndfile error 1048576).");
    EXPECT_EQ(system, "System error.");
    EXPECT_EQ(tonbrix::sound_error_text(SF_ERR_UNRECOGNISED_FORMAT), "Format not recognised.");
}

TEST(CheckedDescriptor, KeepsTheReasonOfAFailedWriteUnderTheOggEncoder)
{
    const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        GTEST_SKIP() << "no /dev/full";
    }
    ASSERT_TRUE(tonbrix::descriptor_seeks(fd));
    tonbrix::CheckedDescriptor descriptor{fd};
    SF_VIRTUAL_IO io = tonbrix::checked_descriptor_io();
    SF_INFO info = info_of(SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 0);
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &descriptor);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const std::vector<float> samples(48000, 0.25f);
    // The encoder's own account names no reason (its code is -1, which
    // libsndfile has no text for); the descriptor kept it.
    static_cast<void>(sf_writef_float(file, samples.data(), 48000));
    EXPECT_NE(sf_error(file), SF_ERR_SYSTEM);
    sf_close(file);
    ::close(fd);
    EXPECT_EQ(descriptor.error, ENOSPC);

    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    EXPECT_FALSE(tonbrix::descriptor_seeks(pipe_ends[1]));
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
}
