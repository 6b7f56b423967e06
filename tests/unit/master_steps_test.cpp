// The last steps of an output: dither, rate conversion and loudness, as
// pure functions and as stages around a sink or a source.
#include "cli/master_steps.h"
#include "cli/option_tables.h"
#include "io/dither.h"
#include "io/dithering_sink.h"
#include "io/loudness.h"
#include "io/loudness_sink.h"
#include "io/rate_converter.h"
#include "io/resampling_stages.h"
#include "io/true_peak.h"

#include <gtest/gtest.h>

#include <ebur128.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

using namespace tonbrix;
using namespace tonbrix::cli;

namespace {

// A sink that keeps what it is given, by channel.
struct KeepingSink : Sink {
    std::vector<std::vector<float>> channels;
    std::size_t largest_write = 0;
    std::size_t prepared_frames = 0;
    bool finished = false;

    std::optional<Error> prepare(uint32_t count, std::size_t frames, unsigned) override
    {
        channels.assign(count, {});
        prepared_frames = frames;
        return std::nullopt;
    }
    std::optional<Error> write(const float* const* data, uint32_t count,
                               std::size_t frames) override
    {
        largest_write = std::max(largest_write, frames);
        for (uint32_t c = 0; c < count; ++c) {
            channels[c].insert(channels[c].end(), data[c], data[c] + frames);
        }
        return std::nullopt;
    }
    std::optional<Error> finish() override
    {
        finished = true;
        return std::nullopt;
    }
};

// Plain channels of a sine per channel (another frequency in each).
std::vector<std::vector<float>> sines(uint32_t count, std::size_t frames, int rate,
                                      double frequency, double amplitude)
{
    std::vector<std::vector<float>> out(count, std::vector<float>(frames));
    for (uint32_t c = 0; c < count; ++c) {
        for (std::size_t f = 0; f < frames; ++f) {
            out[c][f] = static_cast<float>(
                amplitude * std::sin(2.0 * std::numbers::pi * frequency * (c + 1) *
                                     static_cast<double>(f) / rate));
        }
    }
    return out;
}

// Writes the channels into the sink in pieces of the given sizes, in
// turn, then finishes it.
void feed(Sink& sink, const std::vector<std::vector<float>>& channels,
          const std::vector<std::size_t>& pieces, std::size_t largest, unsigned jobs = 1)
{
    const uint32_t count = static_cast<uint32_t>(channels.size());
    ASSERT_FALSE(sink.prepare(count, largest, jobs));
    const std::size_t frames = channels.front().size();
    std::vector<const float*> at(count);
    for (std::size_t done = 0, k = 0; done < frames; ++k) {
        const std::size_t piece = std::min(pieces[k % pieces.size()], frames - done);
        for (uint32_t c = 0; c < count; ++c) {
            at[c] = channels[c].data() + done;
        }
        ASSERT_FALSE(sink.write(at.data(), count, piece));
        done += piece;
    }
    ASSERT_FALSE(sink.finish());
}

// A source of given plain channels, read in whatever pieces are asked.
struct VectorSource : Source {
    std::vector<std::vector<float>> data;
    std::size_t at = 0;

    uint32_t channels() const override { return static_cast<uint32_t>(data.size()); }
    SourceRead read(const ChunkOutput& output, std::size_t frames) override
    {
        SourceRead got;
        got.frames = std::min(frames, data.front().size() - at);
        for (uint32_t c = 0; c < channels(); ++c) {
            for (std::size_t f = 0; f < got.frames; ++f) {
                output.channel(c)[f * output.step] = data[c][at + f];
            }
        }
        at += got.frames;
        return got;
    }
};

// The power of one frequency in a signal, by a single DFT bin with a Hann
// window, relative to a full-scale sine (0 dB).
double tone_db(const std::vector<float>& signal, double frequency, int rate)
{
    std::complex<double> sum = 0.0;
    double window_sum = 0.0;
    const std::size_t n = signal.size();
    for (std::size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / (n - 1));
        sum += w * signal[i] *
               std::polar(1.0, -2.0 * std::numbers::pi * frequency * static_cast<double>(i) / rate);
        window_sum += w;
    }
    return 20.0 * std::log10(2.0 * std::abs(sum) / window_sum + 1e-300);
}

} // namespace

TEST(RateConversion, FrameCountsAreRoundedExactly)
{
    const struct {
        uint64_t frames;
        int in;
        int out;
        uint64_t expected;
    } cases[] = {
        {44100, 44100, 48000, 48000},   {1, 44100, 48000, 1},       {0, 48000, 44100, 0},
        {100, 48000, 44100, 92},        {1000, 48000, 16000, 333},  {1001, 48000, 16000, 334},
        {3, 96000, 48000, 2},           {1, 96000, 48000, 1},       {147, 48000, 44100, 135},
        {uint64_t{1} << 40, 44100, 96000, 2393494699921ull},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(converted_frames(c.frames, c.in, c.out), c.expected)
            << c.frames << " " << c.in << "->" << c.out;
    }
}

TEST(RateConversion, SinkGivesExactCountAlignedWhateverThePieces)
{
    const struct {
        int in;
        int out;
    } rates[] = {{44100, 48000}, {48000, 44100}, {48000, 96000}, {96000, 16000}, {16000, 44100}};
    for (const auto& r : rates) {
        // A click at a known time comes out at the same time.
        const std::size_t frames = static_cast<std::size_t>(r.in) / 2 + 17;
        std::vector<std::vector<float>> input(2, std::vector<float>(frames, 0.0f));
        const std::size_t click = frames / 3;
        input[0][click] = 0.5f;
        input[1][click + 1] = 0.5f;
        std::vector<std::vector<float>> first;
        const struct {
            std::vector<std::size_t> pieces;
            unsigned jobs; // 2: half the channels converted on a thread of their own
        } runs[] = {{{4096}, 1}, {{1, 7, 300, 4096}, 1}, {{4096}, 2}, {{1, 7, 300, 4096}, 2}};
        for (const auto& run : runs) {
            KeepingSink kept;
            ResamplingSink sink(kept, r.in, r.out);
            feed(sink, input, run.pieces, 4096, run.jobs);
            ASSERT_TRUE(kept.finished);
            ASSERT_EQ(kept.channels[0].size(), converted_frames(frames, r.in, r.out))
                << r.in << "->" << r.out;
            const auto& left = kept.channels[0];
            const std::size_t peak =
                std::max_element(left.begin(), left.end()) - left.begin();
            const double expected = static_cast<double>(click) * r.out / r.in;
            EXPECT_LE(std::abs(static_cast<double>(peak) - expected), 1.0)
                << r.in << "->" << r.out;
            if (first.empty()) {
                first = kept.channels;
            } else {
                EXPECT_EQ(kept.channels, first) << "the pieces or the jobs changed the output";
            }
        }
    }
}

TEST(RateConversion, SinkEndsAtTheLengthItIsGiven)
{
    // A conversion back from the plugins' rate ends at the length the
    // input had: a frame or two more (silence) or fewer than its own count.
    const auto input = sines(3, 20011, 48000, 440.0, 0.5);
    const uint64_t own = converted_frames(20011, 48000, 44100);
    for (const uint64_t length : {own - 2, own, own + 2}) {
        for (const unsigned jobs : {1u, 2u}) {
            KeepingSink kept;
            ResamplingSink sink(kept, 48000, 44100);
            uint64_t asked = 0;
            sink.set_length([&](uint64_t frames) {
                asked = frames;
                return length;
            });
            feed(sink, input, {4096}, 4096, jobs);
            EXPECT_EQ(asked, 20011u);
            for (const auto& channel : kept.channels) {
                ASSERT_EQ(channel.size(), length) << jobs;
            }
            if (length > own) {
                EXPECT_EQ(kept.channels[2][length - 1], 0.0f);
            }
        }
    }
}

TEST(RateConversion, SourceGivesWhatTheSinkGives)
{
    const int in = 44100;
    const int out = 48000;
    const auto input = sines(2, 30000, in, 1000.0, 0.5);
    KeepingSink kept;
    ResamplingSink sink(kept, in, out);
    feed(sink, input, {4096}, 4096);

    VectorSource inner;
    inner.data = input;
    ResamplingSource source(inner, in, out);
    std::vector<std::vector<float>> read(2);
    for (const std::size_t ask : {100u, 1u, 5000u, 1024u, 1024u, 1024u, 1024u, 100000u}) {
        std::vector<float> block(2 * ask);
        const SourceRead got = source.read(ChunkOutput{block.data(), ask, 1}, ask);
        ASSERT_FALSE(got.error);
        for (uint32_t c = 0; c < 2; ++c) {
            read[c].insert(read[c].end(), block.begin() + c * ask, block.begin() + c * ask + got.frames);
        }
    }
    std::vector<float> block(64);
    EXPECT_EQ(source.read(ChunkOutput{block.data(), 32, 1}, 32).frames, 0u);
    EXPECT_EQ(read, kept.channels);
}

TEST(Dither, NoiseIsTriangularZeroMeanAndReproducible)
{
    constexpr int count = 400000;
    std::vector<int> histogram(20, 0);
    double sum = 0.0;
    double square = 0.0;
    for (int i = 0; i < count; ++i) {
        const double value = tpdf_noise(7, 1, static_cast<uint64_t>(i));
        ASSERT_GT(value, -1.0);
        ASSERT_LT(value, 1.0);
        sum += value;
        square += value * value;
        ++histogram[static_cast<std::size_t>((value + 1.0) * 10.0)];
    }
    EXPECT_NEAR(sum / count, 0.0, 0.005);
    EXPECT_NEAR(square / count, 1.0 / 6.0, 0.003); // the variance of TPDF of +-1
    // A triangle: each bin of width 0.1 holds its area of the density 1 - |x|.
    for (int b = 0; b < 20; ++b) {
        const double x0 = -1.0 + b * 0.1;
        const double x1 = x0 + 0.1;
        const auto cdf = [](double x) { return x < 0 ? 0.5 * (1 + x) * (1 + x) : 1 - 0.5 * (1 - x) * (1 - x); };
        EXPECT_NEAR(histogram[b] / double(count), cdf(x1) - cdf(x0), 0.002) << b;
    }
    EXPECT_EQ(tpdf_noise(7, 1, 12345), tpdf_noise(7, 1, 12345));
    EXPECT_NE(tpdf_noise(7, 1, 12345), tpdf_noise(7, 2, 12345));
}

TEST(Dither, ScaleFollowsTheEncoding)
{
    const struct {
        int format;
        double scale;
    } cases[] = {
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 32768.0},  {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 8388607.0},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 127.0},    {SF_FORMAT_WAV | SF_FORMAT_PCM_32, 0.0},
        {SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0.0},       {SF_FORMAT_WAV | SF_FORMAT_ULAW, 0.0},
        {SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dither_scale(c.format), c.scale) << std::hex << c.format;
    }
}

TEST(Dither, SinkOutputDependsOnFramesNotPieces)
{
    const auto input = sines(2, 20000, 44100, 440.0, 0.25);
    for (const DitherKind kind : {DitherKind::triangular, DitherKind::shaped}) {
        std::vector<std::vector<float>> first;
        for (const std::vector<std::size_t>& pieces :
             {std::vector<std::size_t>{512}, std::vector<std::size_t>{1, 3, 1000, 513}}) {
            KeepingSink kept;
            DitheringSink sink(kept, kind, 32768.0);
            feed(sink, input, pieces, 1024);
            if (first.empty()) {
                first = kept.channels;
            } else {
                EXPECT_EQ(kept.channels, first);
            }
        }
        // The dither is within its bounds around the signal (shaped: plus
        // the filtered error of rounding).
        const double bound = kind == DitherKind::triangular ? 1.0 : 40.0;
        for (std::size_t f = 0; f < input[0].size(); ++f) {
            ASSERT_LE(std::abs(first[0][f] - input[0][f]) * 32768.0, bound) << f;
        }
    }
}

TEST(Dither, ShapedNoiseLeavesTheMidBandQuieter)
{
    // A quiet tone rounded to 16 bits: the error of the shaped kind is
    // lower around 3 kHz, where the filter puts its notch, and higher near
    // the top of the band.
    const int rate = 44100;
    const auto input = sines(1, 1 << 15, rate, 1000.0, 0.001);
    const auto error_at = [&](DitherKind kind, double frequency) {
        KeepingSink kept;
        DitheringSink sink(kept, kind, 32768.0);
        feed(sink, input, {4096}, 4096);
        std::vector<float> error(input[0].size());
        for (std::size_t f = 0; f < error.size(); ++f) {
            // Rounded as the 16-bit conversion rounds.
            error[f] = static_cast<float>(std::nearbyint(kept.channels[0][f] * 32768.0) / 32768.0 -
                                          input[0][f]);
        }
        double total = 0.0;
        for (double offset = -200.0; offset <= 200.0; offset += 50.0) {
            total += std::pow(10.0, tone_db(error, frequency + offset, rate) / 10.0);
        }
        return 10.0 * std::log10(total);
    };
    EXPECT_LT(error_at(DitherKind::shaped, 3500.0), error_at(DitherKind::triangular, 3500.0) - 6.0);
    EXPECT_GT(error_at(DitherKind::shaped, 19000.0), error_at(DitherKind::triangular, 19000.0));
}

TEST(Loudness, GainMeetsTargetOrCeiling)
{
    const struct {
        double integrated;
        double peak;
        double target;
        double ceiling;
        double gain;
        bool limited;
    } cases[] = {
        {-20.0, -6.0, -16.0, -1.0, 4.0, false},  // room under the ceiling
        {-20.0, -3.0, -16.0, -1.0, 2.0, true},   // the ceiling holds it down
        {-10.0, -0.5, -23.0, -1.0, -13.0, false}, // lowered
        {-20.0, -5.0, -16.0, -1.0, 4.0, false},  // exactly at the ceiling
    };
    for (const auto& c : cases) {
        const LoudnessGain gain =
            loudness_gain(Loudness{c.integrated, 3.0, c.peak}, c.target, c.ceiling);
        EXPECT_NEAR(gain.gain_db, c.gain, 1e-9);
        EXPECT_EQ(gain.limited, c.limited);
        EXPECT_LE(gain.reached.true_peak_dbtp, c.ceiling + 1e-9);
        EXPECT_NEAR(gain.reached.integrated_lufs, c.integrated + c.gain, 1e-9);
        EXPECT_EQ(gain.reached.range_lu, 3.0);
    }
    const LoudnessGain silent =
        loudness_gain(Loudness{-HUGE_VAL, 0.0, -HUGE_VAL}, -16.0, -1.0);
    EXPECT_TRUE(silent.silent);
    EXPECT_EQ(silent.gain_db, 0.0);
}

TEST(Loudness, TruePeakAgreesWithLibebur128WhateverThePieces)
{
    const int rate = 48000;
    std::mt19937 random(7);
    std::normal_distribution<float> gauss(0.0f, 0.2f);
    float low[2] = {};
    const struct {
        const char* name;
        std::function<float(std::size_t f, int c)> sample;
        double peak_dbtp; // the true peak, where it is known
        double tolerance; // from libebur128's, whose interpolator differs
    } cases[] = {
        // A quarter of the rate at 45 degrees: the samples miss the crest by 3 dB.
        {"fs/4", [](std::size_t f, int) {
             return static_cast<float>(0.5 * std::sin(std::numbers::pi / 2 * f + std::numbers::pi / 4));
         }, -6.02, 0.1},
        {"997 Hz", [](std::size_t f, int c) {
             return static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 997.0 * (c + 1) * f / rate));
         }, -6.02, 0.1},
        // Noise up to the top of the band, where the two filters differ most.
        {"white noise", [&](std::size_t, int) { return std::clamp(gauss(random), -1.0f, 1.0f); }, NAN, 0.25},
        {"low noise", [&](std::size_t, int c) {
             low[c] = 0.7f * low[c] + 0.3f * gauss(random);
             return low[c];
         }, NAN, 0.1},
        {"one sample", [](std::size_t f, int c) { return f == 777 && c == 1 ? -1.0f : 0.0f; }, NAN, 0.1},
    };
    const std::size_t frames = 48000 + 123;
    for (const auto& c : cases) {
        std::vector<float> interleaved(frames * 2);
        std::vector<std::vector<float>> plain(2, std::vector<float>(frames));
        for (std::size_t f = 0; f < frames; ++f) {
            for (int ch = 0; ch < 2; ++ch) {
                plain[ch][f] = interleaved[f * 2 + ch] = c.sample(f, ch);
            }
        }
        ebur128_state* reference = ebur128_init(2, rate, EBUR128_MODE_TRUE_PEAK);
        ASSERT_NE(reference, nullptr);
        ASSERT_EQ(ebur128_add_frames_float(reference, interleaved.data(), frames), EBUR128_SUCCESS);
        double expected = 0.0;
        for (unsigned ch = 0; ch < 2; ++ch) {
            double one = 0.0;
            ASSERT_EQ(ebur128_true_peak(reference, ch, &one), EBUR128_SUCCESS);
            expected = std::max(expected, one);
        }
        ebur128_destroy(&reference);

        LoudnessMeter whole;
        ASSERT_FALSE(whole.start(2, rate, LoudnessMeter::Measures::true_peak));
        ASSERT_FALSE(whole.add(interleaved.data(), frames));
        const double dbtp = whole.result().true_peak_dbtp;
        EXPECT_NEAR(dbtp, 20.0 * std::log10(expected), c.tolerance) << c.name;
        if (!std::isnan(c.peak_dbtp)) {
            EXPECT_NEAR(dbtp, c.peak_dbtp, 0.1) << c.name;
        }
        float sample_peak = 0.0f;
        for (const float v : interleaved) {
            sample_peak = std::max(sample_peak, std::fabs(v));
        }
        EXPECT_GE(dbtp, 20.0 * std::log10(sample_peak) - 1e-9) << c.name << ": below the sample peak";
        // The same from plain channels in pieces of every size.
        TruePeakMeter pieces;
        pieces.start(2);
        const std::size_t sizes[] = {1, 7, TruePeakMeter::piece - 1, TruePeakMeter::piece + 1, 5000};
        for (std::size_t at = 0, k = 0; at < frames; ++k) {
            const std::size_t n = std::min(sizes[k % std::size(sizes)], frames - at);
            for (uint32_t ch = 0; ch < 2; ++ch) {
                pieces.add(ch, plain[ch].data() + at, n);
            }
            at += n;
        }
        EXPECT_EQ(20.0 * std::log10(pieces.peak()), dbtp) << c.name;
    }
    TruePeakMeter silent;
    silent.start(1);
    const float zeros[100] = {};
    silent.add(0, zeros, 100);
    EXPECT_EQ(silent.peak(), 0.0);
}

TEST(Loudness, SinkScalesOnceFromMemoryOrSpilledFile)
{
    const int rate = 48000;
    const auto input = sines(2, rate * 3, rate, 997.0, 0.1);
    std::vector<std::vector<float>> first;
    for (const std::size_t memory : {std::size_t{256} << 20, std::size_t{40000}, std::size_t{0}}) {
        KeepingSink kept;
        LoudnessSinkSettings settings;
        settings.rate = rate;
        settings.normalise = true;
        settings.target_lufs = -20.0;
        settings.memory_bytes = memory;
        settings.spill_folder = ::testing::TempDir();
        LoudnessSink sink(kept, settings);
        feed(sink, input, {1000, 4096}, 4096);
        ASSERT_TRUE(sink.outcome());
        EXPECT_FALSE(sink.outcome()->limited);
        ASSERT_EQ(kept.channels[0].size(), input[0].size());
        const double gain = std::pow(10.0, sink.outcome()->gain_db / 20.0);
        for (std::size_t f = 0; f < input[0].size(); f += 977) {
            ASSERT_FLOAT_EQ(kept.channels[1][f], static_cast<float>(input[1][f] * static_cast<float>(gain)));
        }
        // Measured again, the scaled audio is at the target.
        LoudnessMeter meter;
        ASSERT_FALSE(meter.start(2, rate));
        std::vector<float> interleaved;
        for (std::size_t f = 0; f < kept.channels[0].size(); ++f) {
            interleaved.push_back(kept.channels[0][f]);
            interleaved.push_back(kept.channels[1][f]);
        }
        ASSERT_FALSE(meter.add(interleaved.data(), kept.channels[0].size()));
        EXPECT_NEAR(meter.result().integrated_lufs, -20.0, 0.01);
        if (first.empty()) {
            first = kept.channels;
        } else {
            EXPECT_EQ(kept.channels, first) << memory;
        }
    }
}

TEST(Loudness, MeasuringOnlyPassesTheAudioOnUnchanged)
{
    const auto input = sines(1, 48000, 48000, 1000.0, 0.5);
    KeepingSink kept;
    LoudnessSinkSettings settings;
    settings.rate = 48000;
    LoudnessSink sink(kept, settings);
    feed(sink, input, {333}, 1024);
    EXPECT_EQ(kept.channels, input);
    ASSERT_TRUE(sink.outcome());
    EXPECT_EQ(sink.outcome()->gain_db, 0.0);
    // A full-scale sine of 1 kHz in one channel reads -3.01 LUFS; this one is 6 dB lower.
    EXPECT_NEAR(sink.outcome()->reached.integrated_lufs, -3.01 - 6.02, 0.1);
    EXPECT_NEAR(sink.outcome()->reached.true_peak_dbtp, -6.02, 0.1);
}

TEST(MasterOptions, ValuesAreReadOrRefused)
{
    const struct {
        const char* option;
        const char* value;
        bool ok;
    } cases[] = {
        {"dither", "", true},           {"dither", "triangular", true}, {"dither", "shaped", true},
        {"dither", "rectangular", false}, {"output-rate", "44100", true}, {"output-rate", "999", false},
        {"output-rate", "768000", true}, {"output-rate", "768001", false}, {"output-rate", "4.4e4", false},
        {"output-rate", "-48000", false}, {"plugin-rate", "48000", true},  {"plugin-rate", "x", false},
        {"loudness", "-16", true},      {"loudness", "-23.5", true},    {"loudness", "0", false},
        {"loudness", "16", false},      {"loudness", "-inf", false},    {"loudness", "--16", false},
        {"true-peak", "-1.5", true},    {"true-peak", "0", true},       {"true-peak", "0.5", false},
    };
    for (const auto& c : cases) {
        RunOptions options;
        const std::string option = c.option;
        if (option == "dither") {
            options.has_dither = true;
            options.dither = c.value;
        } else if (option == "output-rate") {
            options.has_output_rate = true;
            options.output_rate = c.value;
        } else if (option == "plugin-rate") {
            options.has_plugin_rate = true;
            options.plugin_rate = c.value;
        } else if (option == "loudness") {
            options.has_loudness = true;
            options.loudness = c.value;
        } else {
            options.has_loudness = true;
            options.loudness = "-16";
            options.has_true_peak = true;
            options.true_peak = c.value;
        }
        const Status read = read_master_steps(options);
        EXPECT_EQ(read.ok(), c.ok) << c.option << "=" << c.value;
        if (!read.ok()) {
            EXPECT_NE(read.error().message.find(c.value), std::string::npos) << read.error().message;
        }
    }
    RunOptions ceiling_alone;
    ceiling_alone.has_true_peak = true;
    ceiling_alone.true_peak = "-1";
    EXPECT_FALSE(read_master_steps(ceiling_alone).ok());
}
