// SPDX-License-Identifier: GPL-2.0-or-later
// The widget-free helpers of the desktop program's threads: the drive's worker runs its
// commands one after another off the caller's thread, the link back to an owner drops what
// comes after the owner has gone or for an older generation, and a run's progress reaches
// the window at a human rate with its last figure always delivered. Built also with
// ThreadSanitizer.

#include "logic/BackgroundDecode.h"
#include "logic/BurnRun.h"
#include "logic/DriveTasks.h"
#include "logic/OwnerLink.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace lumivox::test {
namespace {

using namespace std::chrono_literals;

// Runs the owner thread's posted tasks until done() or a generous limit.
template <typename Done>
bool RunEventsUntil(Done done)
{
    QDeadlineTimer limit(60000);
    while (!done() && !limit.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

TEST(DriveTasks, RunOneAfterAnotherOffTheCallersThreadInOrder)
{
    ui::DriveTaskSet drives;
    ui::DriveTasks& tasks = drives.For("emulated:/a");
    EXPECT_EQ(&tasks, &drives.For("emulated:/a"));
    EXPECT_NE(&tasks, &drives.For("emulated:/b"));
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> onCaller{false};
    const std::thread::id caller = std::this_thread::get_id();
    // Two threads give commands to one drive: they never overlap.
    auto give = [&](int first) {
        for (int i = first; i < first + 50; ++i)
            tasks.Run([&, i] {
                if (running.fetch_add(1) != 0)
                    overlapped = true;
                if (std::this_thread::get_id() == caller)
                    onCaller = true;
                {
                    std::lock_guard lock(mutex);
                    order.push_back(i);
                }
                running.fetch_sub(1);
            });
    };
    std::thread other([&] { give(1000); });
    give(0);
    other.join();
    ASSERT_TRUE(RunEventsUntil([&] { return tasks.Pending() == 0; }));
    EXPECT_FALSE(overlapped.load());
    EXPECT_FALSE(onCaller.load());
    std::lock_guard lock(mutex);
    ASSERT_EQ(order.size(), 100u);
    // Each thread's commands keep their order.
    std::vector<int> mine, theirs;
    for (int i : order)
        (i < 1000 ? mine : theirs).push_back(i);
    EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end()));
    EXPECT_TRUE(std::is_sorted(theirs.begin(), theirs.end()));
}

TEST(DriveTasks, TasksStillQueuedRunBeforeTheWorkerEnds)
{
    std::atomic<int> ran{0};
    {
        ui::DriveTasks tasks;
        for (int i = 0; i < 20; ++i)
            tasks.Run([&] {
                std::this_thread::sleep_for(1ms);
                ++ran;
            });
    }
    EXPECT_EQ(ran.load(), 20);
}

TEST(OwnerLink, DropsWhatComesAfterTheOwnerWentOrForAnOlderGeneration)
{
    QObject owner;
    auto link = ui::MakeOwnerLink(&owner);
    std::vector<int> got;
    const unsigned first = link->NextGeneration();
    std::thread worker([&] {
        link->Post([&] { got.push_back(1); });
        link->PostIfCurrent(first, [&] { got.push_back(2); });
    });
    worker.join();
    const unsigned second = link->NextGeneration(); // the request was made again
    link->PostIfCurrent(second, [&] { got.push_back(3); });
    ASSERT_TRUE(RunEventsUntil([&] { return got.size() >= 2; }));
    EXPECT_EQ(got, (std::vector<int>{1, 3}));
    link->Cut();
    std::thread late([&] { link->Post([&] { got.push_back(4); }); });
    late.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(got.size(), 2u);
}

TEST(BackgroundDecode, StartingAgainNeverWaitsForTheDecodeUnderWay)
{
    QObject receiver;
    ui::BackgroundDecode decode(&receiver);
    std::atomic<bool> release{false};
    std::vector<int> got;
    // A decode stuck on a slow file, deaf to its cancel flag.
    decode.Start(
        [&](const ProjectDecodeOptions&) {
            while (!release.load())
                std::this_thread::sleep_for(1ms);
            return DecodedProject{};
        },
        {}, {}, [&](std::shared_ptr<DecodedProject>) { got.push_back(1); });
    decode.Start([](const ProjectDecodeOptions&) { return DecodedProject{}; }, {}, {},
                 [&](std::shared_ptr<DecodedProject>) { got.push_back(2); });
    ASSERT_TRUE(RunEventsUntil([&] { return !got.empty(); }));
    EXPECT_EQ(decode.StaleWorkers(), 1);
    release = true;
    ASSERT_TRUE(RunEventsUntil([&] { return decode.StaleWorkers() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(got, std::vector<int>{2}); // the old generation's result is dropped
}

// The run's reports go through the observer interface the production run calls.
struct BridgeUnderTest {
    BridgeUnderTest()
    {
        bridge.SetClock([this] { return now; });
        QObject::connect(&bridge, &ui::RunBridge::progress, [this](const ProgressEvent& e) { sent.push_back(e); });
    }
    ProductionObserver& Observer() { return bridge; }
    ui::RunBridge bridge;
    std::chrono::milliseconds now{5000};
    std::vector<ProgressEvent> sent;
};

TEST(RunBridge, ProgressComesAtMostTenTimesASecondAndTheLastAlways)
{
    struct Case {
        const char* name;
        std::int64_t total;
        std::chrono::milliseconds step; // time between two reports of the run
        std::size_t most; // reports that may reach the window
    };
    const Case cases[] = {
        {"a full disc's sectors, 1 ms apart", 13000, 1ms, 13000 / 100 + 2},
        {"slow slides, each over the interval", 8, 150ms, 8},
        {"a burst in no time", 500, 0ms, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BridgeUnderTest t;
        t.Observer().OnProgress(MakeProgressEvent(UM_RECORDER_INIT));
        for (std::int64_t done = 0; done < c.total; ++done) {
            t.Observer().OnProgress(MakeProgressEvent(UM_WRITE_PROGRESS, done, c.total));
            t.now += c.step;
        }
        ASSERT_FALSE(t.sent.empty());
        EXPECT_EQ(t.sent.front().message, UM_RECORDER_INIT);
        EXPECT_LE(t.sent.size(), c.most + 1);
        EXPECT_EQ(t.sent.back().message, UM_WRITE_PROGRESS);
        EXPECT_EQ(t.sent.back().done, c.total - 1);
    }
}

TEST(RunBridge, AFigureHeldBackIsSentBeforeTheNextMessage)
{
    BridgeUnderTest t;
    t.Observer().OnProgress(MakeProgressEvent(UM_SLIDE_PROGRESS, 0, 10));
    t.Observer().OnProgress(MakeProgressEvent(UM_SLIDE_PROGRESS, 1, 10)); // held: too soon
    ASSERT_EQ(t.sent.size(), 1u);
    t.Observer().OnProgress(MakeProgressEvent(UM_LEAD_IN));
    ASSERT_EQ(t.sent.size(), 3u);
    EXPECT_EQ(t.sent[1].message, UM_SLIDE_PROGRESS);
    EXPECT_EQ(t.sent[1].done, 1);
    EXPECT_EQ(t.sent[2].message, UM_LEAD_IN);
}

} // namespace
} // namespace lumivox::test
