// SPDX-License-Identifier: GPL-2.0-or-later
// Menu pages drawn from several threads at once — the run's frame workers, the preview
// and a thumbnail worker in the desktop program — come out exactly as drawn alone.

#include "render/render_helpers.h"

#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"
#include "picture/QtGuiHost.h"
#include "picture/QtImage.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>

#include <gtest/gtest.h>

#include <mutex>
#include <sstream>
#include <thread>

namespace lumivox {
namespace {

constexpr int kThreads = 4;
constexpr int kDrawingsPerThread = 20;

// Where two frames differ, or empty when they are the same.
std::string Difference(const QImage& expected, const QImage& actual)
{
    if (expected.size() != actual.size())
        return "sizes differ";
    int count = 0;
    QPoint first(-1, -1);
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (expected.pixel(x, y) != actual.pixel(x, y)) {
                if (count++ == 0)
                    first = QPoint(x, y);
            }
    if (count == 0)
        return {};
    std::ostringstream out;
    out << count << " pixels differ, the first at (" << first.x() << ", " << first.y() << "): " << std::hex
        << expected.pixel(first) << " expected, " << actual.pixel(first);
    return out.str();
}

struct Albums {
    std::vector<PicBitmap> thumbnails;
    std::vector<MenuAlbum> albums;
};

// Seven albums with titles (glyphs are where shared font state shows) and thumbnails;
// the second page has both buttons.
Albums MakeAlbums()
{
    Albums result;
    const char* names[] = {"Summer", "Birthday", "Alps 2023", "Christmas", "Garden", "Paris", "Snow Day", "Kids"};
    for (int i = 0; i < 8; ++i)
        result.thumbnails.push_back(test::MakeThumbnail(400, 300, static_cast<unsigned>(i)));
    for (int i = 0; i < 8; ++i)
        result.albums.push_back({names[i], true, &result.thumbnails[static_cast<std::size_t>(i)]});
    return result;
}

// Each thread draws the page kDrawingsPerThread times; the frames are kept to compare.
template <typename Draw>
std::vector<QImage> DrawFromThreads(Draw draw)
{
    std::vector<QImage> frames(kThreads * kDrawingsPerThread);
    std::vector<std::string> errors(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < kDrawingsPerThread; ++i) {
                    std::string error;
                    if (!draw(frames[static_cast<std::size_t>(t * kDrawingsPerThread + i)], &error))
                        errors[static_cast<std::size_t>(t)] = error;
                }
            });
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(errors[static_cast<std::size_t>(t)], "") << "thread " << t;
    return frames;
}

class RenderConcurrency : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(LoadMenuTemplate(test::BundledTemplate("classic.ini"), menuTemplate, &error)) << error;
        albums = MakeAlbums();
    }

    MenuTemplate menuTemplate;
    Albums albums;
};

TEST_F(RenderConcurrency, DrawMenuPageFromFourThreadsGivesTheFrameDrawnAlone)
{
    const QRect rect(0, 0, 704, 480);
    auto draw = [&](QImage& target, std::string* error) {
        target = QImage(704, 480, QImage::Format_RGB32);
        target.fill(Qt::black);
        return DrawMenuPage(target, rect, menuTemplate, {}, albums.albums, 6, error);
    };
    QImage alone;
    std::string error;
    ASSERT_TRUE(draw(alone, &error)) << error;
    const std::vector<QImage> frames = DrawFromThreads(draw);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::string difference = Difference(alone, frames[i]);
        EXPECT_TRUE(difference.empty()) << "thread " << i / kDrawingsPerThread << ", drawing " << i % kDrawingsPerThread
                                        << ": " << difference;
    }
}

TEST_F(RenderConcurrency, MenuFramesOfBothNormsFromFourThreadsGiveTheFramesDrawnAlone)
{
    for (TvNorm norm : {TvNorm::Ntsc, TvNorm::Pal}) {
        SCOPED_TRACE(TvNormName(norm));
        auto draw = [&](QImage& target, std::string* error) {
            PicBitmap frame;
            const bool ok = RenderMenuFrame(menuTemplate, {}, albums.albums, 0, norm, frame, error);
            target = ToQImage(frame);
            return ok;
        };
        QImage alone;
        std::string error;
        ASSERT_TRUE(draw(alone, &error)) << error;
        const std::vector<QImage> frames = DrawFromThreads(draw);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const std::string difference = Difference(alone, frames[i]);
            EXPECT_TRUE(difference.empty())
                << "thread " << i / kDrawingsPerThread << ", drawing " << i % kDrawingsPerThread << ": " << difference;
        }
    }
}

// Titles of characters no other drawing of this process has used, so that the glyphs
// go into the shared caches while the four threads draw; the reference is drawn after.
TEST_F(RenderConcurrency, TitlesWithFreshGlyphsFromFourThreadsGiveTheFrameDrawnAfter)
{
    const char* titles[] = {"\xC3\x86r\xC3\xB8sk\xC3\xB8"
                            "bing",
                            "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1",
                            "Z\xC3\xBCrich & \xC5\x81\xC3\xB3"
                            "d\xC5\xBA",
                            "qjxzQJXZ 0123456789",
                            "\xC3\x9F\xC3\xA7\xC3\xB1\xC3\xBE",
                            "{[(|)]}"};
    std::vector<MenuAlbum> fresh;
    for (int i = 0; i < 6; ++i)
        fresh.push_back({titles[i], true, &albums.thumbnails[static_cast<std::size_t>(i)]});
    const QRect rect(0, 0, 704, 480);
    auto draw = [&](QImage& target, std::string* error) {
        target = QImage(704, 480, QImage::Format_RGB32);
        target.fill(Qt::black);
        return DrawMenuPage(target, rect, menuTemplate, {}, fresh, 0, error);
    };
    const std::vector<QImage> frames = DrawFromThreads(draw);
    QImage after;
    std::string error;
    ASSERT_TRUE(draw(after, &error)) << error;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::string difference = Difference(after, frames[i]);
        EXPECT_TRUE(difference.empty()) << "thread " << i / kDrawingsPerThread << ", drawing " << i % kDrawingsPerThread
                                        << ": " << difference;
    }
}

// Drawing on workers leaves the one application where the program made it.
TEST_F(RenderConcurrency, TheApplicationStaysOnTheMainThread)
{
    QCoreApplication* application = QCoreApplication::instance();
    ASSERT_NE(application, nullptr);
    const QThread* mainThread = application->thread();
    std::jthread worker([&] {
        QImage target(704, 480, QImage::Format_RGB32);
        std::string error;
        EXPECT_TRUE(DrawMenuPage(target, target.rect(), menuTemplate, {}, albums.albums, 0, &error)) << error;
        EXPECT_TRUE(EnsureGuiApplication()); // finds the program's, makes none
    });
    worker.join();
    EXPECT_EQ(QCoreApplication::instance(), application);
    EXPECT_EQ(application->thread(), mainThread);
    EXPECT_EQ(mainThread, QThread::currentThread());
}

} // namespace
} // namespace lumivox
