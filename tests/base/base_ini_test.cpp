// SPDX-License-Identifier: GPL-2.0-or-later
// The INI module against the private-profile semantics the settings and project files
// rely on: names without letter case, other content kept, keys written in place.

#include "base/IniFile.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace lumivox {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("lumivox-ini-" + std::to_string(::getpid()) + "-" +
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

    fs::path folder_;
};

TEST_F(IniFileTest, ReadsNamesWithoutLetterCaseAndValuesVerbatim)
{
    IniFile ini;
    ini.Parse("; comment\n"
              "orphan=before any section\n"
              "[General]\n"
              "  Name = My \"quoted\" trip  \n"
              "Path=C:\\photos\\a=b.jpg\n"
              "empty=\n"
              "name=second occurrence is ignored\n"
              "[general]\n"
              "extra=duplicate section is ignored\n");
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    } cases[] = {
        {"GENERAL", "NAME", "My \"quoted\" trip"},  {"general", "name", "My \"quoted\" trip"},
        {"General", "path", "C:\\photos\\a=b.jpg"}, {"General", "empty", ""},
        {"General", "extra", "<default>"},          {"General", "orphan", "<default>"},
        {"Missing", "Name", "<default>"},           {"General", "; comment", "<default>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ini.GetString(c.section, c.key, "<default>"), c.expected) << "[" << c.section << "] " << c.key;
}

TEST_F(IniFileTest, ReadsIntegersLikeTheProfileFunctions)
{
    IniFile ini;
    ini.Parse("[s]\na=42\nb=-7\nc= 12abc\nd=abc\ne=\nf=99999999999\ng=-99999999999\nh=+5\n");
    struct Case {
        const char* key;
        int expected;
    } cases[] = {{"a", 42},      {"b", -7},      {"c", 12}, {"d", 0},       {"e", 77},
                 {"f", INT_MAX}, {"g", INT_MIN}, {"h", 5},  {"missing", 77}};
    for (const Case& c : cases)
        EXPECT_EQ(ini.GetInt("s", c.key, 77), c.expected) << "key " << c.key;
}

TEST_F(IniFileTest, WritingReplacesInPlaceAndKeepsEverythingElse)
{
    IniFile ini;
    ini.Parse("; settings\n"
              "[GENERAL]\n"
              "recorder=1\n"
              "; keep me\n"
              "PAL=0\n"
              "\n"
              "[Window]\n"
              "x=5\n");
    ini.SetInt("general", "pal", 1); // replaced where it stands, spelling kept
    ini.SetString("GENERAL", "TempDir", "/t/"); // new key at the end of its section
    ini.SetInt("Other", "k", 3); // new section at the end of the file
    EXPECT_EQ(ini.ToString(), "; settings\n"
                              "[GENERAL]\n"
                              "recorder=1\n"
                              "; keep me\n"
                              "PAL=1\n"
                              "TempDir=/t/\n"
                              "\n"
                              "[Window]\n"
                              "x=5\n"
                              "[Other]\n"
                              "k=3\n");
}

TEST_F(IniFileTest, KeepsCrLfLineEnds)
{
    IniFile ini;
    ini.Parse("[GENERAL]\r\nDescription=Lumivox Project\r\nAlbum_Count=2\r\n");
    EXPECT_EQ(ini.GetString("GENERAL", "Description"), "Lumivox Project");
    EXPECT_EQ(ini.GetInt("GENERAL", "Album_Count", 0), 2);
    ini.SetInt("GENERAL", "Album_Count", 3);
    ini.SetString("Album_01", "Name", "x");
    EXPECT_EQ(ini.ToString(), "[GENERAL]\r\nDescription=Lumivox Project\r\nAlbum_Count=3\r\n[Album_01]\r\nName=x\r\n");
}

TEST_F(IniFileTest, ValuesCannotInjectLinesAndDeleteRemovesOneKey)
{
    IniFile ini;
    ini.SetString("A", "Name", "evil\n[GENERAL]\r\nDescription=x");
    ini.SetString("A", "Keep", "1");
    EXPECT_FALSE(ini.HasSection("GENERAL"));
    ini.Parse(ini.ToString());
    EXPECT_FALSE(ini.HasSection("GENERAL"));
    EXPECT_EQ(ini.GetString("A", "Name"), "evil [GENERAL]  Description=x");
    ini.DeleteKey("a", "NAME");
    EXPECT_FALSE(ini.HasKey("A", "Name"));
    EXPECT_EQ(ini.ToString(), "[A]\nKeep=1\n");
}

TEST_F(IniFileTest, BinaryGarbageParsesWithoutHarm)
{
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 7919 + 13) % 256);
    garbage += std::string("\n[S]\nk=v\0tail\n", 15);
    IniFile ini;
    ini.Parse(garbage);
    EXPECT_EQ(ini.GetString("S", "k"), "v");
    ini.SetString("S", "k", "w");
    IniFile again;
    again.Parse(ini.ToString());
    EXPECT_EQ(again.GetString("S", "k"), "w");
}

TEST_F(IniFileTest, MissingFileGivesDefaultsAndWriteCreatesIt)
{
    const std::string path = PathOf("config.ini");
    EXPECT_EQ(GetPrivateProfileString("GENERAL", "TempDir", "dflt", path), "dflt");
    EXPECT_EQ(GetPrivateProfileInt("GENERAL", "WaitTime", 4, path), 4);
    IniFile ini;
    EXPECT_EQ(ini.Load(path), IniLoadStatus::Missing);
    ASSERT_TRUE(WritePrivateProfileString("GENERAL", "WaitTime", "9", path));
    ASSERT_TRUE(WritePrivateProfileString("Window", "x", "3", path));
    ASSERT_TRUE(WritePrivateProfileString("general", "waittime", "10", path));
    EXPECT_EQ(Read("config.ini"), "[GENERAL]\nWaitTime=10\n[Window]\nx=3\n");
}

TEST_F(IniFileTest, SaveReplacesAtomicallyAndLeavesNoTemporaryFiles)
{
    Write("p.lvx", "[GENERAL]\nDescription=old\n");
    IniFile ini;
    ASSERT_EQ(ini.Load(PathOf("p.lvx")), IniLoadStatus::Loaded);
    ini.SetString("GENERAL", "Description", "new");
    ASSERT_TRUE(ini.Save(PathOf("p.lvx"))) << ini.LastError();
    EXPECT_EQ(Read("p.lvx"), "[GENERAL]\nDescription=new\n");
    int files = 0;
    for (const auto& entry : fs::directory_iterator(folder_))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 1);
}

TEST_F(IniFileTest, UnwritableFolderFailsAndKeepsTheOldFile)
{
    IniFile nowhere;
    nowhere.Parse("[a]\nb=c\n");
    EXPECT_FALSE(nowhere.Save(PathOf("no-such-folder/p.lvx")));
    EXPECT_NE(nowhere.LastError().find("no-such-folder"), std::string::npos) << nowhere.LastError();
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    Write("p.lvx", "[GENERAL]\nDescription=old\n");
    fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
    IniFile ini;
    ini.Parse("[GENERAL]\nDescription=new\n");
    EXPECT_FALSE(ini.Save(PathOf("p.lvx")));
    EXPECT_NE(ini.LastError().find("p.lvx"), std::string::npos) << ini.LastError();
    fs::permissions(folder_, fs::perms::owner_all);
    EXPECT_EQ(Read("p.lvx"), "[GENERAL]\nDescription=old\n");
}

TEST_F(IniFileTest, RefusesFilesItCannotReadWhole)
{
    IniFile ini;
    EXPECT_EQ(ini.Load(folder_.string()), IniLoadStatus::Unreadable);
    EXPECT_FALSE(WritePrivateProfileString("a", "b", "c", folder_.string()));

    const std::string big = PathOf("big.ini");
    {
        std::ofstream out(big, std::ios::binary);
        out << "[a]\nb=c\n";
    }
    fs::resize_file(big, kMaxIniFileBytes + 1);
    EXPECT_EQ(ini.Load(big), IniLoadStatus::TooLarge);
    EXPECT_EQ(ini.GetString("a", "b", "dflt"), "dflt");
    EXPECT_FALSE(WritePrivateProfileString("a", "b", "d", big));
    EXPECT_EQ(fs::file_size(big), kMaxIniFileBytes + 1);
}

// UTF-16 text (as Notepad saves "Unicode") would read as a file without keys and be
// written back in two encodings at once: it is refused, and the refusal says why.
TEST_F(IniFileTest, RefusesUtf16Text)
{
    const auto utf16 = [](const std::string& ascii, bool bigEndian) {
        std::string text;
        for (const char c : ascii)
            text += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
        return text;
    };
    const std::string ascii = "[GENERAL]\r\nPAL=1\r\n";
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"little-endian with mark", "\xFF\xFE" + utf16(ascii, false)},
        {"big-endian with mark", "\xFE\xFF" + utf16(ascii, true)},
        {"little-endian without mark", utf16(ascii, false)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write("config.ini", c.bytes);
        IniFile ini;
        EXPECT_EQ(ini.Load(PathOf("config.ini")), IniLoadStatus::Unreadable);
        EXPECT_EQ(ini.LastError(), "Cannot read " + PathOf("config.ini") + ": the file is in UTF-16; save it as UTF-8");
        EXPECT_FALSE(WritePrivateProfileString("GENERAL", "PAL", "0", PathOf("config.ini")));
        EXPECT_EQ(Read("config.ini"), c.bytes);
    }
}

} // namespace
} // namespace lumivox
