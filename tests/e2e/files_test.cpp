// Sound files: the output's format and rate, raw float files and streams,
// open, write and same-file errors, and a bit exact 16-bit round trip.
#include "support/e2e.h"
#include "support/messages.h"
#include "support/midi.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The samples of a mono 16-bit WAV file; empty when it is anything else.
std::vector<short> read_pcm16_wav(const std::string& file)
{
    SF_INFO info{};
    SNDFILE* handle = sf_open(file.c_str(), SFM_READ, &info);
    if (handle == nullptr) {
        return {};
    }
    std::vector<short> values;
    if (info.format == (SF_FORMAT_WAV | SF_FORMAT_PCM_16) && info.channels == 1) {
        values.resize(static_cast<std::size_t>(info.frames));
        values.resize(static_cast<std::size_t>(
            sf_read_short(handle, values.data(), static_cast<sf_count_t>(values.size()))));
    }
    sf_close(handle);
    return values;
}

// Every 16-bit value once, in a scrambled order.
std::vector<short> all_short_values()
{
    std::vector<short> values;
    for (long i = 0; i < 65536; ++i) {
        values.push_back(static_cast<short>((i * 40503) % 65536 - 32768));
    }
    return values;
}

} // namespace

class Files : public E2E {};

TEST_F(Files, OutputTakesTheInputsFormatAndRate)
{
    struct Case {
        const char* label;
        int format;
        int rate;
        const char* written; // the type named in the warning; none for WAV
    };
    const Case cases[] = {
        {"16-bit WAV", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, nullptr},
        {"float WAV", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 96000, nullptr},
        {"24-bit WAV", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44100, nullptr},
        {"16-bit AIFF", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 32000, "AIFF"},
        {"16-bit FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, "FLAC"},
    };
    for (const Case& c : cases) {
        // Samples every format holds exactly.
        const Sound in = make_sound(2, 300, c.rate, c.format, [](long f, int ch) {
            return static_cast<float>((f * 7 + ch * 13) % 256 - 128) / 256.0f;
        });
        write_sound(path("in.snd"), in);
        // The output's name says WAV; only the input decides the format,
        // and a warning says so where they differ.
        std::remove(path("out.wav").c_str());
        const CommandResult r =
            tonbrix({"-i", path("in.snd"), "-o", path("out.wav"), test_plugin("thru2")});
        EXPECT_EQ(r.status, 0) << c.label;
        const std::string warning =
            c.written == nullptr
                ? ""
                : std::string("WARNING: The output is written as ") + c.written +
                      " although its name ends in .wav; choose the type with --output-format "
                      "(e.g. --output-format=wav).\n";
        EXPECT_EQ(r.out, one_instance_notes + warning) << c.label;
        EXPECT_EQ(r.err, "") << c.label;
        const Sound out = read_sound(path("out.wav"));
        EXPECT_EQ(out.format, c.format) << c.label;
        EXPECT_EQ(out.rate, c.rate) << c.label;
        EXPECT_EQ(out.channels, 2) << c.label;
        EXPECT_EQ(out.samples, in.samples) << c.label;
    }
}

TEST_F(Files, SixteenBitSamplesSurviveUnchanged)
{
    const std::vector<short> values = all_short_values();
    write_pcm16_mono(path("in.wav"), values, 44100);

    const CommandResult r = tonbrix(
        {"-i", path("in.wav"), "-o", path("out.wav"), "-p", "gain:1", test_plugin("thru")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, one_instance_notes);
    EXPECT_EQ(r.err, "");

    const std::vector<short> back = read_pcm16_wav(path("out.wav"));
    ASSERT_EQ(back.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        ASSERT_EQ(back[i], values[i]) << "sample " << i;
    }
}

TEST_F(Files, SixteenBitOutputIsRoundedToTheNearestValue)
{
    // A gain that leaves fractions: each output sample must be the nearest
    // 16-bit value to what the plugin produced, never one below it.
    const std::vector<short> values = all_short_values();
    write_pcm16_mono(path("in.wav"), values, 44100);

    const CommandResult r = tonbrix(
        {"-i", path("in.wav"), "-o", path("out.wav"), "-p", "gain:0.7", test_plugin("thru")});
    ASSERT_EQ(r.status, 0) << r.err;

    const std::vector<short> back = read_pcm16_wav(path("out.wav"));
    ASSERT_EQ(back.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const float produced = (static_cast<float>(values[i]) / 32768.0f) * 0.7f;
        const long nearest = std::lrint(static_cast<double>(produced) * 32768.0);
        ASSERT_EQ(back[i], nearest) << "input " << values[i];
    }
}

TEST_F(Files, RawFloatFilesAreHeaderlessNativeFloats)
{
    // Two channels through a one-input plugin: two instances, interleaved.
    std::vector<float> samples;
    for (int i = 0; i < 2 * 700; ++i) {
        samples.push_back(static_cast<float>(i % 300) / 400.0f - 0.25f);
    }
    write_bytes(path("in.raw"), to_raw_bytes(samples));
    const CommandResult r = tonbrix({"-i", path("in.raw"), "-o", path("out.raw"), "-r", "48000",
                                     "-n", "2", test_plugin("thru")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, per_channel_notes(2));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(path("out.raw")), to_raw_bytes(samples));
}

TEST_F(Files, RawFloatStreamsKeepStandardOutputForTheAudio)
{
    std::vector<float> samples;
    for (int i = 0; i < 1000; ++i) {
        samples.push_back(static_cast<float>(i % 50) / 64.0f);
    }
    const std::string bytes = to_raw_bytes(samples);

    // Standard input to standard output: only audio bytes on stdout.
    const CommandResult streams =
        tonbrix({"-i", "-", "-o", "-", "-r", "44100", "-n", "1", test_plugin("thru")}, bytes);
    EXPECT_EQ(streams.status, 0);
    EXPECT_EQ(streams.out, bytes);
    EXPECT_EQ(streams.err, one_instance_notes);

    // Standard input to a file: the notes stay on stdout.
    const CommandResult to_file = tonbrix(
        {"-i", "-", "-o", path("out.raw"), "-r", "44100", "-n", "1", test_plugin("thru")}, bytes);
    EXPECT_EQ(to_file.status, 0);
    EXPECT_EQ(to_file.out, one_instance_notes);
    EXPECT_EQ(to_file.err, "");
    EXPECT_EQ(read_file(path("out.raw")), bytes);

    // A file to standard output.
    write_bytes(path("in.raw"), bytes);
    const CommandResult from_file = tonbrix(
        {"-i", path("in.raw"), "-o", "-", "-r", "44100", "-n", "1", test_plugin("thru")});
    EXPECT_EQ(from_file.status, 0);
    EXPECT_EQ(from_file.out, bytes);
    EXPECT_EQ(from_file.err, one_instance_notes);
}

TEST_F(Files, WorkerLinesAndClippingWarningGoToStandardErrorWhenTheAudioIsOnStandardOutput)
{
    // The worker's count of responses (second frame of a run) clips from
    // the third run on: the responses arrive after each run.
    const std::vector<float> in(9, 0.5f);
    const CommandResult r = tonbrix(
        {"-i", "-", "-o", "-", "-r", "48000", "-n", "1", "-b", "3", test_plugin("worker")},
        to_raw_bytes(in));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, to_raw_bytes({0, 0, 0.5f, 0, 1, 0.5f, 0, 1, 0.5f}));
    EXPECT_EQ(r.err, one_instance_notes + schedule_line + schedule_line + schedule_line +
                         clipping_warning);
}

const std::string sink_output_error =
    "Error: the plugin 'Sink' (http://tonbrix.test/plugins/sink) has no audio outputs, so -o "
    "has nothing to write; use --midi-out=FILE for its MIDI or --report for its readings.\n";

TEST_F(Files, OpenErrors)
{
    write_sound(path("in.wav"),
                make_sound(1, 10, 48000, wav_float, [](long, int) { return 0.5f; }));
    const std::string missing_dir_output = path("no/such/dir/out.wav");
    struct Case {
        const char* label;
        std::string input;
        std::string output;
        const char* plugin;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {"missing input", path("missing.wav"), path("out.wav"), "thru", "",
         "Error reading input file: System error.\n" + path("missing.wav") +
             ": No such file or directory.\n"},
        {"output in a missing folder", path("in.wav"), missing_dir_output, "thru",
         one_instance_notes,
         "Error reading output file: System error.\n" + missing_dir_output +
             ": No such file or directory.\n"},
        // No audio outputs: refused before any file is opened.
        {"plugin without audio outputs", path("in.wav"), path("out.wav"), "sink", "",
         sink_output_error},
    };
    for (const Case& c : cases) {
        std::remove(log_path().c_str());
        const CommandResult r =
            tonbrix({"-i", c.input, "-o", c.output, test_plugin(c.plugin)});
        EXPECT_EQ(r.status, 1) << c.label;
        EXPECT_EQ(r.out, c.out) << c.label;
        EXPECT_EQ(r.err, c.err) << c.label;
        // No instance is made before both files are open.
        EXPECT_EQ(read_log(), "") << c.label;
    }
    EXPECT_FALSE(file_exists(path("no")));
    EXPECT_FALSE(file_exists(path("out.wav")));
}

TEST_F(Files, UnwritableOutputLeavesAnExistingFileAlone)
{
    // A plugin without audio outputs cannot fill a file; the file already
    // at the output path must not be truncated by the attempt.
    write_sound(path("in.wav"),
                make_sound(1, 10, 48000, wav_float, [](long, int) { return 0.5f; }));
    write_sound(path("keep.wav"),
                make_sound(2, 10, 44100, wav_pcm16, [](long f, int) { return f / 16.0f; }));
    const std::string before = read_file(path("keep.wav"));
    const CommandResult r =
        tonbrix({"-i", path("in.wav"), "-o", path("keep.wav"), test_plugin("sink")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, sink_output_error);
    EXPECT_EQ(read_file(path("keep.wav")), before);
}

TEST_F(Files, InputAndOutputMustNotBeTheSameFile)
{
    const Sound in = make_sound(1, 100, 48000, wav_float,
                                [](long f, int) { return static_cast<float>(f) / 128.0f; });
    write_sound(path("in.wav"), in);
    const std::string original = read_file(path("in.wav"));
    ASSERT_EQ(::symlink(path("in.wav").c_str(), path("link.wav").c_str()), 0);
    ASSERT_EQ(::link(path("in.wav").c_str(), path("hard.wav").c_str()), 0);
    struct Case {
        const char* label;
        std::string output;
    };
    const Case cases[] = {
        {"same path", path("in.wav")},
        {"dot in the path", dir_ + "/./in.wav"},
        {"parent in the path", dir_ + "/../" +
                                   dir_.substr(dir_.find_last_of('/') + 1) + "/in.wav"},
        {"symbolic link", path("link.wav")},
        {"hard link", path("hard.wav")},
    };
    for (const Case& c : cases) {
        const CommandResult r =
            tonbrix({"-i", path("in.wav"), "-o", c.output, "-p", "gain:2", test_plugin("thru")});
        EXPECT_EQ(r.status, 1) << c.label;
        EXPECT_EQ(r.out, one_instance_notes) << c.label;
        EXPECT_EQ(r.err, "Error: input and output are the same file.\n") << c.label;
        EXPECT_EQ(read_file(path("in.wav")), original) << c.label;
        EXPECT_EQ(read_log(), "") << c.label;
    }
}

TEST_F(Files, FailedWriteIsAnError)
{
    if (!file_exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    write_bytes(path("in.raw"), to_raw_bytes(std::vector<float>(1000, 0.25f)));
    const CommandResult r = tonbrix(
        {"-i", path("in.raw"), "-o", "/dev/full", "-r", "48000", "-n", "1", test_plugin("thru")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, one_instance_notes);
    EXPECT_EQ(r.err, "Error writing output file: /dev/full: No space left on device.\n");
    // The instance is still torn down.
    EXPECT_EQ(read_log(), "instantiate 0\nactivate 0\ndeactivate 0\ncleanup 0\n");
}

TEST_F(Files, WhatAPluginPrintsNeverGetsIntoAudioOnStandardOutput)
{
    // Plugins that print with printf when they are made and in every run:
    // whatever carries the audio to standard output, it holds exactly the
    // bytes the same run writes to a file, and the plugins' lines go to
    // standard error.
    std::vector<float> samples;
    for (int f = 0; f < 3000; ++f) {
        samples.push_back(static_cast<float>(f % 200) / 400.0f);
    }
    write_bytes(path("in.raw"), to_raw_bytes(samples));
    write_sound(path("in.wav"), make_sound(1, 3000, 48000, wav_pcm16, [](long f, int) {
                    return static_cast<float>(f % 200) / 400.0f;
                }));
    // Many overlapping notes: mda Piano prints a line for each voice it takes over.
    std::vector<MidiItem> notes;
    for (std::uint32_t k = 0; k < 200; ++k) {
        notes.push_back({k * 30, {0x90, static_cast<std::uint8_t>(30 + k * 7 % 60), 100}});
    }
    write_bytes(path("dense.mid"), midi_file(0, 480, {notes}, 6500));
    const std::string chatty = test_plugin("chatty");
    const std::string piano = "http://drobilla.net/plugins/mda/Piano";
    struct Case {
        const char* label;
        std::vector<std::string> args;
        std::string stdin_data = {};
        bool system = false;
    };
    const std::vector<Case> cases = {
        {"raw floats through a pipe", {"-r", "48000", "-n", "1", "-i", "-", chatty},
         to_raw_bytes(samples)},
        {"raw floats from a file", {"-r", "48000", "-n", "1", "-i", path("in.raw"), chatty}},
        {"a sound file to a raw type",
         {"-i", path("in.wav"), "--output-format=raw:float", chatty}},
        {"a chain", {"-i", path("in.wav"), "--output-format=raw:pcm16", chatty, "--then", chatty}},
        {"an instrument without input",
         {"--midi=" + path("dense.mid"), "--ignore-clipping", "--output-format=raw:float", piano},
         "", true},
    };
    for (const Case& c : cases) {
        if (c.system && !file_exists("/usr/lib/lv2/mda.lv2")) {
            continue; // mda-lv2 is not installed
        }
        const auto run = [&](const std::string& output) {
            // Small blocks: more lines than standard output's buffer holds.
            std::vector<std::string> args = {"-q", "-b", "8", "-o", output};
            args.insert(args.end(), c.args.begin(), c.args.end());
            return c.system ? tonbrix(args, c.stdin_data,
                                      {{"LV2_PATH", test_lv2_dir() + ":/usr/lib/lv2"}})
                            : tonbrix(args, c.stdin_data);
        };
        const CommandResult file = run(path("out.raw"));
        ASSERT_EQ(file.status, 0) << c.label << ": " << file.err;
        const CommandResult streamed = run("-");
        EXPECT_EQ(streamed.status, 0) << c.label << ": " << streamed.err;
        EXPECT_TRUE(streamed.out == read_file(path("out.raw")))
            << c.label << ": " << streamed.out.size() << " bytes on standard output, "
            << read_file(path("out.raw")).size() << " in the file";
        EXPECT_FALSE(streamed.err.empty()) << c.label;
        if (!c.system) {
            EXPECT_NE(streamed.err.find("chatty: instance 0 at 48000 Hz\n"), std::string::npos)
                << c.label << ": " << streamed.err;
            EXPECT_NE(streamed.err.find("chatty: run of "), std::string::npos) << c.label;
        }
    }
}

TEST_F(Files, NameThatSaysAnotherTypeIsWarnedAboutOnceEvenWhenQuiet)
{
    write_sound(path("shot.flac"),
                make_sound(1, 500, 48000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                           [](long f, int) { return static_cast<float>(f % 50) / 100.0f; }));
    const CommandResult r = tonbrix(
        {"-q", "-i", path("shot.flac"), "-o", path("shot.wav"), test_plugin("thru")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "WARNING: The output is written as FLAC although its name ends in .wav; "
                     "choose the type with --output-format (e.g. --output-format=wav).\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_sound(path("shot.wav")).format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    // Raw floats on standard output have no name to disagree with.
    const CommandResult raw = tonbrix({"-q", "-r", "48000", "-n", "1", "-i", "-", "-o", "-",
                                       test_plugin("thru")},
                                      to_raw_bytes({0.5f, 0.25f}));
    EXPECT_EQ(raw.status, 0);
    EXPECT_EQ(raw.err, "");
}

TEST_F(Files, PartialFrameAtTheEndOfARawInputIsWarnedAbout)
{
    // Three stereo frames, then `extra` bytes of a fourth.
    const std::vector<float> samples = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
    struct Case {
        bool pipe;       // standard input, else a file
        bool to_stdout;  // audio on standard output: the warning on standard error
        std::size_t extra;
    };
    const Case cases[] = {
        {true, false, 0}, {true, false, 1}, {true, false, 4}, {true, true, 7},
        {false, false, 0}, {false, false, 5}, {false, true, 3},
    };
    for (const auto& c : cases) {
        const std::string label = std::string(c.pipe ? "pipe" : "file") +
                                  (c.to_stdout ? " to stdout" : "") + ", " +
                                  std::to_string(c.extra) + " bytes";
        const std::string bytes = to_raw_bytes(samples) + std::string(c.extra, '\x11');
        write_bytes(path("in.f32"), bytes);
        std::vector<std::string> args = {"-q", "-r", "8000", "-n", "2", "-i",
                                         c.pipe ? "-" : path("in.f32"), "-o",
                                         c.to_stdout ? "-" : path("out.f32"),
                                         test_plugin("thru2")};
        const CommandResult r = tonbrix(args, c.pipe ? bytes : "");
        EXPECT_EQ(r.status, 0) << label;
        const std::string warning =
            c.extra == 0 ? ""
                         : "WARNING: The raw input ended with " + std::to_string(c.extra) +
                               " bytes of an incomplete frame (8 bytes each); they were left "
                               "out.\n";
        EXPECT_EQ(c.to_stdout ? r.err : r.out, warning) << label;
        const std::string audio = c.to_stdout ? r.out : read_file(path("out.f32"));
        EXPECT_EQ(from_raw_bytes(audio), samples) << label;
    }
}

TEST_F(Files, CutShortInputIsWarnedAboutOnceAndNormalFilesNever)
{
    // 1000 stereo frames, cut to 300 whole frames and part of the next one.
    const auto music = [](long f, int c) {
        return 0.3f * static_cast<float>(std::sin(static_cast<double>(f * (c + 1)) * 0.05));
    };
    struct Case {
        const char* label;
        const char* name;
        int format;
        long cut_bytes; // taken off the end; 0: left whole
        long kept;      // frames read from what is left
    };
    const Case cases[] = {
        {"WAV 16-bit", "in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 700 * 4 - 1, 300},
        {"WAV 24-bit", "in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 700 * 6 - 2, 300},
        {"WAV float", "in.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 700 * 8, 300},
        {"WAVEX", "in.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 700 * 4, 300},
        {"RF64", "in.wav", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 700 * 4 - 3, 300},
        {"AIFF", "in.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 700 * 4 - 1, 300},
        {"AU mu-law", "in.au", SF_FORMAT_AU | SF_FORMAT_ULAW, 700 * 2, 300},
        // Whole files of every kind, whose length is exact.
        {"whole WAV", "in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 1000},
        {"whole FLAC", "in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 0, 1000},
        {"whole Ogg Vorbis", "in.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0, 1000},
        {"whole Opus", "in.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 0, 1000},
        {"whole AIFF", "in.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 0, 1000},
        {"whole CAF", "in.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 0, 1000},
        {"whole W64", "in.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 0, 1000},
        {"whole RF64", "in.wav", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 0, 1000},
    };
    for (const Case& c : cases) {
        const std::string in = path(c.name);
        std::remove(in.c_str());
        write_sound(in, make_sound(2, 1000, 48000, c.format, music));
        const long promised = read_sound(in).frames();
        if (c.cut_bytes > 0) {
            const long size = static_cast<long>(read_file(in).size());
            ASSERT_EQ(std::system(("truncate -s " + std::to_string(size - c.cut_bytes) + " " +
                                   in).c_str()),
                      0);
        }
        const CommandResult r =
            tonbrix({"-q", "-i", in, "-o", path("out.wav"), "--output-format=wav:float",
                     test_plugin("thru2")});
        EXPECT_EQ(r.status, 0) << c.label << ": " << r.err;
        EXPECT_EQ(r.err, "") << c.label;
        const long written = read_sound(path("out.wav")).frames();
        if (c.cut_bytes == 0) {
            EXPECT_EQ(r.out, "") << c.label;
            EXPECT_EQ(written, 1000) << c.label;
            continue;
        }
        EXPECT_EQ(written, c.kept) << c.label;
        EXPECT_EQ(r.out, "WARNING: The input file ended after " + std::to_string(c.kept) +
                             " of the " + std::to_string(promised) +
                             " frames its header promised; the rest is missing.\n")
            << c.label;
    }

    // Lengths that no header promised: raw data from a pipe, and a WAV
    // written to a pipe, whose sizes say "unknown" (0xFFFFFFFF).
    write_sound(path("in.wav"), make_sound(2, 1000, 48000, wav_pcm16, music));
    std::string streamed = read_file(path("in.wav"));
    for (const std::size_t at : {std::size_t{4}, streamed.find("data") + 4}) {
        streamed.replace(at, 4, "\xff\xff\xff\xff");
    }
    write_bytes(path("streamed.wav"), streamed);
    const CommandResult from_pipe_wav = tonbrix(
        {"-q", "-i", path("streamed.wav"), "-o", path("out.wav"), test_plugin("thru2")});
    EXPECT_EQ(from_pipe_wav.status, 0) << from_pipe_wav.err;
    EXPECT_EQ(from_pipe_wav.out, "");
    EXPECT_EQ(read_sound(path("out.wav")).frames(), 1000);
    const CommandResult raw = tonbrix({"-q", "-r", "48000", "-n", "2", "-i", "-", "-o",
                                       path("out.f32"), test_plugin("thru2")},
                                      to_raw_bytes(std::vector<float>(2000, 0.25f)));
    EXPECT_EQ(raw.status, 0) << raw.err;
    EXPECT_EQ(raw.out, "");
}
