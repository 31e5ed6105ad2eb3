// SPDX-License-Identifier: GPL-2.0-or-later
// From a project file to a Video CD image with lumivox-cli make, read back by
// vcd_disc_check.py (raw sectors, pycdlib, our own parse of the control files, ffprobe
// and ffmpeg) and compared with the frames lumivox-cli render draws for the project.

#include <gtest/gtest.h>

#include "e2e/e2e_helpers.h"

#include <QImage>

#include <cmath>

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
    int wait = 5; // seconds per picture, every album (2 at least)
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
        project << "[GENERAL]\nDescription=Lumivox Project\nVersion=1.0\nAlbum_Count=" << disc.albums.size() << "\n";
        for (std::size_t a = 0; a < disc.albums.size(); ++a) {
            project << "[Album_" << TwoDigits(a + 1) << "]\nName=Album number " << a + 1 << "\ninterval=" << disc.wait
                    << "\nImage_Count=" << disc.albums[a].size() << "\n";
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
                               "-ac 2 -ar 44100 " +
                               Quote(wav.string()))
                          .status,
                      0);
        }
        return wav;
    }

    // lumivox-cli make with the case's options; returns the CUE path.
    CommandResult Make(const DiscCase& disc, const fs::path& project, const fs::path& cue,
                       const std::string& extra = "")
    {
        std::string arguments = "make " + Quote(project.string()) + " -o " + Quote(cue.string()) + " --quiet" +
                                " --template " + disc.templateName + (disc.pal ? " --pal" : " --ntsc") + " --label " +
                                Quote(disc.label) + " --temp " + Quote(folder_.Path().string());
        if (disc.music)
            arguments += " --music " + Quote(Music().string());
        return RunCli(arguments + extra);
    }

    TempFolder folder_;
};

// Where the slideshow track's albums start, in seconds: a 3-second title card and the
// pictures of each album with pictures. "0" (the track's start) without pictures.
std::vector<double> ChapterTimes(const DiscCase& disc)
{
    std::vector<double> starts;
    double at = 0;
    for (const auto& album : disc.albums) {
        if (album.empty())
            continue;
        starts.push_back(at);
        at += 3 + static_cast<double>(disc.wait) * album.size();
    }
    return starts.empty() ? std::vector<double>{0} : starts;
}

std::string ChapterList(const DiscCase& disc)
{
    std::string list;
    for (double start : ChapterTimes(disc))
        list += (list.empty() ? "" : ",") + std::to_string(start);
    return list;
}

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
        {"holiday",
         "slate",
         4,
         false,
         true,
         "HOLIDAY_2024",
         {{{"mountain_lakes_01.jpg"}, {"mountain_lakes_02.jpg"}},
          {},
          {{"sunset_coast_01.jpg"}},
          {{"winter_forest_01.jpg"}},
          {{"winter_forest_04_portrait.jpg", 90}, {"sunset_coast_02.jpg", 180}}}},
        // The smallest disc with a menu: one album of one picture, PAL, no music.
        {"single", "classic", 6, true, false, "ONE_PICTURE", {{{"winter_forest_02.jpg"}}}},
        // No album at all: a disc of its one track, without playback control.
        {"empty", "classic", 6, false, false, "NOTHING_YET", {}},
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
        std::string check =
            "/usr/bin/python3 " + Quote(std::string(LUMIVOX_SOURCE_DIR) + "/tests/e2e/vcd_disc_check.py") + " " +
            Quote(cue.string()) + " --albums '" + AlbumCounts(disc) + "' --per-page " + std::to_string(disc.perPage) +
            " --norm " + (disc.pal ? "pal" : "ntsc") + " --label " + Quote(disc.label) + " --work " +
            Quote((folder_ / (std::string(disc.name) + "-work")).string());
        if (disc.music)
            check += " --music";
        check += " --chapters " + ChapterList(disc);
        if (!disc.albums.empty())
            check += " --frames " + Quote(frames.string());
        const CommandResult checked = RunShell(check);
        EXPECT_EQ(checked.status, 0) << checked.output;
        EXPECT_NE(checked.output.find("image matches the project"), std::string::npos) << checked.output;
    }
}

// The luminance of frame n of the first video stream of file, as coded (no range change).
std::vector<std::uint8_t> FrameLumaAt(const fs::path& file, std::int64_t n, int width, int height)
{
    const fs::path raw = file.string() + ".frame";
    const CommandResult run =
        RunShell("ffmpeg -nostdin -v error -y -i " + Quote(file.string()) + " -map 0:v:0 -vf 'select=eq(n\\," +
                 std::to_string(n) + ")' -frames:v 1 -f rawvideo -pix_fmt yuv420p " + Quote(raw.string()));
    std::vector<std::uint8_t> luma = run.status == 0 ? ReadFile(raw) : std::vector<std::uint8_t>{};
    luma.resize(luma.size() >= static_cast<std::size_t>(width * height * 3 / 2) ? width * height : 0);
    return luma;
}

// A rendered 704 x H frame as the track shows it: the encoder's full-range luminance,
// two by two samples averaged.
std::vector<std::uint8_t> RenderedTrackLuma(const fs::path& png)
{
    const QImage image = QImage(QString::fromStdString(png.string())).convertToFormat(QImage::Format_RGB32);
    std::vector<std::uint8_t> luma;
    if (image.isNull())
        return luma;
    auto y = [&](int x, int row) {
        const QRgb p = image.pixel(x, row);
        return (29 * qBlue(p) + 150 * qGreen(p) + 77 * qRed(p)) / 256;
    };
    for (int row = 0; row + 1 < image.height(); row += 2)
        for (int x = 0; x + 1 < image.width(); x += 2)
            luma.push_back(
                static_cast<std::uint8_t>((y(x, row) + y(x + 1, row) + y(x, row + 1) + y(x + 1, row + 1) + 2) / 4));
    return luma;
}

std::string ProbeValue(const fs::path& file, const std::string& stream, const std::string& entry)
{
    CommandResult run =
        RunShell("ffprobe -v error -select_streams " + stream + " -count_frames -show_entries stream=" + entry +
                 " -of default=nw=1:nk=1 " + Quote(file.string()));
    while (!run.output.empty() && (run.output.back() == '\n' || run.output.back() == '\r'))
        run.output.pop_back();
    return run.output;
}

// The MPEG track is the slideshow: read back from the image by the disc checker, it is a
// Video CD motion stream at the norm's rates, as long as its cards and pictures, every
// picture shown in the middle of its time, one entry per album at its title card.
TEST_F(E2eDisc, TheMpegTrackIsTheSlideshow)
{
    const DiscCase cases[] = {
        {"show-pal",
         "slate",
         4,
         true,
         true,
         "SHOW_PAL",
         {{{"mountain_lakes_01.jpg"}, {"winter_forest_04_portrait.jpg", 90}}, {}, {{"sunset_coast_01.jpg"}}},
         2},
        {"show-ntsc",
         "classic",
         6,
         false,
         false,
         "SHOW_NTSC",
         {{{"winter_forest_02.jpg"}}, {{"sunset_coast_02.jpg"}}},
         2},
    };
    for (const DiscCase& disc : cases) {
        SCOPED_TRACE(disc.name);
        const fs::path project = WriteProject(disc);
        const fs::path cue = folder_ / (std::string(disc.name) + ".cue");
        const CommandResult made = Make(disc, project, cue);
        ASSERT_EQ(made.status, 0) << made.output;
        const fs::path frames = folder_ / (std::string(disc.name) + "-frames");
        const CommandResult rendered = RunCli("render " + Quote(project.string()) + " --out " + Quote(frames.string()) +
                                              " --template " + disc.templateName + (disc.pal ? " --pal" : " --ntsc"));
        ASSERT_EQ(rendered.status, 0) << rendered.output;
        const fs::path work = folder_ / (std::string(disc.name) + "-work");
        const CommandResult checked = RunShell(
            "/usr/bin/python3 " + Quote(std::string(LUMIVOX_SOURCE_DIR) + "/tests/e2e/vcd_disc_check.py") + " " +
            Quote(cue.string()) + " --albums '" + AlbumCounts(disc) + "' --per-page " + std::to_string(disc.perPage) +
            " --norm " + (disc.pal ? "pal" : "ntsc") + " --label " + Quote(disc.label) + " --work " +
            Quote(work.string()) + " --chapters " + ChapterList(disc) + (disc.music ? " --music" : ""));
        EXPECT_EQ(checked.status, 0) << checked.output;

        const fs::path track = work / "AVSEQ01.mpg"; // the track's sectors, as the checker read them
        const int height = disc.pal ? 288 : 240;
        EXPECT_EQ(ProbeValue(track, "v:0", "codec_name,width,height,r_frame_rate,bit_rate"),
                  std::string("mpeg1video\n352\n") + std::to_string(height) + (disc.pal ? "\n25/1" : "\n30000/1001") +
                      "\n1152000");
        EXPECT_EQ(ProbeValue(track, "a:0", "codec_name,sample_rate,channels,bit_rate"), "mp2\n44100\n2\n224000");
        if (!disc.music) { // the written silent frames decode as digital silence
            const CommandResult loudness =
                RunShell("ffmpeg -nostdin -i " + Quote(track.string()) + " -map 0:a:0 -af volumedetect -f null - 2>&1");
            EXPECT_NE(loudness.output.find("max_volume: -91.0 dB"), std::string::npos) << loudness.output;
        }
        // Frame boundaries: every interval starts on the frame nearest its time.
        const double rate = disc.pal ? 25.0 : 30000.0 / 1001.0;
        auto frameAt = [&](double seconds) { return static_cast<std::int64_t>(std::llround(seconds * rate)); };
        double end = 0;
        for (const auto& album : disc.albums)
            end += album.empty() ? 0 : 3 + static_cast<double>(disc.wait) * album.size();
        EXPECT_EQ(ProbeValue(track, "v:0", "nb_read_frames"), std::to_string(frameAt(end)));
        // The middle frame of each picture's time shows that picture, fitted as on its slide.
        const std::vector<double> starts = ChapterTimes(disc);
        std::size_t chapter = 0;
        for (std::size_t a = 0; a < disc.albums.size(); ++a) {
            if (disc.albums[a].empty())
                continue;
            for (std::size_t p = 0; p < disc.albums[a].size(); ++p) {
                const double from = starts[chapter] + 3 + static_cast<double>(disc.wait) * p;
                const std::int64_t middle = (frameAt(from) + frameAt(from + disc.wait)) / 2;
                const std::vector<std::uint8_t> shown = FrameLumaAt(track, middle, 352, height);
                const std::vector<std::uint8_t> fitted =
                    RenderedTrackLuma(frames / ("menu_" + TwoDigits(a + 1) + "_pic_" + TwoDigits(p + 1) + ".png"));
                ASSERT_EQ(shown.size(), fitted.size()) << "frame " << middle;
                EXPECT_GE(Psnr(shown, fitted), 26.0)
                    << "album " << a + 1 << ", picture " << p + 1 << ", frame " << middle;
            }
            ++chapter;
        }
    }
    // Without room on the disc: automatic keeps the fixed card and says what is missing,
    // always refuses before anything is encoded.
    DiscCase huge{
        "huge", "classic", 6, false, false, "HUGE", {std::vector<Picture>(50, Picture{"winter_forest_02.jpg"})}, 120};
    const fs::path project = WriteProject(huge);
    const CommandResult info = RunCli("info " + Quote(project.string()) + " --json --ntsc");
    EXPECT_NE(info.output.find("\"slideshow_track\": \"auto\", \"track\": \"card\""), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("than a Video CD holds"), std::string::npos) << info.output;
    const CommandResult refused = Make(huge, project, folder_ / "huge.cue", " --slideshow-track always");
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_NE(refused.output.find("the slideshow track (100:"), std::string::npos) << refused.output;
    EXPECT_EQ(refused.output.find("Slides"), std::string::npos) << refused.output;
    EXPECT_FALSE(fs::exists(folder_ / "huge.bin"));
}

// Slides are encoded on several workers at once; the image must not depend on how many.
TEST_F(E2eDisc, SameImageForAnyNumberOfWorkers)
{
    const DiscCase disc{"workers",
                        "slate",
                        4,
                        false,
                        true,
                        "WORKERS",
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
