// --output-format: any input format to any writable one, raw floats
// included; the 16-bit rounding in every container; refusals before any
// file is touched.
#include "support/e2e.h"
#include "support/messages.h"

#include <cmath>
#include <cstdio>

namespace {

// The samples of a sound file as libsndfile's 16-bit values.
std::vector<short> read_shorts(const std::string& file)
{
    SF_INFO info{};
    SNDFILE* handle = sf_open(file.c_str(), SFM_READ, &info);
    if (handle == nullptr) {
        return {};
    }
    std::vector<short> values(static_cast<std::size_t>(info.frames * info.channels));
    values.resize(static_cast<std::size_t>(
        sf_read_short(handle, values.data(), static_cast<sf_count_t>(values.size()))));
    sf_close(handle);
    return values;
}

// 16-bit values across the whole range.
std::vector<short> large_shorts()
{
    std::vector<short> values;
    for (int k = -32768; k < 32768; k += 37) {
        values.push_back(static_cast<short>(k));
    }
    return values;
}

std::vector<float> as_floats(const std::vector<short>& values)
{
    std::vector<float> floats;
    for (short v : values) {
        floats.push_back(static_cast<float>(v) / 32768.0f);
    }
    return floats;
}

} // namespace

class OutputFormat : public E2E {};

TEST_F(OutputFormat, ConvertsBetweenContainersAndEncodings)
{
    struct Case {
        const char* label;
        int input;
        const char* option;
        int expected;
    };
    const Case cases[] = {
        {"FLAC in, WAV out", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "wav",
         SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"16-bit WAV to 24-bit FLAC", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "flac:pcm24",
         SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"16-bit WAV to FLAC keeps 16 bits", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "flac",
         SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"float WAV to FLAC takes 24 bits", SF_FORMAT_WAV | SF_FORMAT_FLOAT, "flac",
         SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"encoding alone keeps the type", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, ":float",
         SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {"24-bit WAV to CAF", SF_FORMAT_WAV | SF_FORMAT_PCM_24, "caf",
         SF_FORMAT_CAF | SF_FORMAT_PCM_24},
    };
    for (const Case& c : cases) {
        // Samples every format here holds exactly.
        const Sound in = make_sound(2, 700, 44100, c.input, [](long f, int ch) {
            return static_cast<float>((f * 7 + ch * 13) % 256 - 128) / 256.0f;
        });
        write_sound(path("in.snd"), in);
        std::remove(path("out.snd").c_str());
        const CommandResult r = tonbrix({"-i", path("in.snd"), "-o", path("out.snd"),
                                         std::string("--output-format=") + c.option,
                                         test_plugin("thru2")});
        EXPECT_EQ(r.status, 0) << c.label;
        EXPECT_EQ(r.out, one_instance_notes) << c.label;
        EXPECT_EQ(r.err, "") << c.label;
        const Sound out = read_sound(path("out.snd"));
        EXPECT_EQ(out.format, c.expected) << c.label;
        EXPECT_EQ(out.rate, 44100) << c.label;
        EXPECT_EQ(out.samples, in.samples) << c.label;
    }
}

TEST_F(OutputFormat, OggTakesVorbis)
{
    const Sound in = make_sound(1, 4800, 48000, wav_pcm16, [](long f, int) {
        return 0.5f * static_cast<float>(std::sin(f * 0.05));
    });
    write_sound(path("in.wav"), in);
    const CommandResult r = tonbrix(
        {"-i", path("in.wav"), "-o", path("out.ogg"), "--output-format=ogg", test_plugin("thru")});
    EXPECT_EQ(r.status, 0) << r.err;
    const Sound out = read_sound(path("out.ogg"));
    EXPECT_EQ(out.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
    EXPECT_EQ(out.frames(), in.frames());
}

TEST_F(OutputFormat, RawFloatsBecomeAWavFile)
{
    std::vector<float> samples;
    for (int i = 0; i < 2 * 700; ++i) {
        samples.push_back(static_cast<float>(i % 300) / 400.0f - 0.25f);
    }
    write_bytes(path("in.raw"), to_raw_bytes(samples));
    const CommandResult r =
        tonbrix({"-i", path("in.raw"), "-o", path("out.wav"), "-r", "32000", "-n", "2",
                 "--output-format=wav", test_plugin("thru")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, per_channel_notes(2));
    EXPECT_EQ(r.err, "");
    const Sound out = read_sound(path("out.wav"));
    EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(out.rate, 32000);
    EXPECT_EQ(out.channels, 2);
    EXPECT_EQ(out.samples, samples);
}

TEST_F(OutputFormat, SixteenBitOutputIsRoundedToTheNearestValueInEveryContainer)
{
    // Float input, 16-bit output, a gain that leaves fractions: each sample
    // must be the nearest 16-bit value to what the plugin produced.
    const std::vector<float> floats = as_floats(large_shorts());
    std::vector<short> nearest;
    for (float v : floats) {
        nearest.push_back(
            static_cast<short>(std::lrint(static_cast<double>(v * 0.7f) * 32768.0)));
    }
    write_sound(path("in.wav"), Sound{1, 48000, wav_float, floats});
    write_bytes(path("in.raw"), to_raw_bytes(floats));
    for (const char* option : {"wav:pcm16", "flac:pcm16", "aiff:pcm16", "caf:pcm16", ":pcm16"}) {
        std::remove(path("out.snd").c_str());
        const CommandResult r =
            tonbrix({"-i", path("in.wav"), "-o", path("out.snd"),
                     std::string("--output-format=") + option, "-p", "gain:0.7",
                     test_plugin("thru")});
        ASSERT_EQ(r.status, 0) << option << ": " << r.err;
        EXPECT_EQ(read_shorts(path("out.snd")), nearest) << option;
    }

    // Headerless 16-bit output from raw floats: native shorts.
    const CommandResult r =
        tonbrix({"-i", path("in.raw"), "-o", "-", "-r", "48000", "-n", "1", "-p", "gain:0.7",
                 "--output-format=raw:pcm16", test_plugin("thru")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(reinterpret_cast<const char*>(nearest.data()),
                                 nearest.size() * sizeof(short)));
}

TEST_F(OutputFormat, FloatOutputOfASixteenBitInputIsNotQuantised)
{
    // The output's encoding, not the input's, decides the 16-bit path.
    const std::vector<short> values = large_shorts();
    write_pcm16_mono(path("in.wav"), values, 48000);
    const CommandResult r =
        tonbrix({"-i", path("in.wav"), "-o", path("out.wav"), "--output-format=:float", "-p",
                 "gain:0.7", test_plugin("thru")});
    ASSERT_EQ(r.status, 0) << r.err;
    const Sound out = read_sound(path("out.wav"));
    EXPECT_EQ(out.format, wav_float);
    ASSERT_EQ(out.samples.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        ASSERT_EQ(out.samples[i], static_cast<float>(values[i]) / 32768.0f * 0.7f) << i;
    }
}

TEST_F(OutputFormat, RefusedFormatsTouchNoFile)
{
    write_sound(path("in.flac"), make_sound(1, 100, 48000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                                            [](long f, int) { return f / 256.0f; }));
    write_sound(path("keep.wav"),
                make_sound(2, 10, 44100, wav_pcm16, [](long f, int) { return f / 16.0f; }));
    const std::string before = read_file(path("keep.wav"));
    struct Case {
        std::string format;
        std::string input;
        std::string reason;
    };
    const Case cases[] = {
        {"mp9", path("in.flac"), "unknown type 'mp9'"},
        {"wav:pcm7", path("in.flac"), "unknown encoding 'pcm7'"},
        {"flac:float", path("in.flac"), "flac cannot hold float data"},
        {"wav:", path("in.flac"), "expected TYPE, TYPE:ENCODING or :ENCODING"},
        // Checked before the input is opened: its error does not come first.
        {"ogg:pcm24", path("missing.wav"), "ogg cannot hold pcm24 data"},
        // Known only with the input: still refused before the output path.
        {":float", path("in.flac"), "flac (the input's type) cannot hold float data"},
    };
    for (const Case& c : cases) {
        std::remove(log_path().c_str());
        const CommandResult r = tonbrix({"-i", c.input, "-o", path("keep.wav"),
                                         "--output-format=" + c.format, test_plugin("thru")});
        EXPECT_EQ(r.status, 1) << c.format;
        EXPECT_EQ(r.out, "") << c.format;
        EXPECT_EQ(r.err,
                  "Error: invalid --output-format value '" + c.format + "': " + c.reason + ".\n")
            << c.format;
        EXPECT_EQ(read_file(path("keep.wav")), before) << c.format;
        EXPECT_EQ(read_log(), "") << c.format;
    }
}
