// SPDX-License-Identifier: GPL-2.0-or-later
// The frame workers: a frame that is not ready yet (a menu page whose cover slide is still
// being made) is passed over, so the other worker goes on with the frames after it; it is
// made once it is ready, and every frame is collected in order.

#include "production/FrameWorkers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace lumivox::test {
namespace {

TEST(FrameWorkers, FrameNotReadyIsPassedOverUntilItIs)
{
    // Frame 0 is a long cover slide, frame 1 the page that needs it, frames 2 .. 5 slides.
    // The cover ends only once frame 3 has been made: a worker that sat waiting for the
    // page would leave frames 2 and 3 to the cover's worker, which never gets to them.
    constexpr std::size_t kFrames = 6;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<bool> made(kFrames, false);
    std::vector<std::size_t> order;
    bool pageSawCover = false;
    ManualResetEvent cancel;
    auto work = [&](std::size_t index, std::size_t, const std::string&) {
        std::unique_lock lock(mutex);
        if (index == 0) {
            // A guard against a hang if the pool regresses; the test fails then.
            EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return made[3]; }));
        }
        if (index == 1)
            pageSawCover = made[0];
        made[index] = true;
        order.push_back(index);
        changed.notify_all();
        FrameOutcome outcome;
        outcome.ok = true;
        return outcome;
    };
    auto ready = [&](std::size_t index) {
        std::lock_guard lock(mutex);
        return index != 1 || made[0];
    };
    FrameWorkers pool(kFrames, {"still-a", "still-b"}, work, cancel, {}, ready);
    for (std::size_t f = 0; f < kFrames; ++f) {
        const FrameOutcome* outcome = pool.WaitFor(f);
        ASSERT_NE(outcome, nullptr) << f;
        EXPECT_TRUE(outcome->ok);
    }
    EXPECT_TRUE(pageSawCover);
    EXPECT_EQ(order.size(), kFrames);
}

TEST(FrameWorkers, CancelSkipsEveryFrameNotTaken)
{
    constexpr std::size_t kFrames = 8;
    ManualResetEvent cancel;
    std::mutex mutex;
    std::vector<std::size_t> skipped;
    int madeCount = 0;
    auto work = [&](std::size_t, std::size_t, const std::string&) {
        cancel.Set(); // the first frames end, the rest are never taken
        std::lock_guard lock(mutex);
        ++madeCount;
        FrameOutcome outcome;
        outcome.ok = true;
        return outcome;
    };
    auto skip = [&](std::size_t index) {
        std::lock_guard lock(mutex);
        skipped.push_back(index);
    };
    {
        FrameWorkers pool(kFrames, {"still-a", "still-b"}, work, cancel, skip);
        EXPECT_EQ(pool.WaitFor(kFrames - 1), nullptr);
    }
    EXPECT_LE(madeCount, 2);
    EXPECT_EQ(static_cast<std::size_t>(madeCount) + skipped.size(), kFrames);
}

} // namespace
} // namespace lumivox::test
