// SPDX-License-Identifier: GPL-2.0-or-later
// The ".lvx" project file: the exact layout SaveProject writes, round trips with
// stored rotations, stale keys from larger saves, and damaged or hostile files.

#include "base/TextUtil.h"
#include "project/AlbumTable.h"
#include "project/project_helpers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

namespace lumivox {
namespace {

using test::FakeDecoder;
using test::ReadText;
using test::RecordingObserver;
using test::ScratchFolder;
using test::WriteText;

class ProjectFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (AlbumTable* table : {&saved, &loaded}) {
            table->SetPictureDecoder(FakeDecoder());
            table->InitialiseWaitTimes(7); // differs from the file's missing-interval 4
        }
        loaded.SetObserver(&observer);
    }

    ProjectLoadResult LoadText(const std::string& text)
    {
        const std::string path = folder.Path("test.lvx");
        WriteText(path, text);
        loaded.ResetProject();
        return loaded.LoadProject(path);
    }

    ScratchFolder folder;
    AlbumTable saved;
    AlbumTable loaded;
    RecordingObserver observer;
};

TEST_F(ProjectFileTest, SaveWritesTheDocumentedLayout)
{
    saved.AddAlbum("Summer");
    saved.SetAlbumWaitTime(0, 10);
    saved.AddPictureToAlbum(0, "/photos/a.jpg");
    saved.AddPictureToAlbum(0, "/photos/b.jpg");
    saved.AddAlbum("Winter");
    saved.AddPictureToAlbum(1, "/photos/c.jpg");
    const std::string path = folder.Path("p.lvx");
    std::string error;
    ASSERT_TRUE(saved.SaveProject(path, &error)) << error;
    EXPECT_EQ(ReadText(path), "[GENERAL]\n"
                              "Description=Lumivox Project\n"
                              "Version=1.0\n"
                              "Album_Count=2\n"
                              "[Album_01]\n"
                              "Name=Summer\n"
                              "interval=10\n"
                              "Image_Count=2\n"
                              "Image_01=/photos/a.jpg\n"
                              "Image_02=/photos/b.jpg\n"
                              "[Album_02]\n"
                              "Name=Winter\n"
                              "interval=7\n"
                              "Image_Count=1\n"
                              "Image_01=/photos/c.jpg\n");
}

TEST_F(ProjectFileTest, EmptyProjectWritesOnlyTheGeneralSection)
{
    const std::string path = folder.Path("empty.lvx");
    ASSERT_TRUE(saved.SaveProject(path));
    EXPECT_EQ(ReadText(path), "[GENERAL]\nDescription=Lumivox Project\nVersion=1.0\nAlbum_Count=0\n");
    loaded.ResetProject();
    EXPECT_TRUE(loaded.LoadProject(path).Loaded());
    EXPECT_EQ(loaded.AlbumCount(), 0);
    EXPECT_TRUE(observer.messages.empty());
}

// The disc design rides along in "GENERAL" as keys older readers ignore; a file without
// them says so, and a snapshot restores albums and pictures as they were.
TEST_F(ProjectFileTest, DesignKeysAndSnapshots)
{
    saved.AddAlbum("Summer");
    saved.AddPictureToAlbum(0, "/photos/a.jpg");
    const std::string path = folder.Path("design.lvx");
    ASSERT_TRUE(saved.SaveProject(path));
    EXPECT_FALSE(DecodeProjectFile(path).design.present) << "a file of an older writer";
    const ProjectDesign design{true, "template/slate.ini", "/photos/back.jpg", "/music/tune.mp3"};
    ASSERT_TRUE(saved.SaveProject(path, nullptr, &design));
    EXPECT_NE(ReadText(path).find("Template=template/slate.ini\nBackground=/photos/back.jpg\n"
                                  "Music=/music/tune.mp3\n"),
              std::string::npos);
    loaded.ResetProject();
    const ProjectLoadResult result = loaded.LoadProject(path);
    EXPECT_EQ(result.design, design);
    EXPECT_EQ(loaded.PictureCount(0), 1);

    const ProjectSnapshot before = saved.TakeSnapshot();
    saved.AddPictureToAlbum(0, "/photos/b.jpg");
    saved.RotatePictures(0, {0}, Rotation::Clockwise);
    saved.AddAlbum("Winter");
    EXPECT_FALSE(before.SameContent(saved.TakeSnapshot()));
    saved.RestoreSnapshot(before);
    EXPECT_TRUE(before.SameContent(saved.TakeSnapshot()));
    EXPECT_EQ(saved.AlbumCount(), 1);
    EXPECT_EQ(saved.CurrentAlbum(), 0);
    EXPECT_FALSE(saved.Picture(0, 0).rotated);
}

TEST_F(ProjectFileTest, RoundTripKeepsAlbumsPicturesAndRotations)
{
    // Real bitmaps, so that the stored rotation is seen in the rebuilt pictures.
    saved.SetPictureDecoder({});
    loaded.SetPictureDecoder({});
    const std::string a = folder.Path("a.bmp"), b = folder.Path("b é.bmp"), c = folder.Path("c.bmp");
    for (const std::string& path : {a, b, c})
        test::WriteBmp24(path, 40, 30);
    saved.AddAlbum("Trip = \"2024\"; ü");
    saved.SetAlbumWaitTime(0, 12);
    for (const std::string& path : {a, b, c})
        ASSERT_TRUE(saved.AddPictureToAlbum(0, path));
    saved.AddAlbum("Second");
    ASSERT_TRUE(saved.AddPictureToAlbum(1, a));
    ASSERT_TRUE(saved.RotatePictures(0, {0}, Rotation::Clockwise));
    ASSERT_TRUE(saved.RotatePictures(0, {2}, Rotation::CounterClockwise));
    ASSERT_TRUE(saved.RotatePictures(1, {0, 0}, Rotation::Clockwise));

    const std::string path = folder.Path("trip.lvx");
    ASSERT_TRUE(saved.SaveProject(path));
    const std::string text = ReadText(path);
    EXPECT_NE(text.find("Image_01=" + a + "\nRotate_01=90\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Rotate_02"), std::string::npos) << "none for the unturned one";
    EXPECT_NE(text.find("Rotate_03=270\n"), std::string::npos) << text;

    loaded.ResetProject();
    const ProjectLoadResult result = loaded.LoadProject(path);
    ASSERT_TRUE(result.Loaded()) << result.error;
    EXPECT_TRUE(result.skipped.empty());
    ASSERT_EQ(loaded.AlbumCount(), 2);
    EXPECT_EQ(loaded.CurrentAlbum(), 1);
    for (int album = 0; album < 2; ++album) {
        EXPECT_EQ(loaded.Album(album).name, saved.Album(album).name);
        EXPECT_EQ(loaded.Album(album).waitTime, saved.Album(album).waitTime);
        ASSERT_EQ(loaded.PictureCount(album), saved.PictureCount(album));
        for (int i = 0; i < saved.PictureCount(album); ++i) {
            const PictureItem& want = saved.Picture(album, i);
            const PictureItem& got = loaded.Picture(album, i);
            SCOPED_TRACE("album " + std::to_string(album) + " picture " + std::to_string(i));
            EXPECT_EQ(got.path, want.path);
            EXPECT_EQ(got.rotation, want.rotation);
            EXPECT_EQ(got.rotated, want.rotated);
            EXPECT_EQ(got.picture->Width(), want.picture->Width());
            EXPECT_EQ(got.slidePlacement, want.slidePlacement);
        }
    }
    EXPECT_EQ(loaded.Picture(0, 0).picture->Width(), 30);
    EXPECT_EQ(loaded.Picture(1, 0).rotation, 180);
    EXPECT_EQ(observer.loadsStarted, 1);
    EXPECT_EQ(observer.loadsFinished, 1);
    EXPECT_EQ(observer.status, "Total Album : 02  Total Photos: 4");
}

TEST_F(ProjectFileTest, SmallerSaveLeavesStaleKeysThatAreNotLoaded)
{
    const std::string path = folder.Path("same.lvx");
    for (const char* name : {"one", "two", "three"}) {
        const int album = saved.AddAlbum(name);
        for (int i = 0; i < 3; ++i)
            saved.AddPictureToAlbum(album, Format("/p/%s%d.jpg", name, i));
    }
    // Both turns of album 1 are stored, then the second picture is turned back.
    saved.RotatePictures(0, {0, 1}, Rotation::Clockwise);
    ASSERT_TRUE(saved.SaveProject(path));
    saved.RotatePictures(0, {1}, Rotation::CounterClockwise);
    saved.RemoveAlbum(2);
    saved.RemoveAlbum(1);
    saved.RemovePictures(0, {2});
    ASSERT_TRUE(saved.SaveProject(path));

    const std::string text = ReadText(path);
    EXPECT_NE(text.find("[Album_03]"), std::string::npos) << "stale sections stay";
    EXPECT_NE(text.find("Image_03=/p/one2.jpg"), std::string::npos) << "stale keys stay";
    EXPECT_EQ(text.find("Rotate_02"), std::string::npos) << "a turn undone is not kept";
    EXPECT_NE(text.find("Album_Count=1"), std::string::npos);

    const ProjectLoadResult result = LoadText(text);
    ASSERT_TRUE(result.Loaded());
    ASSERT_EQ(loaded.AlbumCount(), 1);
    ASSERT_EQ(loaded.PictureCount(0), 2);
    EXPECT_EQ(loaded.Picture(0, 0).rotation, 90);
    EXPECT_EQ(loaded.Picture(0, 1).rotation, 0);
}

TEST_F(ProjectFileTest, ReadsWhatTheFileHoldsAndDefaultsTheRest)
{
    const ProjectLoadResult result = LoadText("[general]\r\n"
                                              "DESCRIPTION=Lumivox Project\r\n"
                                              "Album_Count=2\r\n"
                                              "[ALBUM_01]\r\n"
                                              "name=Gaps\r\n"
                                              "Image_Count=3\r\n"
                                              "Image_01=/p/1.jpg\r\n"
                                              "Image_03=/p/3.jpg\r\n"
                                              "Rotate_03=45\r\n"
                                              "[Album_02]\r\n"
                                              "interval=-5\r\n"
                                              "Image_Count=2\r\n"
                                              "Image_01=/p/bad.jpg\r\n"
                                              "Image_02=\r\n");
    ASSERT_TRUE(result.Loaded()) << result.error;
    ASSERT_EQ(loaded.AlbumCount(), 2);
    EXPECT_EQ(loaded.Album(0).name, "Gaps");
    EXPECT_EQ(loaded.Album(0).waitTime, 4) << "missing interval is 4, not the default";
    ASSERT_EQ(loaded.PictureCount(0), 2);
    EXPECT_EQ(loaded.Picture(0, 1).path, "/p/3.jpg");
    EXPECT_EQ(loaded.Picture(0, 1).rotation, 0) << "only quarter turns are taken";
    EXPECT_EQ(loaded.Album(1).name, "");
    EXPECT_EQ(loaded.Album(1).waitTime, 2) << "a negative wait is held at 2";
    EXPECT_EQ(loaded.PictureCount(1), 0);
    ASSERT_EQ(result.skipped.size(), 1u);
    EXPECT_EQ(result.skipped[0].album, 2);
    EXPECT_EQ(result.skipped[0].path, "/p/bad.jpg");
    EXPECT_EQ(result.skipped[0].reason, "Unknown file type.");
    EXPECT_TRUE(observer.messages.empty()) << "undecodable pictures are skipped silently";
}

TEST_F(ProjectFileTest, RefusesFilesThatAreNoProject)
{
    struct Case {
        const char* what;
        std::string text;
    } cases[] = {
        {"letter case differs", "[GENERAL]\nDescription=lumivox project\nAlbum_Count=1\n[Album_01]\nName=x\n"},
        {"no description", "[GENERAL]\nAlbum_Count=1\n"},
        {"empty file", ""},
        {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
    };
    for (const Case& c : cases) {
        observer.messages.clear();
        const ProjectLoadResult result = LoadText(c.text);
        EXPECT_EQ(result.status, ProjectLoadStatus::NotProject) << c.what;
        EXPECT_EQ(loaded.AlbumCount(), 0) << c.what;
        EXPECT_EQ(observer.messages, std::vector<std::string>{kMsgInvalidProject}) << c.what;
    }
    observer.messages.clear();
    const ProjectLoadResult missing = loaded.LoadProject(folder.Path("nowhere.lvx"));
    EXPECT_EQ(missing.status, ProjectLoadStatus::Unreadable);
    EXPECT_NE(missing.error.find("nowhere.lvx"), std::string::npos) << missing.error;
    EXPECT_EQ(observer.messages, std::vector<std::string>{kMsgInvalidProject});
}

TEST_F(ProjectFileTest, LoadingDecodesOnEveryCoreButAddsInFileOrder)
{
    // Real decoding, so that the pictures are decoded by the loader's workers. A broken
    // picture early in a crowded album frees a place for the 100th key, exactly as one
    // decode after the other would; the 101st is beyond the limit.
    loaded.SetPictureDecoder({});
    std::string text = "[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=2\n"
                       "[Album_01]\nName=Crowded\nImage_Count=101\n";
    for (int j = 1; j <= 101; ++j) {
        const std::string path = folder.Path(Format("p%03d.bmp", j));
        if (j == 3)
            WriteText(path, "BM but not a bitmap");
        else
            test::WriteBmp24(path, 8 + j % 5, 6);
        text += Format("Image_%02d=%s\n", j, path.c_str());
        if (j == 4)
            text += "Rotate_04=90\n";
    }
    text += Format("[Album_02]\nName=Small\nImage_Count=1\nImage_01=%s\n", folder.Path("p001.bmp").c_str());
    const ProjectLoadResult result = LoadText(text);
    ASSERT_TRUE(result.Loaded()) << result.error;
    ASSERT_EQ(loaded.AlbumCount(), 2);
    ASSERT_EQ(loaded.PictureCount(0), 99);
    EXPECT_EQ(loaded.Picture(0, 1).path, folder.Path("p002.bmp"));
    EXPECT_EQ(loaded.Picture(0, 2).path, folder.Path("p004.bmp"));
    EXPECT_EQ(loaded.Picture(0, 2).rotation, 90);
    EXPECT_EQ(loaded.Picture(0, 2).picture->Width(), 6) << "turned a quarter";
    EXPECT_EQ(loaded.Picture(0, 98).path, folder.Path("p100.bmp"));
    for (int i = 0; i < 99; ++i)
        EXPECT_EQ(loaded.Picture(0, i).listPosition, i);
    ASSERT_EQ(result.skipped.size(), 2u);
    EXPECT_EQ(result.skipped[0].path, folder.Path("p003.bmp"));
    EXPECT_EQ(result.skipped[1].path, folder.Path("p101.bmp"));
    EXPECT_EQ(result.skipped[1].reason, kMsgPictureLimit);
    EXPECT_EQ(loaded.PictureCount(1), 1);
}

TEST_F(ProjectFileTest, AbsurdCountsLoadWhatIsThere)
{
    std::string text = "[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=100000\n";
    for (int i = 1; i <= 101; ++i) {
        text += Format("[Album_%02d]\nName=A%d\nImage_Count=%d\n", i, i, i == 1 ? -5 : 1);
        text += "Image_01=/p/x.jpg\n";
    }
    // A hand-made album with more picture keys than an album holds.
    text += "[Album_02]\nImage_Count=2000000000\n";
    // Sections past the 999 looked at one by one still count when the count names them.
    text += "[Album_1000]\n[album_54321]\n[Album_01000]\n[Album_200000]\n[Album_54321]\n";
    const ProjectLoadResult result = LoadText(text);
    ASSERT_TRUE(result.Loaded());
    EXPECT_EQ(loaded.AlbumCount(), 99);
    EXPECT_EQ(result.albumsBeyondLimit, 4);
    EXPECT_EQ(loaded.PictureCount(0), 0) << "Image_Count -5";
    EXPECT_EQ(loaded.PictureCount(1), 1) << "the first [Album_02] counts";
    EXPECT_EQ(loaded.Album(98).name, "A99");
    EXPECT_EQ(observer.messages, std::vector<std::string>{kMsgAlbumLimit});

    std::string full = "[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=3\n"
                       "[Album_01]\nName=Full\nImage_Count=150\n";
    for (int j = 1; j <= 150; ++j)
        full += Format("Image_%02d=/p/%d.jpg\n", j, j);
    const ProjectLoadResult crowded = LoadText(full);
    EXPECT_EQ(loaded.AlbumCount(), 1) << "sections that do not exist make no albums";
    EXPECT_EQ(loaded.PictureCount(0), 99);
    ASSERT_EQ(crowded.skipped.size(), 51u);
    EXPECT_EQ(crowded.skipped[0].path, "/p/100.jpg");
    EXPECT_EQ(crowded.skipped[0].reason, kMsgPictureLimit);
}

TEST_F(ProjectFileTest, GarbageNeverCrashes)
{
    std::string text = "[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=5\n";
    std::uint32_t seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245u + 12345u;
        const char c = static_cast<char>(seed >> 24);
        text += (i % 97 == 0) ? std::string("\n[Album_0") + static_cast<char>('1' + i % 5) +
                                    "]\nImage_Count=9\nImage_0" + static_cast<char>('1' + i % 9) + "="
                              : std::string(1, c);
    }
    const ProjectLoadResult result = LoadText(text);
    EXPECT_TRUE(result.Loaded());
    EXPECT_LE(loaded.AlbumCount(), 5);
    for (int album = 0; album < loaded.AlbumCount(); ++album)
        EXPECT_LE(loaded.Album(album).name.size(), kMaxTextBytes);
}

// Real pictures at paths of 300 and more bytes (deep folders, non-Latin names) load,
// stay whole in memory and are saved whole.
TEST(ProjectFileLongPaths, PathsLongerThanTheNameFieldAreKeptWhole)
{
    ScratchFolder folder;
    std::string deep = folder.Folder().string();
    // Each folder name is 120 bytes of Cyrillic, well inside a file system's 255.
    std::string segment;
    while (segment.size() < 120)
        segment += "\xD1\x84"; // ф
    for (int i = 0; i < 3; ++i) {
        deep += "/" + segment;
        std::filesystem::create_directory(deep);
    }
    const std::string picture = deep + "/photo.bmp";
    ASSERT_GT(picture.size(), 300u);
    test::WriteBmp24(picture, 8, 6);

    AlbumTable table;
    table.AddAlbum("Deep");
    std::string error;
    ASSERT_TRUE(table.AddPictureToAlbum(0, picture, {}, nullptr, &error)) << error;
    const std::string path = folder.Path("deep.lvx");
    ASSERT_TRUE(table.SaveProject(path, &error)) << error;
    EXPECT_NE(ReadText(path).find("Image_01=" + picture + "\n"), std::string::npos);

    AlbumTable loaded;
    const ProjectLoadResult result = loaded.LoadProject(path);
    ASSERT_TRUE(result.Loaded()) << result.error;
    EXPECT_TRUE(result.skipped.empty());
    ASSERT_EQ(loaded.PictureCount(0), 1);
    EXPECT_EQ(loaded.Picture(0, 0).path, picture);
}

// Files that are not text as this program writes it: a UTF-8 byte-order mark from a
// Windows editor, and names in the Windows code page of the machine that wrote them.
TEST_F(ProjectFileTest, ByteOrderMarkAndWindowsCodePageNames)
{
    struct Case {
        const char* name;
        std::string file;
        std::string albumName; // as UTF-8
    };
    const std::string body = "[GENERAL]\r\nDescription=Lumivox Project\r\nVersion=1.0\r\nAlbum_Count=1\r\n"
                             "[Album_01]\r\nName=";
    const std::string tail = "\r\ninterval=4\r\nImage_Count=1\r\nImage_01=/p/a.jpg\r\n";
    const Case cases[] = {
        {"byte-order mark", "\xEF\xBB\xBF" + body + "Caf\xC3\xA9" + tail, "Caf\xC3\xA9"},
        {"Windows-1252", body + "Caf\xE9 \x80 \x93 \x9F" + tail, "Caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9C \xC5\xB8"},
        {"byte-order mark and Windows-1252",
         "\xEF\xBB\xBF" + body +
             "Stra\xDF"
             "e" +
             tail,
         "Stra\xC3\x9F"
         "e"},
        {"UTF-8 is taken as it is", body + "\xE6\x9D\xB1\xE4\xBA\xAC" + tail, "\xE6\x9D\xB1\xE4\xBA\xAC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProjectLoadResult result = LoadText(c.file);
        ASSERT_TRUE(result.Loaded()) << result.error;
        ASSERT_EQ(loaded.AlbumCount(), 1);
        EXPECT_EQ(loaded.Album(0).name, c.albumName);
        EXPECT_EQ(loaded.PictureCount(0), 1);
        // Saved without a change, the file keeps its bytes (the mark and the code page).
        const std::string path = folder.Path("test.lvx");
        ASSERT_TRUE(loaded.SaveProject(path));
        EXPECT_EQ(ReadText(path), c.file);
    }
    // A renamed album is written as UTF-8.
    LoadText(body + "Caf\xE9" + tail);
    loaded.RenameAlbum(0, "Caf\xC3\xA9 au lait");
    ASSERT_TRUE(loaded.SaveProject(folder.Path("test.lvx")));
    EXPECT_NE(ReadText(folder.Path("test.lvx")).find("Name=Caf\xC3\xA9 au lait\r\n"), std::string::npos);
}

// Saving over a read-only project refuses with a message naming the file and leaves it
// as it was (the temporary file is not renamed over it).
TEST_F(ProjectFileTest, ReadOnlyProjectIsNotReplaced)
{
    const std::string path = folder.Path("kept.lvx");
    const std::string old = "[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=0\n";
    WriteText(path, old);
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    saved.AddAlbum("New");
    std::string error;
    EXPECT_FALSE(saved.SaveProject(path, &error));
    EXPECT_EQ(error, "Cannot save " + path + ": the file is read-only");
    EXPECT_EQ(ReadText(path), old);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Folder()))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 1) << "a temporary file was left behind";
}

// A picture key naming a FIFO, a device or a folder: the picture is left out with the
// reason, and loading never waits for a writer.
TEST(ProjectFileHostile, PicturesThatAreNoRegularFilesAreLeftOut)
{
    ScratchFolder folder;
    const std::string fifo = folder.Path("photo.jpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string good = folder.Path("good.bmp");
    test::WriteBmp24(good, 8, 6);
    const std::string path = folder.Path("hostile.lvx");
    WriteText(path, "[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=1\n[Album_01]\nName=A\n"
                    "Image_Count=4\nImage_01=" +
                        fifo + "\nImage_02=/dev/zero\nImage_03=" + folder.Folder().string() + "\nImage_04=" + good +
                        "\n");
    AlbumTable table;
    const ProjectLoadResult result = table.LoadProject(path);
    ASSERT_TRUE(result.Loaded()) << result.error;
    EXPECT_EQ(table.PictureCount(0), 1);
    ASSERT_EQ(result.skipped.size(), 3u);
    for (const SkippedPicture& skipped : result.skipped)
        EXPECT_NE(skipped.reason.find("not a regular file"), std::string::npos)
            << skipped.path << ": " << skipped.reason;
}

} // namespace
} // namespace lumivox
