// Folder walks, output names of a type, and whether one path lies in another.
#include "io/sound_folder.h"

#include <gtest/gtest.h>

#include <sndfile.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(SoundFolder, TypeExtensionReplacesTheLastOne)
{
    struct Case {
        const char* path;
        int type;
        const char* expected;
    };
    const Case cases[] = {
        {"a.wav", SF_FORMAT_FLAC, "a.flac"},
        {"sub/take.1.wav", SF_FORMAT_AIFF, "sub/take.1.aiff"},
        {"noext", SF_FORMAT_WAV, "noext.wav"},
        {"dir.d/noext", SF_FORMAT_CAF, "dir.d/noext.caf"},
        {".hidden", SF_FORMAT_WAV, ".hidden.wav"},
        {"a.flac", SF_FORMAT_WAVEX, "a.wav"},
        {"a.wav", SF_FORMAT_OGG, "a.oga"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tonbrix::with_type_extension(c.path, c.type), c.expected) << c.path;
    }
}

TEST(SoundFolder, SoundFileExtensionsAreThoseLibsndfileReadsByTheirHeader)
{
    struct Case {
        const char* path;
        bool sound;
    };
    const Case cases[] = {
        {"a.wav", true},         {"in/take 1.FLAC", true}, {"x.Ogg", true},
        {"x.opus", true},        {"x.oga", true},          {"x.aiff", true},
        {"x.aif", true},         {"x.aifc", true},         {"x.caf", true},
        {"x.w64", true},         {"x.rf64", true},         {"x.au", true},
        {"x.snd", true},         {"x.mp3", true},          {"dir.wav/x.txt", false},
        {"x.raw", false},        {"x.vox", false},         {"x.txt", false},
        {"wav", false},          {"x.", false},            {".wav", false},
        {"x.wav.bak", false},    {"x.mid", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tonbrix::has_sound_file_extension(c.path), c.sound) << c.path;
    }
}

TEST(SoundFolder, PathWithinFollowsLinksAndDots)
{
    char pattern[] = "/tmp/tonbrix-folder-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string root = pattern;
    fs::create_directories(root + "/in/sub");
    fs::create_directories(root + "/other");
    fs::create_directory_symlink(root + "/in/sub", root + "/link");
    EXPECT_TRUE(tonbrix::path_within(root + "/in/sub/new/deeper", root + "/in"));
    EXPECT_TRUE(tonbrix::path_within(root + "/in/sub/..", root + "/in/"));
    EXPECT_TRUE(tonbrix::path_within(root + "/link/out", root + "/in"));
    EXPECT_FALSE(tonbrix::path_within(root + "/in-out", root + "/in"));
    EXPECT_FALSE(tonbrix::path_within(root + "/other", root + "/in"));
    EXPECT_FALSE(tonbrix::path_within(root + "/in", root + "/in/sub"));

    // The walk: sorted, hidden names left out, a link back up walked once.
    std::ofstream(root + "/in/b.txt") << "b";
    std::ofstream(root + "/in/.hidden") << "h";
    std::ofstream(root + "/in/sub/a.wav") << "a";
    fs::create_directory_symlink(root + "/in", root + "/in/sub/up");
    const auto files = tonbrix::folder_files(root + "/in");
    ASSERT_TRUE(files);
    EXPECT_EQ(files.value(), (std::vector<std::string>{"b.txt", "sub/a.wav"}));
    EXPECT_FALSE(tonbrix::folder_files(root + "/nothing"));
    fs::remove_all(root);
}

} // namespace
