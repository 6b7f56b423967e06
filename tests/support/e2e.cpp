#include "support/e2e.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

std::string test_lv2_dir()
{
    return TONBRIX_TEST_LV2_DIR;
}

std::string tonbrix_binary()
{
    return TONBRIX_BINARY;
}

void E2E::SetUp()
{
    char pattern[] = "/tmp/tonbrix-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    ASSERT_NE(made, nullptr);
    dir_ = made;
}

void E2E::TearDown()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

CommandResult E2E::tonbrix(const std::vector<std::string>& args, const std::string& stdin_data,
                           const std::vector<std::pair<std::string, std::string>>& env) const
{
    CommandSpec spec;
    spec.args = args;
    spec.stdin_data = stdin_data;
    spec.env = {{"LV2_PATH", test_lv2_dir()}, {"TONBRIX_TEST_LOG", log_path()}};
    spec.env.insert(spec.env.end(), env.begin(), env.end());
    return run_command(tonbrix_binary(), spec);
}

CommandResult E2E::tonbrix_under(const std::vector<std::string>& prefix,
                                 const std::vector<std::string>& args) const
{
    CommandSpec spec;
    spec.args = args;
    spec.prefix = prefix;
    spec.env = {{"LV2_PATH", test_lv2_dir()}, {"TONBRIX_TEST_LOG", log_path()}};
    return run_command(tonbrix_binary(), spec);
}

CommandResult E2E::tonbrix_system(const std::vector<std::string>& args) const
{
    return tonbrix(args, "", {{"LV2_PATH", test_lv2_dir() + ":/usr/lib/lv2"}});
}

std::string E2E::read_log() const
{
    return file_exists(log_path()) ? read_file(log_path()) : std::string();
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool file_exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> folder_entries(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void write_bytes(const std::string& path, const std::string& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}
