// The last steps of an output: --dither, --output-rate, --plugin-rate,
// --loudness, --true-peak and --measure-loudness, judged by the spectrum
// of the files, by sox's `rate -v` and by ffmpeg's ebur128 filter.
#include "support/e2e.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <numbers>
#include <random>
#include <regex>

namespace {

constexpr double pi = std::numbers::pi;

// A mono or stereo sound of fn(frame, channel) in floats.
template <class Fn>
Sound float_sound(int channels, long frames, int rate, Fn fn)
{
    return make_sound(channels, frames, rate, wav_float, fn);
}

Sound sine(int channels, long frames, int rate, double frequency, double amplitude)
{
    return float_sound(channels, frames, rate, [&](long f, int) {
        return static_cast<float>(amplitude * std::sin(2.0 * pi * frequency * f / rate));
    });
}

// One channel of a sound.
std::vector<double> channel_of(const Sound& sound, int channel, long from = 0, long to = -1)
{
    std::vector<double> out;
    const long end = to < 0 ? sound.frames() : to;
    for (long f = from; f < end; ++f) {
        out.push_back(sound.at(f, channel));
    }
    return out;
}

// The magnitude spectrum in dB relative to a full-scale sine, through a
// Kaiser window (beta 20: side lobes far below -150 dB), of the first
// power-of-two frames.
std::vector<double> spectrum_db(std::vector<double> signal)
{
    std::size_t n = 1;
    while (n * 2 <= signal.size()) {
        n *= 2;
    }
    signal.resize(n);
    const auto bessel0 = [](double x) {
        double sum = 1.0, term = 1.0;
        for (int k = 1; k < 60; ++k) {
            term *= (x / (2.0 * k)) * (x / (2.0 * k));
            sum += term;
        }
        return sum;
    };
    constexpr double beta = 20.0;
    std::vector<std::complex<double>> data(n);
    double window_sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double r = 2.0 * i / (n - 1) - 1.0;
        const double w = bessel0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / bessel0(beta);
        data[i] = signal[i] * w;
        window_sum += w;
    }
    // Iterative radix-2 FFT.
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(data[i], data[j]);
        }
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2.0 * pi / length);
        for (std::size_t i = 0; i < n; i += length) {
            std::complex<double> w = 1.0;
            for (std::size_t k = 0; k < length / 2; ++k) {
                const std::complex<double> a = data[i + k];
                const std::complex<double> b = data[i + k + length / 2] * w;
                data[i + k] = a + b;
                data[i + k + length / 2] = a - b;
                w *= step;
            }
        }
    }
    std::vector<double> db(n / 2);
    for (std::size_t k = 0; k < n / 2; ++k) {
        db[k] = 20.0 * std::log10(2.0 * std::abs(data[k]) / window_sum + 1e-30);
    }
    return db;
}

// The highest level in the spectrum outside `frequency` +- `guard` Hz.
double highest_outside(const std::vector<double>& db, int rate, double frequency, double guard)
{
    const double bin = rate / (2.0 * db.size());
    double highest = -400.0;
    for (std::size_t k = 1; k < db.size(); ++k) {
        if (std::abs(k * bin - frequency) > guard) {
            highest = std::max(highest, db[k]);
        }
    }
    return highest;
}

double level_at(const std::vector<double>& db, int rate, double frequency)
{
    const double bin = rate / (2.0 * db.size());
    const std::size_t k = static_cast<std::size_t>(std::lround(frequency / bin));
    return *std::max_element(db.begin() + (k - 3), db.begin() + (k + 4));
}

double rms(const std::vector<double>& v)
{
    double sum = 0.0;
    for (double x : v) {
        sum += x * x;
    }
    return std::sqrt(sum / std::max<std::size_t>(v.size(), 1));
}

// The integers of a 16-bit file.
std::vector<int> pcm16_values(const std::string& file)
{
    const Sound sound = read_sound(file);
    std::vector<int> values;
    for (float v : sound.samples) {
        values.push_back(static_cast<int>(std::lround(v * 32768.0f)));
    }
    return values;
}

bool have(const char* program)
{
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

// What ffmpeg's ebur128 filter measures: the integrated loudness (its
// last running value, to 0.01 LU) and the true peak of the summary.
struct Judged {
    double integrated = 0.0;
    double true_peak = 0.0;
};

Judged ffmpeg_loudness(const std::string& file)
{
    CommandSpec spec;
    spec.args = {"-hide_banner", "-nostats", "-i", file, "-af",
                 "ebur128=peak=true:metadata=1,ametadata=mode=print:key=lavfi.r128.I:file=-",
                 "-f", "null", "-"};
    const CommandResult r = run_command("ffmpeg", spec);
    EXPECT_EQ(r.status, 0) << r.err;
    Judged judged;
    const std::regex integrated(R"(lavfi\.r128\.I=(-?[0-9.]+|-inf))");
    for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), integrated);
         it != std::sregex_iterator(); ++it) {
        judged.integrated = (*it)[1] == "-inf" ? -HUGE_VAL : std::stod((*it)[1]);
    }
    std::smatch peak;
    const std::regex peak_line(R"(True peak:\s*\n\s*Peak:\s*(-?[0-9.]+|-inf) dBFS)");
    EXPECT_TRUE(std::regex_search(r.err, peak, peak_line)) << r.err;
    if (!peak.empty()) {
        judged.true_peak = peak[1] == "-inf" ? -HUGE_VAL : std::stod(peak[1]);
    }
    return judged;
}

} // namespace

class MasterSteps : public E2E {
protected:
    // A run of the pass-through plugin (mono) or its stereo kind.
    CommandResult thru(const std::string& in, const std::string& out,
                       std::vector<std::string> options, int channels = 1) const
    {
        std::vector<std::string> args = {"-i", in, "-o", out};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(test_plugin(channels == 2 ? "thru2" : "thru"));
        return tonbrix(args);
    }
};

TEST_F(MasterSteps, DitherKeepsAQuietSineThatRoundingLoses)
{
    // -100 dBFS is a third of a 16-bit step: rounding leaves silence.
    const int rate = 48000;
    const double amplitude = std::pow(10.0, -100.0 / 20.0);
    write_sound(path("quiet.wav"), sine(1, rate * 2, rate, 1000.0, amplitude));

    ASSERT_EQ(thru(path("quiet.wav"), path("plain.wav"), {"--output-format=:pcm16"}).status, 0);
    const std::vector<int> plain = pcm16_values(path("plain.wav"));
    EXPECT_TRUE(std::all_of(plain.begin(), plain.end(), [](int v) { return v == 0; }));

    for (const char* kind : {"--dither", "--dither=triangular", "--dither=shaped"}) {
        const CommandResult r =
            thru(path("quiet.wav"), path("dithered.wav"), {"--output-format=:pcm16", kind});
        ASSERT_EQ(r.status, 0) << r.err;
        const Sound dithered = read_sound(path("dithered.wav"));
        const std::vector<double> db = spectrum_db(channel_of(dithered, 0));
        // The sine stands out of the noise around it.
        const double tone = level_at(db, rate, 1000.0);
        EXPECT_NEAR(tone, -100.0, 1.0) << kind;
        double around = -400.0;
        for (double f : {700.0, 800.0, 1200.0, 1300.0}) {
            around = std::max(around, level_at(db, rate, f));
        }
        EXPECT_GT(tone, around + 10.0) << kind;
    }
}

TEST_F(MasterSteps, TriangularDitherErrorIsTpdfWithZeroMean)
{
    // A slow ramp across many steps: the error of each sample (the file's
    // integer less the exact value) is the dither and the rounding.
    const int rate = 48000;
    const long frames = rate * 4;
    const Sound ramp = float_sound(1, frames, rate, [&](long f, int) {
        return static_cast<float>(0.01 * std::sin(2.0 * pi * 3.0 * f / rate));
    });
    write_sound(path("ramp.wav"), ramp);
    ASSERT_EQ(thru(path("ramp.wav"), path("out.wav"), {"--output-format=:pcm16", "--dither"}).status, 0);
    const std::vector<int> values = pcm16_values(path("out.wav"));
    ASSERT_EQ(values.size(), static_cast<std::size_t>(frames));
    double sum = 0.0;
    double square = 0.0;
    for (long f = 0; f < frames; ++f) {
        const double error = values[f] - static_cast<double>(ramp.samples[f]) * 32768.0;
        ASSERT_LT(std::abs(error), 2.0) << f;
        sum += error;
        square += error * error;
    }
    EXPECT_NEAR(sum / frames, 0.0, 0.01);
    // TPDF of +-1 LSB (variance 1/6) and the rounding (1/12).
    EXPECT_NEAR(square / frames, 0.25, 0.01);
}

TEST_F(MasterSteps, DitherGivesTheSameBytesAtEveryJobCount)
{
    const Sound music = float_sound(2, 96000, 48000, [](long f, int c) {
        return static_cast<float>(0.3 * std::sin(0.01 * f * (c + 1)) * std::exp(-f / 40000.0));
    });
    write_sound(path("in.wav"), music);
    for (const char* kind : {"--dither=triangular", "--dither=shaped"}) {
        for (const char* format : {"--output-format=:pcm16", "--output-format=flac:pcm24"}) {
            std::string first;
            for (const char* jobs : {"-j1", "-j2", "-j3"}) {
                const CommandResult r =
                    thru(path("in.wav"), path("out.flac"), {format, kind, jobs, "-b", "300"}, 2);
                ASSERT_EQ(r.status, 0) << r.err;
                const std::string bytes = read_file(path("out.flac"));
                if (first.empty()) {
                    first = bytes;
                } else {
                    EXPECT_EQ(bytes, first) << kind << " " << format << " " << jobs;
                }
            }
        }
    }
}

TEST_F(MasterSteps, WithoutTheNewOptionsA16BitFileComesBackBitForBit)
{
    std::vector<short> values;
    for (int k = -32768; k < 32768; k += 91) {
        values.push_back(static_cast<short>(k));
    }
    write_pcm16_mono(path("in.wav"), values, 44100);
    ASSERT_EQ(thru(path("in.wav"), path("out.wav"), {}).status, 0);
    EXPECT_EQ(read_file(path("out.wav")), read_file(path("in.wav")));
}

TEST_F(MasterSteps, FloatOutputIgnoresDitherWithANote)
{
    write_sound(path("in.wav"), sine(1, 4800, 48000, 440.0, 0.5));
    ASSERT_EQ(thru(path("in.wav"), path("plain.wav"), {}).status, 0);
    const CommandResult r = thru(path("in.wav"), path("out.wav"), {"--dither"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Note: The output is written as floats; --dither is ignored.\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(read_sound(path("out.wav")).samples, read_sound(path("plain.wav")).samples);
}

TEST_F(MasterSteps, OutputRateKeepsAHighToneLevel)
{
    // 20 kHz at 44.1 kHz is near the band's edge; VHQ keeps it flat.
    write_sound(path("in.wav"), sine(1, 44100 * 2, 44100, 20000.0, 0.5));
    const CommandResult r = thru(path("in.wav"), path("out.wav"), {"--output-rate=48000"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Sound out = read_sound(path("out.wav"));
    EXPECT_EQ(out.rate, 48000);
    // The middle of the output, away from the ends' transients.
    const double level = rms(channel_of(out, 0, 12000, out.frames() - 12000)) * std::sqrt(2.0);
    EXPECT_NEAR(20.0 * std::log10(level / 0.5), 0.0, 0.01);
}

TEST_F(MasterSteps, OutputRateHasNoAliasOrImage)
{
    const struct {
        int in;
        int out;
    } cases[] = {{44100, 48000}, {48000, 44100}, {48000, 16000}, {16000, 96000}};
    for (const auto& c : cases) {
        write_sound(path("in.wav"), sine(1, c.in * 2, c.in, 1000.0, 0.5));
        const CommandResult r = thru(path("in.wav"), path("out.wav"),
                                     {"--output-rate=" + std::to_string(c.out)});
        ASSERT_EQ(r.status, 0) << r.err;
        const Sound out = read_sound(path("out.wav"));
        const std::vector<double> db =
            spectrum_db(channel_of(out, 0, out.frames() / 8, out.frames()));
        // The tone's level (by its RMS), then nothing else anywhere.
        const double level = rms(channel_of(out, 0, out.frames() / 8, out.frames() - 4000));
        EXPECT_NEAR(20.0 * std::log10(level * std::sqrt(2.0) / 0.5), 0.0, 0.01)
            << c.in << "->" << c.out;
        EXPECT_LT(highest_outside(db, c.out, 1000.0, 150.0), -120.0) << c.in << "->" << c.out;
    }
}

TEST_F(MasterSteps, RateConversionGivesExactFrameCounts)
{
    const int rates[] = {44100, 48000, 96000, 16000};
    for (int in : rates) {
        const long frames = in / 3 + 7;
        write_sound(path("in.wav"), sine(2, frames, in, 440.0, 0.25));
        for (int out : rates) {
            if (out == in) {
                continue;
            }
            const long expected = std::lround(static_cast<double>(frames) * out / in + 1e-9);
            for (const std::string option : {"--output-rate=", "--plugin-rate="}) {
                const CommandResult r =
                    thru(path("in.wav"), path("out.wav"), {option + std::to_string(out)}, 2);
                ASSERT_EQ(r.status, 0) << r.err;
                const Sound sound = read_sound(path("out.wav"));
                if (option == "--output-rate=") {
                    EXPECT_EQ(sound.rate, out);
                    EXPECT_EQ(sound.frames(), expected) << in << "->" << out;
                } else {
                    // There and back: the input's rate and its very length,
                    // whatever the conversion there rounded.
                    EXPECT_EQ(sound.rate, in);
                    EXPECT_EQ(sound.frames(), frames) << in << "->" << out << "->" << in;
                }
            }
        }
    }
}

TEST_F(MasterSteps, OutputRateMatchesSoxRateV)
{
    if (!have("sox")) {
        GTEST_SKIP() << "sox is not installed";
    }
    // Music-like content well inside the band.
    const Sound music = float_sound(2, 48000 * 2, 48000, [](long f, int c) {
        const double t = f / 48000.0;
        return static_cast<float>(0.3 * std::sin(2 * pi * 220.0 * t + c) +
                                  0.2 * std::sin(2 * pi * 3520.0 * t) +
                                  0.1 * std::sin(2 * pi * 9000.0 * t * (1 + 0.1 * t)));
    });
    write_sound(path("in.wav"), music);
    const CommandResult r = thru(path("in.wav"), path("ours.wav"), {"--output-rate=44100"}, 2);
    ASSERT_EQ(r.status, 0) << r.err;
    CommandSpec spec;
    spec.args = {path("in.wav"), "-e", "floating-point", path("sox.wav"), "rate", "-v", "44100"};
    const CommandResult s = run_command("sox", spec);
    ASSERT_EQ(s.status, 0) << s.err;
    const Sound ours = read_sound(path("ours.wav"));
    const Sound theirs = read_sound(path("sox.wav"));
    ASSERT_EQ(ours.frames(), theirs.frames());
    for (int c = 0; c < 2; ++c) {
        // Away from the ends, where the two treat the edges alike anyway.
        const std::vector<double> a = channel_of(ours, c, 2000, ours.frames() - 2000);
        const std::vector<double> b = channel_of(theirs, c, 2000, theirs.frames() - 2000);
        std::vector<double> difference(a.size());
        for (std::size_t i = 0; i < a.size(); ++i) {
            difference[i] = a[i] - b[i];
        }
        EXPECT_LT(20.0 * std::log10(rms(difference) / rms(b) + 1e-30), -110.0) << c;
    }
}

TEST_F(MasterSteps, ConversionOvershootIsClampedWithOneWarning)
{
    // A square wave just under full scale rings above it once its band is
    // limited; a float output shows it unless the converted output is
    // checked as the render's is.
    const auto square = [](double amplitude) {
        return float_sound(1, 48000, 48000, [amplitude](long f, int) {
            return static_cast<float>((f / 24) % 2 == 0 ? amplitude : -amplitude);
        });
    };
    const struct {
        const char* label;
        Sound input;
        std::vector<std::string> options;
        std::size_t warnings;
        float ceiling; // of the output's samples
    } cases[] = {
        {"overshoot", square(0.99), {"--output-rate=44100"}, 1, 1.0f},
        {"clipped in the render too", square(1.5), {"--output-rate=44100"}, 1, 1.0f},
        {"ignored", square(0.99), {"--output-rate=44100", "--ignore-clipping"}, 0, 1.5f},
        {"quiet", square(0.5), {"--output-rate=44100"}, 0, 1.0f},
        {"no conversion", square(0.99), {}, 0, 1.0f},
    };
    for (const auto& c : cases) {
        write_sound(path("in.wav"), c.input);
        std::vector<std::string> options = c.options;
        options.push_back("--output-format=:float");
        const CommandResult r = thru(path("in.wav"), path("out.wav"), options);
        ASSERT_EQ(r.status, 0) << c.label << r.err;
        const std::string all = r.out + r.err;
        std::size_t warnings = 0;
        for (std::size_t at = all.find("WARNING: Clipping output."); at != std::string::npos;
             at = all.find("WARNING: Clipping output.", at + 1)) {
            ++warnings;
        }
        EXPECT_EQ(warnings, c.warnings) << c.label << all;
        float top = 0.0f;
        for (const float v : read_sound(path("out.wav")).samples) {
            top = std::max(top, std::fabs(v));
        }
        EXPECT_LE(top, c.ceiling) << c.label;
        if (std::string(c.label) == "ignored") {
            EXPECT_GT(top, 1.0f) << "the overshoot is there to be seen";
        }
    }
}

TEST_F(MasterSteps, PluginRateRunsThePluginsThere)
{
    // rateport's cutoff is a fraction of the rate it was given.
    write_sound(path("in.wav"), sine(1, 44100, 44100, 440.0, 0.5));
    const struct {
        std::vector<std::string> options;
        const char* seen;
        int rate;
        long frames;
    } cases[] = {
        {{}, "cutoff_seen: 11025", 44100, 44100},
        {{"--plugin-rate=96000"}, "cutoff_seen: 24000", 44100, 44100},
        {{"--plugin-rate=96000", "--output-rate=48000"}, "cutoff_seen: 24000", 48000, 48000},
        {{"--plugin-rate=96000", "--output-rate=96000"}, "cutoff_seen: 24000", 96000, 96000},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"-i", path("in.wav"), "-o", path("out.wav"), "--report"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(test_plugin("rateport"));
        const CommandResult r = tonbrix(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(c.seen), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("WARNING"), std::string::npos) << r.out;
        const Sound out = read_sound(path("out.wav"));
        EXPECT_EQ(out.rate, c.rate);
        EXPECT_EQ(out.frames(), c.frames);
    }
}

TEST_F(MasterSteps, RatesWorkWithTailsChainsRawStreamsFoldersAndInstruments)
{
    write_sound(path("in.wav"), sine(1, 44100, 44100, 440.0, 0.5));
    // A chain with a tail of half a second at the plugins' rate.
    CommandResult r = tonbrix({"-i", path("in.wav"), "-o", path("chain.wav"), "--tail=0.5",
                               "--plugin-rate=48000", "--output-rate=16000", test_plugin("thru"),
                               "--then", test_plugin("thru")});
    ASSERT_EQ(r.status, 0) << r.err;
    Sound out = read_sound(path("chain.wav"));
    EXPECT_EQ(out.rate, 16000);
    EXPECT_EQ(out.frames(), 24000);

    // Raw floats in and out.
    std::vector<float> raw(44100, 0.25f);
    r = tonbrix({"-r", "44100", "-n", "1", "-i", "-", "-o", "-", "--output-rate=48000",
                 test_plugin("thru")},
                to_raw_bytes(raw));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<float> converted = from_raw_bytes(r.out);
    EXPECT_EQ(converted.size(), 48000u);
    EXPECT_NEAR(converted[24000], 0.25f, 1e-5);

    // A folder of mixed rates to one rate: the data-set case.
    ASSERT_EQ(std::system(("mkdir -p " + path("set/a")).c_str()), 0);
    const int rates[] = {8000, 22050, 44100, 48000, 96000};
    for (int rate : rates) {
        write_sound(path("set/a/" + std::to_string(rate) + ".wav"), sine(1, rate / 2, rate, 300.0, 0.5));
    }
    r = tonbrix({"-i", path("set"), "-o", path("out16k"), "--output-rate=16000", "-q",
                 test_plugin("thru")});
    ASSERT_EQ(r.status, 0) << r.err;
    for (int rate : rates) {
        const Sound one = read_sound(path("out16k/a/" + std::to_string(rate) + ".wav"));
        EXPECT_EQ(one.rate, 16000) << rate;
        EXPECT_EQ(one.frames(), 8000) << rate;
    }

    // An instrument without input: -r is its rate, the output converted.
    r = tonbrix({"-o", path("gen.wav"), "--tail=1", "-r", "48000", "--output-rate=44100",
                 test_plugin("generator")});
    ASSERT_EQ(r.status, 0) << r.err;
    out = read_sound(path("gen.wav"));
    EXPECT_EQ(out.rate, 44100);
    EXPECT_EQ(out.frames(), 44100);
    r = tonbrix({"-o", path("gen2.wav"), "--tail=1", "--plugin-rate=44100", test_plugin("generator")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--plugin-rate converts the input"), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(path("gen2.wav")));
}

TEST_F(MasterSteps, BadValuesAreRefusedBeforeAnyFileIsTouched)
{
    write_sound(path("in.wav"), sine(1, 4800, 48000, 440.0, 0.5));
    write_bytes(path("out.wav"), "keep");
    const struct {
        std::vector<std::string> options;
        const char* message;
    } cases[] = {
        {{"--output-rate=999"}, "Error: invalid --output-rate value '999': expected a whole number of Hz from 1000 to 768000.\n"},
        {{"--output-rate=800000"}, "Error: invalid --output-rate value '800000'"},
        {{"--plugin-rate=44.1k"}, "Error: invalid --plugin-rate value '44.1k'"},
        {{"--loudness=0"}, "Error: invalid --loudness value '0': expected a negative number of LUFS, e.g. -16.\n"},
        {{"--loudness=loud"}, "Error: invalid --loudness value 'loud'"},
        {{"--loudness=-16", "--true-peak=1"}, "Error: invalid --true-peak value '1'"},
        {{"--true-peak=-2"}, "Error: --true-peak is the ceiling of --loudness"},
        {{"--dither=rectangular"}, "Error: invalid --dither value 'rectangular': expected triangular or shaped.\n"},
    };
    for (const auto& c : cases) {
        const CommandResult r = thru(path("in.wav"), path("out.wav"), c.options);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
        EXPECT_EQ(read_file(path("out.wav")), "keep");
    }
}

namespace {

// Test signals of ten seconds of stereo at 48 kHz.
Sound loudness_signal(const std::string& name)
{
    const int rate = 48000;
    const long frames = rate * 10;
    std::mt19937 random(42);
    std::normal_distribution<double> gauss(0.0, 1.0);
    if (name == "speech") {
        // Bursts of band-limited noise with pauses, as syllables and words.
        double low = 0.0;
        return float_sound(2, frames, rate, [&](long f, int c) {
            if (c == 0) {
                low = 0.9 * low + 0.1 * gauss(random);
            }
            const double t = static_cast<double>(f) / rate;
            const double envelope = std::max(0.0, std::sin(2 * pi * 3.0 * t)) *
                                    (std::fmod(t, 2.0) < 1.4 ? 1.0 : 0.0);
            return static_cast<float>(0.3 * low * envelope);
        });
    }
    if (name == "pink") {
        // Paul Kellet's economy filter of white noise.
        double b0 = 0, b1 = 0, b2 = 0;
        return float_sound(2, frames, rate, [&](long, int) {
            const double white = gauss(random) * 0.05;
            b0 = 0.99765 * b0 + white * 0.0990460;
            b1 = 0.96300 * b1 + white * 0.2965164;
            b2 = 0.57000 * b2 + white * 1.0526913;
            return static_cast<float>(b0 + b1 + b2 + white * 0.1848);
        });
    }
    if (name == "master") {
        // Dense and limited hard just below full scale.
        return float_sound(2, frames, rate, [&](long f, int c) {
            const double t = static_cast<double>(f) / rate;
            const double x = 3.0 * (std::sin(2 * pi * 55.0 * t) + 0.5 * std::sin(2 * pi * 440.0 * t + c) +
                                    0.3 * gauss(random));
            return static_cast<float>(0.97 * std::tanh(x));
        });
    }
    // A quiet piano: decaying notes with harmonics, peaks far above the mean.
    return float_sound(2, frames, rate, [&](long f, int c) {
        const double t = static_cast<double>(f) / rate;
        const double start = std::floor(t / 1.25) * 1.25;
        const double frequency = 220.0 * std::pow(2.0, std::fmod(start * 5.0, 12.0) / 12.0);
        const double age = t - start;
        double v = 0.0;
        for (int h = 1; h <= 5; ++h) {
            v += std::sin(2 * pi * frequency * h * age + c * 0.1) / h;
        }
        return static_cast<float>(0.02 * v * std::exp(-3.0 * age));
    });
}

} // namespace

TEST_F(MasterSteps, LoudnessReachesTheTargetUnderTheCeiling)
{
    if (!have("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const struct {
        const char* signal;
        const char* target;
        const char* format;
    } cases[] = {
        {"speech", "-20", "--output-format=:pcm16"},
        {"pink", "-23", "--output-format=:pcm24"},
        {"master", "-14", "--output-format=:pcm16"},
        {"piano", "-24", "--output-format=:float"},
    };
    for (const auto& c : cases) {
        write_sound(path("in.wav"), loudness_signal(c.signal));
        const CommandResult r = thru(path("in.wav"), path("out.wav"),
                                     {std::string("--loudness=") + c.target, c.format, "--dither"}, 2);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.find("true-peak ceiling"), std::string::npos) << c.signal << r.out;
        const Judged judged = ffmpeg_loudness(path("out.wav"));
        EXPECT_NEAR(judged.integrated, std::stod(c.target), 0.1) << c.signal;
        EXPECT_LE(judged.true_peak, -1.0) << c.signal;
    }
}

TEST_F(MasterSteps, ACeilingThatForbidsTheTargetIsNoted)
{
    if (!have("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    // The piano's peaks stand far above its loudness: -9 LUFS would need
    // a true peak far above -2 dBTP.
    write_sound(path("in.wav"), loudness_signal("piano"));
    const CommandResult r = thru(path("in.wav"), path("out.wav"),
                                 {"--loudness=-9", "--true-peak=-2", "--output-format=:float"}, 2);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::regex note(R"(Note: The true-peak ceiling of -2\.0 dBTP holds the gain to (-?[0-9.]+) dB; )"
                          R"(the output's loudness is (-?[0-9.]+) LUFS \(target -9\.00\)\.\n)");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(r.out, found, note)) << r.out;
    const Judged judged = ffmpeg_loudness(path("out.wav"));
    EXPECT_NEAR(judged.true_peak, -2.0, 0.1);
    EXPECT_NEAR(judged.integrated, std::stod(found[2]), 0.1);
    EXPECT_LT(judged.integrated, -9.5);
}

TEST_F(MasterSteps, SilenceIsWrittenUnscaledWithAWarning)
{
    write_sound(path("in.wav"), float_sound(1, 48000, 48000, [](long f, int) {
                    return f == 100 ? 1e-6f : 0.0f; // below the absolute gate
                }));
    const CommandResult r =
        thru(path("in.wav"), path("out.wav"), {"--loudness=-16", "--measure-loudness"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("WARNING: The output is silence to the loudness measurement (below its "
                         "absolute gate); it was written without normalisation.\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Output loudness: -inf LUFS integrated"), std::string::npos) << r.out;
    EXPECT_EQ(read_sound(path("out.wav")).samples, read_sound(path("in.wav")).samples);
}

TEST_F(MasterSteps, MeasureLoudnessReportsWithoutChangingTheAudio)
{
    const Sound pink = loudness_signal("pink");
    write_sound(path("in.wav"), pink);
    ASSERT_EQ(thru(path("in.wav"), path("plain.wav"), {}, 2).status, 0);
    CommandResult r = thru(path("in.wav"), path("out.wav"), {"--measure-loudness"}, 2);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_sound(path("out.wav")).samples, read_sound(path("plain.wav")).samples);
    const std::regex line(R"(Output loudness: (-?[0-9.]+) LUFS integrated, ([0-9.]+) LU range, )"
                          R"((-?[0-9.]+) dBTP true peak\n)");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(r.out, found, line)) << r.out;
    if (have("ffmpeg")) {
        const Judged judged = ffmpeg_loudness(path("out.wav"));
        EXPECT_NEAR(std::stod(found[1]), judged.integrated, 0.1);
        EXPECT_NEAR(std::stod(found[3]), judged.true_peak, 0.2);
    }
    // In the JSON report, beside the control outputs; with --loudness, the
    // loudness of the normalised output.
    r = thru(path("in.wav"), path("out.wav"), {"--json", "--loudness=-20"}, 2);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::regex json(R"("loudness": \{\s*"integrated_lufs": (-?[0-9.e-]+),\s*"range_lu": [0-9.e-]+,)"
                          R"(\s*"true_peak_dbtp": -?[0-9.e-]+\s*\})");
    ASSERT_TRUE(std::regex_search(r.out, found, json)) << r.out;
    EXPECT_NEAR(std::stod(found[1]), -20.0, 0.01);
    // --loudness alone prints no report.
    r = thru(path("in.wav"), path("out.wav"), {"--loudness=-20"}, 2);
    EXPECT_EQ(r.out.find("Output loudness"), std::string::npos) << r.out;
}
