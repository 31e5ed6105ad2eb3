// SPDX-License-Identifier: GPL-2.0-or-later
// The cancel event's ways of waking a waiter, and the parallel helper's contract:
// every item once, exceptions carried to the caller, one global thread budget.

#include "base/Event.h"
#include "base/FileDescriptor.h"
#include "base/Parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <vector>

namespace lumivox {
namespace {

bool Readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

TEST(ManualResetEvent, NotifyDescriptorIsReadableExactlyWhileSet)
{
    ManualResetEvent event;
    const int fd = event.NotifyDescriptor();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(Readable(fd));
    event.Set();
    EXPECT_TRUE(Readable(fd));
    event.Set(); // setting twice changes nothing
    event.Reset();
    EXPECT_FALSE(Readable(fd));

    ManualResetEvent already(true);
    EXPECT_TRUE(Readable(already.NotifyDescriptor())); // made after the Set
}

TEST(ManualResetEvent, CallbacksRunOnSetUntilTheSubscriptionEnds)
{
    ManualResetEvent event;
    std::atomic<int> calls{0};
    {
        ManualResetEvent::Subscription subscription(event, [&] { ++calls; });
        EXPECT_EQ(calls, 0);
        std::thread setter([&] { event.Set(); });
        setter.join();
        EXPECT_EQ(calls, 1);
        event.Set(); // already set: no second call
        EXPECT_EQ(calls, 1);
        event.Reset();
        event.Set();
        EXPECT_EQ(calls, 2);
        ManualResetEvent::Subscription late(event, [&] { calls += 10; }); // already set: at once
        EXPECT_EQ(calls, 12);
    }
    event.Reset();
    event.Set();
    EXPECT_EQ(calls, 12);
}

TEST(FileDescriptor, ClosesOnceAndHandsOver)
{
    int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(raw, 0);
    {
        FileDescriptor first(raw);
        FileDescriptor second(std::move(first));
        EXPECT_FALSE(first.IsValid());
        EXPECT_EQ(second.Get(), raw);
        EXPECT_TRUE(second.Close());
        EXPECT_FALSE(second.IsValid());
        EXPECT_TRUE(second.Close()); // nothing left to close
    }
    EXPECT_EQ(::fcntl(raw, F_GETFD), -1); // really closed

    FileDescriptor kept(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int released = kept.Release();
    EXPECT_FALSE(kept.IsValid());
    EXPECT_NE(::fcntl(released, F_GETFD), -1); // still open after Release
    ::close(released);
}

TEST(ParallelFor, RunsEveryItemExactlyOnce)
{
    for (std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{1000}}) {
        for (int budget : {0, 1, 2, 5}) {
            std::vector<std::atomic<int>> hits(count);
            ParallelFor(count, budget, [&](std::size_t i) { ++hits[i]; });
            for (std::size_t i = 0; i < count; ++i)
                ASSERT_EQ(hits[i].load(), 1) << "item " << i << " of " << count << ", budget " << budget;
        }
    }
    EXPECT_EQ(WorkersInUse(), 0);
}

TEST(ParallelFor, CarriesTheFirstExceptionToTheCallerAfterJoining)
{
    std::atomic<int> running{0};
    EXPECT_THROW(ParallelFor(100, 4,
                             [&](std::size_t i) {
                                 ++running;
                                 if (i == 3)
                                     throw std::runtime_error("part 3 failed");
                                 std::this_thread::sleep_for(std::chrono::milliseconds(1));
                                 --running;
                             }),
                 std::runtime_error);
    // The call returned only after every worker ended: nothing is left running.
    EXPECT_EQ(WorkersInUse(), 0);
    // The program is alive and the helper usable again.
    std::atomic<int> total{0};
    ParallelFor(10, 4, [&](std::size_t) { ++total; });
    EXPECT_EQ(total, 10);
}

TEST(ParallelFor, NestedCallsShareOneBudget)
{
    SetWorkerBudget(3);
    std::mutex mutex;
    std::set<std::thread::id> threads;
    std::atomic<int> peak{0};
    ParallelFor(8, 0, [&](std::size_t) {
        ParallelFor(8, 0, [&](std::size_t) {
            peak.store(std::max(peak.load(), WorkersInUse()));
            std::lock_guard lock(mutex);
            threads.insert(std::this_thread::get_id());
        });
    });
    SetWorkerBudget(0);
    EXPECT_LE(peak.load(), 2); // never more than budget - 1 extra threads
    EXPECT_LE(threads.size(), 3u); // the caller and two workers at most
    EXPECT_EQ(WorkersInUse(), 0);
}

} // namespace
} // namespace lumivox
