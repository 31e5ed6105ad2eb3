// SPDX-License-Identifier: GPL-2.0-or-later
// A run works from the snapshot taken when it started: the project may be edited on
// another thread all the while (as the desktop program's event loop goes on during a
// run) and the disc is exactly the one the snapshot describes. Built also with
// ThreadSanitizer, which finds any read of the live project from the run's threads.

#include "production/production_helpers.h"

#include "production/ProductionJob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace lumivox::test {
namespace {

// Every kind of edit the album editor makes, over and over; none of them touches the
// picture files the snapshot names.
class Editor {
public:
    Editor(AlbumTable& project, const Scratch& scratch) : project_(project)
    {
        for (int i = 0; i < 4; ++i) {
            extra_.push_back(scratch.Path("extra_" + std::to_string(i) + ".bmp"));
            WriteTestBmp(extra_.back(), 64 + 8 * i, 40, 90u + static_cast<unsigned>(i));
        }
    }

    void EditOnce()
    {
        ++rounds;
        const int added = project_.AddAlbum("Added " + std::to_string(rounds));
        if (added >= 0)
            for (const std::string& path : extra_)
                project_.AddPictureToAlbum(added, path);
        if (project_.AlbumCount() > 0 && project_.PictureCount(0) > 0) {
            project_.RotatePictures(0, {0}, Rotation::Clockwise);
            project_.RenameAlbum(0, "Renamed " + std::to_string(rounds));
            project_.SetAlbumWaitTime(0, 2 + rounds % 100);
        }
        if (project_.AlbumCount() > 1 && project_.PictureCount(1) > 1)
            project_.RemovePictures(1, {1, 0});
        if (project_.AlbumCount() > 2)
            project_.RemoveAllPictures(2);
        if (project_.AlbumCount() > 0)
            project_.RemoveAlbum(0);
        if (rounds % 3 == 0)
            project_.ResetProject();
    }

    int rounds = 0;

private:
    AlbumTable& project_;
    std::vector<std::string> extra_;
};

TEST(ProductionSnapshot, EditsDuringTheRunDoNotReachTheDisc)
{
    Scratch scratch;
    AlbumTable project;
    MakeProject(project, scratch, {3, 2, 0, 1});
    // A turned picture in the snapshot: the disc shows it turned however it is turned later.
    ASSERT_TRUE(project.RotatePictures(0, {1}, Rotation::CounterClockwise));

    // The reference: the same project, nobody touching it.
    MemorySink reference;
    {
        ProductionJob job(MakeParameters(project, scratch.Path("reference"), &reference));
        const ProductionResult result = job.Run(nullptr);
        ASSERT_TRUE(result.Finished()) << result.message;
    }

    MemorySink edited;
    Editor editor(project, scratch);
    ProductionParameters parameters = MakeParameters(project, scratch.Path("edited"), &edited);
    const std::vector<int> snapshotCounts = parameters.plan.PictureCounts();
    ProductionJob job(std::move(parameters));
    RecordingObserver observer;
    ASSERT_TRUE(job.Start(&observer));
    // Edit until the run has ended, and at least a few rounds whatever the run's speed.
    while (!job.IsFinished() || editor.rounds < 6)
        editor.EditOnce();
    job.Wait();
    const ProductionResult& result = job.Result();
    ASSERT_TRUE(result.Finished()) << result.message;
    EXPECT_EQ(result.pictures, 6);
    EXPECT_EQ(result.albums, 4);
    EXPECT_TRUE(observer.warnings.empty()) << observer.warnings.front();

    // The project really changed underneath.
    EXPECT_NE(MakeProductionPlan(project).PictureCounts(), snapshotCounts);
    const std::string difference = FirstDifference(reference.image, edited.image);
    EXPECT_TRUE(difference.empty()) << difference << " after " << editor.rounds << " rounds of edits";
    EXPECT_EQ(edited.sectors, reference.sectors);
}

// Several runs from snapshots of one project at once (two burn pages' worth), with the
// project edited meanwhile: every image equals the one made alone.
TEST(ProductionSnapshot, RunsFromOneProjectAtOnceMakeTheSameImage)
{
    Scratch scratch;
    AlbumTable project;
    MakeProject(project, scratch, {2, 1});
    MemorySink alone;
    {
        ProductionJob job(MakeParameters(project, scratch.Path("alone"), &alone));
        ASSERT_TRUE(job.Run(nullptr).Finished());
    }
    MemorySink sinks[2];
    std::vector<std::unique_ptr<ProductionJob>> jobs;
    for (int i = 0; i < 2; ++i) {
        ProductionParameters parameters = MakeParameters(project, scratch.Path("run" + std::to_string(i)), &sinks[i]);
        parameters.jobs = 1;
        jobs.push_back(std::make_unique<ProductionJob>(std::move(parameters)));
        ASSERT_TRUE(jobs.back()->Start(nullptr));
    }
    Editor editor(project, scratch);
    while (!jobs[0]->IsFinished() || !jobs[1]->IsFinished() || editor.rounds < 3)
        editor.EditOnce();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        jobs[static_cast<std::size_t>(i)]->Wait();
        ASSERT_TRUE(jobs[static_cast<std::size_t>(i)]->Result().Finished())
            << jobs[static_cast<std::size_t>(i)]->Result().message;
        const std::string difference = FirstDifference(alone.image, sinks[i].image);
        EXPECT_TRUE(difference.empty()) << difference;
    }
}

} // namespace
} // namespace lumivox::test
