#include "io/atomic_output.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace tonbrix;

namespace {

class AtomicOutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tonbrix-atomic-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    static void write(const std::string& file, const std::string& text)
    {
        std::ofstream(file, std::ios::binary) << text;
    }
    static std::string read(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void put(const AtomicOutput& output, const std::string& text)
    {
        ASSERT_EQ(::write(output.fd, text.data(), text.size()),
                  static_cast<ssize_t>(text.size()));
    }
    static mode_t mode_of(const std::string& file)
    {
        struct stat st {};
        return ::stat(file.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    std::size_t entries() const
    {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_)) {
            ++count;
        }
        return count;
    }

    std::string dir_;
};

} // namespace

TEST_F(AtomicOutputTest, TemporaryFileIsPrivateUntilTheCommitReplacesTheTarget)
{
    write(path("out"), "old");
    ASSERT_EQ(::chmod(path("out").c_str(), 0640), 0);
    AtomicOutput output;
    ASSERT_TRUE(begin_atomic_output(path("out"), output));
    EXPECT_EQ(output.target, path("out"));
    EXPECT_EQ(output.temp.rfind(dir_ + "/.out.tonbrix-", 0), 0u) << output.temp;
    EXPECT_EQ(mode_of(output.temp), 0600u);
    put(output, "new");
    EXPECT_EQ(read(path("out")), "old");
    ASSERT_TRUE(commit_atomic_output(output));
    EXPECT_EQ(read(path("out")), "new");
    EXPECT_EQ(mode_of(path("out")), 0640u);
    EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicOutputTest, DiscardAndScopeEndRemoveTheTemporaryFile)
{
    write(path("out"), "old");
    {
        AtomicOutput output;
        ASSERT_TRUE(begin_atomic_output(path("out"), output));
        put(output, "partial");
        EXPECT_EQ(entries(), 2u);
    }
    EXPECT_EQ(entries(), 1u);
    AtomicOutput output;
    ASSERT_TRUE(begin_atomic_output(path("new"), output));
    discard_atomic_output(output);
    EXPECT_EQ(output.fd, -1);
    EXPECT_EQ(entries(), 1u);
    EXPECT_EQ(read(path("out")), "old");
    // Committing what was discarded is a no-op.
    EXPECT_TRUE(commit_atomic_output(output));
    EXPECT_FALSE(std::filesystem::exists(path("new")));
}

TEST_F(AtomicOutputTest, LinksAreFollowedToTheirTarget)
{
    ASSERT_EQ(::mkdir(path("sub").c_str(), 0755), 0);
    write(path("sub/real"), "old");
    ASSERT_EQ(::symlink("sub/real", path("link").c_str()), 0);
    AtomicOutput output;
    ASSERT_TRUE(begin_atomic_output(path("link"), output));
    char* real = ::realpath(path("sub/real").c_str(), nullptr);
    EXPECT_EQ(output.target, std::string(real));
    std::free(real);
    EXPECT_EQ(std::filesystem::path(output.temp).parent_path(),
              std::filesystem::path(output.target).parent_path());
    put(output, "new");
    ASSERT_TRUE(commit_atomic_output(output));
    EXPECT_TRUE(std::filesystem::is_symlink(path("link")));
    EXPECT_EQ(read(path("link")), "new");
}

TEST_F(AtomicOutputTest, PathsWrittenInPlace)
{
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("nowhere/x", path("dangling").c_str()), 0);
    ASSERT_EQ(::mkdir(path("folder").c_str(), 0755), 0);
    const std::string cases[] = {
        "-", "", path("fifo"), "/dev/null", path("dangling"), path("folder"),
        path("missing/out"),
    };
    for (const std::string& p : cases) {
        AtomicOutput output;
        EXPECT_FALSE(begin_atomic_output(p, output)) << p;
        EXPECT_EQ(output.fd, -1) << p;
        EXPECT_TRUE(output.temp.empty()) << p;
    }
    EXPECT_EQ(entries(), 3u);
}

TEST_F(AtomicOutputTest, FailedRenameRemovesTheTemporaryFile)
{
    AtomicOutput output;
    ASSERT_TRUE(begin_atomic_output(path("out"), output));
    // A folder now stands where the file goes: the rename must fail.
    ASSERT_EQ(::mkdir(path("out").c_str(), 0755), 0);
    write(path("out/x"), "");
    EXPECT_FALSE(commit_atomic_output(output));
    EXPECT_TRUE(output.temp.empty());
    EXPECT_EQ(entries(), 1u);
}
