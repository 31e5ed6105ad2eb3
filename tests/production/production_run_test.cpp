// SPDX-License-Identifier: GPL-2.0-or-later
// The production run: stages and their files, progress reports, cancelling in every
// stage, failures that must reach the user, and parallel workers making the same image.

#include "base/Parallel.h"
#include "production/production_helpers.h"

#include "picture/PLTextException.h"
#include "picture/PicReader.h"
#include "production/ProductionJob.h"
#include "vcd/BinCueSink.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <unistd.h>

namespace lumivox::test {
namespace {

namespace fs = std::filesystem;

std::string Describe(const std::vector<Report>& reports)
{
    std::ostringstream out;
    for (const Report& report : reports)
        out << ProgressMessageName(report.message) << '(' << report.first << ',' << report.second << ") ";
    return out.str();
}

class ProductionRunTest : public ::testing::Test {
protected:
    ProductionResult RunWith(ProductionParameters parameters)
    {
        ProductionJob job(std::move(parameters));
        return job.Run(&observer);
    }

    Scratch scratch;
    AlbumTable project;
    MemorySink sink;
    RecordingObserver observer;
};

TEST(ProductionMessages, NumbersAndPercentagesAreTheDialogs)
{
    EXPECT_EQ(UM_MENU_ENCODE_BEGIN, 1124);
    EXPECT_EQ(UM_MENU_ENCODE_END, 1125);
    EXPECT_EQ(UM_MENU_ENCODE_FAILED, 1126);
    EXPECT_EQ(UM_SLIDE_PROGRESS, 1127);
    EXPECT_EQ(UM_DRIVE_WAIT, 1524);
    EXPECT_EQ(UM_FLUSH_CACHE, 1525);
    EXPECT_EQ(UM_RECORDER_INIT, 3024);
    EXPECT_EQ(UM_LEAD_IN, 3025);
    EXPECT_EQ(UM_WRITE_PROGRESS, 3026);
    EXPECT_EQ(UM_LEAD_OUT, 3027);
    EXPECT_EQ(UM_BURN_DONE, 3028);
    EXPECT_EQ(UM_BURN_FAILED, 3029);
    // (done, total) -> tenths of a percent; a total of 0 or less counts as 100.
    const struct {
        std::int64_t done, total;
        int tenths;
    } cases[] = {{0, 8, 125}, {7, 8, 1000}, {0, 0, 10}, {5, -3, 60}, {1395, 1396, 1000}};
    for (const auto& c : cases)
        EXPECT_EQ(ProgressTenths(c.done, c.total), c.tenths) << c.done << " of " << c.total;
    EXPECT_EQ(ProgressMessageName(UM_SLIDE_PROGRESS), "UM_SLIDE_PROGRESS");
    EXPECT_EQ(ProductionMenuPages(13, 6), 3);
    EXPECT_EQ(ProductionMenuPages(0, 6), 0);
    EXPECT_EQ(ProductionWorkerCount(3, 2), 2);
    EXPECT_EQ(ProductionWorkerCount(1, 0), 1);
}

TEST_F(ProductionRunTest, WithoutAlbumsGoesStraightToAuthoringAndMakesAnImage)
{
    const std::string temp = scratch.Path("run");
    const ProductionResult result = RunWith(MakeParameters(project, temp, &sink));
    ASSERT_TRUE(result.Finished()) << result.message;
    EXPECT_EQ(result.menuPages, 0);
    EXPECT_EQ(result.pictures, 0);
    EXPECT_GT(result.totalSectors, 0);
    EXPECT_TRUE(sink.closed);
    EXPECT_EQ(sink.sectors, static_cast<std::uint32_t>(result.totalSectors));
    EXPECT_EQ(Join(FilesMatching(temp, "menu_.*")), "");
    const std::vector<ProgressMessage> expected = {UM_MENU_ENCODE_BEGIN, UM_MENU_ENCODE_END, UM_AUTHORING_BEGIN,
                                                   UM_WRITE_PROGRESS};
    EXPECT_EQ(observer.Sequence(), expected) << Describe(observer.reports);
    const std::vector<Report> writes = observer.Reports(UM_WRITE_PROGRESS);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().first, result.totalSectors);
    EXPECT_EQ(writes.back().second, result.totalSectors);
    EXPECT_EQ(observer.finishedCalls, 1);
}

TEST_F(ProductionRunTest, MenuPagesFollowTheAlbumCount)
{
    // Empty albums keep the run to the menu stage: six entries per page.
    const struct {
        int albums;
        std::string files;
    } cases[] = {
        {7, "menu_01.mpg menu_02.mpg "},
        {12, "menu_01.mpg menu_02.mpg "},
        {13, "menu_01.mpg menu_02.mpg menu_03.mpg "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.albums) + " albums");
        MakeProject(project, scratch, std::vector<int>(static_cast<std::size_t>(c.albums), 0));
        const std::string temp = scratch.Path("run" + std::to_string(c.albums));
        MemorySink pageSink;
        RecordingObserver pageObserver;
        ProductionJob job(MakeParameters(project, temp, &pageSink));
        const ProductionResult result = job.Run(&pageObserver);
        ASSERT_TRUE(result.Finished()) << result.message;
        EXPECT_EQ(Join(FilesMatching(temp, "menu_.*")), c.files);
        EXPECT_EQ(result.menuPages, static_cast<int>(std::count(c.files.begin(), c.files.end(), ' ')));
        const std::vector<Report> pages = pageObserver.Reports(UM_MENU_PAGE_PROGRESS);
        ASSERT_EQ(static_cast<int>(pages.size()), result.menuPages) << Describe(pageObserver.reports);
        for (int i = 0; i < result.menuPages; ++i) {
            EXPECT_EQ(pages[static_cast<std::size_t>(i)].first, i + 1);
            EXPECT_EQ(pages[static_cast<std::size_t>(i)].second, result.menuPages);
        }
        EXPECT_TRUE(pageObserver.Reports(UM_SLIDE_PROGRESS).empty());
        EXPECT_EQ(pageSink.sectors, static_cast<std::uint32_t>(result.totalSectors));
    }
}

TEST_F(ProductionRunTest, EmptyAlbumKeepsTheNumbersOfLaterAlbumsAndNoMusicMeansNoAudio)
{
    MakeProject(project, scratch, {1, 0, 2});
    const std::string temp = scratch.Path("run");
    const ProductionResult result = RunWith(MakeParameters(project, temp, &sink));
    ASSERT_TRUE(result.Finished()) << result.message;
    EXPECT_EQ(Join(FilesMatching(temp, "menu_.*")),
              "menu_01.mpg menu_01_pic_01.mpg menu_03_pic_01.mpg menu_03_pic_02.mpg ");
    EXPECT_FALSE(fs::exists(temp + "/bkmusic.mp2"));
    // Four multiplexer arguments: the menu segment holds the two stills and no audio.
    const std::vector<std::uint8_t> menu = ReadBytes(temp + "/menu_01.mpg");
    EXPECT_TRUE(HasStartCode(menu, 0xE1));
    EXPECT_TRUE(HasStartCode(menu, 0xE2));
    EXPECT_FALSE(HasStartCode(menu, 0xC0));
    EXPECT_EQ(result.pictures, 3);
    EXPECT_TRUE(observer.warnings.empty()) << observer.warnings.front();
}

TEST_F(ProductionRunTest, MenuMusicGoesUnderEveryMenuPage)
{
    MakeProject(project, scratch, std::vector<int>(7, 0));
    const std::string music = scratch.Path("tone.wav");
    WriteTestWave(music, 0.5);
    const std::string temp = scratch.Path("run");
    ProductionParameters parameters = MakeParameters(project, temp, &sink);
    parameters.plan.musicPath = music;
    const ProductionResult result = RunWith(std::move(parameters));
    ASSERT_TRUE(result.Finished()) << result.message;
    EXPECT_TRUE(fs::exists(temp + "/bkmusic.mp2"));
    for (const char* page : {"/menu_01.mpg", "/menu_02.mpg"})
        EXPECT_TRUE(HasStartCode(ReadBytes(temp + page), 0xC0)) << page;
}

TEST_F(ProductionRunTest, MusicThatCannotBeConvertedFailsTheMenuStageWithAMessage)
{
    MakeProject(project, scratch, {0});
    const std::string music = scratch.Path("song.ogg");
    WriteText(music, "not music");
    ProductionParameters parameters = MakeParameters(project, scratch.Path("run"), &sink);
    parameters.plan.musicPath = music;
    const ProductionResult result = RunWith(std::move(parameters));
    EXPECT_EQ(result.status, ProductionStatus::Failed);
    EXPECT_NE(result.message.find("song.ogg"), std::string::npos) << result.message;
    const std::vector<ProgressMessage> expected = {UM_MENU_ENCODE_BEGIN, UM_MENU_ENCODE_FAILED};
    EXPECT_EQ(observer.Sequence(), expected) << Describe(observer.reports);
    EXPECT_FALSE(sink.cueListGiven);
    EXPECT_FALSE(fs::exists(scratch.Path("run/menu_01.mpg")));
}

// Eight pictures: the slide reports run from (0, 8) to (7, 8) in order, whatever the
// number of workers, and every worker count makes the same image byte for byte.
TEST_F(ProductionRunTest, WorkersReportInOrderAndMakeTheSameImage)
{
    MakeProject(project, scratch, {5, 3});
    std::vector<std::uint8_t> reference;
    for (int jobs : {1, 2, 3}) {
        SCOPED_TRACE("jobs " + std::to_string(jobs));
        // Workers come from the process's budget; "--jobs" sets it, as here.
        SetWorkerBudget(jobs);
        const std::string temp = scratch.Path("run" + std::to_string(jobs));
        const std::string bin = scratch.Path("disc" + std::to_string(jobs) + ".bin");
        RecordingObserver runObserver;
        ProductionResult result;
        {
            BinCueSink fileSink(bin);
            ProductionParameters parameters = MakeParameters(project, temp, &fileSink);
            parameters.jobs = jobs;
            ProductionJob job(std::move(parameters));
            ASSERT_TRUE(job.Start(&runObserver));
            job.Wait();
            ASSERT_TRUE(job.IsFinished());
            result = job.Result();
            EXPECT_EQ(job.TotalSectors(), result.totalSectors);
        }
        ASSERT_TRUE(result.Finished()) << result.message;
        EXPECT_EQ(result.workers, jobs);
        const std::vector<Report> slides = runObserver.Reports(UM_SLIDE_PROGRESS);
        ASSERT_EQ(slides.size(), 8u) << Describe(runObserver.reports);
        for (std::size_t i = 0; i < slides.size(); ++i) {
            EXPECT_EQ(slides[i].first, static_cast<std::int64_t>(i));
            EXPECT_EQ(slides[i].second, 8);
        }
        EXPECT_EQ(ProgressTenths(slides.front().first, slides.front().second), 125);
        EXPECT_EQ(ProgressTenths(slides.back().first, slides.back().second), 1000);
        const std::vector<ProgressMessage> expected = {UM_MENU_ENCODE_BEGIN, UM_MENU_PAGE_PROGRESS, UM_MENU_ENCODE_END,
                                                       UM_SLIDE_PROGRESS,    UM_AUTHORING_BEGIN,    UM_WRITE_PROGRESS};
        EXPECT_EQ(runObserver.Sequence(), expected) << Describe(runObserver.reports);
        // Each worker has its own still file; the first keeps the one-worker name.
        std::string stills = "temp_d.m1v ";
        for (int w = 1; w < jobs; ++w)
            stills += "temp_d_0" + std::to_string(w) + ".m1v ";
        EXPECT_EQ(Join(FilesMatching(temp, "temp_d.*")), stills);
        SetWorkerBudget(0);

        const std::vector<std::uint8_t> image = ReadBytes(bin);
        ASSERT_EQ(image.size(), static_cast<std::size_t>(result.totalSectors) * 2352);
        if (reference.empty()) {
            reference = image;
            continue;
        }
        ASSERT_EQ(image.size(), reference.size());
        const auto differ = std::mismatch(image.begin(), image.end(), reference.begin());
        EXPECT_TRUE(differ.first == image.end())
            << "first difference from the one-worker image at byte " << (differ.first - image.begin()) << " (sector "
            << (differ.first - image.begin()) / 2352 << ")";
    }
}

// Cancelling in each stage ends the run as cancelled, soon, with no image under its name.
TEST_F(ProductionRunTest, CancelInEveryStageLeavesNoImage)
{
    // Thirteen albums make three menu pages.
    std::vector<int> counts(13, 0);
    counts.front() = 4;
    counts.back() = 2;
    MakeProject(project, scratch, counts);
    const std::string music = scratch.Path("tone.wav");
    WriteTestWave(music, 2.0);
    const struct {
        const char* stage;
        ProgressMessage message;
        std::int64_t atLeast;
        bool withMusic;
        int maxSlideFiles; // what was collected plus the one frame the worker had in hand
    } cases[] = {
        {"menu music", UM_MENU_ENCODE_BEGIN, 0, true, 0}, {"menu pages", UM_MENU_PAGE_PROGRESS, 1, false, 0},
        {"slides", UM_SLIDE_PROGRESS, 1, false, 2},       {"authoring", UM_AUTHORING_BEGIN, 0, false, 6},
        {"writing", UM_WRITE_PROGRESS, 1, false, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stage);
        const std::string temp = scratch.Path(std::string("run-") + c.stage);
        const std::string bin = scratch.Path("cancel.bin");
        ManualResetEvent cancel;
        RecordingObserver runObserver;
        runObserver.CancelOn(&cancel, c.message, c.atLeast);
        ProductionResult result;
        {
            BinCueSink fileSink(bin);
            ProductionParameters parameters = MakeParameters(project, temp, &fileSink);
            parameters.jobs = 1;
            parameters.cancel = &cancel;
            if (c.withMusic)
                parameters.plan.musicPath = music;
            ProductionJob job(std::move(parameters));
            result = job.Run(&runObserver);
        }
        EXPECT_EQ(result.status, ProductionStatus::Cancelled) << result.message;
        EXPECT_EQ(result.message, "The production was cancelled.");
        EXPECT_EQ(runObserver.finishedCalls, 1);
        EXPECT_LE(static_cast<int>(FilesMatching(temp, "menu_.._pic_.*").size()), c.maxSlideFiles);
        EXPECT_EQ(Join(FilesMatching(scratch.Folder(), "cancel\\..*")), "");
        if (c.message == UM_MENU_PAGE_PROGRESS) {
            // Page 2 may have been under way; page 3 never started.
            EXPECT_TRUE(fs::exists(temp + "/menu_01.mpg"));
            EXPECT_FALSE(fs::exists(temp + "/menu_03.mpg"));
        }
    }
}

TEST_F(ProductionRunTest, TemplateWithoutEntriesIsRefusedBeforeAnythingIsWritten)
{
    MakeProject(project, scratch, {1});
    for (int items : {0, -2}) {
        const std::string temp = scratch.Path("run");
        ProductionParameters parameters = MakeParameters(project, temp, &sink);
        parameters.plan.menuTemplate.itemsCount = items;
        parameters.plan.menuTemplate.path = "/templates/empty.ini";
        const ProductionResult result = RunWith(std::move(parameters));
        EXPECT_EQ(result.status, ProductionStatus::Failed);
        EXPECT_NE(result.message.find("/templates/empty.ini"), std::string::npos) << result.message;
        EXPECT_NE(result.message.find("Items_count"), std::string::npos) << result.message;
        EXPECT_FALSE(fs::exists(temp));
        EXPECT_TRUE(observer.reports.empty()) << Describe(observer.reports);
        EXPECT_FALSE(sink.cueListGiven);
    }
}

// A temporary folder that cannot be used is told as what it is; only a full disk is told
// to make room on it (the still encoder writing into /dev/full stands for one).
TEST_F(ProductionRunTest, UnusableTemporaryFolderGivesTheMessage)
{
    MakeProject(project, scratch, {1});
    WriteText(scratch.Path("plain-file"), "x");
    const std::string full = scratch.Path("full");
    fs::create_directories(full);
    fs::create_symlink("/dev/full", full + "/temp_d.m1v");
    struct Case {
        std::string folder;
        const char* message;
        std::string detail;
    };
    std::vector<Case> cases = {
        {scratch.Path("plain-file") + "/temp", kMsgEncoderStepFailure, "plain-file/temp"},
        {"/proc/self/", kMsgEncoderStepFailure, "/proc/self/"},
        {full, kMsgEncoderFailure, std::strerror(ENOSPC)},
    };
    if (::geteuid() != 0) {
        fs::create_directories(scratch.Path("read-only"));
        fs::permissions(scratch.Path("read-only"), fs::perms::owner_read | fs::perms::owner_exec);
        cases.push_back({scratch.Path("read-only"), kMsgEncoderStepFailure, std::strerror(EACCES)});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        ProductionParameters parameters = MakeParameters(project, c.folder, &sink);
        parameters.jobs = 1;
        const ProductionResult result = RunWith(std::move(parameters));
        EXPECT_EQ(result.status, ProductionStatus::Failed);
        EXPECT_EQ(result.message.rfind(std::string(c.message) + "\n", 0), 0u) << result.message;
        EXPECT_NE(result.message.find(c.detail), std::string::npos) << result.message;
        EXPECT_FALSE(sink.cueListGiven);
    }
    if (::geteuid() != 0)
        fs::permissions(scratch.Path("read-only"), fs::perms::owner_all);
}

TEST_F(ProductionRunTest, EncoderOrMultiplexerFailureFailsTheRunWithTheMessage)
{
    MakeProject(project, scratch, {2});
    // A program folder whose companion still is not MPEG: the multiplexer refuses it.
    const std::string program = scratch.Path("program") + "/";
    fs::create_directories(program);
    fs::copy_file(ProgramFolderForTests() + "avseq01.ntsc", program + "avseq01.ntsc");
    WriteText(program + "temp_x.ntsc", std::string(4096, 'x'));
    ProductionParameters parameters = MakeParameters(project, scratch.Path("run"), &sink);
    parameters.programFolder = program;
    const ProductionResult result = RunWith(std::move(parameters));
    EXPECT_EQ(result.status, ProductionStatus::Failed);
    EXPECT_EQ(result.message.rfind(std::string(kMsgEncoderStepFailure) + "\nmenu page 1: ", 0), 0u) << result.message;
    EXPECT_NE(result.message.find("nrecogni"), std::string::npos) << result.message;
    EXPECT_EQ(observer.Sequence().back(), UM_MENU_ENCODE_FAILED) << Describe(observer.reports);
    EXPECT_FALSE(sink.cueListGiven);

    // A missing MPEG track is found before anything is made.
    fs::remove(program + "avseq01.ntsc");
    MemorySink second;
    ProductionParameters again = MakeParameters(project, scratch.Path("run2"), &second);
    again.programFolder = program;
    const ProductionResult missing = RunWith(std::move(again));
    EXPECT_EQ(missing.status, ProductionStatus::Failed);
    EXPECT_NE(missing.message.find(program + "avseq01.ntsc"), std::string::npos) << missing.message;
    EXPECT_FALSE(fs::exists(scratch.Path("run2/menu_01.mpg")));
}

TEST_F(ProductionRunTest, SinkFailureIsReportedAndTheImageNotClosed)
{
    sink.failAtSector = 100;
    const ProductionResult result = RunWith(MakeParameters(project, scratch.Path("run"), &sink));
    EXPECT_EQ(result.status, ProductionStatus::Failed);
    EXPECT_NE(result.message.find("No space left on device"), std::string::npos) << result.message;
    EXPECT_FALSE(sink.closed);
}

// A picture deleted after it was added goes on the disc as a black frame: the slide keeps
// its place, so every number and link of the disc stays as the project says.
TEST_F(ProductionRunTest, PictureThatCannotBeDecodedBecomesABlackFrame)
{
    MakeProject(project, scratch, {3});
    const std::string gone = project.Picture(0, 1).path;
    fs::remove(gone);
    const std::string temp = scratch.Path("run");
    const ProductionResult result = RunWith(MakeParameters(project, temp, &sink));
    ASSERT_TRUE(result.Finished()) << result.message;
    ASSERT_EQ(result.unreadablePictures.size(), 1u);
    EXPECT_EQ(result.unreadablePictures[0].rfind(gone + ": ", 0), 0u) << result.unreadablePictures[0];
    ASSERT_EQ(observer.warnings.size(), 1u);
    EXPECT_NE(observer.warnings[0].find(gone), std::string::npos) << observer.warnings[0];
    EXPECT_NE(observer.warnings[0].find("album 01, picture 02"), std::string::npos) << observer.warnings[0];
    EXPECT_EQ(Join(FilesMatching(temp, "menu_.*")),
              "menu_01.mpg menu_01_pic_01.mpg menu_01_pic_02.mpg menu_01_pic_03.mpg ");
    EXPECT_EQ(result.pictures, 3);
    EXPECT_EQ(sink.sectors, static_cast<std::uint32_t>(result.totalSectors));
    EXPECT_TRUE(sink.closed);
}

// A menu background that is gone leaves the page black; the user is told which file.
TEST_F(ProductionRunTest, MenuBackgroundThatCannotBeDecodedIsReported)
{
    MakeProject(project, scratch, {0});
    ProductionParameters parameters = MakeParameters(project, scratch.Path("run"), &sink);
    parameters.plan.backgroundOverride = scratch.Path("gone.jpg");
    const ProductionResult result = RunWith(std::move(parameters));
    ASSERT_TRUE(result.Finished()) << result.message;
    ASSERT_EQ(observer.warnings.size(), 1u);
    EXPECT_EQ(observer.warnings[0].rfind("Menu page 1 is black: ", 0), 0u) << observer.warnings[0];
    EXPECT_NE(observer.warnings[0].find("gone.jpg"), std::string::npos) << observer.warnings[0];
}

TEST_F(ProductionRunTest, ParametersThatCannotMakeADiscAreRefused)
{
    MakeProject(project, scratch, {1});
    ProductionParameters noSink = MakeParameters(project, scratch.Path("run"), nullptr);
    EXPECT_EQ(RunWith(std::move(noSink)).status, ProductionStatus::Failed);
    ProductionParameters tooMany = MakeParameters(project, scratch.Path("run"), &sink);
    tooMany.plan.albums.resize(MAX_ALBUMS + 1);
    EXPECT_EQ(RunWith(std::move(tooMany)).status, ProductionStatus::Failed);
    ProductionParameters disagree = MakeParameters(project, scratch.Path("run"), &sink);
    disagree.plan.itemsPerPage = 4;
    const ProductionResult result = RunWith(std::move(disagree));
    EXPECT_EQ(result.status, ProductionStatus::Failed);
    EXPECT_NE(result.message.find("classic.ini"), std::string::npos) << result.message;
    EXPECT_FALSE(fs::exists(scratch.Path("run")));
    // A job runs once.
    ProductionJob job(MakeParameters(project, scratch.Path("run"), &sink));
    job.Cancel();
    EXPECT_EQ(job.Run(nullptr).status, ProductionStatus::Cancelled);
    EXPECT_FALSE(job.Start(nullptr));
}

} // namespace
} // namespace lumivox::test

namespace lumivox::test {
namespace {

// A project loaded by headers only holds no covers: the run decodes every picture once,
// covers included, and the menu gets its covers from the cover slides' decodes — the
// same menu pages and the same disc as from covers the project held. A cover that cannot
// be decoded leaves its entry without a picture, and the run goes on.
TEST_F(ProductionRunTest, CoversComeFromTheSlideDecodeWhenTheProjectHoldsNone)
{
    MakeProject(project, scratch, {3, 2, 1});
    auto runInto = [&](const std::string& name, bool coversFromSlides, const std::string& broken,
                       std::map<std::string, int>* decodes) {
        const std::string temp = scratch.Path(name);
        ProductionParameters parameters = MakeParameters(project, temp, &sink);
        parameters.jobs = 2;
        std::mutex mutex;
        if (coversFromSlides) {
            for (PlannedAlbum& album : parameters.plan.albums) {
                album.coverPicture.reset();
                album.coverThumbnail.reset();
            }
            parameters.slideDecoder = [&mutex, decodes, broken](const std::string& path, PicBitmap& picture) {
                {
                    std::lock_guard lock(mutex);
                    ++(*decodes)[path];
                }
                if (path == broken)
                    throw PLTextException(PL_ERRFORMAT_UNKNOWN, "damaged");
                PicReader reader;
                reader.SetMode(DecodeMode::Full);
                reader.DecodeFile(path, picture, 32);
            };
        }
        const ProductionResult result = RunWith(std::move(parameters));
        EXPECT_TRUE(result.Finished()) << name << ": " << result.message;
        return ReadBytes(temp + "/menu_01.mpg");
    };
    const std::vector<std::uint8_t> held = runInto("held", false, "", nullptr);
    std::map<std::string, int> decodes;
    EXPECT_EQ(runInto("from-slides", true, "", &decodes), held);
    EXPECT_EQ(decodes.size(), 6u);
    for (const auto& [path, count] : decodes)
        EXPECT_EQ(count, 1) << path;
    std::map<std::string, int> again;
    EXPECT_NE(runInto("broken-cover", true, project.Picture(1, 0).path, &again), held);
    EXPECT_EQ(again.size(), 6u);
}

} // namespace
} // namespace lumivox::test
