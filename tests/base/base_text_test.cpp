// SPDX-License-Identifier: GPL-2.0-or-later
// UTF-8 cutting of the 259-byte fields, JSON quoting of the command line, the program
// folder rules and the manual-reset event.

#include "base/Event.h"
#include "base/Paths.h"
#include "base/TextUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace lumivox {
namespace {

TEST(TextUtil, CutUtf8NeverSplitsACharacter)
{
    const std::string e = "\xC3\xA9"; // é, 2 bytes
    const std::string euro = "\xE2\x82\xAC"; // €, 3 bytes
    const std::string clef = "\xF0\x9D\x84\x9E"; // 𝄞, 4 bytes
    struct Case {
        std::string text;
        std::size_t limit;
        std::string expected;
    } cases[] = {
        {"abc", 3, "abc"},
        {"abcd", 3, "abc"},
        {"a" + e, 2, "a"},
        {"a" + e, 3, "a" + e},
        {e + euro, 4, e},
        {e + euro, 5, e + euro},
        {"ab" + clef, 3, "ab"},
        {"ab" + clef, 5, "ab"},
        {"ab" + clef, 6, "ab" + clef},
        {"ab" + clef + "c", 6, "ab" + clef},
        {"a\x80\x80\x80\x80", 3, "a\x80\x80"}, // stray continuation bytes: plain cut
        {"", 0, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CutUtf8(c.text, c.limit), c.expected) << "limit " << c.limit;

    std::string longName;
    while (longName.size() < 300)
        longName += euro;
    const std::string cut = CutUtf8(longName);
    EXPECT_EQ(cut.size(), 258u); // 86 whole characters; the 87th would need 261 bytes
}

TEST(TextUtil, JsonQuoteEscapesAndRepairsUtf8)
{
    EXPECT_EQ(JsonQuote("plain"), "\"plain\"");
    EXPECT_EQ(JsonQuote("a\"b\\c\n\t\x01"), "\"a\\\"b\\\\c\\n\\t\\u0001\"");
    EXPECT_EQ(JsonQuote("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
    EXPECT_EQ(JsonQuote("bad\xFF!"), "\"bad\xEF\xBF\xBD!\"");
    EXPECT_EQ(JsonQuote("cut\xE2\x82"), "\"cut\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(TextUtil, EscapeControlsShowsWhatATerminalWouldObey)
{
    const struct {
        const char* text;
        const char* shown;
    } cases[] = {
        {"Summer \xC3\xA9t\xC3\xA9 \\ 2024", "Summer \xC3\xA9t\xC3\xA9 \\ 2024"},
        {"a\nb\rc\td", "a\\nb\\rc\\td"},
        {"\x1b[31mred\x1b[0m\x7f", "\\x1b[31mred\\x1b[0m\\x7f"},
        {"csi\xC2\x9B"
         "2J",
         "csi\\u009b2J"}, // the one-character CSI of UTF-8 terminals
    };
    for (const auto& c : cases)
        EXPECT_EQ(EscapeControls(c.text), c.shown) << c.text;
}

TEST(Paths, FoldersEndWithASlashAndFollowTheEnvironment)
{
    EXPECT_EQ(WithTrailingSlash("/a/b"), "/a/b/");
    EXPECT_EQ(WithTrailingSlash("/a/b/"), "/a/b/");
    EXPECT_EQ(WithTrailingSlash(""), "");

    ::setenv("LUMIVOX_PROGRAM_DIR", "/opt/lumivox", 1);
    EXPECT_EQ(ProgramFolder(), "/opt/lumivox/");
    ::unsetenv("LUMIVOX_PROGRAM_DIR");
    // Tests run from the build tree, whose bin/ holds the program data.
    const std::string folder = ProgramFolder();
    EXPECT_EQ(folder.back(), '/');
    EXPECT_FALSE(ExecutablePath().empty());

    ::setenv("LUMIVOX_CONFIG_DIR", "/x/cfg", 1);
    EXPECT_EQ(ConfigFilePath(), "/x/cfg/config.ini");
    ::unsetenv("LUMIVOX_CONFIG_DIR");
    ::setenv("XDG_CONFIG_HOME", "/x/config", 1);
    EXPECT_EQ(ConfigFilePath(), "/x/config/lumivox/config.ini");
    ::setenv("XDG_CACHE_HOME", "/x/cache", 1);
    EXPECT_EQ(DefaultTempFolder(), "/x/cache/lumivox/Temp/");
    ::setenv("XDG_CACHE_HOME", "relative", 1); // ignored, as the XDG rules say
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(DefaultTempFolder(), "/home/u/.cache/lumivox/Temp/");
}

// Where the program data is looked for, by the executable's place. Without a known
// executable the installed folder is taken, never the current one: files put there
// would be taken for the program's own, its helper program among them.
TEST(Paths, ProgramFolderFollowsTheExecutableNeverTheCurrentFolder)
{
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("lumivox-paths-" + std::to_string(::getpid()));
    fs::create_directories(root / "build/bin/template");
    fs::create_directories(root / "usr/bin");
    fs::create_directories(root / "usr/share/lumivox");
    fs::create_directories(root / "bare/bin");
    const fs::path before = fs::current_path();
    fs::current_path(root / "build/bin"); // a folder holding program data
    const struct {
        std::string executable;
        std::string folder;
    } cases[] = {
        {(root / "build/bin/lumivox-cli").string(), (root / "build/bin/").string()},
        {(root / "usr/bin/lumivox-cli").string(), (root / "usr/share/lumivox/").string()},
        {(root / "bare/bin/lumivox-cli").string(), (root / "bare/bin/").string()},
        {"", InstalledDataFolder()},
        {"lumivox-cli", InstalledDataFolder()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProgramFolderOf(c.executable), c.folder) << c.executable;
    fs::current_path(before);
    EXPECT_EQ(InstalledDataFolder().front(), '/');
    EXPECT_TRUE(InstalledHelperFolder().ends_with("/lib/lumivox/")) << InstalledHelperFolder();
    EXPECT_NE(InstalledDataFolder(), WithTrailingSlash(before.string()));
    fs::remove_all(root);
}

TEST(ManualResetEvent, StaysSetUntilResetAndWakesWaiters)
{
    ManualResetEvent event;
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.WaitFor(std::chrono::milliseconds(1)));
    std::thread setter([&] { event.Set(); });
    event.Wait(); // returns only once the other thread has set it
    setter.join();
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.WaitFor(std::chrono::milliseconds(0)));
    EXPECT_TRUE(event.IsSet()); // waiting does not reset a manual-reset event
    event.Reset();
    EXPECT_FALSE(event.IsSet());
}

} // namespace
} // namespace lumivox
