// SPDX-License-Identifier: GPL-2.0-or-later
// The plan a run is made from: the disc's size known before anything is encoded (and
// equal to what the run then makes), the refusal of a disc too large before its first
// slide, and what every front end checks before a run (PrepareProduction).

#include "production/production_helpers.h"

#include "picture/MenuTemplate.h"
#include "production/DiscEstimate.h"
#include "production/SlideshowTrack.h"
#include "production/MusicConversion.h"
#include "production/ProductionJob.h"
#include "production/ProductionSetup.h"
#include "project/Settings.h"
#include "vcd/VideoCdLayout.h"

#include <gtest/gtest.h>

#include <fstream>

#include <algorithm>
#include <functional>
#include <optional>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

namespace lumivox::test {
namespace {

namespace fs = std::filesystem;

// The figures a disc is judged by, from an estimate or from a layout.
struct DiscFigures {
    std::uint32_t units = 0;
    std::uint32_t entries = 0;
    std::uint32_t lists = 0;
    std::uint32_t sectors = 0;
    bool operator==(const DiscFigures&) const = default;
};

std::ostream& operator<<(std::ostream& out, const DiscFigures& f)
{
    return out << "{units " << f.units << ", entries " << f.entries << ", lists " << f.lists << ", sectors "
               << f.sectors << "}";
}

DiscFigures FiguresOf(const DiscEstimate& estimate)
{
    return {estimate.segmentUnits, estimate.entries, estimate.lists, estimate.sectors};
}

// The figures of the layout built from the segment files a run left in its folder, as
// the authoring stage builds it.
DiscFigures FiguresOfRunFolder(const ProductionPlan& plan, const std::string& folder)
{
    LayoutProject project;
    project.cdLabel = plan.cdLabel;
    project.albumsPerPage = plan.EntriesPerPage();
    project.albumPictureCounts = plan.PictureCounts();
    project.workFolder = folder;
    project.programFolder = ProgramFolderForTests();
    project.norm = plan.norm;
    // A run that made the slideshow track: its file, with one entry per album shown.
    if (std::filesystem::exists(folder + "avseq01.mpg")) {
        project.trackPath = folder + "avseq01.mpg";
        for (int c = 1; c < MakeSlideshowTimeline(plan).Chapters(); ++c)
            project.trackEntryPackets.push_back(static_cast<std::uint32_t>(c));
    }
    std::unique_ptr<VideoCdLayout> layout = BuildProjectLayout(project);
    DiscFigures figures;
    figures.units = layout->segmentUnitTotal;
    figures.entries = EntryCount(*layout);
    figures.lists = static_cast<std::uint32_t>(layout->lists.size());
    const long total = ComputeLayout(*layout);
    EXPECT_GE(total, 0) << layout->errorText;
    figures.sectors = static_cast<std::uint32_t>(std::max(total, 0L));
    DestroyLayout(layout);
    return figures;
}

std::string CompanionFor(TvNorm norm)
{
    return ProgramFolderForTests() + (norm == TvNorm::Pal ? "temp_x.npal" : "temp_x.ntsc");
}

// A plan of albums whose pictures need not exist: the refusals come before any is read.
ProductionPlan PlanOfPaths(const Scratch& scratch, const std::vector<int>& counts)
{
    AlbumTable empty;
    ProductionParameters parameters = MakeParameters(empty, scratch.Path("unused"), nullptr);
    ProductionPlan plan = std::move(parameters.plan);
    for (std::size_t a = 0; a < counts.size(); ++a) {
        PlannedAlbum& album = plan.albums.emplace_back();
        album.name = "Album " + std::to_string(a + 1);
        for (int p = 0; p < counts[a]; ++p)
            album.pictures.push_back(
                {scratch.Path("never_" + std::to_string(a) + "_" + std::to_string(p) + ".jpg"), 0});
    }
    return plan;
}

// Six shapes of project: the estimate made before the run equals the layout of the
// segments the run made, and the run's image has exactly the estimated sectors. With
// music, the menu page's units are estimated from the music's length before the run and
// measured from the converted music after it: both give the same disc.
TEST(DiscEstimate, EqualsTheDiscTheRunMakes)
{
    const struct {
        const char* name;
        std::vector<int> counts;
        TvNorm norm;
        double musicSeconds; // 0: no music
    } shapes[] = {
        {"no albums", {}, TvNorm::Ntsc, 0},
        {"NTSC 2, 0, 1", {2, 0, 1}, TvNorm::Ntsc, 0},
        {"PAL 7 albums of 1", std::vector<int>(7, 1), TvNorm::Pal, 0},
        {"NTSC with music 2, 1", {2, 1}, TvNorm::Ntsc, 0.5},
        {"PAL with music 1", {1}, TvNorm::Pal, 2.5},
        {"13 albums, 6 a page", {1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}, TvNorm::Ntsc, 0},
    };
    Scratch scratch;
    int run = 0;
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.name);
        AlbumTable project;
        MakeProject(project, scratch, shape.counts);
        const std::string temp = scratch.Path("run" + std::to_string(++run)) + "/";
        MemorySink sink;
        ProductionParameters parameters = MakeParameters(project, temp, &sink);
        parameters.plan.norm = shape.norm;
        if (shape.musicSeconds > 0) {
            parameters.plan.musicPath = scratch.Path("tone" + std::to_string(run) + ".wav");
            WriteTestWave(parameters.plan.musicPath, shape.musicSeconds);
        }
        const ProductionPlan plan = parameters.plan;
        const DiscEstimate before = EstimateDisc(plan, ProgramFolderForTests());
        EXPECT_TRUE(before.Fits()) << before.limitExceeded;
        EXPECT_TRUE(before.sectorsExact);
        EXPECT_FALSE(before.unitsMeasured);

        ProductionJob job(std::move(parameters));
        RecordingObserver observer;
        const ProductionResult result = job.Run(&observer);
        ASSERT_TRUE(result.Finished()) << result.message;

        const DiscFigures made = FiguresOfRunFolder(plan, temp);
        EXPECT_EQ(made.sectors, static_cast<std::uint32_t>(result.totalSectors));
        EXPECT_EQ(sink.sectors, static_cast<std::uint32_t>(result.totalSectors));
        EXPECT_EQ(FiguresOf(before), made) << "estimated before the run vs the layout of its segments";
        EXPECT_NEAR(before.minutes, result.totalSectors / 75.0 / 60.0, 1e-9);

        if (shape.musicSeconds > 0) {
            SegmentUnits measured;
            std::string error;
            ASSERT_TRUE(
                MeasureSegmentUnits(temp, CompanionFor(shape.norm), temp + "bkmusic.mp2", shape.norm, measured, &error))
                << error;
            EXPECT_TRUE(measured.measured);
            EXPECT_EQ(measured.slide, 1u);
            EXPECT_EQ(measured.menuPage, EstimateMenuPageUnits(shape.musicSeconds))
                << "the menu page's units estimated from " << shape.musicSeconds << " s of music vs measured";
            const DiscEstimate after = EstimateDisc(plan, ProgramFolderForTests(), measured);
            EXPECT_TRUE(after.unitsMeasured);
            EXPECT_EQ(FiguresOf(after), made) << "estimated with measured units vs the layout of the run's segments";
            EXPECT_EQ(FiguresOf(after), FiguresOf(before));
            // The measuring leaves nothing behind in the folder it measured in.
            EXPECT_EQ(Join(FilesMatching(temp, "probe_.*")), "");
        }
    }
}

TEST(DiscEstimate, MusicPlayingTimeOfWaveFilesAndFilesThatAreNoMusic)
{
    Scratch scratch;
    for (double seconds : {0.25, 1.0, 3.5}) {
        const std::string path = scratch.Path("tone.wav");
        WriteTestWave(path, seconds);
        EXPECT_NEAR(MusicPlayingSeconds(path), seconds, 0.001) << path;
    }
    EXPECT_LT(MusicPlayingSeconds(scratch.Path("missing.wav")), 0);
    WriteText(scratch.Path("empty.wav"), "");
    EXPECT_LT(MusicPlayingSeconds(scratch.Path("empty.wav")), 0);
    // Without music (or with music that cannot be read) a menu page is one still.
    EXPECT_EQ(EstimateMenuPageUnits(0), 1u);
    EXPECT_EQ(EstimateMenuPageUnits(-1), 1u);
    EXPECT_LT(EstimateMenuPageUnits(1), EstimateMenuPageUnits(60));
}

// The menu page's units estimated from the music's length before the run equal those
// measured from the converted music, over lengths from a fraction of a second up, in
// both norms: the capacity meter and info show the disc the run will make.
TEST(DiscEstimate, MenuPageUnitsFromTheMusicLengthEqualTheMeasuredOnes)
{
    Scratch scratch;
    for (double seconds : {0.1, 0.5, 1.0, 3.0, 5.5, 13.0}) {
        const std::string wave = scratch.Path("tone.wav");
        const std::string layer2 = scratch.Folder() + "bkmusic.mp2";
        WriteTestWave(wave, seconds);
        std::string error;
        ASSERT_TRUE(ConvertBackgroundMusic(layer2, wave, scratch.Folder(), &error)) << error;
        const std::uint32_t estimated = EstimateMenuPageUnits(MusicPlayingSeconds(wave));
        for (TvNorm norm : {TvNorm::Ntsc, TvNorm::Pal}) {
            SegmentUnits measured;
            ASSERT_TRUE(MeasureSegmentUnits(scratch.Folder(), CompanionFor(norm), layer2, norm, measured, &error))
                << error;
            EXPECT_EQ(estimated, measured.menuPage) << seconds << " s of music, " << TvNormName(norm);
            EXPECT_EQ(measured.slide, 1u);
        }
    }
}

// The segment-unit limit, at its edge, without encoding anything: 4 menu pages of one
// unit each and slides of one unit each.
TEST(DiscEstimate, SegmentUnitLimitAtItsEdge)
{
    Scratch scratch;
    const struct {
        std::vector<int> counts;
        std::uint32_t units;
        bool fits;
    } cases[] = {
        {std::vector<int>(19, 99), 4 + 19 * 99, true},
        {[] {
             std::vector<int> c(19, 99);
             c.push_back(95);
             return c;
         }(),
         1980, true},
        {[] {
             std::vector<int> c(19, 99);
             c.push_back(96);
             return c;
         }(),
         1981, false},
        {std::vector<int>(21, 99), 2083, false},
    };
    for (const auto& c : cases) {
        const ProductionPlan plan = PlanOfPaths(scratch, c.counts);
        SCOPED_TRACE(std::to_string(plan.SlideCount()) + " slides");
        const DiscEstimate estimate = EstimateDisc(plan, ProgramFolderForTests());
        EXPECT_EQ(estimate.segmentUnits, c.units);
        EXPECT_EQ(estimate.Fits(), c.fits) << estimate.limitExceeded;
        EXPECT_EQ(estimate.sectorsExact, c.fits);
        if (!c.fits) {
            EXPECT_NE(estimate.limitExceeded.find("segment units; a Video CD holds at most 1,980"), std::string::npos)
                << estimate.limitExceeded;
            // A lower bound that shows how far over the disc is.
            EXPECT_GE(estimate.sectors, c.units * 150u);
        }
    }
}

// 21 albums of 99 pictures: refused right after the music stage, with the layout's own
// words, before a menu page or a slide is made. The pictures do not even exist.
TEST(DiscCapacity, TooLargeADiscIsRefusedBeforeAnyFrameIsEncoded)
{
    Scratch scratch;
    MemorySink sink;
    const std::string temp = scratch.Path("run") + "/";
    AlbumTable empty;
    ProductionParameters parameters = MakeParameters(empty, temp, &sink);
    parameters.plan = PlanOfPaths(scratch, std::vector<int>(21, 99));
    ProductionJob job(std::move(parameters));
    RecordingObserver observer;
    const ProductionResult result = job.Run(&observer);
    EXPECT_EQ(result.status, ProductionStatus::Failed);
    EXPECT_NE(result.message.find("The disc needs 2,083 segment units; a Video CD holds at most 1,980"),
              std::string::npos)
        << result.message;
    EXPECT_TRUE(observer.Reports(UM_SLIDE_PROGRESS).empty());
    EXPECT_TRUE(observer.Reports(UM_MENU_PAGE_PROGRESS).empty());
    EXPECT_FALSE(observer.Reports(UM_MENU_ENCODE_FAILED).empty());
    EXPECT_EQ(Join(FilesMatching(temp, ".*\\.mpg")), "");
    EXPECT_FALSE(sink.cueListGiven);
    EXPECT_EQ(sink.sectors, 0u);
    EXPECT_EQ(observer.finishedCalls, 1);
}

// The same with music, refused before the music is converted: too many albums, or a
// WAVE file of three hours (sparse: its header tells its length, converting it would
// take a minute) under one album's menu page.
TEST(DiscCapacity, RefusalWithMusicComesBeforeTheMusicIsConverted)
{
    const struct {
        std::vector<int> albums;
        double musicSeconds;
        double declaredSeconds;
    } cases[] = {
        {std::vector<int>(21, 99), 0.5, 0.5},
        {{1}, 0.5, 3 * 3600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.albums.size());
        Scratch scratch;
        MemorySink sink;
        const std::string temp = scratch.Path("run") + "/";
        AlbumTable empty;
        ProductionParameters parameters = MakeParameters(empty, temp, &sink);
        parameters.plan = PlanOfPaths(scratch, c.albums);
        parameters.plan.musicPath = scratch.Path("tone.wav");
        WriteTestWave(parameters.plan.musicPath, c.musicSeconds);
        const auto dataBytes = static_cast<std::uint32_t>(c.declaredSeconds * 44100) * 4;
        {
            std::fstream file(parameters.plan.musicPath, std::ios::binary | std::ios::in | std::ios::out);
            file.seekp(40);
            const std::uint8_t size[4] = {std::uint8_t(dataBytes), std::uint8_t(dataBytes >> 8),
                                          std::uint8_t(dataBytes >> 16), std::uint8_t(dataBytes >> 24)};
            file.write(reinterpret_cast<const char*>(size), 4);
        }
        fs::resize_file(parameters.plan.musicPath, 44 + std::uint64_t(dataBytes));
        ProductionJob job(std::move(parameters));
        RecordingObserver observer;
        const ProductionResult result = job.Run(&observer);
        EXPECT_EQ(result.status, ProductionStatus::Failed);
        EXPECT_NE(result.message.find("segment units; a Video CD holds at most 1,980"), std::string::npos)
            << result.message;
        EXPECT_FALSE(fs::exists(temp + "bkmusic.mp2"));
        EXPECT_TRUE(observer.Reports(UM_SLIDE_PROGRESS).empty());
        EXPECT_TRUE(observer.Reports(UM_MENU_PAGE_PROGRESS).empty());
        EXPECT_EQ(Join(FilesMatching(temp, "(menu_|probe_).*")), "");
    }
}

// ---- PrepareProduction -----------------------------------------------------------------

class PrepareProductionTest : public ::testing::Test {
protected:
    PrepareProductionTest() : menu(ProgramFolderForTests())
    {
        MakeProject(project, scratch, {1, 2});
        request.project = &project;
        request.projectPath = scratch.Path("Summer 2024.lvx");
        request.menu = &menu;
        request.tempFolder = scratch.Path("temp");
        request.outputPath = scratch.Path("disc.cue");
        request.programFolder = ProgramFolderForTests();
        request.settings = &settings;
    }

    Scratch scratch;
    AlbumTable project;
    DiscMenuState menu;
    Settings settings;
    ProductionRequest request;
};

TEST_F(PrepareProductionTest, RefusalsNameTheFileAndMakeNoRunFolder)
{
    // A template that was fine when chosen and has lost its entries since.
    const std::string emptied = scratch.Path("emptied.ini");
    fs::copy_file(ProgramFolderForTests() + "template/classic.ini", emptied);
    WriteText(scratch.Path("plain.txt"), "a file, not a folder");
    const std::string locked = scratch.Path("locked");
    fs::create_directories(locked);
    ::chmod(locked.c_str(), 0555);
    const bool root = ::geteuid() == 0;

    const struct {
        const char* name;
        std::function<void(ProductionRequest&, DiscMenuState&)> change;
        std::string text; // the error names this
    } cases[] = {
        {"no project", [](ProductionRequest& r, DiscMenuState&) { r.project = nullptr; }, "no project"},
        {"no menu", [](ProductionRequest& r, DiscMenuState&) { r.menu = nullptr; }, "no disc menu"},
        {"template without entries",
         [&](ProductionRequest&, DiscMenuState& m) {
             ASSERT_TRUE(m.SelectTemplateFile(emptied));
             std::string text = ReadText(emptied);
             text.replace(text.find("Items_count=6"), 13, "Items_count=0");
             WriteText(emptied, text);
         },
         "emptied.ini"},
        {"template whose entries changed since it was chosen",
         [&](ProductionRequest&, DiscMenuState& m) {
             const std::string changed = scratch.Path("changed.ini");
             fs::copy_file(ProgramFolderForTests() + "template/classic.ini", changed,
                           fs::copy_options::overwrite_existing);
             ASSERT_TRUE(m.SelectTemplateFile(changed));
             std::string text = ReadText(changed);
             text.replace(text.find("Items_count=6"), 13, "Items_count=4");
             WriteText(changed, text);
         },
         "changed.ini: the template now shows 4 entries per page, not 6"},
        {"background missing",
         [&](ProductionRequest&, DiscMenuState& m) { m.SetBackgroundOverride(scratch.Path("gone.bmp")); }, "gone.bmp"},
        {"music missing", [&](ProductionRequest&, DiscMenuState& m) { m.SetBackgroundMusic(scratch.Path("gone.mp3")); },
         "gone.mp3"},
        {"output folder missing",
         [&](ProductionRequest& r, DiscMenuState&) { r.outputPath = scratch.Path("no/such/folder/disc.cue"); },
         "no/such/folder"},
        {"output folder not writable",
         [&](ProductionRequest& r, DiscMenuState&) { r.outputPath = locked + "/disc.cue"; }, "locked"},
        {"temporary folder under a file",
         [&](ProductionRequest& r, DiscMenuState&) { r.tempFolder = scratch.Path("plain.txt") + "/sub"; },
         "plain.txt/sub"},
        {"no temporary folder at all",
         [&](ProductionRequest& r, DiscMenuState&) {
             r.tempFolder.clear();
             settings.tempDir.clear();
         },
         "TempDir"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (root && std::string(c.name) == "output folder not writable")
            continue; // root writes anywhere
        fs::remove_all(request.tempFolder);
        ProductionRequest changed = request;
        DiscMenuState changedMenu(ProgramFolderForTests());
        changed.menu = changed.menu ? &changedMenu : nullptr;
        const std::string savedTempDir = settings.tempDir;
        c.change(changed, changedMenu);
        const PreparedProduction prepared = PrepareProduction(changed);
        settings.tempDir = savedTempDir;
        EXPECT_FALSE(prepared.Ok());
        EXPECT_NE(prepared.error.find(c.text), std::string::npos) << prepared.error;
        EXPECT_EQ(prepared.error.find('\n'), std::string::npos) << prepared.error;
        EXPECT_EQ(prepared.runFolder, nullptr);
        EXPECT_FALSE(fs::exists(request.tempFolder)) << "a refused run made its temporary folder";
    }
    ::chmod(locked.c_str(), 0755);
}

TEST_F(PrepareProductionTest, DefaultsComeFromTheProjectNameAndTheSettings)
{
    settings.pal = 1;
    const struct {
        const char* name;
        std::optional<TvNorm> norm;
        std::optional<std::string> label;
        TvNorm expectedNorm;
        std::string expectedLabel;
    } cases[] = {
        {"defaults", {}, {}, TvNorm::Pal, "SUMMER_2024"},
        {"given", TvNorm::Ntsc, std::string("My Label"), TvNorm::Ntsc, "MY_LABEL"},
        {"given blank", {}, std::string(" \t "), TvNorm::Pal, "SUMMER_2024"},
        {"given as the disc carries it", {}, std::string("MY_LABEL"), TvNorm::Pal, "MY_LABEL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProductionRequest changed = request;
        changed.norm = c.norm;
        changed.label = c.label;
        const PreparedProduction prepared = PrepareProduction(changed);
        ASSERT_TRUE(prepared.Ok()) << prepared.error;
        const ProductionPlan& plan = prepared.parameters.plan;
        EXPECT_EQ(plan.norm, c.expectedNorm);
        EXPECT_EQ(plan.cdLabel, c.expectedLabel);
        EXPECT_EQ(prepared.label.text, c.expectedLabel);
        EXPECT_EQ(prepared.label.changed, c.label && *c.label != c.expectedLabel);
        EXPECT_EQ(plan.PictureCounts(), (std::vector<int>{1, 2}));
        EXPECT_EQ(plan.EntriesPerPage(), 6);
        EXPECT_EQ(prepared.parameters.programFolder, ProgramFolderForTests());
        EXPECT_EQ(prepared.parameters.tempFolder.rfind(request.tempFolder + "/make-", 0), 0u)
            << prepared.parameters.tempFolder;
    }
    // Without a temporary folder in the request the setting's is used.
    settings.tempDir = scratch.Path("from-settings") + "/";
    request.tempFolder.clear();
    const PreparedProduction prepared = PrepareProduction(request);
    ASSERT_TRUE(prepared.Ok()) << prepared.error;
    EXPECT_EQ(prepared.parameters.tempFolder.rfind(settings.tempDir + "make-", 0), 0u)
        << prepared.parameters.tempFolder;
}

TEST(LabelFromProject, KeepsWhatAVolumeIdentifierAllows)
{
    const struct {
        const char* path;
        const char* label;
    } cases[] = {
        {"/home/me/my trip.lvx", "MY_TRIP"},
        {"Summer 2024.lvx", "SUMMER_2024"},
        {"a.b.lvx", "A_B"},
        {"--odd--name--.lvx", "ODD_NAME"},
        {"caf\xC3\xA9 au lait.lvx", "CAFE_AU_LAIT"},
        {"", "LUMIVOX"},
        {"---.lvx", "LUMIVOX"},
        {"abcdefghijklmnopqrstuvwxyz0123456789.lvx", "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LabelFromProject(c.path), c.label) << c.path;
}

TEST_F(PrepareProductionTest, TheRunFolderGoesWithItsLastHolderUnlessKept)
{
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "kept" : "not kept");
        request.keepRunFolder = keep;
        std::string folder;
        {
            PreparedProduction prepared = PrepareProduction(request);
            ASSERT_TRUE(prepared.Ok()) << prepared.error;
            folder = prepared.runFolder->Path();
            EXPECT_EQ(folder, prepared.parameters.tempFolder);
            EXPECT_TRUE(fs::is_directory(folder));
            WriteText(folder + "menu_01.mpg", "left by a run");
            // Two prepared runs never share a folder.
            const PreparedProduction second = PrepareProduction(request);
            ASSERT_TRUE(second.Ok()) << second.error;
            EXPECT_NE(second.runFolder->Path(), folder);
            std::shared_ptr<RunFolder> holder = prepared.runFolder;
            prepared = PreparedProduction{};
            EXPECT_TRUE(fs::is_directory(folder)) << "removed while still held";
        }
        EXPECT_EQ(fs::exists(folder), keep);
        EXPECT_TRUE(fs::is_directory(request.tempFolder)) << "the temporary folder itself is not the run's";
    }
}

// The folder a killed run left (nobody holds it) goes when the next run starts; the
// folder of a living run, a kept one, and every folder the program did not make -- a
// user's own "make-photos" among them, whatever it holds -- stay.
TEST_F(PrepareProductionTest, FoldersOfDeadRunsAreRemovedAtTheNextStart)
{
    const std::string base = request.tempFolder + "/";
    // A run killed once its folder is made: its process ends without cleaning up.
    const pid_t child = ::fork();
    if (child == 0) {
        RunFolder killed;
        std::string error;
        const bool made = killed.Create(base, &error);
        ::_exit(made && ::creat((killed.Path() + "slide_01_001.mpg").c_str(), 0600) >= 0 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    std::string dead, marker;
    for (const auto& entry : fs::directory_iterator(base))
        dead = entry.path().string();
    for (const auto& entry : fs::directory_iterator(dead))
        if (entry.path().filename().string().front() == '.')
            marker = entry.path().filename().string();
    ASSERT_FALSE(marker.empty()) << "the run's folder carries no marker";

    const struct {
        const char* name;
        const char* marker; // the text of a file under the marker's name, if any
    } others[] = {
        {"make-photos", nullptr},
        {"make-fakeit", "not what a run writes\n"},
        {"other", nullptr},
    };
    for (const auto& other : others) {
        fs::create_directories(base + other.name);
        WriteText(base + other.name + "/holiday.jpg", "the user's picture");
        if (other.marker)
            WriteText(base + other.name + "/" + marker, other.marker);
    }
    request.keepRunFolder = true;
    const PreparedProduction kept = PrepareProduction(request);
    ASSERT_TRUE(kept.Ok()) << kept.error;
    request.keepRunFolder = false;
    const PreparedProduction living = PrepareProduction(request);
    ASSERT_TRUE(living.Ok()) << living.error;
    const PreparedProduction next = PrepareProduction(request);
    ASSERT_TRUE(next.Ok()) << next.error;
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::is_directory(kept.runFolder->Path()));
    EXPECT_TRUE(fs::is_directory(living.runFolder->Path()));
    for (const auto& other : others)
        EXPECT_EQ(ReadText(base + other.name + "/holiday.jpg"), "the user's picture") << other.name;
    fs::remove_all(kept.runFolder->Path());
}

// The slideshow track is sized from its playing time before anything is encoded, and the
// setting decides what a disc without room for it gets: automatic falls back to the fixed
// card with a warning naming what is missing, always refuses, never keeps the card.
TEST(DiscCapacity, SlideshowTrackAsTheSettingAndTheRoomOnTheDiscDecide)
{
    Scratch scratch;
    ProductionPlan small = PlanOfPaths(scratch, {2, 0, 1});
    small.albums[0].waitTime = 5;
    small.albums[2].waitTime = 4;
    ProductionPlan large = PlanOfPaths(scratch, {99});
    large.albums[0].waitTime = 60; // 99 minutes of pictures
    const struct {
        const ProductionPlan* plan;
        SlideshowTrackMode mode;
        bool fits;
        bool slideshow;
        const char* says; // in the warning (fits) or the refusal
    } cases[] = {
        {&small, SlideshowTrackMode::Auto, true, true, ""},
        {&small, SlideshowTrackMode::Always, true, true, ""},
        {&small, SlideshowTrackMode::Never, true, false, ""},
        {&large, SlideshowTrackMode::Auto, true, false, "more ("},
        {&large, SlideshowTrackMode::Always, false, true,
         "does not fit on the disc: it needs 460,951 sectors, 100,951 more"},
        {&large, SlideshowTrackMode::Never, true, false, ""},
    };
    for (const auto& c : cases) {
        ProductionPlan plan = *c.plan;
        plan.slideshowTrack = c.mode;
        SCOPED_TRACE(std::to_string(plan.SlideCount()) + " slides, " + SlideshowTrackModeName(c.mode));
        const DiscEstimate fixed = [&] {
            ProductionPlan never = plan;
            never.slideshowTrack = SlideshowTrackMode::Never;
            return EstimateDisc(never, ProgramFolderForTests());
        }();
        const DiscEstimate estimate = EstimateDisc(plan, ProgramFolderForTests());
        EXPECT_EQ(estimate.Fits(), c.fits) << estimate.limitExceeded;
        EXPECT_EQ(estimate.slideshowTrack, c.slideshow);
        const std::string& text = c.fits ? estimate.trackWarning : estimate.limitExceeded;
        if (*c.says)
            EXPECT_NE(text.find(c.says), std::string::npos) << text;
        else
            EXPECT_EQ(text, "");
        if (c.slideshow && c.fits) {
            // Cards of 3 s and the wait times at 75 sectors a second, plus the run-in;
            // one entry per album with pictures.
            EXPECT_NEAR(estimate.trackPackets, (3.0 + 5 + 5 + 3 + 4) * 75 + 75, 1.0); // within a frame
            EXPECT_EQ(estimate.entries, 2u);
            EXPECT_GT(estimate.sectors, fixed.sectors);
        }
    }
    // The timeline: every interval starts on the frame nearest its time, so the track
    // lasts its playing time within a frame, at 29.97 Hz too.
    for (TvNorm norm : {TvNorm::Ntsc, TvNorm::Pal}) {
        ProductionPlan plan = small;
        plan.norm = norm;
        const SlideshowTimeline timeline = MakeSlideshowTimeline(plan);
        ASSERT_EQ(timeline.intervals.size(), 5u); // the empty album has no card
        std::int64_t next = 0;
        for (const SlideshowInterval& interval : timeline.intervals) {
            EXPECT_EQ(interval.firstFrame, next);
            next += interval.frames;
        }
        EXPECT_EQ(next, timeline.totalFrames);
        EXPECT_NEAR(timeline.Seconds(), 20.0, 0.5 / timeline.frameRate);
        EXPECT_EQ(timeline.intervals[3].album, 2);
        EXPECT_EQ(timeline.intervals[3].picture, -1);
        EXPECT_EQ(timeline.Chapters(), 2);
    }
}

// A slideshow that must be made but does not fit is refused before any frame is encoded.
TEST(DiscCapacity, SlideshowThatMustBeMadeButDoesNotFitIsRefusedFirst)
{
    Scratch scratch;
    MemorySink sink;
    const std::string temp = scratch.Path("run") + "/";
    AlbumTable empty;
    ProductionParameters parameters = MakeParameters(empty, temp, &sink);
    parameters.plan = PlanOfPaths(scratch, {99});
    parameters.plan.albums[0].waitTime = 60;
    parameters.plan.slideshowTrack = SlideshowTrackMode::Always;
    ProductionJob job(std::move(parameters));
    RecordingObserver observer;
    const ProductionResult result = job.Run(&observer);
    EXPECT_EQ(result.status, ProductionStatus::Failed);
    EXPECT_NE(result.message.find("does not fit on the disc"), std::string::npos) << result.message;
    EXPECT_TRUE(observer.Reports(UM_SLIDE_PROGRESS).empty());
    EXPECT_EQ(Join(FilesMatching(temp, ".*\\.mpg|track_.*")), "");
}

} // namespace
} // namespace lumivox::test

namespace lumivox::test {
namespace {

// A picture whose folder was moved (or whose stick is not plugged in) stays in its album
// and in the saved project; the disc is made without it, naming it; once its file is
// found in another folder it is the picture it was.
TEST(ProductionPlanMissing, AMissingPictureIsKeptLeftOffTheDiscAndFoundAgain)
{
    Scratch folder;
    fs::create_directories(folder.Path("moved"));
    WriteTestBmp(folder.Path("a.bmp"), 40, 30, 1);
    WriteTestBmp(folder.Path("moved/b.bmp"), 40, 30, 2);
    WriteTestBmp(folder.Path("c.bmp"), 40, 30, 3);
    const std::string gone = folder.Path("gone/b.bmp");
    WriteText(folder.Path("p.lvx"), "[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=1\n[Album_01]\nName=Trip\n"
                                    "interval=5\nImage_Count=3\nImage_01=" + gone + "\nRotate_01=90\nImage_02=" +
                                        folder.Path("a.bmp") + "\nImage_03=" + folder.Path("c.bmp") + "\n");
    for (PictureLoading loading : {PictureLoading::Eager, PictureLoading::HeadersOnly}) {
        AlbumTable project;
        const ProjectLoadResult loaded = project.LoadProject(folder.Path("p.lvx"), loading);
        ASSERT_TRUE(loaded.Loaded()) << loaded.error;
        ASSERT_EQ(project.PictureCount(0), 3);
        ASSERT_EQ(loaded.missing.size(), 1u);
        EXPECT_EQ(loaded.missing[0].path, gone);
        EXPECT_TRUE(loaded.skipped.empty());
        EXPECT_TRUE(project.Picture(0, 0).missing);
        EXPECT_EQ(project.Album(0).Cover()->path, folder.Path("a.bmp")) << "the cover is a picture that is there";

        const ProductionPlan plan = MakeProductionPlan(project);
        ASSERT_EQ(plan.albums[0].pictures.size(), 2u);
        EXPECT_EQ(plan.missingPictures, std::vector<std::string>{gone});

        // Saved as it was: the missing picture and its turn.
        std::string error;
        ASSERT_TRUE(project.SaveProject(folder.Path("saved.lvx"), &error)) << error;
        const std::string saved = ReadText(folder.Path("saved.lvx"));
        EXPECT_NE(saved.find("Image_Count=3"), std::string::npos) << saved;
        EXPECT_NE(saved.find("Image_01=" + gone), std::string::npos) << saved;
        EXPECT_NE(saved.find("Rotate_01=90"), std::string::npos) << saved;
    }
    AlbumTable project;
    ASSERT_TRUE(project.LoadProject(folder.Path("p.lvx")).Loaded());
    EXPECT_EQ(project.FindMissingPictures(folder.Path("nowhere")), 0);
    EXPECT_EQ(project.FindMissingPictures(folder.Path("moved")), 1);
    EXPECT_EQ(project.MissingPictureCount(), 0);
    const PictureItem& found = project.Picture(0, 0);
    EXPECT_EQ(found.path, folder.Path("moved/b.bmp"));
    ASSERT_TRUE(found.picture);
    EXPECT_EQ(found.picture->Width(), 30) << "turned as before";
    EXPECT_EQ(MakeProductionPlan(project).albums[0].pictures.size(), 3u);
}

} // namespace
} // namespace lumivox::test

namespace lumivox::test {
namespace {

TEST_F(PrepareProductionTest, MissingPicturesReachTheRunToBeNamed)
{
    WriteTestBmp(scratch.Path("a.bmp"), 40, 30, 1);
    WriteText(scratch.Path("m.lvx"), "[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=1\n[Album_01]\nName=A\n"
                                     "Image_Count=2\nImage_01=" + scratch.Path("gone.bmp") + "\nImage_02=" +
                                         scratch.Path("a.bmp") + "\n");
    project.ResetProject();
    ASSERT_TRUE(project.LoadProject(scratch.Path("m.lvx")).Loaded());
    const PreparedProduction prepared = PrepareProduction(request);
    ASSERT_TRUE(prepared.Ok()) << prepared.error;
    EXPECT_EQ(prepared.parameters.plan.missingPictures, std::vector<std::string>{scratch.Path("gone.bmp")});
    EXPECT_EQ(prepared.parameters.plan.albums[0].pictures.size(), 1u);
}

} // namespace
} // namespace lumivox::test
