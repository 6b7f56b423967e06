#include "io/output_format.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <string>

using namespace tonbrix;

namespace {

constexpr int raw_floats = SF_FORMAT_RAW | SF_FORMAT_FLOAT | SF_ENDIAN_CPU;

std::string error_for(const std::string& text)
{
    return "Error: invalid --output-format value '" + text + "': ";
}

} // namespace

TEST(OutputFormat, ResolvesAgainstTheInputsFormat)
{
    struct Case {
        const char* text;
        int input;
        int expected;
    };
    const Case cases[] = {
        // The type alone: the input's encoding where the type holds it.
        {"wav", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"flac", SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"flac", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"aiff", SF_FORMAT_WAV | SF_FORMAT_ULAW, SF_FORMAT_AIFF | SF_FORMAT_ULAW},
        {"caf", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, SF_FORMAT_CAF | SF_FORMAT_DOUBLE},
        {"au", SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_AU | SF_FORMAT_PCM_16},
        {"w64", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, SF_FORMAT_W64 | SF_FORMAT_PCM_24},
        {"rf64", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, SF_FORMAT_RF64 | SF_FORMAT_PCM_24},
        {"wavex", SF_FORMAT_WAV | SF_FORMAT_FLOAT, SF_FORMAT_WAVEX | SF_FORMAT_FLOAT},
        // 8 bits are unsigned in WAV, signed in FLAC and AIFF.
        {"flac", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, SF_FORMAT_FLAC | SF_FORMAT_PCM_S8},
        {"wav", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, SF_FORMAT_WAV | SF_FORMAT_PCM_U8},
        {"raw", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, SF_FORMAT_RAW | SF_FORMAT_PCM_U8},
        {"raw", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, SF_FORMAT_RAW | SF_FORMAT_PCM_S8},
        {"aiff:pcm8", SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_AIFF | SF_FORMAT_PCM_S8},
        // ...else the type's natural choice: FLAC up to 24 bits, Ogg Vorbis,
        // 24-bit PCM for a lossy input.
        {"flac", SF_FORMAT_WAV | SF_FORMAT_PCM_32, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"flac", SF_FORMAT_WAV | SF_FORMAT_FLOAT, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"flac", SF_FORMAT_WAV | SF_FORMAT_ULAW, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"ogg", SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
        {"wav", SF_FORMAT_OGG | SF_FORMAT_VORBIS, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        // Raw floats from a pipe become a float WAV; the byte order stays
        // only within the same type.
        {"wav", raw_floats, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"raw:pcm16", raw_floats, SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_CPU},
        {"raw", SF_FORMAT_WAV | SF_FORMAT_PCM_24, SF_FORMAT_RAW | SF_FORMAT_PCM_24},
        // The encoding alone keeps the input's type.
        {":pcm24", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
        {":double", SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_WAV | SF_FORMAT_DOUBLE},
        {":pcm16", raw_floats, SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_CPU},
        // Both parts; names in any case; a unique libsndfile extension.
        {"flac:pcm24", SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"wav:pcm8", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, SF_FORMAT_WAV | SF_FORMAT_PCM_U8},
        {"WAV:Float", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"oga", SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    };
    for (const Case& c : cases) {
        OutputFormatRequest request;
        std::string error;
        ASSERT_TRUE(parse_output_format(c.text, request, error)) << c.text << ": " << error;
        int format = 0;
        EXPECT_TRUE(resolve_output_format(request, c.input, format, error)) << c.text << ": "
                                                                            << error;
        EXPECT_EQ(format, c.expected) << c.text << std::hex << " from 0x" << c.input;
    }
}

TEST(OutputFormat, RefusesWhatCannotBeWrittenNamingTheFormat)
{
    struct Case {
        const char* text;
        std::string reason;
    };
    const Case cases[] = {
        {"", "expected TYPE, TYPE:ENCODING or :ENCODING.\n"},
        {":", "expected TYPE, TYPE:ENCODING or :ENCODING.\n"},
        {"wav:", "expected TYPE, TYPE:ENCODING or :ENCODING.\n"},
        {"wav:pcm16:x", "expected TYPE, TYPE:ENCODING or :ENCODING.\n"},
        {"mp9", "unknown type 'mp9'.\n"},
        {"mp9:float", "unknown type 'mp9'.\n"},
        {"wav ", "unknown type 'wav '.\n"},
        {"wav:pcm7", "unknown encoding 'pcm7'.\n"},
        {":pcm7", "unknown encoding 'pcm7'.\n"},
        {"flac:float", "flac cannot hold float data.\n"},
        {"ogg:pcm16", "ogg cannot hold pcm16 data.\n"},
        {"wav:vorbis", "wav cannot hold vorbis data.\n"},
    };
    for (const Case& c : cases) {
        OutputFormatRequest request;
        std::string error;
        EXPECT_FALSE(parse_output_format(c.text, request, error)) << c.text;
        EXPECT_EQ(error, error_for(c.text) + c.reason) << c.text;
    }
}

TEST(OutputFormat, AnEncodingTheInputsTypeCannotHoldIsRefused)
{
    OutputFormatRequest request;
    std::string error;
    ASSERT_TRUE(parse_output_format(":float", request, error)) << error;
    int format = 0;
    EXPECT_FALSE(resolve_output_format(request, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, format, error));
    EXPECT_EQ(error, error_for(":float") + "flac (the input's type) cannot hold float data.\n");
}
