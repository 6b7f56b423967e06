// What the output keeps of the input besides its samples: the strings
// (title, artist, ...) where the output's type can hold them, and a valid
// stream when there are no frames at all.
#include "support/e2e.h"

#include <sndfile.h>

#include <cmath>

namespace {

const SoundStrings podcast_strings = {
    {SF_STR_TITLE, "Episode 12: Long Takes"},
    {SF_STR_ARTIST, "The Host"},
    {SF_STR_COMMENT, "recorded live"},
    {SF_STR_DATE, "2026-12-10"},
    {SF_STR_ALBUM, "Season Two"},
    {SF_STR_GENRE, "Podcast"},
};

bool has_string(const SoundStrings& strings, int kind, const std::string& text)
{
    for (const auto& [k, t] : strings) {
        if (k == kind && t == text) {
            return true;
        }
    }
    return false;
}

Sound tone(int channels, long frames, int format)
{
    return make_sound(channels, frames, 48000, format, [](long f, int c) {
        return 0.5f * std::sin(static_cast<float>(f) * 0.01f * static_cast<float>(c + 1));
    });
}

} // namespace

class Tags : public E2E {};

TEST_F(Tags, TitleAndArtistReachTheOutputWhereItsTypeHoldsThem)
{
    struct Case {
        const char* input; // file name, by which libsndfile's type is chosen
        int input_format;
        std::vector<std::string> options;
        const char* output;
    };
    const Case cases[] = {
        {"in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, {"-j", "1"}, "out.flac"},
        // 16-bit FLAC on threads: the segments carry the strings too.
        {"in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, {"-j", "2"}, "out.flac"},
        {"in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, {"-j", "2"}, "out.flac"},
        {"in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, {}, "out.wav"},
        {"in.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, {"--output-format=flac"}, "out.flac"},
        {"in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, {"--output-format=wav"}, "out.wav"},
        {"in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, {"--output-format=ogg"}, "out.ogg"},
        {"in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, {"--output-format=aiff"}, "out.aiff"},
        {"in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, {"--output-format=caf"}, "out.caf"},
    };
    for (const auto& c : cases) {
        const std::string label =
            std::string(c.input) + " " + (c.options.empty() ? "" : c.options[0] + " ") + c.output;
        write_sound(path(c.input), tone(2, 5000, c.input_format), podcast_strings);
        std::vector<std::string> args = {"-q", "-i", path(c.input), "-o", path(c.output)};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(test_plugin("thru2"));
        const CommandResult r = tonbrix(args);
        ASSERT_EQ(r.status, 0) << label << ": " << r.err;
        EXPECT_EQ(r.err, "") << label;
        const SoundStrings out = read_sound_strings(path(c.output));
        EXPECT_TRUE(has_string(out, SF_STR_TITLE, "Episode 12: Long Takes")) << label;
        EXPECT_TRUE(has_string(out, SF_STR_ARTIST, "The Host")) << label;
        EXPECT_EQ(read_sound(path(c.output)).frames(), 5000) << label;
    }
}

TEST_F(Tags, EveryStringOfTheInputIsCopied)
{
    for (const char* name : {"out.flac", "out.wav"}) {
        const int format = std::string(name) == "out.flac" ? SF_FORMAT_FLAC | SF_FORMAT_PCM_24
                                                           : SF_FORMAT_WAV | SF_FORMAT_PCM_24;
        write_sound(path("in"), tone(1, 300, format), podcast_strings);
        const CommandResult r =
            tonbrix({"-q", "-i", path("in"), "-o", path(name), test_plugin("thru")});
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_EQ(read_sound_strings(path(name)), read_sound_strings(path("in"))) << name;
    }
}

TEST_F(Tags, SegmentedFlacWithStringsHasTheBytesOfOneThread)
{
    write_sound(path("in.flac"), tone(2, 3 * 65536 + 100, SF_FORMAT_FLAC | SF_FORMAT_PCM_16),
                podcast_strings);
    std::string one_thread;
    for (const char* jobs : {"1", "2", "3"}) {
        const CommandResult r = tonbrix({"-q", "-j", jobs, "-i", path("in.flac"), "-o",
                                         path("out.flac"), test_plugin("thru2")});
        ASSERT_EQ(r.status, 0) << jobs << ": " << r.err;
        const std::string bytes = read_file(path("out.flac"));
        if (one_thread.empty()) {
            one_thread = bytes;
        }
        EXPECT_TRUE(bytes == one_thread) << "jobs " << jobs;
    }
}

TEST_F(Tags, RawOutputOfATaggedInputRunsWithoutAWord)
{
    write_sound(path("in.wav"), tone(1, 1000, SF_FORMAT_WAV | SF_FORMAT_FLOAT), podcast_strings);
    const CommandResult r = tonbrix({"-q", "-i", path("in.wav"), "-o", path("out.raw"),
                                     "--output-format=raw:float", test_plugin("thru")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(path("out.raw")).size(), 4000u);
}

class EmptyInputs : public E2E {};

TEST_F(EmptyInputs, GiveOutputsThatReadersOpen)
{
    struct Case {
        const char* name;
        int format;
    };
    const Case cases[] = {
        {"in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"in.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    };
    for (const auto& c : cases) {
        write_sound(path(c.name), Sound{2, 44100, c.format, {}}, {{SF_STR_TITLE, "Nothing"}});
        for (const char* jobs : {"1", "2"}) {
            const std::string label = std::string(c.name) + " " + std::to_string(c.format) +
                                      ", jobs " + jobs;
            const std::string out = path(std::string("out-") + c.name);
            const CommandResult r =
                tonbrix({"-q", "-j", jobs, "-i", path(c.name), "-o", out, test_plugin("thru2")});
            ASSERT_EQ(r.status, 0) << label << ": " << r.err;
            const Sound sound = read_sound(out);
            EXPECT_EQ(sound.format, c.format) << label;
            EXPECT_EQ(sound.channels, 2) << label;
            EXPECT_EQ(sound.frames(), 0) << label;
            EXPECT_TRUE(has_string(read_sound_strings(out), SF_STR_TITLE, "Nothing")) << label;
        }
    }
}
