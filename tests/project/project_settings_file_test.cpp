// SPDX-License-Identifier: GPL-2.0-or-later
// A settings file the program cannot read: the defaults are used and the user is told
// which file and why, the load never waits on it, and the file is never written to.

#include "project/Settings.h"
#include "project/project_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivox {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::ScratchFolder;
using test::WriteText;

TEST(SettingsFile, OneNotUnderstoodGivesTheDefaultsAWarningAndIsLeftAlone)
{
    std::string utf16 = "\xFF\xFE";
    for (const char c : std::string("[GENERAL]\r\nPAL=1\r\n"))
        utf16 += std::string{c, '\0'};
    const struct {
        const char* name;
        std::function<void(const std::string& path)> make;
        const char* reason; // empty: the file is read, no warning
    } cases[] = {
        {"UTF-16", [&](const std::string& path) { WriteText(path, utf16); }, "the file is in UTF-16"},
        {"folder", [](const std::string& path) { fs::create_directory(path); }, "not a regular file"},
        {"FIFO", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, "not a regular file"},
        {"UTF-8", [](const std::string& path) { WriteText(path, "[GENERAL]\nPAL=1\n"); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        const SettingsLocations locations{folder.Path("program") + "/", folder.Path("config.ini"),
                                          folder.Path("temp") + "/"};
        c.make(locations.configFile);
        const auto before = fs::symlink_status(locations.configFile).type();
        Settings settings;
        settings.Load(locations);
        EXPECT_EQ(SettingsFileWarning(locations.configFile), settings.LoadWarning());
        std::string error;
        if (*c.reason == '\0') {
            EXPECT_EQ(settings.LoadWarning(), "");
            EXPECT_TRUE(settings.IsPal());
            EXPECT_TRUE(settings.Save(locations.configFile, &error)) << error;
            continue;
        }
        EXPECT_EQ(settings.LoadWarning().find("Cannot read " + locations.configFile + ": " + c.reason), 0u)
            << settings.LoadWarning();
        EXPECT_FALSE(settings.IsPal());
        EXPECT_FALSE(settings.Save(locations.configFile, &error));
        EXPECT_NE(error.find(locations.configFile), std::string::npos) << error;
        EXPECT_EQ(fs::symlink_status(locations.configFile).type(), before);
        if (fs::is_regular_file(locations.configFile)) {
            EXPECT_EQ(ReadText(locations.configFile), utf16);
        }
        // Put right while the program runs: still not replaced by the defaults it ran with.
        fs::remove(locations.configFile);
        WriteText(locations.configFile, "[GENERAL]\nPAL=1\n");
        EXPECT_FALSE(settings.Save(locations.configFile, &error));
        EXPECT_EQ(ReadText(locations.configFile), "[GENERAL]\nPAL=1\n");
    }
}

} // namespace
} // namespace lumivox
