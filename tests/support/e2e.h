#pragma once

#include "support/command.h"
#include "support/sound.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The plugin URIs of the project's own test bundles.
inline std::string test_plugin(const std::string& name)
{
    return "http://tonbrix.test/plugins/" + name;
}

// A fresh temporary folder per test, and runs of the real binary with
// LV2_PATH pointing at the test bundles.
class E2E : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A path inside the test's folder.
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    // Runs tonbrix with LV2_PATH set to the test bundles only.
    CommandResult tonbrix(const std::vector<std::string>& args, const std::string& stdin_data = "",
                          const std::vector<std::pair<std::string, std::string>>& env = {}) const;
    // Runs tonbrix as tonbrix() does, behind a wrapper command (e.g. a shell
    // that sets limits and then runs "$0" "$@").
    CommandResult tonbrix_under(const std::vector<std::string>& prefix,
                                const std::vector<std::string>& args) const;
    // Runs tonbrix with the test bundles and the system's installed plugins.
    CommandResult tonbrix_system(const std::vector<std::string>& args) const;

    // The lines the test plugins logged to TONBRIX_TEST_LOG.
    std::string log_path() const { return path("lifecycle.log"); }
    std::string read_log() const;

    std::string dir_;
};

std::string read_file(const std::string& path);
// Writes `bytes` to a file; a failure fails the test.
void write_bytes(const std::string& path, const std::string& bytes);
// The lines of a text, without their newlines.
std::vector<std::string> lines_of(const std::string& text);
// The names in a folder, hidden ones included, sorted.
std::vector<std::string> folder_entries(const std::string& dir);
bool file_exists(const std::string& path);
std::string test_lv2_dir();
// A shell prefix for tonbrix_under that runs these commands first.
inline std::vector<std::string> shell_with(const std::string& commands)
{
    return {"sh", "-c", commands + "; exec \"$0\" \"$@\""};
}
std::string tonbrix_binary();
