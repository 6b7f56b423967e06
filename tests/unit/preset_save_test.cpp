// Preset bundle names as jalv gives them, and putting a new bundle in
// place over an old one.
#include "lv2/preset_save.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

TEST(PresetSave, BundleAndFileNamesKeepOnlyAsciiLettersAndDigits)
{
    struct Case {
        std::string plugin;
        std::string label;
        std::string bundle;
        std::string file;
    };
    const Case cases[] = {
        {"Simple Amplifier", "Voice EQ", "Simple_Amplifier_Voice_EQ.preset.lv2", "Voice_EQ.ttl"},
        {"x42 - IR Convolver", "Hall 2", "x42___IR_Convolver_Hall_2.preset.lv2", "Hall_2.ttl"},
        // Nothing leaves the folder: slashes and dots become '_'.
        {"A/B", "../up", "A_B____up.preset.lv2", "___up.ttl"},
        // Every byte of a character beyond ASCII.
        {"Amp", "Gr\xc3\xb6\xc3\x9f" "e", "Amp_Gr____e.preset.lv2", "Gr____e.ttl"},
        // Long names are cut, so that the folder's name stays within limits.
        {std::string(200, 'p'), std::string(300, 'l'),
         std::string(96, 'p') + "_" + std::string(96, 'l') + ".preset.lv2",
         std::string(96, 'l') + ".ttl"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tonbrix::preset_bundle_name(c.plugin, c.label), c.bundle) << c.label;
        EXPECT_EQ(tonbrix::preset_file_name(c.label), c.file) << c.label;
    }
}

class PresetBundleCommit : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tonbrix-bundle-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A folder holding one file with this text.
    std::string folder(const std::string& name, const std::string& text)
    {
        const std::string path = dir_ + "/" + name;
        fs::create_directories(path);
        std::ofstream(path + "/preset.ttl") << text;
        return path;
    }

    static std::string text_of(const std::string& path)
    {
        std::ifstream in(path);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string dir_;
};

TEST_F(PresetBundleCommit, NewBundleTakesItsPlace)
{
    const std::string staging = folder(".new", "new");
    {
        tonbrix::PresetBundle bundle(staging, dir_ + "/A.preset.lv2");
        ASSERT_TRUE(bundle.commit().ok());
    }
    EXPECT_EQ(text_of(dir_ + "/A.preset.lv2/preset.ttl"), "new");
    EXPECT_FALSE(fs::exists(staging));
}

TEST_F(PresetBundleCommit, OldBundleIsReplacedWhole)
{
    const std::string old = folder("A.preset.lv2", "old");
    std::ofstream(old + "/left-over.wav") << "old file";
    const std::string staging = folder(".new", "new");
    {
        tonbrix::PresetBundle bundle(staging, old);
        ASSERT_TRUE(bundle.commit().ok());
    }
    EXPECT_EQ(text_of(old + "/preset.ttl"), "new");
    EXPECT_FALSE(fs::exists(old + "/left-over.wav"));
    EXPECT_FALSE(fs::exists(staging));
    // Nothing else is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(PresetBundleCommit, BundleNotCommittedIsRemoved)
{
    const std::string old = folder("A.preset.lv2", "old");
    const std::string staging = folder(".new", "new");
    {
        tonbrix::PresetBundle bundle(staging, old);
    }
    EXPECT_FALSE(fs::exists(staging));
    EXPECT_EQ(text_of(old + "/preset.ttl"), "old");
}

} // namespace
