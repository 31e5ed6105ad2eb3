// SPDX-License-Identifier: GPL-2.0-or-later
// The album project's operations: limits, messages, album removal, thumbnails and turns.

#include "project/AlbumTable.h"
#include "project/project_helpers.h"

#include <gtest/gtest.h>

namespace lumivox {
namespace {

using test::FakeDecoder;
using test::RecordingObserver;
using test::ScratchFolder;

TEST(FitThumbnail, KeepsTheAspectRatioInsideTheBox)
{
    struct Case {
        int width, height, boxWidth, boxHeight;
        ThumbnailPlacement expected; // x, y, width, height
    } cases[] = {
        {800, 600, 104, 78, {0, 0, 104, 78}},
        {600, 800, 104, 78, {23, 0, 58, 78}},
        {1000, 200, 104, 78, {0, 29, 104, 20}},
        {1000, 900, 104, 78, {9, 0, 86, 78}}, // wider than high but taller than the box
        {500, 500, 104, 78, {13, 0, 78, 78}}, // square counts as "not wider"
        {4000, 3000, 64, 64, {0, 8, 64, 48}},
        {3000, 4000, 64, 64, {8, 0, 48, 64}},
        {5000, 1, 104, 78, {0, 38, 104, 1}}, // would truncate to 0 rows
        {1, 5000, 104, 78, {51, 0, 1, 78}},
        {0, 600, 104, 78, {0, 0, 0, 0}}, // no picture, no thumbnail
    };
    for (const Case& c : cases) {
        const ThumbnailPlacement got = FitThumbnail(c.width, c.height, c.boxWidth, c.boxHeight);
        EXPECT_EQ(got, c.expected) << c.width << "x" << c.height << " in " << c.boxWidth << "x" << c.boxHeight
                                   << ": got " << got.x << "," << got.y << " " << got.width << "x" << got.height;
    }
}

TEST(Rotation, TurnsCycleThroughQuarterTurns)
{
    int rotation = 0;
    const int clockwise[] = {90, 180, 270, 0};
    for (int expected : clockwise) {
        rotation = NextRotation(rotation, Rotation::Clockwise);
        EXPECT_EQ(rotation, expected);
    }
    const int counter[] = {270, 180, 90, 0};
    for (int expected : counter) {
        rotation = NextRotation(rotation, Rotation::CounterClockwise);
        EXPECT_EQ(rotation, expected);
    }
}

class AlbumTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        table.SetObserver(&observer);
        table.SetPictureDecoder(FakeDecoder());
        table.InitialiseWaitTimes(4);
    }
    AlbumTable table;
    RecordingObserver observer;
};

TEST_F(AlbumTableTest, NinetyNineAlbumsFitAndTheHundredthIsRefused)
{
    for (int i = 0; i < MAX_ALBUMS; ++i)
        ASSERT_EQ(table.AddAlbum("Album " + std::to_string(i)), i);
    EXPECT_TRUE(observer.messages.empty());
    EXPECT_EQ(table.CurrentAlbum(), 98);
    EXPECT_EQ(table.AddAlbum("one too many"), -1);
    EXPECT_EQ(table.AlbumCount(), 99);
    EXPECT_EQ(table.CurrentAlbum(), 98);
    ASSERT_EQ(observer.messages.size(), 1u);
    EXPECT_EQ(observer.messages[0], "The max. album number has been reached. Cannot add more albums.");
    EXPECT_EQ(observer.status, "Total Album : 99  Total Photos: 0");
}

TEST_F(AlbumTableTest, RemovingTheMiddleAlbumMovesTheLaterOneDown)
{
    for (const char* name : {"one", "two", "three"})
        table.AddAlbum(name);
    ASSERT_TRUE(table.SetAlbumWaitTime(2, 10));
    ASSERT_TRUE(table.AddPictureToAlbum(2, "/p/c1.jpg"));
    ASSERT_TRUE(table.AddPictureToAlbum(2, "/p/c2.jpg"));
    ASSERT_TRUE(table.AddPictureToAlbum(1, "/p/b1.jpg"));

    ASSERT_TRUE(table.RemoveAlbum(1));
    ASSERT_EQ(table.AlbumCount(), 2);
    EXPECT_EQ(table.Album(0).name, "one");
    EXPECT_EQ(table.Album(1).name, "three");
    EXPECT_EQ(table.Album(1).waitTime, 10);
    ASSERT_EQ(table.PictureCount(1), 2);
    EXPECT_EQ(table.Picture(1, 0).path, "/p/c1.jpg");
    EXPECT_EQ(table.Album(1).Cover(), &table.Picture(1, 0));
    EXPECT_EQ(table.PictureCount(2), 0); // the freed slot holds nothing
    EXPECT_EQ(table.CurrentAlbum(), 1); // the last album becomes current
    EXPECT_EQ(observer.status, "Total Album : 02  Total Photos: 2");
}

TEST_F(AlbumTableTest, RefusedRequestsSayWhy)
{
    struct Case {
        const char* what;
        std::function<bool()> request;
        const char* message;
    } beforeAnyAlbum[] = {
        {"remove without albums", [&] { return table.RemoveAlbum(-1); }, "There is no album to be removed."},
        {"rename without selection", [&] { return table.RenameAlbum(-1, "x"); }, "Please select an album."},
    };
    for (const Case& c : beforeAnyAlbum) {
        observer.messages.clear();
        EXPECT_FALSE(c.request()) << c.what;
        EXPECT_EQ(observer.messages, std::vector<std::string>{c.message}) << c.what;
    }
    table.AddAlbum("a");
    table.AddPictureToAlbum(0, "/p/1.jpg");
    Case withAlbum[] = {
        {"remove without selection", [&] { return table.RemoveAlbum(-1); }, "Please select an album to be removed."},
        {"properties without selection", [&] { return table.SetAlbumWaitTime(-1, 5); }, "Please select an album."},
        {"wait time 1", [&] { return table.SetAlbumWaitTime(0, 1); }, "Please enter an integer between 2 and 120."},
        {"wait time 121", [&] { return table.SetAlbumWaitTime(0, 121); }, "Please enter an integer between 2 and 120."},
        {"remove no pictures", [&] { return table.RemovePictures(0, {}); }, "Please select an item first!"},
        {"rotate no pictures", [&] { return table.RotatePictures(0, {}, Rotation::Clockwise); },
         "Please select a picture."},
    };
    for (const Case& c : withAlbum) {
        observer.messages.clear();
        EXPECT_FALSE(c.request()) << c.what;
        EXPECT_EQ(observer.messages, std::vector<std::string>{c.message}) << c.what;
    }
    EXPECT_TRUE(table.SetAlbumWaitTime(0, 2));
    EXPECT_TRUE(table.SetAlbumWaitTime(0, 120));
    EXPECT_EQ(table.AlbumPropertiesText(0), "Total Photos: 1");
}

TEST_F(AlbumTableTest, FirstPictureMakesItsOwnAlbum)
{
    EXPECT_EQ(table.EnsureAlbumForPicture(PictureSource::Path), 0);
    EXPECT_EQ(table.Album(0).name, "Album 1");
    EXPECT_EQ(table.EnsureAlbumForPicture(PictureSource::FileList), 0); // exists already
    EXPECT_EQ(table.AlbumCount(), 1);
    table.ResetProject();
    EXPECT_EQ(table.CurrentAlbum(), -1);
    EXPECT_EQ(table.EnsureAlbumForPicture(PictureSource::FileList), 0);
    EXPECT_EQ(table.Album(0).name, "Album 1");
    EXPECT_EQ(table.Album(0).waitTime, 4);

    // The display name is the file list's; a picture added from a path has none.
    ASSERT_TRUE(table.AddPictureToAlbum(0, "/p/listed.jpg", "listed.jpg"));
    ASSERT_TRUE(table.AddPictureToAlbum(0, "/p/dropped.jpg"));
    EXPECT_EQ(table.Picture(0, 0).displayName, "listed.jpg");
    EXPECT_EQ(table.Picture(0, 1).displayName, "");
}

TEST_F(AlbumTableTest, PicturesStopAtNinetyNineAndFailuresChangeNothing)
{
    table.AddAlbum("a");
    for (int i = 0; i < MAX_PICTURES_PER_ALBUM; ++i)
        ASSERT_TRUE(table.AddPictureToAlbum(0, "/p/" + std::to_string(i) + ".jpg"));
    std::string error;
    EXPECT_FALSE(table.AddPictureToAlbum(0, "/p/100.jpg", {}, nullptr, &error));
    EXPECT_EQ(error, "The album already holds 99 pictures.");
    EXPECT_EQ(table.PictureCount(0), 99);
    EXPECT_EQ(observer.added.back(), 98);
    EXPECT_EQ(table.SlideLabel(98), "99");

    table.AddAlbum("b");
    EXPECT_FALSE(table.AddPictureToAlbum(1, "/p/bad.jpg", {}, nullptr, &error));
    EXPECT_EQ(error, "Unknown file type.");
    EXPECT_EQ(table.PictureCount(1), 0);
    EXPECT_EQ(table.Album(1).Cover(), nullptr);
    EXPECT_TRUE(observer.messages.empty()); // no message for pictures that fail
}

TEST_F(AlbumTableTest, RemovingPicturesRenumbersAndRecomputesTheCover)
{
    table.AddAlbum("a");
    for (const char* path : {"/p/0", "/p/1", "/p/2", "/p/3"})
        table.AddPictureToAlbum(0, path);
    ASSERT_TRUE(table.RemovePictures(0, {2, 0, 2, 17}));
    ASSERT_EQ(table.PictureCount(0), 2);
    EXPECT_EQ(table.Picture(0, 0).path, "/p/1");
    EXPECT_EQ(table.Picture(0, 1).path, "/p/3");
    EXPECT_EQ(table.Picture(0, 1).listPosition, 1);
    EXPECT_EQ(table.Album(0).Cover()->path, "/p/1");
    table.RemoveAllPictures(0);
    EXPECT_EQ(table.Album(0).Cover(), nullptr);
    EXPECT_EQ(observer.status, "Total Album : 01  Total Photos: 0");
}

// Album names keep the stored formats' 259-byte field, cut on a character boundary;
// picture paths are never cut, because a cut path names another file.
TEST_F(AlbumTableTest, LongNamesAreCutOnACharacterBoundaryAndPathsAreKeptWhole)
{
    std::string name;
    while (name.size() < 400)
        name += "\xC3\xA9"; // é
    table.AddAlbum(name);
    EXPECT_EQ(table.Album(0).name.size(), 258u);
    table.RenameAlbum(0, "x" + name);
    EXPECT_EQ(table.Album(0).name.size(), 259u);
    ASSERT_TRUE(table.AddPictureToAlbum(0, "/" + name));
    EXPECT_EQ(table.Picture(0, 0).path, "/" + name);
    const std::unique_ptr<PictureItem> listed = table.MakeFileListItem("/" + name + "/x.jpg", "x.jpg");
    EXPECT_EQ(listed->path, "/" + name + "/x.jpg");
}

TEST_F(AlbumTableTest, DefaultWaitTimeChangeReachesAlbumsThatKeptTheOldDefault)
{
    table.AddAlbum("keeps default");
    table.AddAlbum("own value");
    table.SetAlbumWaitTime(1, 10);
    table.ApplyDefaultWaitTimeChange(4, 6);
    EXPECT_EQ(table.Album(0).waitTime, 6);
    EXPECT_EQ(table.Album(1).waitTime, 10);
    EXPECT_EQ(table.Album(50).waitTime, 6); // unused slots too
    EXPECT_EQ(table.DefaultWaitTime(), 6);
    table.AddAlbum("new");
    EXPECT_EQ(table.Album(2).waitTime, 6);
}

// With the real picture reader: decoding, thumbnails, copies from the file list and
// the rebuilt picture of a turn.
TEST(AlbumTablePictures, DecodesThumbnailsAndTurnsRealFiles)
{
    ScratchFolder folder;
    const std::string wide = folder.Path("wide.bmp");
    test::WriteBmp24(wide, 80, 60);
    AlbumTable table;
    table.AddAlbum("a");
    std::string error;
    ASSERT_TRUE(table.AddPictureToAlbum(0, wide, {}, nullptr, &error)) << error;
    const PictureItem& added = table.Picture(0, 0);
    ASSERT_TRUE(added.picture);
    EXPECT_EQ(added.picture->Width(), 80);
    EXPECT_EQ(added.picture->BitsPerPixel(), 32);
    ASSERT_TRUE(added.slideThumbnail);
    EXPECT_EQ(added.slideThumbnail->Width(), 104);
    EXPECT_EQ(added.slideThumbnail->Height(), 78);
    EXPECT_EQ(added.slidePlacement, (ThumbnailPlacement{0, 0, 104, 78}));
    EXPECT_FALSE(added.smallThumbnail);

    PictureItem& item = const_cast<PictureItem&>(added);
    ASSERT_TRUE(table.RotatePicture(item, Rotation::Clockwise));
    EXPECT_TRUE(item.rotated);
    EXPECT_EQ(item.rotation, 90);
    EXPECT_EQ(item.picture->Width(), 60);
    EXPECT_EQ(item.picture->Height(), 80);
    EXPECT_EQ(item.slidePlacement, (ThumbnailPlacement{23, 0, 58, 78}));
    // Turned clockwise, the top row is the old left column read bottom to top: its
    // first pixel is the old bottom-left one (x 0, y 59).
    EXPECT_EQ(item.picture->Row(0)[0], 0);
    EXPECT_EQ(item.picture->Row(0)[1], 59);
    ASSERT_TRUE(table.RotatePictures(0, {0, 0, 0}, Rotation::Clockwise));
    EXPECT_FALSE(item.rotated);
    EXPECT_EQ(item.picture->Width(), 80);

    // A file list record lends its decoded picture and small thumbnail.
    std::unique_ptr<PictureItem> listed = table.MakeFileListItem(wide, "wide.bmp");
    EXPECT_EQ(listed->smallPlacement, (ThumbnailPlacement{0, 8, 64, 48}));
    std::filesystem::remove(wide); // no decode happens any more
    ASSERT_TRUE(table.AddPictureToAlbum(0, wide, {}, listed.get(), &error)) << error;
    const PictureItem& copy = table.Picture(0, 1);
    EXPECT_EQ(copy.displayName, "wide.bmp");
    ASSERT_TRUE(copy.smallThumbnail);
    EXPECT_NE(copy.smallThumbnail.get(), listed->smallThumbnail.get());
    EXPECT_EQ(copy.smallThumbnail->Width(), 64);

    // The file is gone: a turn cannot be shown, so it is not made.
    PictureItem& orphan = const_cast<PictureItem&>(copy);
    EXPECT_FALSE(table.RotatePicture(orphan, Rotation::CounterClockwise));
    EXPECT_FALSE(orphan.rotated);
    EXPECT_EQ(orphan.picture->Width(), 80);

    EXPECT_FALSE(table.AddPictureToAlbum(0, folder.Path("missing.jpg"), {}, nullptr, &error));
    EXPECT_NE(error.find("missing.jpg"), std::string::npos) << error;
}

} // namespace
} // namespace lumivox
