#include "io/output_size.h"

#include <sndfile.h>

#include <gtest/gtest.h>

#include <cstdint>

using namespace tonbrix;

namespace {

constexpr uint64_t limit = riff_data_limit;

} // namespace

TEST(OutputSize, WavTooLongBecomesRf64AndAiffIsRefused)
{
    struct Case {
        const char* label;
        int format;
        int channels;
        uint64_t frames;
        SizeFit fit;
    };
    const Case cases[] = {
        {"short wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 48000, SizeFit::fits},
        {"wav pcm8 at the limit", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, limit, SizeFit::fits},
        {"wav pcm8 one past", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, limit + 1, SizeFit::rf64},
        {"wav pcm16 stereo at the limit", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, limit / 4,
         SizeFit::fits},
        {"wav pcm16 stereo one past", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, limit / 4 + 1,
         SizeFit::rf64},
        {"wav pcm24 mono one past", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, limit / 3 + 1,
         SizeFit::rf64},
        {"wav pcm24 mono at the limit", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, limit / 3,
         SizeFit::fits},
        // Three hours of stereo doubles at 48 kHz: 8.3 GB.
        {"wav double 3 h stereo", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 2, 3ull * 3600 * 48000,
         SizeFit::rf64},
        // 4.15 GB: within the 4 GiB.
        {"wav float 3 h stereo", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 3ull * 3600 * 48000,
         SizeFit::fits},
        {"wav float 4 h stereo", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 4ull * 3600 * 48000,
         SizeFit::rf64},
        {"wav pcm16 6 h stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 6ull * 3600 * 48000,
         SizeFit::fits},
        {"wav pcm16 7 h stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 7ull * 3600 * 48000,
         SizeFit::rf64},
        {"wavex float 8 channels", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 8, limit / 32 + 1,
         SizeFit::rf64},
        {"wav ulaw counts a byte", SF_FORMAT_WAV | SF_FORMAT_ULAW, 1, limit + 1, SizeFit::rf64},
        {"wav adpcm counts a byte", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 2, limit / 2,
         SizeFit::fits},
        {"aiff at the limit", SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 2, limit / 8, SizeFit::fits},
        {"aiff one past", SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 2, limit / 8 + 1,
         SizeFit::too_long},
        {"aiff 3 h stereo", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 2, 3ull * 3600 * 48000,
         SizeFit::fits},
        {"aiff 5 h stereo", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 2, 5ull * 3600 * 48000,
         SizeFit::too_long},
        // Types without the 32-bit limit.
        {"rf64", SF_FORMAT_RF64 | SF_FORMAT_DOUBLE, 2, 3ull * 3600 * 48000, SizeFit::fits},
        {"w64", SF_FORMAT_W64 | SF_FORMAT_DOUBLE, 2, 3ull * 3600 * 48000, SizeFit::fits},
        {"caf", SF_FORMAT_CAF | SF_FORMAT_DOUBLE, 2, 3ull * 3600 * 48000, SizeFit::fits},
        {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 3ull * 3600 * 48000, SizeFit::fits},
        {"raw", SF_FORMAT_RAW | SF_FORMAT_FLOAT, 2, 3ull * 3600 * 48000, SizeFit::fits},
        // Lengths whose byte count does not fit 64 bits are not wrapped.
        {"wav huge frames", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 1024, UINT64_MAX / 2,
         SizeFit::rf64},
        {"aiff huge frames and channels", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2147483647,
         UINT64_MAX, SizeFit::too_long},
        {"no frames", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 0, SizeFit::fits},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fit_output_size(c.format, c.channels, c.frames), c.fit) << c.label;
    }
}

TEST(OutputSize, Rf64KeepsTheEncodingAndByteOrder)
{
    EXPECT_EQ(rf64_format(SF_FORMAT_WAV | SF_FORMAT_DOUBLE), SF_FORMAT_RF64 | SF_FORMAT_DOUBLE);
    EXPECT_EQ(rf64_format(SF_FORMAT_WAVEX | SF_FORMAT_PCM_24 | SF_ENDIAN_LITTLE),
              SF_FORMAT_RF64 | SF_FORMAT_PCM_24 | SF_ENDIAN_LITTLE);
}
