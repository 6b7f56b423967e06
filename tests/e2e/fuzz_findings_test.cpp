// The inputs the sound file fuzzer found (tests/fuzz/findings/sound_file/)
// as whole runs: each ends in one clear error or a readable output, with no
// crash and no leak of tonbrix's own.
#include "support/e2e.h"

#include <filesystem>

class FuzzFindings : public E2E {};

TEST_F(FuzzFindings, SoundFilesEndInAClearErrorOrAnOutput)
{
    const std::string folder = std::string(TONBRIX_SOURCE_DIR) + "/tests/fuzz/findings/sound_file";
    // Known leaks of libraries tonbrix cannot mend are suppressed.
    const std::vector<std::pair<std::string, std::string>> env = {
        {"LSAN_OPTIONS", std::string("suppressions=") + TONBRIX_SOURCE_DIR +
                             "/tests/lsan.supp:print_suppressions=0"}};
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string input = entry.path().string();
        const std::string name = entry.path().filename().string();
        std::remove(path("out").c_str());
        const CommandResult r =
            tonbrix({"-i", input, "-o", path("out"), test_plugin("thru")}, "", env);
        ++count;
        if (r.status == 1) {
            EXPECT_EQ(r.err.rfind("Error reading input file: ", 0), 0u) << name << ": " << r.err;
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << name << ": " << r.err;
            EXPECT_FALSE(file_exists(path("out"))) << name;
        } else {
            EXPECT_EQ(r.status, 0) << name << ": " << r.err;
            EXPECT_EQ(r.err, "") << name;
            EXPECT_NO_THROW(read_sound(path("out"))) << name;
        }
    }
    EXPECT_GT(count, 0);
}
