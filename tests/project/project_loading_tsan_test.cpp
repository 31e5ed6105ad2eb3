// SPDX-License-Identifier: GPL-2.0-or-later
// Loading a project in two steps, as the desktop program does it: the decode on a worker
// thread (DecodeProjectFile), the apply on the thread that owns the project. Built also
// with ThreadSanitizer.

#include "project/project_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>

namespace lumivox::test {
namespace {

bool SameBitmap(const PicBitmap* a, const PicBitmap* b)
{
    if (!a || !b)
        return a == b;
    if (a->Width() != b->Width() || a->Height() != b->Height() || a->BitsPerPixel() != b->BitsPerPixel())
        return false;
    const std::size_t rowBytes = static_cast<std::size_t>(a->Width()) * static_cast<std::size_t>(a->BitsPerPixel() / 8);
    for (int y = 0; y < a->Height(); ++y)
        if (std::memcmp(a->Row(y), b->Row(y), rowBytes) != 0)
            return false;
    return true;
}

// The first difference between two projects, or empty.
std::string ProjectDifference(const AlbumTable& expected, const AlbumTable& actual)
{
    std::ostringstream out;
    if (expected.AlbumCount() != actual.AlbumCount()) {
        out << expected.AlbumCount() << " albums vs " << actual.AlbumCount();
        return out.str();
    }
    for (int a = 0; a < expected.AlbumCount(); ++a) {
        const AlbumInfo& e = expected.Album(a);
        const AlbumInfo& g = actual.Album(a);
        if (e.name != g.name || e.waitTime != g.waitTime || e.PictureCount() != g.PictureCount()) {
            out << "album " << a << ": \"" << e.name << "\" wait " << e.waitTime << ", " << e.PictureCount()
                << " pictures vs \"" << g.name << "\" wait " << g.waitTime << ", " << g.PictureCount();
            return out.str();
        }
        for (int p = 0; p < e.PictureCount(); ++p) {
            const PictureItem& ep = expected.Picture(a, p);
            const PictureItem& gp = actual.Picture(a, p);
            if (ep.path != gp.path || ep.rotation != gp.rotation || ep.rotated != gp.rotated)
                out << "picture " << p << ": " << ep.path << " turned " << ep.rotation << " vs " << gp.path
                    << " turned " << gp.rotation;
            else if (!SameBitmap(ep.picture.get(), gp.picture.get()))
                out << "picture " << p << " (" << ep.path << "): the decoded pictures differ";
            else if (!SameBitmap(ep.slideThumbnail.get(), gp.slideThumbnail.get()) ||
                     !(ep.slidePlacement == gp.slidePlacement))
                out << "picture " << p << " (" << ep.path << "): the slide thumbnails differ";
            if (!out.str().empty())
                return "album " + std::to_string(a) + ", " + out.str();
        }
    }
    if (expected.CurrentAlbum() != actual.CurrentAlbum())
        return "current album " + std::to_string(expected.CurrentAlbum()) + " vs " +
               std::to_string(actual.CurrentAlbum());
    return {};
}

class ProjectLoadingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Three albums of real bitmaps (decoded on every core), one turned, one missing.
        std::string text = "[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=3\n";
        for (int a = 1; a <= 3; ++a) {
            text += "[Album_0" + std::to_string(a) + "]\nName=Album " + std::to_string(a) +
                    "\ninterval=" + std::to_string(3 + a) + "\nImage_Count=6\n";
            for (int p = 1; p <= 6; ++p) {
                const std::string path = scratch.Path("a" + std::to_string(a) + "_" + std::to_string(p) + ".bmp");
                if (!(a == 2 && p == 3))
                    WriteBmp24(path, 60 + 10 * p, 40 + 5 * a);
                text += "Image_0" + std::to_string(p) + "=" + path + "\n";
            }
            text += "Rotate_02=" + std::to_string(90 * a) + "\n";
        }
        file = scratch.Path("p.lvx");
        WriteText(file, text);
    }

    ScratchFolder scratch;
    std::string file;
};

TEST_F(ProjectLoadingTest, DecodeOnAWorkerThenApplyEqualsLoadProject)
{
    for (PictureLoading loading : {PictureLoading::Eager, PictureLoading::Lazy}) {
        SCOPED_TRACE(loading == PictureLoading::Eager ? "eager" : "lazy");
        AlbumTable loaded;
        const ProjectLoadResult direct = loaded.LoadProject(file, loading);
        ASSERT_TRUE(direct.Loaded()) << direct.error;

        AlbumTable applied;
        RecordingObserver observer;
        applied.SetObserver(&observer);
        DecodedProject decoded;
        std::vector<std::pair<int, int>> progress;
        std::mutex progressMutex;
        std::thread worker([&] {
            ProjectDecodeOptions options;
            options.loading = loading;
            options.progress = [&](int done, int total) {
                std::lock_guard lock(progressMutex);
                progress.emplace_back(done, total);
            };
            decoded = DecodeProjectFile(file, options);
        });
        worker.join();
        EXPECT_EQ(applied.AlbumCount(), 0) << "the decode touched a project";
        EXPECT_EQ(observer.loadsStarted, 0);
        const ProjectLoadResult result = applied.ApplyDecodedProject(std::move(decoded));
        ASSERT_TRUE(result.Loaded()) << result.error;
        applied.SetObserver(nullptr);

        const std::string difference = ProjectDifference(loaded, applied);
        EXPECT_TRUE(difference.empty()) << difference;
        // The missing file stays in its album, marked, so that saving keeps it.
        EXPECT_TRUE(result.skipped.empty());
        ASSERT_EQ(result.missing.size(), direct.missing.size());
        ASSERT_EQ(result.missing.size(), 1u);
        EXPECT_EQ(result.missing[0].path, scratch.Path("a2_3.bmp"));
        EXPECT_EQ(result.missing[0].album, 2);
        ASSERT_EQ(applied.PictureCount(1), 6);
        EXPECT_TRUE(applied.Picture(1, 2).missing);
        EXPECT_EQ(applied.MissingPictureCount(), 1);
        EXPECT_EQ(observer.loadsStarted, 1);
        EXPECT_EQ(observer.loadsFinished, 1);

        // Progress counts up to its total, which is every picture the albums can take.
        ASSERT_FALSE(progress.empty());
        for (std::size_t i = 0; i < progress.size(); ++i) {
            EXPECT_EQ(progress[i].second, 18);
            if (i > 0) {
                EXPECT_GE(progress[i].first, progress[i - 1].first) << "at report " << i;
            }
        }
        EXPECT_EQ(progress.back().first, progress.back().second);
    }
}

TEST_F(ProjectLoadingTest, ACancelledDecodeAppliesNothing)
{
    const struct {
        const char* name;
        int cancelAfter; // pictures decoded before the flag is set; 0: set before the decode
    } cases[] = {{"cancelled before", 0}, {"cancelled after three pictures", 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> cancel{c.cancelAfter == 0};
        std::atomic<int> reports{0};
        DecodedProject decoded;
        std::thread worker([&] {
            ProjectDecodeOptions options;
            options.cancel = &cancel;
            options.progress = [&](int done, int) {
                ++reports;
                if (done >= c.cancelAfter)
                    cancel = true;
            };
            decoded = DecodeProjectFile(file, options);
        });
        worker.join();
        EXPECT_TRUE(decoded.cancelled);
        EXPECT_TRUE(decoded.albums.empty());
        EXPECT_LT(reports.load(), 18) << "the decode went on after the cancel";

        AlbumTable project;
        project.AddAlbum("Kept");
        RecordingObserver observer;
        project.SetObserver(&observer);
        const ProjectLoadResult result = project.ApplyDecodedProject(std::move(decoded));
        EXPECT_EQ(project.AlbumCount(), 1);
        EXPECT_EQ(project.Album(0).name, "Kept");
        EXPECT_EQ(observer.loadsStarted, 0);
        EXPECT_TRUE(observer.messages.empty());
        EXPECT_TRUE(result.skipped.empty());
        project.SetObserver(nullptr);
    }
}

// Two projects decoded on two threads at once while a third is edited: each equals its
// own load (decoders keep their state per thread).
TEST_F(ProjectLoadingTest, DecodesOnSeveralThreadsAtOnce)
{
    AlbumTable reference;
    ASSERT_TRUE(reference.LoadProject(file).Loaded());
    DecodedProject decoded[2];
    {
        std::jthread first([&] { decoded[0] = DecodeProjectFile(file); });
        std::jthread second([&] { decoded[1] = DecodeProjectFile(file); });
        AlbumTable edited;
        for (int i = 0; i < 20; ++i) {
            edited.AddAlbum("x");
            edited.AddPictureToAlbum(0, scratch.Path("a1_1.bmp"));
            edited.RotatePictures(0, {0}, Rotation::Clockwise);
            edited.RemoveAlbum(0);
        }
    }
    for (DecodedProject& d : decoded) {
        AlbumTable applied;
        ASSERT_TRUE(applied.ApplyDecodedProject(std::move(d)).Loaded());
        const std::string difference = ProjectDifference(reference, applied);
        EXPECT_TRUE(difference.empty()) << difference;
    }
}

} // namespace
} // namespace lumivox::test
