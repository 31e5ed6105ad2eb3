// SPDX-License-Identifier: GPL-2.0-or-later
// The isolated jobs the encoder and the multiplexer run in: a job that hangs is stopped
// and fails (one that keeps reporting is not), every child is reaped, a child reaped by
// someone else is judged by its own word, and jobs started in the helper program while
// other threads of the program are busy never wait on a lock one of those threads held.

#include "production/MjpegJob.h"
#include "support/mjpeg_test_jobs.h"
#include "production/MjpegLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumivox {
namespace {

// Sets the job time limit for one test.
class JobTimeout {
public:
    explicit JobTimeout(std::chrono::milliseconds limit) : previous_(MjpegJobTimeout()) { SetMjpegJobTimeout(limit); }
    ~JobTimeout() { SetMjpegJobTimeout(previous_); }

private:
    std::chrono::milliseconds previous_;
};

// True when this process has no child left, reaped or not.
bool NoChildLeft()
{
    errno = 0;
    return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

TEST(MjpegJobs, OutcomesOfTheChild)
{
    struct Case {
        const char* name;
        std::function<void()> work;
        bool ok;
        std::string error; // expected text, or its start
    } cases[] = {
        {"returns", [] { MjpegLog(MjpegLogLevel::Information, "fine\n"); }, true, ""},
        {"fatal text", [] { MjpegFatal("Couldn't create output file x"); }, false, "Couldn't create output file x"},
        // The libraries' own way out: exit() after logging the error.
        {"library exit",
         [] {
             MjpegLog(MjpegLogLevel::Error, "Illegal VCD still\n");
             std::exit(1);
         },
         false, "Illegal VCD still\n"},
        {"exit(0) inside the library", [] { std::exit(0); }, false, "the encoder process failed"},
        // (Ends by the signal; under a sanitizer, which reports the crash, by a status.)
        {"crash", [] { ::raise(SIGSEGV); }, false, "the encoder process "},
        {"hangs",
         [] {
             for (;;)
                 ::pause();
         },
         false, "the encoder process made no progress for 2 seconds and was stopped"},
        // A job that keeps reporting is not stopped, however long it takes.
        {"slow but talking",
         [] {
             for (int i = 0; i < 60; ++i) {
                 MjpegLog(MjpegLogLevel::Debug, "sector\n");
                 ::usleep(50'000);
             }
         },
         true, ""},
    };
    JobTimeout limit(std::chrono::seconds(2));
    for (const auto& c : cases) {
        MjpegJobResult result = test::RunForkedMjpegJob(c.work);
        EXPECT_EQ(result.ok, c.ok) << c.name << ": " << result.error;
        EXPECT_EQ(result.error.substr(0, c.error.size()), c.error) << c.name;
        EXPECT_TRUE(NoChildLeft()) << c.name << ": the child was not reaped";
    }
}

TEST(MjpegJobs, ChildReapedElsewhereCountsOnlyWhenItsWorkReturned)
{
    // With SIGCHLD ignored the system reaps children itself and waitpid finds none.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ASSERT_EQ(::sigaction(SIGCHLD, &ignore, &previous), 0);
    MjpegJobResult good = test::RunForkedMjpegJob([] {});
    MjpegJobResult failed = test::RunForkedMjpegJob([] { ::_exit(3); });
    ::sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_TRUE(good.ok) << good.error;
    EXPECT_FALSE(failed.ok);
    EXPECT_FALSE(failed.error.empty());
}

TEST(MjpegJobs, ATalkativeJobKeepsItsLastErrorAndBoundedLog)
{
    MjpegJobResult result = test::RunForkedMjpegJob([] {
        for (int i = 0; i < 50000; ++i)
            MjpegLog(MjpegLogLevel::Debug, "frame\n");
        MjpegFatal("the last word\n");
    });
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "the last word\n");
    EXPECT_LE(result.log.size(), 20000u);
    EXPECT_GE(result.log.size(), 1000u);
}

// The helper program ends its jobs the same ways as a job run in a forked child.
TEST(MjpegJobs, OutcomesOfTheHelperProcess)
{
    auto u32 = [](std::uint32_t value) {
        MjpegRequestWriter writer;
        writer.U32(value);
        return writer.Bytes();
    };
    auto exitWith = [](std::string_view text, std::int32_t status) {
        MjpegRequestWriter writer;
        writer.Text(text);
        writer.I32(status);
        return writer.Bytes();
    };
    auto text = [](std::string_view value) {
        MjpegRequestWriter writer;
        writer.Text(value);
        return writer.Bytes();
    };
    struct Case {
        const char* name;
        std::string kind;
        std::string payload;
        bool ok;
        std::string error; // expected text, or its start
    } cases[] = {
        {"returns", "test-talk", u32(3), true, ""},
        {"fatal text", "test-fatal", text("Couldn't create output file x"), false, "Couldn't create output file x"},
        {"library exit", "test-exit", exitWith("Illegal VCD still\n", 1), false, "Illegal VCD still\n"},
        {"exit(0) inside the library", "test-exit", exitWith("", 0), false, "the encoder process failed"},
        // (Ends by the signal; under a sanitizer, which reports the crash, by a status.)
        {"crash", "test-crash", "", false, "the encoder process "},
        {"hangs", "test-hang", "", false, "the encoder process made no progress for 2 seconds and was stopped"},
        {"unknown kind", "frobnicate", "", false, "unknown job kind \"frobnicate\"\n"},
        {"short request", "test-talk", "\x01", false, "malformed job request\n"},
        {"short still request", "encode", u32(640), false, "malformed job request\n"},
        {"inconsistent still request", "encode",
         [] {
             MjpegRequestWriter writer;
             writer.I32(4);
             writer.I32(4);
             writer.I32(1);
             writer.Text("/dev/null");
             writer.U32(16);
             writer.U32(4);
             writer.U32(5);
             return writer.Bytes() + std::string(25, '\0');
         }(),
         false, "malformed job request\n"},
    };
    JobTimeout limit(std::chrono::seconds(2));
    for (const auto& c : cases) {
        MjpegJobResult result = RunMjpegHelperJob(test::MjpegTestHelperPath(), c.kind, {c.payload});
        EXPECT_EQ(result.ok, c.ok) << c.name << ": " << result.error;
        EXPECT_EQ(result.error.substr(0, c.error.size()), c.error) << c.name;
        EXPECT_TRUE(NoChildLeft()) << c.name << ": the child was not reaped";
    }
    // A kept helper ends each job the same way, one after the other; only the hanging job
    // costs it its life (it is stopped with its job), and the next job starts a new one.
    {
        MjpegHelperProcess kept(test::MjpegTestHelperPath());
        for (const auto& c : cases) {
            MjpegJobResult result = kept.Run(c.kind, {c.payload});
            EXPECT_EQ(result.ok, c.ok) << "kept: " << c.name << ": " << result.error;
            EXPECT_EQ(result.error.substr(0, c.error.size()), c.error) << "kept: " << c.name;
        }
        EXPECT_EQ(kept.Starts(), 2);
    }
    EXPECT_TRUE(NoChildLeft()) << "the kept helper was not reaped";
}

// A kept helper serves job after job in one process; one that is killed fails only the
// job it was running, and the next job starts a new helper. Jobs reach it through the
// scope as they would reach a helper of their own.
TEST(MjpegJobs, AKilledKeptHelperFailsOnlyItsJob)
{
    MjpegRequestWriter payload;
    payload.U32(2);
    MjpegHelperProcess kept(test::MjpegTestHelperPath());
    pid_t first = -1;
    {
        const MjpegHelperScope scope(&kept);
        for (int job = 0; job < 3; ++job) {
            MjpegJobResult result = RunMjpegHelperJob("test-talk", {payload.Bytes()});
            ASSERT_TRUE(result.ok) << result.error;
            ASSERT_FALSE(result.log.empty());
            EXPECT_EQ(result.log.back().text, "inside the job\n");
        }
        first = kept.Pid();
        EXPECT_GT(first, 0);
        EXPECT_EQ(kept.Starts(), 1);
    }
    std::thread killer([first] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(first, SIGKILL);
    });
    MjpegJobResult killed = kept.Run("test-hang", {});
    killer.join();
    EXPECT_FALSE(killed.ok);
    EXPECT_EQ(killed.error.rfind("the encoder process ended abnormally", 0), 0u) << killed.error;
    MjpegJobResult next = kept.Run("test-talk", {payload.Bytes()});
    EXPECT_TRUE(next.ok) << next.error;
    EXPECT_EQ(kept.Starts(), 2);
    EXPECT_NE(kept.Pid(), first);
}

TEST(MjpegJobs, AHelperThatCannotBeStartedFailsTheJobNamingIt)
{
    ASSERT_NE(FindMjpegHelper(), "") << "lumivox-mjpeg is not beside the test";
    MjpegJobResult result = RunMjpegHelperJob("/nonexistent/lumivox-mjpeg", "test-talk", {});
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("/nonexistent/lumivox-mjpeg"), std::string::npos) << result.error;
    EXPECT_TRUE(NoChildLeft());
}

TEST(MjpegJobs, ALargeRequestAndATalkativeHelperDoNotBlockEachOther)
{
    // The request is bigger than any pipe holds while the helper's messages fill the
    // other direction: the helper reads all of its request before it talks.
    std::string payload = [] {
        MjpegRequestWriter writer;
        writer.U32(30000);
        return writer.Bytes();
    }();
    std::string padding(4 << 20, 'p');
    MjpegJobResult result = RunMjpegHelperJob(test::MjpegTestHelperPath(), "test-talk", {payload, padding});
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.log.size(), 20000u);
}

TEST(MjpegJobs, JobsStartedWhileOtherThreadsLogAndAllocateComplete)
{
    // Other threads keep the log sink's lock, malloc and stdio busy while jobs are started
    // from this one; a job that took over any of those locks would hang until the limit.
    JobTimeout limit(std::chrono::seconds(60));
    std::atomic<long> published{0};
    SetMjpegLogSink([&](const MjpegLogMessage&) { published.fetch_add(1); });
    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (int t = 0; t < 3; ++t) {
        busy.emplace_back([&] {
            std::FILE* sink = std::fopen("/dev/null", "w");
            while (!stop.load()) {
                MjpegLog(MjpegLogLevel::Debug, "busy\n");
                std::vector<char> churn(1000 + published.load() % 5000, 'x');
                if (sink)
                    std::fprintf(sink, "%zu %c\n", churn.size(), churn.back());
            }
            if (sink)
                std::fclose(sink);
        });
    }
    MjpegRequestWriter payload;
    payload.U32(5);
    std::string firstFailure;
    for (int job = 0; job < 40 && firstFailure.empty(); ++job) {
        MjpegJobResult result = RunMjpegHelperJob(test::MjpegTestHelperPath(), "test-talk", {payload.Bytes()});
        if (!result.ok)
            firstFailure = "job " + std::to_string(job) + ": " + result.error;
        else if (result.log.empty() || result.log.back().text != "inside the job\n")
            firstFailure = "job " + std::to_string(job) + ": its messages were lost";
    }
    stop = true;
    for (auto& thread : busy)
        thread.join();
    SetMjpegLogSink({});
    EXPECT_EQ(firstFailure, "");
    EXPECT_TRUE(NoChildLeft());
}

} // namespace
} // namespace lumivox

namespace lumivox {
namespace {

// A run's cancel event stops a job under way at once, whatever its time limit: a hanging
// helper is killed and reaped, and the call says it was cancelled.
TEST(MjpegJobs, CancelStopsAJobUnderWay)
{
    ManualResetEvent cancel;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancel.Set();
    });
    MjpegJobResult result;
    {
        const MjpegCancelScope scope(&cancel);
        result = RunMjpegHelperJob(test::MjpegTestHelperPath(), "test-hang", {});
    }
    canceller.join();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, kMjpegJobCancelled);
    // Outside the scope the event no longer reaches jobs.
    MjpegRequestWriter payload;
    payload.U32(1);
    EXPECT_TRUE(RunMjpegHelperJob(test::MjpegTestHelperPath(), "test-talk", {payload.Bytes()}).ok);
}

} // namespace
} // namespace lumivox
