// SPDX-License-Identifier: GPL-2.0-or-later
// The editor's thumbnail worker on its own thread: results in list order tagged with
// their generation, nothing after Stop, folders switched mid-way while the user-interface
// thread reads the cache, and QImage values made on the worker. Built for ThreadSanitizer.

#include "picture/PLTextException.h"
#include "picture/QtImage.h"
#include "project/ThumbnailWorker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumivox::test {
namespace {

using namespace std::chrono_literals;

// Paths "/<folder>/<n>.jpg"; the fake picture's colour says which folder it came from,
// "bad" in the name fails like an unreadable file.
std::vector<std::string> Folder(const std::string& name, int count)
{
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i)
        paths.push_back("/" + name + "/" + std::to_string(i) + (i % 7 == 3 ? "bad" : "") + ".jpg");
    return paths;
}

PictureDecoder SlowDecoder(std::atomic<int>& decoded)
{
    return [&decoded](const std::string& path, PicBitmap& target) {
        std::this_thread::sleep_for(200us); // a decode takes time; Stop must not wait for the list
        ++decoded;
        if (path.find("bad") != std::string::npos)
            throw PLTextException(8, "Unknown file type.");
        target.Create(80, 60, 32, false);
        const std::uint8_t red = path.rfind("/a/", 0) == 0 ? 200 : 20;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 80; ++x) {
                std::uint8_t* p = target.Row(y) + 4 * x;
                p[0] = 10, p[1] = 10, p[2] = red, p[3] = 255;
            }
    };
}

struct Collected {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<unsigned, std::vector<int>> rows; // by generation, in arrival order
    std::map<unsigned, std::vector<QRgb>> colours; // centre pixel of each QImage
    std::map<unsigned, int> failed;
    std::map<unsigned, bool> done;
    std::atomic<bool> closed{false};
    std::atomic<int> afterClose{0};

    ThumbnailWorker::ResultSink Sink()
    {
        return [this](unsigned generation, int row, std::shared_ptr<const PicBitmap> thumbnail, ThumbnailPlacement at) {
            if (closed)
                ++afterClose;
            // What the file list's sink does on the worker: a QImage value to post.
            const QImage image = thumbnail ? ToQImage(*thumbnail, PixelAlpha::Ignore) : QImage();
            std::lock_guard lock(mutex);
            rows[generation].push_back(row);
            if (image.isNull())
                ++failed[generation];
            else
                colours[generation].push_back(image.pixel(at.width / 2, at.height / 2));
            changed.notify_all();
        };
    }
    ThumbnailWorker::DoneSink Done()
    {
        return [this](unsigned generation, bool stopped) {
            std::lock_guard lock(mutex);
            done[generation] = !stopped;
            changed.notify_all();
        };
    }
    bool WaitDone(unsigned generation)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 30s, [&] { return done.count(generation) && done[generation]; });
    }
};

TEST(ThumbnailWorker, EveryRowInOrderWithFailuresWithoutThumbnail)
{
    ThumbnailCache cache;
    std::atomic<int> decoded{0};
    ThumbnailWorker worker(cache, SlowDecoder(decoded));
    Collected got;
    const auto paths = Folder("a", 50);
    worker.Start(paths, 1, got.Sink(), got.Done());
    ASSERT_TRUE(got.WaitDone(1));
    worker.Stop();
    std::vector<int> expected(50);
    for (int i = 0; i < 50; ++i)
        expected[static_cast<std::size_t>(i)] = i;
    EXPECT_EQ(got.rows[1], expected);
    EXPECT_EQ(got.failed[1], 7); // rows 3, 10, ..., 45
    EXPECT_EQ(cache.EntryCount(), 43u);
    // Thumbnails fit the 64 x 64 box: 80 x 60 becomes 64 x 48.
    const auto found = cache.Lookup(paths[0]);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->placement, (ThumbnailPlacement{0, 8, 64, 48}));

    // The second pass over the same folder comes from the cache: only failures decode.
    decoded = 0;
    worker.Start(paths, 2, got.Sink(), got.Done());
    ASSERT_TRUE(got.WaitDone(2));
    EXPECT_EQ(decoded.load(), 7);
    EXPECT_EQ(got.rows[2], expected);
}

TEST(ThumbnailWorker, SwitchingFoldersMidWayStopsTheOldPassFirst)
{
    ThumbnailCache cache;
    std::atomic<int> decoded{0};
    ThumbnailWorker worker(cache, SlowDecoder(decoded));
    Collected got;
    // The user-interface thread looks thumbnails up while the worker stores them.
    std::atomic<bool> reading{true};
    std::thread reader([&] {
        const auto paths = Folder("a", 400);
        while (reading)
            for (const auto& path : paths)
                (void)cache.Lookup(path);
    });
    for (unsigned generation = 1; generation <= 6; ++generation) {
        worker.Start(Folder(generation % 2 ? "a" : "b", 400), generation, got.Sink(), got.Done());
        std::this_thread::sleep_for(3ms);
    }
    worker.Stop();
    got.closed = true;
    std::this_thread::sleep_for(5ms);
    reading = false;
    reader.join();
    EXPECT_EQ(got.afterClose.load(), 0) << "a result came after Stop returned";
    std::lock_guard lock(got.mutex);
    for (const auto& [generation, rows] : got.rows) {
        for (std::size_t i = 0; i < rows.size(); ++i)
            ASSERT_EQ(rows[i], static_cast<int>(i)) << "generation " << generation << " out of order";
        // Each result of a generation shows that generation's folder.
        for (QRgb colour : got.colours[generation])
            ASSERT_EQ(qRed(colour) > 100, generation % 2 == 1) << "generation " << generation;
    }
    for (const auto& [generation, finished] : got.done)
        EXPECT_FALSE(finished) << "generation " << generation << " cannot have gone through 400 files";
}

} // namespace
} // namespace lumivox::test
