// SPDX-License-Identifier: GPL-2.0-or-later
// The process-wide memory budget of picture decodes, with decodes on several threads at
// once (run under ThreadSanitizer too).
#include "picture/picture_decode_helpers.h"

#include "picture/DecodeBudget.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace lumivox;
using namespace lumivox::test;

namespace {

std::string DecodeError(const Bytes& file)
{
    PicReader reader;
    PicBitmap target;
    try {
        reader.DecodeMemory(file.data(), file.size(), target, 32);
    } catch (const PLTextException& e) {
        return e.GetText();
    }
    return {};
}

} // namespace

// Two workers meeting large pictures at once: the second waits (holding nothing) until the
// first decode has handed its picture over, so the two never hold more than the budget;
// a cancel ends the wait. Smaller pictures never wait.
TEST(DecodeBoundsTest, LargeDecodesTakeTurnsInTheMemoryBudget)
{
    constexpr std::size_t kPicture = 640 * 480 * 4; // what one decode holds
    SetDecodeMemoryLimits(kPicture + kPicture / 2, kPicture / 2);
    const PixelFunction grey = [](int x, int, std::uint8_t* out) {
        out[0] = out[1] = out[2] = static_cast<std::uint8_t>(x);
    };
    const Bytes file = MakeJpeg(640, 480, 3, grey);
    std::mutex mutex;
    std::condition_variable changed;
    bool firstInside = false;
    bool release = false;
    std::size_t heldWhileInside = 0;
    std::thread first([&] {
        bool told = false;
        const DecodeWatchScope watch(nullptr, [&] {
            if (told || DecodeMemoryInUse() == 0)
                return; // once its picture is allocated
            told = true;
            std::unique_lock lock(mutex);
            heldWhileInside = DecodeMemoryInUse();
            firstInside = true;
            changed.notify_all();
            changed.wait(lock, [&] { return release; });
        });
        EXPECT_EQ(DecodeError(file), "");
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return firstInside; });
    }
    EXPECT_EQ(heldWhileInside, kPicture + 40); // the bitmap and its header
    std::string secondError = "unset";
    std::thread second([&] { secondError = DecodeError(file); });
    // (The deadline only keeps a broken budget from hanging the test.)
    auto waitForWaiters = [](int count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (DecodeMemoryWaiters() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        return DecodeMemoryWaiters() >= count;
    };
    EXPECT_TRUE(waitForWaiters(1));
    // A small picture goes ahead meanwhile.
    EXPECT_EQ(DecodeError(MakeJpeg(64, 64, 3, grey)), "");
    // A decode whose run is cancelled while it waits leaves the queue.
    std::atomic<bool> cancel{false};
    std::string cancelledError;
    std::thread cancelled([&] {
        const DecodeWatchScope watch(&cancel);
        cancelledError = DecodeError(file);
    });
    EXPECT_TRUE(waitForWaiters(2));
    cancel = true;
    cancelled.join();
    EXPECT_EQ(cancelledError, kDecodeCancelled);
    EXPECT_EQ(DecodeMemoryInUse(), kPicture + 40);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    first.join();
    second.join();
    EXPECT_EQ(secondError, "");
    EXPECT_EQ(DecodeMemoryInUse(), 0u);
    SetDecodeMemoryLimits(std::size_t(512) << 20, std::size_t(64) << 20);
}
