// From a project file to a Video CD image with lumivox-cli make, read back by
// vcd_disc_check.py (raw sectors, pycdlib, our own parse of the control files, ffprobe
// and ffmpeg) and compared with the frames lumivox-cli render draws for the project.

#include <gtest/gtest.h>

#include "e2e/e2e_helpers.h"

#include <fstream>
#include <string>
#include <vector>

namespace lumivox::e2e {
namespace {

namespace fs = std::filesystem;

struct Picture {
    const char* file; // in samples/
    int rotation = 0;
};

struct DiscCase {
    const char* name;
    const char* templateName;
    int perPage; // the template's Items_count
    bool pal;
    bool music;
    const char* label;
    std::vector<std::vector<Picture>> albums;
};

std::string TwoDigits(std::size_t number)
{
    return (number < 10 ? "0" : "") + std::to_string(number);
}

class E2eDisc : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(CliPath()))
            GTEST_SKIP() << "lumivox-cli is not built in " << LUMIVOX_BIN_DIR;
        if (RunCli("help make").status != 0)
            GTEST_SKIP() << "lumivox-cli has no make command in this build";
        if (!HaveProgram("ffprobe") || !HaveProgram("ffmpeg") || !HaveSystemPython())
            GTEST_SKIP() << "ffmpeg, ffprobe and /usr/bin/python3 with pycdlib and PIL are needed";
        setenv("LUMIVOX_CONFIG_DIR", folder_.Path().c_str(), 1);
    }

    fs::path WriteProject(const DiscCase& disc)
    {
        const fs::path path = folder_ / (std::string(disc.name) + ".lvx");
        std::ofstream project(path);
        project << "[GENERAL]\nDescription=Lumivox Project\nVersion=1.0\nAlbum_Count=" << disc.albums.size()
                << "\n";
        for (std::size_t a = 0; a < disc.albums.size(); ++a) {
            project << "[Album_" << TwoDigits(a + 1) << "]\nName=Album number " << a + 1 << "\ninterval=5\nImage_Count="
                    << disc.albums[a].size() << "\n";
            for (std::size_t p = 0; p < disc.albums[a].size(); ++p) {
                const std::string key = TwoDigits(p + 1);
                project << "Image_" << key << "=" << LUMIVOX_SOURCE_DIR << "/samples/" << disc.albums[a][p].file
                        << "\n";
                if (disc.albums[a][p].rotation)
                    project << "Rotate_" << key << "=" << disc.albums[a][p].rotation << "\n";
            }
        }
        return path;
    }

    fs::path Music()
    {
        const fs::path wav = folder_ / "menu.wav";
        if (!fs::exists(wav)) {
            EXPECT_EQ(RunShell("ffmpeg -nostdin -v error -y -f lavfi -i 'sine=frequency=392:duration=3' "
                               "-ac 2 -ar 44100 " + Quote(wav.string())).status, 0);
        }
        return wav;
    }

    // lumivox-cli make with the case's options; returns the CUE path.
    CommandResult Make(const DiscCase& disc, const fs::path& project, const fs::path& cue,
                       const std::string& extra = "")
    {
        std::string arguments = "make " + Quote(project.string()) + " -o " + Quote(cue.string()) + " --quiet" +
                                " --template " + disc.templateName + (disc.pal ? " --pal" : " --ntsc") +
                                " --label " + Quote(disc.label) + " --temp " + Quote(folder_.Path().string());
        if (disc.music)
            arguments += " --music " + Quote(Music().string());
        return RunCli(arguments + extra);
    }

    TempFolder folder_;
};

std::string AlbumCounts(const DiscCase& disc)
{
    std::string counts;
    for (const auto& album : disc.albums)
        counts += (counts.empty() ? "" : ",") + std::to_string(album.size());
    return counts;
}

TEST_F(E2eDisc, ImageMatchesTheProject)
{
    const DiscCase cases[] = {
        // Two menu pages of four, an empty album whose key leads to the next album's first
        // slide, a turned portrait, and music under the pages.
        {"holiday", "slate", 4, false, true, "HOLIDAY 2024",
         {{{"mountain_lakes_01.jpg"}, {"mountain_lakes_02.jpg"}},
          {},
          {{"sunset_coast_01.jpg"}},
          {{"winter_forest_01.jpg"}},
          {{"winter_forest_04_portrait.jpg", 90}, {"sunset_coast_02.jpg", 180}}}},
        // The smallest disc with a menu: one album of one picture, PAL, no music.
        {"single", "classic", 6, true, false, "ONE PICTURE",
         {{{"winter_forest_02.jpg"}}}},
        // No album at all: a disc of its one track, without playback control.
        {"empty", "classic", 6, false, false, "NOTHING YET", {}},
    };
    for (const DiscCase& disc : cases) {
        SCOPED_TRACE(disc.name);
        const fs::path project = WriteProject(disc);
        const fs::path cue = folder_ / (std::string(disc.name) + ".cue");
        const CommandResult made = Make(disc, project, cue);
        ASSERT_EQ(made.status, 0) << made.output;
        ASSERT_TRUE(fs::exists(folder_ / (std::string(disc.name) + ".bin"))) << made.output;

        const fs::path frames = folder_ / (std::string(disc.name) + "-frames");
        if (!disc.albums.empty()) {
            const CommandResult rendered =
                RunCli("render " + Quote(project.string()) + " --out " + Quote(frames.string()) + " --template " +
                       disc.templateName + (disc.pal ? " --pal" : " --ntsc"));
            ASSERT_EQ(rendered.status, 0) << rendered.output;
        }
        std::string check = "/usr/bin/python3 " + Quote(std::string(LUMIVOX_SOURCE_DIR) + "/tests/e2e/vcd_disc_check.py") +
                            " " + Quote(cue.string()) + " --albums '" + AlbumCounts(disc) + "' --per-page " +
                            std::to_string(disc.perPage) + " --norm " + (disc.pal ? "pal" : "ntsc") + " --label " +
                            Quote(disc.label) + " --work " + Quote((folder_ / (std::string(disc.name) + "-work")).string());
        if (disc.music)
            check += " --music";
        if (!disc.albums.empty())
            check += " --frames " + Quote(frames.string());
        const CommandResult checked = RunShell(check);
        EXPECT_EQ(checked.status, 0) << checked.output;
        EXPECT_NE(checked.output.find("image matches the project"), std::string::npos) << checked.output;
    }
}

// Slides are encoded on several workers at once; the image must not depend on how many.
TEST_F(E2eDisc, SameImageForAnyNumberOfWorkers)
{
    const DiscCase disc{"workers", "slate", 4, false, true, "WORKERS",
                        {{{"mountain_lakes_01.jpg"}, {"mountain_lakes_03.jpg"}},
                         {{"sunset_coast_03.jpg"}, {"winter_forest_03.jpg"}, {"winter_forest_01.jpg"}}}};
    const fs::path project = WriteProject(disc);
    const fs::path one = folder_ / "one.cue";
    const fs::path three = folder_ / "three.cue";
    const CommandResult first = Make(disc, project, one, " --jobs 1");
    ASSERT_EQ(first.status, 0) << first.output;
    const CommandResult second = Make(disc, project, three, " --jobs 3");
    ASSERT_EQ(second.status, 0) << second.output;
    const std::vector<std::uint8_t> a = ReadFile(folder_ / "one.bin");
    const std::vector<std::uint8_t> b = ReadFile(folder_ / "three.bin");
    ASSERT_EQ(a.size(), b.size());
    const auto [at, ignored] = std::mismatch(a.begin(), a.end(), b.begin());
    EXPECT_TRUE(at == a.end()) << "the images differ first at byte " << (at - a.begin()) << " (sector "
                               << (at - a.begin()) / 2352 << ")";
}

// A failed make names the file and the reason on one line and leaves no image.
TEST_F(E2eDisc, FailuresLeaveNoImage)
{
    const DiscCase disc{"fails", "classic", 6, false, false, "FAILS", {{{"mountain_lakes_01.jpg"}}}};
    const fs::path project = WriteProject(disc);
    const std::string missingProject = (folder_ / "missing.lvx").string();
    const std::string missingMusic = (folder_ / "missing.mp3").string();
    const std::string noFolder = (folder_ / "no-such-folder" / "disc.cue").string();
    const std::string cue = (folder_ / "failed.cue").string();
    struct Case {
        std::string arguments;
        std::string named;
    };
    const Case cases[] = {
        {"make " + Quote(missingProject) + " -o " + Quote(cue), missingProject},
        {"make " + Quote(project.string()) + " -o " + Quote(cue) + " --music " + Quote(missingMusic), missingMusic},
        {"make " + Quote(project.string()) + " -o " + Quote(noFolder), "no-such-folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CommandResult run = RunCli(c.arguments + " --quiet --temp " + Quote(folder_.Path().string()));
        EXPECT_NE(run.status, 0) << run.output;
        EXPECT_NE(run.output.find(c.named), std::string::npos) << run.output;
        EXPECT_FALSE(fs::exists(cue)) << run.output;
        EXPECT_FALSE(fs::exists(folder_ / "failed.bin")) << run.output;
    }
}

} // namespace
} // namespace lumivox::e2e
