// SPDX-License-Identifier: GPL-2.0-or-later
// The one writer of user files: nothing under the target's name until complete, never a
// write through a planted link, one run per target, and no leftovers of a dead run.

#include "base/SafeOutput.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivox {
namespace {

namespace fs = std::filesystem;

class SafeOutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("lumivox-safe-" + std::to_string(::getpid()) + "-" +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }
    void Write(const std::string& name, const std::string& text) const
    {
        std::ofstream(PathOf(name), std::ios::binary) << text;
    }
    std::string Read(const std::string& name) const
    {
        std::ifstream in(PathOf(name), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder_;
};

TEST_F(SafeOutputTest, TargetAppearsOnlyWhenCompleteAndAbandonLeavesTheOldFile)
{
    Write("out.txt", "old");
    {
        SafeOutput output;
        std::string error;
        ASSERT_TRUE(output.Open(PathOf("out.txt"), &error)) << error;
        ASSERT_TRUE(output.Write("new text", &error)) << error;
        EXPECT_EQ(Read("out.txt"), "old");
        EXPECT_EQ(Names().size(), 2u);
        // Destroyed without Commit: the old file stays, the pending one goes.
    }
    EXPECT_EQ(Names(), std::vector<std::string>{"out.txt"});
    EXPECT_EQ(Read("out.txt"), "old");

    std::string error;
    ASSERT_TRUE(WriteFileSafely(PathOf("out.txt"), "new text", &error)) << error;
    EXPECT_EQ(Read("out.txt"), "new text");
    EXPECT_EQ(Names(), std::vector<std::string>{"out.txt"});

    // The umask gives the mode of a new file.
    const mode_t old = ::umask(027);
    ASSERT_TRUE(WriteFileSafely(PathOf("masked"), "x", &error)) << error;
    ::umask(old);
    struct stat info { };
    ASSERT_EQ(::stat(PathOf("masked").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(SafeOutputTest, PlantedLinksAreReplacedNeverWrittenThrough)
{
    Write("victim", "precious");
    for (const char* name : {"disc.cue", "sub/link"}) {
        SCOPED_TRACE(name);
        fs::create_directories(folder_ / "sub");
        fs::create_symlink(PathOf("victim"), PathOf(name));
        std::string error;
        ASSERT_TRUE(WriteFileSafely(PathOf(name), "written", &error)) << error;
        EXPECT_FALSE(fs::is_symlink(PathOf(name)));
        EXPECT_EQ(Read(name), "written");
        EXPECT_EQ(Read("victim"), "precious");
    }
}

TEST_F(SafeOutputTest, RefusedTargetsNameTheReason)
{
    fs::create_directories(folder_ / "folder");
    ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0600), 0);
    const struct {
        std::string target;
        const char* reason;
    } cases[] = {
        {PathOf("folder"), "is a folder"},
        {PathOf("folder") + "/", "names a folder"},
        {PathOf("fifo"), "not a regular file"},
        {PathOf("missing/out"), "No such file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        SafeOutput output;
        std::string error;
        EXPECT_FALSE(output.Open(c.target, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"fifo", "folder"}));
}

TEST_F(SafeOutputTest, OneRunPerTargetAndLeftoversOfDeadRunsGo)
{
    SafeOutput first;
    std::string error;
    ASSERT_TRUE(first.Open(PathOf("DISC.cue"), &error)) << error;
    ASSERT_TRUE(first.Write("first", &error));

    SafeOutput second;
    EXPECT_FALSE(second.Open(PathOf("DISC.cue"), &error));
    EXPECT_EQ(error, "DISC.cue is being written by another run.");
    SafeOutput other; // another target in the same folder is not held up
    EXPECT_TRUE(other.Open(PathOf("DISC.bin"), &error)) << error;
    other.Abandon();

    ASSERT_TRUE(first.Commit(&error)) << error;
    EXPECT_EQ(Read("DISC.cue"), "first");

    // A pending file nobody holds locked is what a killed run leaves: the next run
    // removes it.
    Write(".DISC.cue.lumivox-deadbeef", "half");
    ASSERT_TRUE(second.Open(PathOf("DISC.cue"), &error)) << error;
    second.Abandon();
    EXPECT_EQ(Names(), std::vector<std::string>{"DISC.cue"});
}

TEST_F(SafeOutputTest, SameFileByDeviceAndInode)
{
    Write("a", "x");
    Write("b", "x");
    fs::create_hard_link(PathOf("a"), PathOf("hard"));
    fs::create_symlink(PathOf("a"), PathOf("soft"));
    EXPECT_TRUE(IsSameFile(PathOf("a"), PathOf("hard")));
    EXPECT_TRUE(IsSameFile(PathOf("a"), PathOf("soft")));
    EXPECT_TRUE(IsSameFile(PathOf("a"), folder_.string() + "/./a"));
    EXPECT_FALSE(IsSameFile(PathOf("a"), PathOf("b")));
    EXPECT_FALSE(IsSameFile(PathOf("a"), PathOf("missing")));
}

} // namespace
} // namespace lumivox
