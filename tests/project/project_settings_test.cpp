// SPDX-License-Identifier: GPL-2.0-or-later
// The settings store: defaults of a fresh installation, values held in range, the
// exact save order, and the Options dialog's accept rules.

#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "project/project_helpers.h"

#include <gtest/gtest.h>

namespace lumivox {
namespace {

using test::ReadText;
using test::ScratchFolder;
using test::WriteText;

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(folder.Path("program/template"));
        WriteText(folder.Path("program/template/classic.ini"), "[General]\nItems_count=6\n");
        locations = {folder.Path("program") + "/", folder.Path("config/config.ini"),
                     folder.Path("cache/lumivox/Temp") + "/"};
    }
    ScratchFolder folder;
    SettingsLocations locations;
};

TEST_F(SettingsTest, FreshInstallationStartsWithTheDefaults)
{
    Settings settings;
    settings.Load(locations);
    EXPECT_EQ(settings.recorder, 0);
    EXPECT_EQ(settings.driver, kWritingModeAuto);
    EXPECT_EQ(settings.burnSpeed, 2);
    EXPECT_EQ(settings.simulate, 1);
    EXPECT_EQ(settings.burnProof, 0);
    EXPECT_EQ(settings.useAspi, 0);
    EXPECT_FALSE(settings.IsPal());
    EXPECT_EQ(settings.tempDir, locations.defaultTempFolder);
    EXPECT_TRUE(std::filesystem::is_directory(locations.defaultTempFolder));
    EXPECT_EQ(settings.waitTime, 4);
    EXPECT_EQ(settings.window.maximized, 0);
    EXPECT_EQ(settings.window.width, 0);
    EXPECT_EQ(settings.listStyle, 0);
    EXPECT_EQ(settings.templatePath, "template/classic.ini");
    EXPECT_EQ(settings.itemsPerPage, 6);
    EXPECT_EQ(settings.programFolder, locations.programFolder);
}

TEST_F(SettingsTest, ValuesNothingCanUseFallBackToTheirDefaults)
{
    struct Case {
        const char* line;
        std::function<int(const Settings&)> field;
        int expected;
    } cases[] = {
        {"BurnSpeed=7", [](const Settings& s) { return s.burnSpeed; }, 2},
        {"BurnSpeed=-1", [](const Settings& s) { return s.burnSpeed; }, 2},
        {"BurnSpeed=6", [](const Settings& s) { return s.burnSpeed; }, 6},
        {"WaitTime=1", [](const Settings& s) { return s.waitTime; }, 4},
        {"WaitTime=1201", [](const Settings& s) { return s.waitTime; }, 4},
        {"WaitTime=1200", [](const Settings& s) { return s.waitTime; }, 1200},
        {"bSimulate=5", [](const Settings& s) { return s.simulate; }, 5},
        {"PAL=1", [](const Settings& s) { return s.pal; }, 1},
        {"driver=9", [](const Settings& s) { return s.driver; }, 9}, // held until recorder set-up
        {"SquarePixelSlides=1", [](const Settings& s) { return s.SquarePixelSlides() ? 1 : 0; }, 1},
        {"SquarePixelSlides=2", [](const Settings& s) { return s.SquarePixelSlides() ? 1 : 0; }, 0},
        {"PAL=0", [](const Settings& s) { return s.SquarePixelSlides() ? 1 : 0; }, 0},
        {"PAL=0", [](const Settings& s) { return s.AutoOrient() ? 1 : 0; }, 1}, // on unless turned off
        {"AutoOrient=0", [](const Settings& s) { return s.AutoOrient() ? 1 : 0; }, 0},
        {"AutoOrient=2", [](const Settings& s) { return s.AutoOrient() ? 1 : 0; }, 1},
    };
    for (const Case& c : cases) {
        std::filesystem::create_directories(folder.Path("config"));
        WriteText(locations.configFile, std::string("[GENERAL]\n") + c.line + "\n");
        Settings settings;
        settings.Load(locations);
        EXPECT_EQ(c.field(settings), c.expected) << c.line;
    }

    const std::string elsewhere = folder.Path("elsewhere");
    WriteText(locations.configFile, "[Window]\nListStyle=5\n[GENERAL]\nTempDir=" + elsewhere + "\n");
    Settings settings;
    settings.Load(locations);
    EXPECT_EQ(settings.listStyle, 0);
    EXPECT_EQ(settings.tempDir, elsewhere + "/");
    EXPECT_FALSE(std::filesystem::exists(elsewhere)) << "only the default folder is made";

    settings.recorder = 3;
    settings.driver = 3;
    settings.ApplyRecorderSetup(2);
    EXPECT_EQ(settings.recorder, 0);
    EXPECT_EQ(settings.driver, 0);
    settings.recorder = 1;
    settings.driver = 2;
    settings.ApplyRecorderSetup(2);
    EXPECT_EQ(settings.recorder, 1);
    EXPECT_EQ(settings.driver, 2);
}

TEST_F(SettingsTest, SaveWritesEveryKeyInOrderAndKeepsTheRest)
{
    Settings settings;
    settings.Load(locations);
    settings.recorder = 1;
    settings.driver = 2;
    settings.burnSpeed = 6;
    settings.burnProof = 1;
    settings.pal = 1;
    settings.tempDir = "/scratch/";
    settings.waitTime = 12;
    settings.window = {1, -4, 10, 800, 600};
    settings.listStyle = 3;
    std::string error;
    ASSERT_TRUE(settings.Save(locations.configFile, &error)) << error;
    EXPECT_EQ(ReadText(locations.configFile), "[GENERAL]\n"
                                              "recorder=1\n"
                                              "driver=2\n"
                                              "BurnSpeed=6\n"
                                              "bSimulate=1\n"
                                              "BurnProof=1\n"
                                              "PAL=1\n"
                                              "UseASPI=0\n"
                                              "TempDir=/scratch/\n"
                                              "WaitTime=12\n"
                                              "[Window]\n"
                                              "bMaximized=1\n"
                                              "x=-4\n"
                                              "y=10\n"
                                              "width=800\n"
                                              "height=600\n"
                                              "ListStyle=3\n");

    WriteText(locations.configFile, "; mine\n[Window]\nwidth=1\n[Extra]\nkeep=yes\n");
    ASSERT_TRUE(settings.Save(locations.configFile));
    const std::string text = ReadText(locations.configFile);
    EXPECT_EQ(text.rfind("; mine\n[Window]\nwidth=800\n", 0), 0u) << text;
    EXPECT_NE(text.find("[Extra]\nkeep=yes\n"), std::string::npos) << text;

    Settings reread;
    reread.Load(locations);
    EXPECT_EQ(reread.tempDir, "/scratch/");
    EXPECT_EQ(reread.window.x, -4);
    EXPECT_EQ(reread.waitTime, 12);
}

TEST(OptionsDialog, ValidatesLikeTheDialog)
{
    struct Case {
        int waitTime;
        std::string folder;
        const char* message;
    } cases[] = {
        {1, "/t", "Please enter an integer between 2 and 1200."},
        {1201, "/t", "Please enter an integer between 2 and 1200."},
        {2, "/t", ""},
        {1200, "/t", ""},
        {4, std::string(255, 'a'), ""},
        {4, std::string(256, 'a'), "Please enter no more than 255 characters."},
        {4, "", "Please enter a temporary folder."},
    };
    for (const Case& c : cases) {
        OptionsValues values;
        values.waitTime = c.waitTime;
        values.tempFolder = c.folder;
        EXPECT_EQ(ValidateOptions(values), c.message) << c.waitTime << " " << c.folder;
    }
}

TEST(OptionsDialog, AcceptStoresValuesAndMovesAlbumsOnTheOldDefault)
{
    Settings settings;
    settings.waitTime = 4;
    settings.driver = 0;
    AlbumTable project;
    project.InitialiseWaitTimes(4);
    project.AddAlbum("default");
    project.AddAlbum("ten");
    project.SetAlbumWaitTime(1, 10);

    OptionsValues values;
    values.waitTime = 6;
    values.tempFolder = "/media/work";
    values.writingMode = kWritingModeMmcRaw;
    values.forceAspi = false;
    const OptionsChanges changes = AcceptOptions(settings, &project, values);
    EXPECT_TRUE(changes.writingModeChanged);
    EXPECT_FALSE(changes.forceAspiChanged);
    EXPECT_EQ(settings.tempDir, "/media/work/");
    EXPECT_EQ(settings.waitTime, 6);
    EXPECT_EQ(settings.driver, 2);
    EXPECT_EQ(project.Album(0).waitTime, 6);
    EXPECT_EQ(project.Album(1).waitTime, 10);
    EXPECT_EQ(project.DefaultWaitTime(), 6);

    values.tempFolder = "/media/work/";
    values.forceAspi = true;
    const OptionsChanges again = AcceptOptions(settings, nullptr, values);
    EXPECT_FALSE(again.writingModeChanged);
    EXPECT_TRUE(again.forceAspiChanged);
    EXPECT_EQ(settings.tempDir, "/media/work/");
    EXPECT_EQ(settings.useAspi, 1);
}

// A settings file that starts with a UTF-8 byte-order mark still has its first section;
// a read-only settings file is not replaced, and the refusal names it.
TEST_F(SettingsTest, ByteOrderMarkAndReadOnlyFile)
{
    std::filesystem::create_directories(folder.Path("config"));
    const std::string text = "\xEF\xBB\xBF[GENERAL]\nPAL=1\nWaitTime=9\nSquarePixelSlides=1\n";
    WriteText(locations.configFile, text);
    Settings settings;
    settings.Load(locations);
    EXPECT_TRUE(settings.IsPal());
    EXPECT_EQ(settings.waitTime, 9);
    EXPECT_TRUE(settings.SquarePixelSlides());
    // Saved, the mark and the key the program does not write stay.
    ASSERT_TRUE(settings.Save(locations.configFile));
    const std::string saved = ReadText(locations.configFile);
    EXPECT_EQ(saved.rfind("\xEF\xBB\xBF[GENERAL]\nPAL=1\n", 0), 0u) << saved;
    EXPECT_NE(saved.find("SquarePixelSlides=1\n"), std::string::npos) << saved;

    std::filesystem::permissions(locations.configFile, std::filesystem::perms::owner_read);
    settings.waitTime = 12;
    std::string error;
    EXPECT_FALSE(settings.Save(locations.configFile, &error));
    EXPECT_EQ(error, "Cannot save " + locations.configFile + ": the file is read-only");
    EXPECT_EQ(ReadText(locations.configFile), saved);
}

} // namespace
} // namespace lumivox
