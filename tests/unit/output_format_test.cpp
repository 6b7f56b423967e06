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

TEST(ExtensionMismatch, WarnsWhereTheNameNamesAnotherType)
{
    const auto warning = [](const char* written, const char* extension, const char* name) {
        return std::string("WARNING: The output is written as ") + written +
               " although its name ends in " + extension +
               "; choose the type with --output-format (e.g. --output-format=" + name + ").\n";
    };
    struct Case {
        const char* path;
        int written;
        std::string expected;
    };
    const Case cases[] = {
        {"shot.wav", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, warning("FLAC", ".wav", "wav")},
        {"dir.x/shot.WAV", SF_FORMAT_OGG | SF_FORMAT_VORBIS, warning("OGG", ".WAV", "wav")},
        {"shot.flac", SF_FORMAT_WAV | SF_FORMAT_PCM_16, warning("WAV", ".flac", "flac")},
        {"shot.aif", SF_FORMAT_WAV | SF_FORMAT_PCM_16, warning("WAV", ".aif", "aiff")},
        {"shot.oga", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, warning("FLAC", ".oga", "ogg")},
        {"shot.rf64", SF_FORMAT_WAV | SF_FORMAT_PCM_16, warning("WAV", ".rf64", "rf64")},
        {"shot.w64", SF_FORMAT_WAV | SF_FORMAT_PCM_16, warning("WAV", ".w64", "w64")},
        {"shot.wav", SF_FORMAT_W64 | SF_FORMAT_PCM_16, warning("W64", ".wav", "wav")},
        {"shot.raw", SF_FORMAT_WAV | SF_FORMAT_FLOAT, warning("WAV", ".raw", "raw")},
        // Names that agree with what is written.
        {"shot.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, ""},
        {"shot.wav", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, ""},
        {"shot.wav", SF_FORMAT_RF64 | SF_FORMAT_DOUBLE, ""}, // a long output
        {"shot.Wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, ""},
        {"shot.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, ""},
        {"shot.AIFF", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, ""},
        {"shot.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, ""},
        {"shot.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, ""},
        {"shot.oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS, ""},
        {"shot.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, ""},
        {"shot.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, ""},
        // Names that name no type, and raw data.
        {"shot", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, ""},
        {"take.2/shot", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, ""},
        {".wav", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, ""},
        {"shot.mp4", SF_FORMAT_WAV | SF_FORMAT_PCM_16, ""},
        {"shot.", SF_FORMAT_WAV | SF_FORMAT_PCM_16, ""},
        {"-", SF_FORMAT_WAV | SF_FORMAT_PCM_16, ""},
        {"shot.wav", SF_FORMAT_RAW | SF_FORMAT_FLOAT, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(extension_mismatch_warning(c.path, c.written), c.expected) << c.path;
    }
}
