// SPDX-License-Identifier: GPL-2.0-or-later
// The preview's slide show with its decoding worker: the queue stays at most six pictures
// ahead and waits for room, the slides come in order for their wait time, pictures that
// cannot be decoded are left out, and nothing of a stopped album reaches the next show.
// Built also with ThreadSanitizer, which checks the worker against the owner thread.

#include "logic/MenuPaging.h"
#include "logic/SlideShow.h"
#include "picture/FrameRenderer.h"
#include "picture/PLTextException.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace lumivox::test {
namespace {

using namespace std::chrono_literals;
using ui::QueuedSlide;
using ui::SlideQueue;
using ui::SlideShow;

// Tasks posted by the worker, run on the test's thread as the event loop runs them.
class OwnerThread {
public:
    SlideShow::Post Poster()
    {
        return [this](std::function<void()> task) {
            {
                std::lock_guard lock(mutex_);
                tasks_.push_back(std::move(task));
            }
            posted_.notify_all();
        };
    }
    // Runs posted tasks until done() holds; false when it does not within the limit.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            std::deque<std::function<void()>> tasks;
            {
                std::unique_lock lock(mutex_);
                if (!posted_.wait_until(lock, deadline, [&] { return !tasks_.empty(); }))
                    return done();
                tasks.swap(tasks_);
            }
            for (auto& task : tasks)
                task();
        }
        return true;
    }
    // Waits for at least one posted task and runs what is posted; false when none comes
    // within the limit.
    bool WaitAndRun(std::chrono::milliseconds limit = 20s)
    {
        std::deque<std::function<void()>> tasks;
        {
            std::unique_lock lock(mutex_);
            if (!posted_.wait_for(lock, limit, [&] { return !tasks_.empty(); }))
                return false;
            tasks.swap(tasks_);
        }
        for (auto& task : tasks)
            task();
        return true;
    }
    void RunPending()
    {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard lock(mutex_);
            tasks.swap(tasks_);
        }
        for (auto& task : tasks)
            task();
    }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;
};

// The slide timer, fired by the test.
class FakeTimer final : public ui::SlideTimer {
public:
    void Start(std::chrono::milliseconds wait) override
    {
        active = true;
        waits.push_back(wait);
    }
    void Stop() override { active = false; }

    bool active = false;
    std::vector<std::chrono::milliseconds> waits;
};

// A picture's stand-in: its path is "album/position", drawn as a 4 x 3 image whose red
// and green say which album and position it is.
QImage Marked(const PlannedPicture& picture)
{
    const auto slash = picture.path.find('/');
    const int album = std::stoi(picture.path.substr(0, slash));
    const int position = std::stoi(picture.path.substr(slash + 1));
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(QColor(album * 40, position * 10, 0));
    return image;
}
std::string MarkOf(const QImage& image)
{
    const QColor c = image.pixelColor(0, 0);
    return std::to_string(c.red() / 40) + "/" + std::to_string(c.green() / 10);
}

PlannedAlbum MakeAlbum(int album, int pictures, int waitTime = 2)
{
    PlannedAlbum result;
    result.name = "Album " + std::to_string(album);
    result.waitTime = waitTime;
    for (int p = 0; p < pictures; ++p)
        result.pictures.push_back({std::to_string(album) + "/" + std::to_string(p), 0});
    return result;
}

// Polls a condition another thread makes true; false when it does not within the limit.
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::string Joined(const std::vector<std::string>& items)
{
    std::ostringstream out;
    for (std::size_t i = 0; i < items.size(); ++i)
        out << (i ? " " : "") << items[i];
    return out.str();
}

// Everything one show needs, with what it showed.
struct Harness {
    Harness()
        : show(timer, owner.Poster(),
               {[this](const QImage& image, int) { shown.push_back(MarkOf(image)); }, [this] { ++ended; }})
    { }
    // Fires the timer whenever it runs until the album ends.
    bool PlayToTheEnd()
    {
        while (ended == 0) {
            if (timer.active) {
                timer.active = false;
                show.TimerFired();
            } else if (!owner.WaitAndRun()) {
                return false;
            }
        }
        return true;
    }

    OwnerThread owner;
    FakeTimer timer;
    std::vector<std::string> shown;
    int ended = 0;
    SlideShow show;
};

// An album of three pictures with a wait time of 2 seconds: each picture shows, the timer
// is set to 2 seconds from each slide, and the end of the album stops the show.
TEST(SlideShow, ShowsEachPictureForItsWaitTimeThenEnds)
{
    Harness h;
    ASSERT_TRUE(h.show.Play(MakeAlbum(1, 3, 2), Marked));
    EXPECT_TRUE(h.show.IsRunning());
    ASSERT_TRUE(h.PlayToTheEnd());
    EXPECT_EQ(Joined(h.shown), "1/0 1/1 1/2");
    EXPECT_EQ(h.timer.waits, std::vector<std::chrono::milliseconds>(3, 2000ms));
    EXPECT_FALSE(h.show.IsRunning());
    EXPECT_FALSE(h.timer.active);
    EXPECT_EQ(h.ended, 1);
}

// Albums the show refuses: nothing starts.
TEST(SlideShow, AlbumWithoutPicturesDoesNothing)
{
    Harness h;
    EXPECT_FALSE(h.show.Play(MakeAlbum(1, 0), Marked));
    EXPECT_FALSE(h.show.IsRunning());
    EXPECT_EQ(h.show.LiveWorkers(), 0u);
}

// Pictures that cannot be decoded are left out without a message, wherever they are; an
// album of nothing but such pictures ends at once.
TEST(SlideShow, UndecodablePicturesAreLeftOut)
{
    const struct {
        int pictures;
        std::vector<int> broken;
        const char* expected;
    } cases[] = {
        {3, {1}, "1/0 1/2"}, {3, {0}, "1/1 1/2"}, {3, {2}, "1/0 1/1"}, {4, {0, 1, 2, 3}, ""}, {1, {0}, ""},
    };
    for (const auto& c : cases) {
        Harness h;
        const auto broken = c.broken;
        auto renderer = [broken](const PlannedPicture& picture) {
            const int position = std::stoi(picture.path.substr(picture.path.find('/') + 1));
            for (int b : broken)
                if (b == position)
                    throw PLTextException(2, "Unknown file type.");
            return Marked(picture);
        };
        ASSERT_TRUE(h.show.Play(MakeAlbum(1, c.pictures), renderer));
        ASSERT_TRUE(h.PlayToTheEnd()) << c.expected;
        EXPECT_EQ(Joined(h.shown), c.expected);
        EXPECT_EQ(h.ended, 1);
    }
}

// The worker decodes at most six pictures ahead of the screen and then waits for room:
// each slide taken lets exactly one more be decoded.
TEST(SlideShow, WorkerStaysSixPicturesAhead)
{
    std::mutex mutex;
    std::condition_variable changed;
    int rendered = 0;
    auto renderer = [&](const PlannedPicture& picture) {
        {
            std::lock_guard lock(mutex);
            ++rendered;
        }
        changed.notify_all();
        return Marked(picture);
    };
    auto renderedCount = [&] {
        std::lock_guard lock(mutex);
        return rendered;
    };
    Harness h;
    ASSERT_TRUE(h.show.Play(MakeAlbum(1, 20), renderer));
    // The first slide is taken as soon as it arrives; six more fill the queue.
    ASSERT_TRUE(h.owner.RunUntil([&] { return h.shown.size() == 1 && h.show.QueuedSlides() == ui::kSlidesAhead; }));
    EXPECT_EQ(renderedCount(), 7);
    EXPECT_EQ(h.show.LiveWorkers(), 1u);
    h.timer.active = false;
    h.show.TimerFired();
    EXPECT_EQ(h.shown.size(), 2u);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return rendered == 8; }));
    }
    ASSERT_TRUE(h.owner.RunUntil([&] { return h.show.QueuedSlides() == ui::kSlidesAhead; }));
    EXPECT_EQ(renderedCount(), 8);
    h.show.Stop();
    // The waiting worker is woken by the stop and ends without decoding more.
    ASSERT_TRUE(Eventually([&] { return h.show.LiveWorkers() == 0; }));
    EXPECT_EQ(renderedCount(), 8);
    EXPECT_EQ(h.show.QueuedSlides(), 0u);
}

// Stop while the worker is in the middle of a picture, then another album: the first
// album's worker finishes that picture afterwards, and neither it nor anything queued
// before the stop is ever shown; the second album plays whole.
TEST(SlideShow, StoppedAlbumNeverReachesTheNextShow)
{
    for (const int stopAfterShown : {0, 1, 2}) {
        std::mutex mutex;
        std::condition_variable changed;
        bool firstAlbumBlocked = false;
        bool release = false;
        auto renderer = [&](const PlannedPicture& picture) {
            if (picture.path.rfind("1/", 0) == 0 && picture.path == "1/" + std::to_string(stopAfterShown + 3)) {
                std::unique_lock lock(mutex);
                firstAlbumBlocked = true;
                changed.notify_all();
                changed.wait(lock, [&] { return release; });
            }
            return Marked(picture);
        };
        Harness h;
        ASSERT_TRUE(h.show.Play(MakeAlbum(1, 8), renderer));
        ASSERT_TRUE(h.owner.RunUntil([&] { return !h.shown.empty(); }));
        for (int i = 0; i < stopAfterShown; ++i) {
            h.show.TimerFired();
            h.owner.RunPending();
        }
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return firstAlbumBlocked; }));
        }
        h.show.Stop();
        const std::size_t shownOfFirst = h.shown.size();
        ASSERT_TRUE(h.show.Play(MakeAlbum(2, 3), renderer));
        {
            std::lock_guard lock(mutex);
            release = true;
        }
        changed.notify_all();
        ASSERT_TRUE(h.PlayToTheEnd());
        const std::vector<std::string> second(h.shown.begin() + static_cast<long>(shownOfFirst), h.shown.end());
        EXPECT_EQ(Joined(second), "2/0 2/1 2/2") << "stopped after " << stopAfterShown << " slides";
        ASSERT_TRUE(Eventually([&] { return h.show.LiveWorkers() == 0; }));
        EXPECT_EQ(h.show.QueuedSlides(), 0u);
        EXPECT_EQ(h.ended, 1);
    }
}

// A queue entry of another run is refused, and a new run empties the queue and wakes a
// worker waiting for room, which then gives up.
TEST(SlideQueue, OnlyTheCurrentRunGetsIn)
{
    SlideQueue queue(2);
    const unsigned first = queue.NewRun();
    std::stop_source never;
    ASSERT_TRUE(queue.WaitForRoom(first, never.get_token()));
    EXPECT_TRUE(queue.Push(first, QueuedSlide{QueuedSlide::Kind::Picture, QImage(1, 1, QImage::Format_RGB32), 0}));
    EXPECT_TRUE(queue.Push(first, QueuedSlide{QueuedSlide::Kind::Picture, QImage(1, 1, QImage::Format_RGB32), 1}));
    bool gotRoom = true;
    std::jthread waiter([&] { gotRoom = queue.WaitForRoom(first, never.get_token()); });
    const unsigned second = queue.NewRun();
    waiter.join();
    EXPECT_FALSE(gotRoom);
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_FALSE(queue.Push(first, QueuedSlide{}));
    EXPECT_TRUE(queue.Push(second, QueuedSlide{}));
    EXPECT_EQ(queue.Size(), 1u);
}

// The slide is the disc's frame: a picture the user turned shows turned, fitted as on the
// disc, and the screen is the frame stretched to 4:3.
TEST(SlideShow, RotatedPictureShowsRotated)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Landscape 200 x 100: left half red, right half blue.
    QImage picture(200, 100, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            picture.setPixel(x, y, qRgb(255, 0, 0));
    const std::string path = dir.filePath(QStringLiteral("picture.bmp")).toStdString();
    ASSERT_TRUE(picture.save(QString::fromStdString(path)));

    const QSize screen(460, 345);
    const struct {
        int rotation;
        QPoint redAt, blueAt, blackAt;
    } cases[] = {
        // Unturned: fills the width, bars above and below.
        {0, {115, 172}, {345, 172}, {230, 20}},
        // Turned clockwise: the left half is now on top, bars left and right.
        {90, {230, 90}, {230, 260}, {40, 172}},
        {180, {345, 172}, {115, 172}, {230, 20}},
        {270, {230, 260}, {230, 90}, {40, 172}},
    };
    for (const auto& c : cases) {
        const QImage slide = ui::RenderScreenSlide({path, c.rotation}, TvNorm::Ntsc, SlideGeometry::TvAspect, screen);
        ASSERT_EQ(slide.size(), screen);
        auto colour = [&](QPoint at) { return QColor(slide.pixel(at)).name().toStdString(); };
        EXPECT_EQ(colour(c.redAt), "#ff0000") << "rotation " << c.rotation;
        EXPECT_EQ(colour(c.blueAt), "#0000ff") << "rotation " << c.rotation;
        EXPECT_EQ(colour(c.blackAt), "#000000") << "rotation " << c.rotation;

        // Exactly the disc's frame, stretched.
        PicBitmap frame;
        RenderSlideFrame(path, c.rotation, TvNorm::Ntsc, frame);
        ASSERT_EQ(frame.Width(), kFrameWidth);
    }

    // Through the show's worker: the default renderer shows the picture turned.
    Harness h;
    std::vector<QImage> images;
    SlideShow show(h.timer, h.owner.Poster(), {[&](const QImage& image, int) { images.push_back(image); }, {}});
    PlannedAlbum album;
    album.waitTime = 2;
    album.pictures = {{path, 90}};
    ASSERT_TRUE(show.Play(album, ui::DiscSlideRenderer(TvNorm::Ntsc, SlideGeometry::TvAspect, screen)));
    ASSERT_TRUE(h.owner.RunUntil([&] { return !images.empty(); }));
    EXPECT_EQ(QColor(images[0].pixel(230, 90)).name().toStdString(), "#ff0000");
    EXPECT_EQ(QColor(images[0].pixel(230, 260)).name().toStdString(), "#0000ff");
}

// The first album of the page on screen after albums were removed or the entries per
// page changed: always the start of a page the project has.
TEST(MenuPaging, FirstAlbumStaysOnAPageOfTheProject)
{
    const struct {
        int firstAlbum, entries, albums, expected;
    } cases[] = {
        {0, 6, 7, 0},  {6, 6, 7, 6}, {6, 6, 6, 0}, {12, 6, 8, 6}, {12, 4, 13, 12},
        {6, 4, 13, 4}, {6, 6, 0, 0}, {3, 0, 5, 0}, {-6, 6, 9, 0}, {96, 6, 99, 96},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ui::ValidFirstAlbum(c.firstAlbum, c.entries, c.albums), c.expected)
            << "first " << c.firstAlbum << ", " << c.entries << " per page, " << c.albums << " albums";
}

} // namespace
} // namespace lumivox::test
