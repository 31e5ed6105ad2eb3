// SPDX-License-Identifier: GPL-2.0-or-later
// The one writer of user files: nothing under the target's name until complete, never a
// write through a planted link, one run per target, and no leftovers of a dead run.

#include "base/SafeOutput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
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
        std::string reason;
    } cases[] = {
        {PathOf("folder"), "is a folder"},
        {PathOf("folder") + "/", "names a folder"},
        {PathOf("fifo"), PathOf("fifo") + " is not a regular file."},
        {"/dev/null", "/dev/null is not a regular file."},
        {PathOf("missing/out"), "No such file"},
        {PathOf(std::string(256, 'n')), "the file name is longer than 255 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        SafeOutput output;
        std::string error;
        EXPECT_FALSE(output.Open(c.target, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        std::string checked;
        EXPECT_EQ(CheckOutputTarget(c.target, &checked), c.reason == "No such file");
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

// Names up to the folders' limit are written, however long, and two long names alike in
// their first 200 or 220 bytes are two targets: each can be written while the other is.
TEST_F(SafeOutputTest, LongNamesAreTargetsOfTheirOwn)
{
    const std::string stem(200, 'a');
    const std::string umlauts = [] {
        std::string text;
        for (int i = 0; i < 110; ++i)
            text += "\xC3\xBC"; // a character cut by a byte limit would be invalid UTF-8
        return text;
    }();
    const struct {
        std::string first, second;
    } cases[] = {
        {stem + ".cue", stem + ".bin"},
        {stem + std::string(50, 'x') + ".cue", stem + std::string(50, 'x') + ".bin"},
        {std::string(251, 'b') + ".cue", std::string(251, 'b') + ".bin"},
        {std::string(221, 'c'), std::string(220, 'c')},
        {umlauts + "1.mpg", umlauts + "2.mpg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.first.size()) + " and " + std::to_string(c.second.size()) + " bytes");
        SafeOutput first, second;
        std::string error;
        ASSERT_TRUE(first.Open(PathOf(c.first), &error)) << error;
        ASSERT_TRUE(second.Open(PathOf(c.second), &error)) << error;
        SafeOutput again;
        EXPECT_FALSE(again.Open(PathOf(c.first), &error));
        EXPECT_EQ(error, c.first + " is being written by another run.");
        ASSERT_TRUE(first.Write("1", &error) && first.Commit(&error)) << error;
        ASSERT_TRUE(second.Write("2", &error) && second.Commit(&error)) << error;
        EXPECT_EQ(Read(c.first), "1");
        EXPECT_EQ(Read(c.second), "2");
        fs::remove(PathOf(c.first));
        fs::remove(PathOf(c.second));
        EXPECT_TRUE(Names().empty());
    }
}

// The pending file is written through its descriptor alone, and renamed only while its
// name still holds that file: whatever is put under the pending name meanwhile (by
// someone else with a right to the folder) is neither written through nor installed.
TEST_F(SafeOutputTest, APendingNameSwappedMeanwhileIsNeverInstalled)
{
    Write("victim", "precious");
    Write("made.txt", "made by a tool in a folder of its own");
    const struct {
        const char* name;
        std::function<void(const std::string& pending)> swap;
    } cases[] = {
        {"link", [&](const std::string& pending) { fs::create_symlink(PathOf("victim"), pending); }},
        {"file", [&](const std::string& pending) { Write(fs::path(pending).filename().string(), "planted"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write("out.txt", "old");
        SafeOutput output;
        std::string error;
        ASSERT_TRUE(output.Open(PathOf("out.txt"), &error)) << error;
        std::string pending;
        for (const std::string& name : Names())
            if (name.rfind(".out.txt.lumivox-", 0) == 0)
                pending = PathOf(name);
        ASSERT_FALSE(pending.empty());
        fs::rename(pending, PathOf("moved-away"));
        c.swap(pending);
        ASSERT_TRUE(output.WriteFileContents(PathOf("made.txt"), &error)) << error;
        EXPECT_FALSE(output.Commit(&error));
        EXPECT_NE(error.find("replaced by another file"), std::string::npos) << error;
        EXPECT_EQ(Read("out.txt"), "old");
        EXPECT_EQ(Read("victim"), "precious");
        EXPECT_EQ(Read("moved-away"), "made by a tool in a folder of its own");
        EXPECT_TRUE(fs::exists(fs::symlink_status(pending))) << "another's file is not ours to remove";
        fs::remove(pending);
        fs::remove(PathOf("moved-away"));
    }
    std::string error;
    SafeOutput output;
    ASSERT_TRUE(output.Open(PathOf("out.txt"), &error)) << error;
    EXPECT_FALSE(output.WriteFileContents(PathOf("gone"), &error));
    EXPECT_EQ(error, PathOf("gone") + ": No such file or directory");
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
