// SPDX-License-Identifier: GPL-2.0-or-later
// The project as an item model sees it: every structural change announced before (the
// project still old) and after (the project new), in begin/end pairs; OnModified for
// every change the file stores and never for a load. Then lazy loading, the 99-picture
// limit while decoding, and albums made from folders in natural name order.

#include "project/project_helpers.h"

#include "picture/PLTextException.h"
#include "project/ProjectFolders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <sstream>

namespace lumivox::test {
namespace {

namespace fs = std::filesystem;

// What a QAbstractItemModel over the project would hold: album names and, per album,
// its picture paths. It copies rows from the project only inside the calls that say
// they changed, and checks on every call that begin and end pair up and that the
// project shows the old state before and the new state after.
class MirrorModel : public ProjectObserver {
public:
    explicit MirrorModel(const AlbumTable& project) : project_(project) { Reload(); }

    void OnAboutToInsertAlbums(int first, int last) override
    {
        Begin("insert albums", {first, last});
        Expect(first == static_cast<int>(albums_.size()) || (first >= 0 && first < static_cast<int>(albums_.size())),
               "insert albums at a row that does not exist");
        Expect(last >= first, "insert albums: last before first");
        ExpectProjectAsMirror("before inserting albums");
    }
    void OnAlbumsInserted(int first, int last) override
    {
        End("insert albums", {first, last});
        for (int row = first; row <= last; ++row)
            albums_.insert(albums_.begin() + row, AlbumFromProject(row));
        ExpectProjectAsMirror("after inserting albums");
    }
    void OnAboutToRemoveAlbums(int first, int last) override
    {
        Begin("remove albums", {first, last});
        Expect(first >= 0 && last < static_cast<int>(albums_.size()) && first <= last, "remove albums out of range");
        ExpectProjectAsMirror("before removing albums");
    }
    void OnAlbumsRemoved(int first, int last) override
    {
        End("remove albums", {first, last});
        albums_.erase(albums_.begin() + first, albums_.begin() + last + 1);
        ExpectProjectAsMirror("after removing albums");
    }
    void OnAboutToInsertPictures(int album, int first, int last) override
    {
        Begin("insert pictures", {album, first, last});
        ExpectProjectAsMirror("before inserting pictures");
    }
    void OnPicturesInserted(int album, int first, int last) override
    {
        End("insert pictures", {album, first, last});
        auto& pictures = albums_.at(static_cast<std::size_t>(album)).pictures;
        for (int row = first; row <= last; ++row)
            pictures.insert(pictures.begin() + row, project_.Picture(album, row).path);
        ExpectProjectAsMirror("after inserting pictures");
    }
    void OnAboutToRemovePictures(int album, int first, int last) override
    {
        Begin("remove pictures", {album, first, last});
        const auto& pictures = albums_.at(static_cast<std::size_t>(album)).pictures;
        Expect(first >= 0 && last < static_cast<int>(pictures.size()) && first <= last, "remove pictures out of range");
        ExpectProjectAsMirror("before removing pictures");
    }
    void OnPicturesRemovedRange(int album, int first, int last) override
    {
        End("remove pictures", {album, first, last});
        auto& pictures = albums_.at(static_cast<std::size_t>(album)).pictures;
        pictures.erase(pictures.begin() + first, pictures.begin() + last + 1);
        ExpectProjectAsMirror("after removing pictures");
    }
    void OnAboutToMovePictures(int album, int first, int last, int destination) override
    {
        Begin("move pictures", {album, first, last, destination});
        ExpectProjectAsMirror("before moving pictures");
    }
    void OnPicturesMoved(int album, int first, int last, int destination) override
    {
        End("move pictures", {album, first, last, destination});
        auto& pictures = albums_.at(static_cast<std::size_t>(album)).pictures;
        std::vector<std::string> moved(pictures.begin() + first, pictures.begin() + last + 1);
        pictures.erase(pictures.begin() + first, pictures.begin() + last + 1);
        const int to = destination > last ? destination - (last - first + 1) : destination;
        pictures.insert(pictures.begin() + to, moved.begin(), moved.end());
        ExpectProjectAsMirror("after moving pictures");
    }
    void OnAboutToReset() override
    {
        Begin("reset", {});
        ++resets;
    }
    void OnResetDone() override
    {
        End("reset", {});
        Reload();
    }
    void OnModified() override { ++modified; }

    // Each failed check, with the operation it was seen in.
    std::vector<std::string> problems;
    int resets = 0;
    int modified = 0;

    void ExpectProjectAsMirror(const std::string& when)
    {
        const std::string difference = DifferenceFromProject();
        if (!difference.empty())
            problems.push_back(when + ": " + difference);
    }
    bool Open() const { return !pending_.empty(); }

private:
    struct Album {
        std::string name;
        std::vector<std::string> pictures;
    };

    Album AlbumFromProject(int row) const
    {
        Album album{project_.Album(row).name, {}};
        for (int p = 0; p < project_.PictureCount(row); ++p)
            album.pictures.push_back(project_.Picture(row, p).path);
        return album;
    }
    void Reload()
    {
        albums_.clear();
        for (int a = 0; a < project_.AlbumCount(); ++a)
            albums_.push_back(AlbumFromProject(a));
    }
    std::string DifferenceFromProject() const
    {
        std::ostringstream out;
        if (static_cast<int>(albums_.size()) != project_.AlbumCount()) {
            out << "the model has " << albums_.size() << " album rows, the project " << project_.AlbumCount()
                << " albums";
            return out.str();
        }
        for (int a = 0; a < project_.AlbumCount(); ++a) {
            const Album& mirrored = albums_[static_cast<std::size_t>(a)];
            const Album actual = AlbumFromProject(a);
            if (mirrored.pictures != actual.pictures) {
                out << "album " << a << ": the model has " << mirrored.pictures.size() << " picture rows [";
                for (const std::string& p : mirrored.pictures)
                    out << fs::path(p).filename().string() << ' ';
                out << "], the project [";
                for (const std::string& p : actual.pictures)
                    out << fs::path(p).filename().string() << ' ';
                out << "]";
                return out.str();
            }
        }
        return {};
    }
    void Begin(const std::string& what, std::vector<int> arguments)
    {
        if (!pending_.empty())
            problems.push_back("begin " + what + " while " + pending_ + " is still open");
        pending_ = what;
        arguments_ = std::move(arguments);
    }
    void End(const std::string& what, const std::vector<int>& arguments)
    {
        if (pending_ != what)
            problems.push_back("end " + what + " without its begin (open: '" + pending_ + "')");
        else if (arguments != arguments_)
            problems.push_back("end " + what + " with other rows than its begin");
        pending_.clear();
    }
    void Expect(bool condition, const std::string& text)
    {
        if (!condition)
            problems.push_back(text);
    }

    const AlbumTable& project_;
    std::vector<Album> albums_;
    std::string pending_;
    std::vector<int> arguments_;
};

std::string Lines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += "\n  " + line;
    return text;
}

class ProjectModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        project.SetObserver(nullptr);
        project.ResetProject();
        project.SetPictureDecoder(FakeDecoder());
        for (int a = 0; a < 3; ++a) {
            const int album = project.AddAlbum("Album " + std::to_string(a));
            for (int p = 0; p < 5; ++p)
                project.AddPictureToAlbum(album, "/pictures/a" + std::to_string(a) + "_p" + std::to_string(p) + ".jpg");
        }
        model = std::make_unique<MirrorModel>(project);
        project.SetObserver(model.get());
    }
    void TearDown() override { project.SetObserver(nullptr); }

    AlbumTable project;
    std::unique_ptr<MirrorModel> model;
};

TEST_F(ProjectModelTest, EveryChangeIsAnnouncedBeforeAndAfterAndMarksTheProjectModified)
{
    const struct {
        const char* name;
        std::function<void(AlbumTable&)> change;
        int modified; // OnModified calls
        int resets; // reset pairs
    } cases[] = {
        {"AddAlbum", [](AlbumTable& p) { p.AddAlbum("New"); }, 1, 0},
        {"RemoveAlbum of the middle", [](AlbumTable& p) { p.RemoveAlbum(1); }, 1, 0},
        {"RemoveAlbum of the first", [](AlbumTable& p) { p.RemoveAlbum(0); }, 1, 0},
        {"RemoveAlbum of nothing selected", [](AlbumTable& p) { p.RemoveAlbum(-1); }, 0, 0},
        {"AddPictureToAlbum", [](AlbumTable& p) { p.AddPictureToAlbum(1, "/pictures/new.jpg"); }, 1, 0},
        {"AddPictureToAlbum that fails", [](AlbumTable& p) { p.AddPictureToAlbum(1, "/pictures/bad.jpg"); }, 0, 0},
        {"AddPictureToAlbum of an empty album",
         [](AlbumTable& p) { p.AddPictureToAlbum(p.AddAlbum("Empty"), "/pictures/first.jpg"); }, 2, 0},
        {"RemovePictures, several, unsorted, repeated",
         [](AlbumTable& p) {
             p.RemovePictures(0, {3, 0, 4, 0, 9, 2});
         },
         1, 0},
        {"RemovePictures of one", [](AlbumTable& p) { p.RemovePictures(2, {4}); }, 1, 0},
        {"RemoveAllPictures", [](AlbumTable& p) { p.RemoveAllPictures(1); }, 1, 0},
        {"RemoveAllPictures of an empty album",
         [](AlbumTable& p) {
             p.RemoveAllPictures(1);
             p.RemoveAllPictures(1);
         },
         1, 0},
        {"RenameAlbum", [](AlbumTable& p) { p.RenameAlbum(2, "Renamed"); }, 1, 0},
        {"SetAlbumWaitTime", [](AlbumTable& p) { p.SetAlbumWaitTime(0, 17); }, 1, 0},
        {"RotatePictures",
         [](AlbumTable& p) {
             p.RotatePictures(0, {0, 2}, Rotation::Clockwise);
         },
         1, 0},
        {"MovePictures of the first two to the end",
         [](AlbumTable& p) {
             p.MovePictures(0, {0, 1}, 5);
         },
         1, 0},
        {"MovePictures scattered, to the front",
         [](AlbumTable& p) {
             p.MovePictures(1, {4, 2}, 0);
         },
         1, 0},
        {"MovePictures onto itself", [](AlbumTable& p) { p.MovePictures(1, {2}, 2); }, 0, 0},
        {"ResetProject", [](AlbumTable& p) { p.ResetProject(); }, -1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.change(project);
        EXPECT_FALSE(model->Open()) << "a begin without its end";
        model->ExpectProjectAsMirror("at the end");
        EXPECT_TRUE(model->problems.empty()) << Lines(model->problems);
        if (c.modified >= 0) {
            EXPECT_EQ(model->modified, c.modified);
        }
        EXPECT_EQ(model->resets, c.resets);
        TearDown();
    }
}

// Dragged slides land before the slide under the drop point, in the order they had; a
// drop past the last slide appends them. The cover follows the first picture.
TEST_F(ProjectModelTest, MovePicturesPutsTheSelectionBeforeTheTarget)
{
    const struct {
        std::vector<int> positions;
        int target;
        const char* order; // slide numbers of album 0 afterwards, counting from 1
        bool moved;
    } cases[] = {
        {{0, 1}, 5, "34512", true},  {{0, 1}, 99, "34512", true},    {{0, 1}, 3, "31245", true},
        {{3, 4}, 0, "45123", true},  {{4, 1}, 3, "13254", true},     {{1, 2}, 1, "12345", false}, // onto itself
        {{1, 2}, 2, "12345", false}, {{2, 7, -1}, 0, "31245", true}, // rows that do not exist are ignored
    };
    for (const auto& c : cases) {
        SetUp();
        SCOPED_TRACE(::testing::Message() << "target " << c.target);
        EXPECT_EQ(project.MovePictures(0, c.positions, c.target), c.moved);
        std::string order;
        for (int p = 0; p < project.PictureCount(0); ++p) {
            const std::string& path = project.Picture(0, p).path;
            order += static_cast<char>('1' + (path[path.size() - 5] - '0'));
            EXPECT_EQ(project.Picture(0, p).listPosition, p);
        }
        EXPECT_EQ(order, c.order);
        EXPECT_EQ(project.Album(0).Cover(), &project.Picture(0, 0));
        EXPECT_TRUE(model->problems.empty()) << Lines(model->problems);
        TearDown();
    }
    SetUp();
    RecordingObserver messages;
    project.SetObserver(&messages);
    EXPECT_FALSE(project.MovePictures(0, {}, 2));
    EXPECT_EQ(messages.messages, std::vector<std::string>{kMsgSelectItem});
}

// Loading is one reset of the whole model, and is not a change of the project.
TEST_F(ProjectModelTest, LoadingIsOneResetAndNoModification)
{
    ScratchFolder scratch;
    const std::string file = scratch.Path("p.lvx");
    WriteText(file, "[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=2\n"
                    "[Album_01]\nName=One\nImage_Count=3\nImage_01=/x/1.jpg\nImage_02=/x/bad.jpg\nImage_03=/x/3.jpg\n"
                    "[Album_02]\nName=Two\nImage_Count=1\nImage_01=/x/4.jpg\nRotate_01=90\n");
    for (PictureLoading loading : {PictureLoading::Eager, PictureLoading::Lazy}) {
        SCOPED_TRACE(loading == PictureLoading::Eager ? "eager" : "lazy");
        project.ResetProject();
        model->resets = 0;
        model->modified = 0;
        const ProjectLoadResult result = project.LoadProject(file, loading);
        ASSERT_TRUE(result.Loaded()) << result.error;
        EXPECT_EQ(result.skipped.size(), 1u);
        EXPECT_EQ(project.AlbumCount(), 2);
        EXPECT_EQ(model->resets, 1);
        EXPECT_EQ(model->modified, 0);
        EXPECT_FALSE(model->Open());
        model->ExpectProjectAsMirror("after loading");
        EXPECT_TRUE(model->problems.empty()) << Lines(model->problems);
    }
    // A file that is no project changes nothing.
    WriteText(scratch.Path("other.lvx"), "[GENERAL]\nDescription=Something Else\n");
    model->resets = 0;
    EXPECT_FALSE(project.LoadProject(scratch.Path("other.lvx")).Loaded());
    EXPECT_EQ(model->resets, 0);
    EXPECT_EQ(project.AlbumCount(), 2);
}

// ---- lazy loading and the 99-picture limit ----------------------------------------------

// A JPEG whose header reads soundly but that cannot be decoded: its first component names
// quantisation table 3, which the file never defines. The library finds that out only
// when decoding starts, so the header check passes and the full decode fails. (A file
// merely cut short decodes what it holds.)
void WriteJpegWithBrokenData(const std::string& path)
{
    std::ifstream in(std::string(LUMIVOX_SOURCE_DIR) + "/samples/sunset_coast_01.jpg", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(bytes.size(), 1000u);
    const std::size_t sof = bytes.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    // FF C0, length (2), precision (1), height (2), width (2), components (1), then per
    // component: id, sampling, quantisation table.
    bytes[sof + 12] = 3;
    WriteText(path, bytes);
}

TEST(ProjectLazyLoading, OnlyCoversAreDecodedAndHeadersDecideTheRest)
{
    ScratchFolder scratch;
    const std::string good1 = scratch.Path("good1.bmp");
    const std::string good2 = scratch.Path("good2.bmp");
    const std::string brokenData = scratch.Path("broken_data.jpg");
    const std::string brokenHeader = scratch.Path("broken_header.jpg");
    WriteBmp24(good1, 40, 30);
    WriteBmp24(good2, 50, 20);
    WriteJpegWithBrokenData(brokenData);
    WriteText(brokenHeader, "\xFF\xD8\xFF this is no JPEG header");
    const std::string file = scratch.Path("p.lvx");
    // Album 1: a sound cover, then the two broken files and another sound one.
    // Album 2: a cover with broken data (fails its full decode), so the next is the cover.
    WriteText(file, "[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=2\n"
                    "[Album_01]\nName=One\nImage_Count=4\nImage_01=" +
                        good1 + "\nImage_02=" + brokenData + "\nImage_03=" + brokenHeader + "\nImage_04=" + good2 +
                        "\n[Album_02]\nName=Two\nImage_Count=2\nImage_01=" + brokenData + "\nImage_02=" + good2 +
                        "\nRotate_02=90\n");

    const struct {
        PictureLoading loading;
        std::vector<std::vector<std::string>> pictures;
        std::vector<std::string> skipped;
    } cases[] = {
        {PictureLoading::Lazy, {{good1, brokenData, good2}, {good2}}, {brokenHeader, brokenData}},
        {PictureLoading::Eager, {{good1, good2}, {good2}}, {brokenData, brokenHeader, brokenData}},
        // By headers only nothing is decoded, and broken data is found only by the slide.
        {PictureLoading::HeadersOnly, {{good1, brokenData, good2}, {brokenData, good2}}, {brokenHeader}},
    };
    for (const auto& c : cases) {
        const bool lazy = c.loading == PictureLoading::Lazy;
        const bool headersOnly = c.loading == PictureLoading::HeadersOnly;
        SCOPED_TRACE(lazy ? "lazy" : headersOnly ? "headers only" : "eager");
        AlbumTable project;
        const ProjectLoadResult result = project.LoadProject(file, c.loading);
        ASSERT_TRUE(result.Loaded()) << result.error;
        ASSERT_EQ(project.AlbumCount(), 2);
        std::vector<std::string> skipped;
        for (const SkippedPicture& s : result.skipped)
            skipped.push_back(s.path);
        std::sort(skipped.begin(), skipped.end());
        std::vector<std::string> expectedSkipped = c.skipped;
        std::sort(expectedSkipped.begin(), expectedSkipped.end());
        EXPECT_EQ(skipped, expectedSkipped);
        for (int a = 0; a < 2; ++a) {
            SCOPED_TRACE("album " + std::to_string(a + 1));
            std::vector<std::string> paths;
            for (int p = 0; p < project.PictureCount(a); ++p)
                paths.push_back(project.Picture(a, p).path);
            EXPECT_EQ(paths, c.pictures[static_cast<std::size_t>(a)]);
            for (int p = 0; p < project.PictureCount(a); ++p) {
                const PictureItem& picture = project.Picture(a, p);
                const bool decoded = !headersOnly && (!lazy || p == 0);
                EXPECT_EQ(picture.picture != nullptr, decoded) << picture.path;
                EXPECT_EQ(picture.slideThumbnail != nullptr, decoded) << picture.path;
            }
        }
        if (headersOnly)
            continue;
        // The second album's cover is turned as the file says.
        EXPECT_EQ(project.Picture(1, 0).rotation, 90);
        ASSERT_NE(project.Picture(1, 0).picture, nullptr);
        EXPECT_EQ(project.Picture(1, 0).picture->Width(), 20);
        EXPECT_EQ(project.Picture(1, 0).picture->Height(), 50);
    }
}

// One photo listed as every album's cover is read once, and every album gets a cover of
// its own from it.
TEST(ProjectLoading, OnePhotoInManyAlbumsGivesEachItsCover)
{
    ScratchFolder scratch;
    const std::string photo = scratch.Path("photo.bmp");
    WriteBmp24(photo, 40, 30);
    std::string text = "[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=3\n";
    for (int a = 1; a <= 3; ++a)
        text += "[Album_0" + std::to_string(a) + "]\nName=A\nImage_Count=2\nImage_01=" + photo + "\nImage_02=" + photo +
                "\n";
    const std::string file = scratch.Path("p.lvx");
    WriteText(file, text);
    AlbumTable project;
    ASSERT_TRUE(project.LoadProject(file, PictureLoading::Lazy).Loaded());
    ASSERT_EQ(project.AlbumCount(), 3);
    for (int a = 0; a < 3; ++a) {
        ASSERT_EQ(project.PictureCount(a), 2);
        ASSERT_NE(project.Picture(a, 0).picture, nullptr);
        EXPECT_EQ(project.Picture(a, 0).picture->Width(), 40);
        EXPECT_NE(project.Picture(a, 0).slideThumbnail, nullptr);
        if (a > 0) {
            EXPECT_NE(project.Picture(a, 0).picture.get(), project.Picture(0, 0).picture.get());
        }
    }
}

// A decoder that counts its calls and refuses the paths it is told to.
struct CountingDecoder {
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);
    PictureDecoder Decoder() const
    {
        auto counter = calls;
        return [counter](const std::string& path, PicBitmap& target) {
            ++*counter;
            if (path.find("bad") != std::string::npos)
                throw PLTextException(PL_ERRUNKNOWN_FILE_TYPE, "Unknown file type.");
            target.Create(8, 6, 32, false);
        };
    }
};

ProjectListing ListingOf(const std::vector<std::string>& names)
{
    ProjectListing listing;
    ListedAlbum& album = listing.albums.emplace_back();
    album.name = "Big";
    for (const std::string& name : names)
        album.pictures.push_back({"/p/" + name, 0});
    return listing;
}

TEST(ProjectDecodeLimit, AnAlbumOf150DecodesAt99PlusTheFailures)
{
    const struct {
        const char* name;
        std::vector<int> bad; // listed positions (from 0) that fail to decode
        int decodes;
        int lastKept; // listed position of the album's 99th picture
    } cases[] = {
        {"all good", {}, 99, 98},
        {"one bad among the first 99", {5}, 100, 99},
        {"two bad, one at the 99th", {0, 98}, 101, 100},
        {"a bad one past the 99th is not even decoded", {120}, 99, 98},
    };
    for (PictureLoading loading : {PictureLoading::Eager, PictureLoading::Lazy}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (loading == PictureLoading::Lazy ? ", lazy" : ", eager"));
            std::vector<std::string> names;
            for (int i = 0; i < 150; ++i)
                names.push_back((std::find(c.bad.begin(), c.bad.end(), i) != c.bad.end() ? "bad_" : "ok_") +
                                std::to_string(i) + ".jpg");
            CountingDecoder counting;
            ProjectDecodeOptions options;
            options.loading = loading;
            options.decoder = counting.Decoder();
            const DecodedProject decoded = DecodeProjectListing(ListingOf(names), options);
            EXPECT_EQ(counting.calls->load(), c.decodes);
            ASSERT_EQ(decoded.albums.size(), 1u);
            const DecodedAlbum& album = decoded.albums.front();
            ASSERT_EQ(album.pictures.size(), 99u);
            EXPECT_EQ(album.pictures.back().path, "/p/" + names[static_cast<std::size_t>(c.lastKept)]);
            int failed = 0, beyond = 0;
            for (const SkippedPicture& s : album.skipped)
                (s.reason == kMsgPictureLimit ? beyond : failed)++;
            EXPECT_EQ(failed, static_cast<int>(
                                  std::count_if(c.bad.begin(), c.bad.end(), [&](int b) { return b <= c.lastKept; })));
            EXPECT_EQ(beyond, 150 - c.lastKept - 1);
            EXPECT_EQ(album.pictures.size() + album.skipped.size(), 150u);
        }
    }
}

// Through the project: the album holds 99, the rest are reported with the limit's text.
TEST(ProjectDecodeLimit, LoadingKeeps99AndNamesTheRest)
{
    ScratchFolder scratch;
    std::string text = "[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=1\n[Album_01]\nName=Big\nImage_Count=150\n";
    for (int i = 1; i <= 150; ++i)
        text += "Image_" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "=/p/" + (i == 3 ? "bad" : "ok") +
                std::to_string(i) + ".jpg\n";
    WriteText(scratch.Path("big.lvx"), text);
    AlbumTable project;
    CountingDecoder counting;
    project.SetPictureDecoder(counting.Decoder());
    const ProjectLoadResult result = project.LoadProject(scratch.Path("big.lvx"), PictureLoading::Lazy);
    ASSERT_TRUE(result.Loaded());
    EXPECT_EQ(project.PictureCount(0), 99);
    EXPECT_EQ(project.Picture(0, 98).path, "/p/ok100.jpg");
    EXPECT_EQ(counting.calls->load(), 100);
    ASSERT_EQ(result.skipped.size(), 51u);
    EXPECT_EQ(result.skipped.front().path, "/p/bad3.jpg");
    EXPECT_EQ(result.skipped.front().album, 1);
    EXPECT_EQ(result.skipped.back().reason, kMsgPictureLimit);
    EXPECT_EQ(result.skipped.back().path, "/p/ok150.jpg");
}

// ---- albums from folders ----------------------------------------------------------------

TEST(NaturalLess, OrdersNamesAsPeopleReadThem)
{
    // Each pair: left comes strictly before right.
    const std::pair<const char*, const char*> before[] = {
        {"IMG_2", "IMG_10"},
        {"IMG_9.jpg", "IMG_10.jpg"},
        {"img_2", "IMG_3"}, // case does not decide the order
        {"IMG_3", "img_4"},
        {"A", "a"}, // ...only a tie
        {"x01", "x1"}, // equal numbers: the bytes break the tie
        {"x001", "x01"},
        {"x1", "x02"}, // the value first, then the zeros
        {"", "a"},
        {"", "0"},
        {"a", "a0"},
        {"photo", "photo 2"},
        {"2", "10"},
        {"9", "a"},
        {"x99", "x123456789012345678901234567890"}, // no overflow on long numbers
        {"x123456789012345678901234567890", "x123456789012345678901234567891"},
        {"a1b2", "a1b10"},
        {"a10b1", "a10b2"},
    };
    for (const auto& [left, right] : before) {
        EXPECT_TRUE(NaturalLess(left, right)) << '"' << left << "\" < \"" << right << '"';
        EXPECT_FALSE(NaturalLess(right, left)) << '"' << right << "\" < \"" << left << '"';
    }
    for (const char* name : {"", "a", "IMG_10", "x01"})
        EXPECT_FALSE(NaturalLess(name, name)) << name;

    // A strict weak order (std::sort relies on it): irreflexive, asymmetric, transitive,
    // over every triple of a set of awkward names.
    std::vector<std::string> names;
    for (const auto& [left, right] : before) {
        names.push_back(left);
        names.push_back(right);
    }
    for (const std::string& a : names)
        for (const std::string& b : names) {
            if (NaturalLess(a, b)) {
                EXPECT_FALSE(NaturalLess(b, a)) << a << " / " << b;
            }
            for (const std::string& c : names) {
                if (NaturalLess(a, b) && NaturalLess(b, c)) {
                    EXPECT_TRUE(NaturalLess(a, c)) << a << " < " << b << " < " << c;
                }
            }
        }
}

TEST(IsProjectPictureName, ExtensionsInAnyCase)
{
    const std::pair<const char*, bool> cases[] = {
        {"a.jpg", true},  {"a.JPG", true},      {"a.Jpeg", true},  {"a.tif", true}, {"a.TIFF", true},
        {"a.bmp", true},  {"a.eps", true},      {"a.EPS", true},   {"a.png", true}, {"a.gif", false},
        {"a.HEIC", true}, {"a.heif", true},     {"a.WebP", true},  {"a.hif", true}, {"a.avif", false},
        {"jpg", false},   {"a.jpg.txt", false}, {"a.jpgx", false}, {"", false},     {"a.", false},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(IsProjectPictureName(name), expected) << name;
}

TEST(ListFolderAlbums, OneAlbumPerFolderInNaturalOrder)
{
    ScratchFolder scratch;
    const fs::path trip = scratch.Folder() / "Trip 2024";
    const fs::path empty = scratch.Folder() / "empty";
    const fs::path many = scratch.Folder() / "many";
    fs::create_directories(trip / "sub.jpg"); // a folder with a picture's name
    fs::create_directories(empty);
    fs::create_directories(many);
    for (const char* name : {"IMG_10.JPG", "IMG_2.jpg", "img_1.Jpeg", "scan.TIFF", "x.tif", "pic.bmp", "vector.EPS",
                             ".hidden.jpg", "notes.txt", "noext", "photo.png", "PHONE.HEIC", "anim.gif"})
        WriteText((trip / name).string(), "not decoded while listing");
    WriteText((trip / "sub.jpg" / "inner.jpg").string(), "sub-folders are not looked into");
    for (int i = 1; i <= 101; ++i)
        WriteText((many / ("p" + std::to_string(i) + ".bmp")).string(), "x");

    ProjectListing listing;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(ListFolderAlbums({trip.string() + "/", empty.string(), many.string()}, 7, listing, warnings, &error))
        << error;
    ASSERT_EQ(listing.albums.size(), 3u);

    const ListedAlbum& first = listing.albums[0];
    EXPECT_EQ(first.name, "Trip 2024");
    EXPECT_EQ(first.waitTime, 7);
    std::string order;
    for (const ListedPicture& picture : first.pictures) {
        EXPECT_TRUE(fs::path(picture.path).is_absolute()) << picture.path;
        EXPECT_EQ(picture.rotation, 0);
        order += fs::path(picture.path).filename().string() + " ";
    }
    EXPECT_EQ(order, "img_1.Jpeg IMG_2.jpg IMG_10.JPG PHONE.HEIC photo.png pic.bmp scan.TIFF vector.EPS x.tif ");

    EXPECT_EQ(listing.albums[1].name, "empty");
    EXPECT_TRUE(listing.albums[1].pictures.empty());
    EXPECT_EQ(listing.albums[2].pictures.size(), 99u);
    EXPECT_EQ(fs::path(listing.albums[2].pictures.back().path).filename(), "p99.bmp");

    ASSERT_EQ(warnings.size(), 2u) << Lines(warnings);
    EXPECT_NE(warnings[0].find(empty.string()), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find(many.string()), std::string::npos) << warnings[1];
    EXPECT_NE(warnings[1].find("left out: p100.bmp, p101.bmp"), std::string::npos) << warnings[1];
}

TEST(ListFolderAlbums, RefusalsNameTheFolder)
{
    ScratchFolder scratch;
    const std::string file = scratch.Path("a file.jpg");
    WriteText(file, "x");
    const std::string good = scratch.Folder().string();
    const struct {
        const char* name;
        std::vector<std::string> folders;
        std::string text;
    } cases[] = {
        {"a file", {good, file}, file + ": not a folder"},
        {"missing", {scratch.Path("gone")}, scratch.Path("gone")},
        {"100 folders", std::vector<std::string>(100, good), "at most 99 albums"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProjectListing listing;
        std::vector<std::string> warnings;
        std::string error;
        EXPECT_FALSE(ListFolderAlbums(c.folders, 4, listing, warnings, &error));
        EXPECT_NE(error.find(c.text), std::string::npos) << error;
    }
}

} // namespace
} // namespace lumivox::test
