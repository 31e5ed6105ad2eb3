// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/MjpegLog.h"

#include "production/MjpegJob.h"

#include <mjpeg_logging.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <new>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio_ext.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumivox {
namespace {

// Status a job's child ends with when the library (or our glue) gave up.
constexpr int kFailedStatus = 1;
// Longest message text passed back; the libraries format into 1 KiB anyway.
constexpr std::size_t kMaxMessageBytes = 4096;
// Messages kept of one job (a debug-level multiplex logs a few per sector); error
// messages are always looked at.
constexpr std::size_t kMaxKeptMessages = 20000;
// Level byte of the record a child sends when its work has returned normally: the job
// counts as done only with it, so a child reaped by someone else is not taken for a
// success.
constexpr int kDoneRecord = 0;
// Level byte of the record a kept helper sends after one of its jobs has ended: the job's
// wait status (32 bits) follows.
constexpr int kEndedRecord = 5;

std::atomic<long long> g_timeoutMs{120'000};
// However busy a job keeps itself, it ends within this many time limits: a segment with a
// long song under it takes seconds, not an hour.
constexpr int kLongestJobInLimits = 30;

// Least time between two of the libraries' debug messages passed on when debug output is
// not shown.
constexpr std::int64_t kDebugSignOfLifeMs = 250;

// Write end of the message pipe; only set inside a job's child process.
int g_childPipe = -1;

std::mutex g_sinkMutex;
MjpegLogSink g_sink;

bool WriteAll(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        ssize_t written = ::write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// One record on the pipe: level byte, 32-bit length, text.
void SendMessage(int level, std::string_view text)
{
    if (g_childPipe < 0)
        return;
    if (text.size() > kMaxMessageBytes)
        text = text.substr(0, kMaxMessageBytes);
    std::uint8_t header[5];
    header[0] = static_cast<std::uint8_t>(level);
    auto length = static_cast<std::uint32_t>(text.size());
    std::memcpy(header + 1, &length, sizeof length);
    WriteAll(g_childPipe, header, sizeof header);
    WriteAll(g_childPipe, text.data(), text.size());
}

// The libraries' debug messages (the multiplexer writes a few for every sector, tens of
// thousands for a slideshow track) cross the pipe only when debug output was asked for.
// Otherwise one every quarter second still tells the parent that the job is alive.
extern "C" void ChildLogHandler(log_level_t level, const char message[])
{
    if (static_cast<int>(level) <= static_cast<int>(MjpegLogLevel::Debug) &&
        MjpegLowestShownLevel(MjpegVerbosity()) > static_cast<int>(MjpegLogLevel::Debug)) {
        static std::atomic<std::int64_t> lastSent{std::numeric_limits<std::int64_t>::min() / 2};
        const std::int64_t now =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count();
        if (now - lastSent.load(std::memory_order_relaxed) < kDebugSignOfLifeMs)
            return;
        lastSent.store(now, std::memory_order_relaxed);
    }
    SendMessage(level, message ? std::string_view(message) : std::string_view());
}

// Registered in a job's process only, as the job starts: it is the last handler
// registered, so it runs first when the library calls exit() and ends the job as failed
// before any other handler runs (in a forked child: the parent program's static
// destructors and stdio flushing of inherited buffers, which would run twice).
extern "C" void ChildExitTrap()
{
    ::_exit(kFailedStatus);
}

// Takes the records off the pipe as they arrive, so that a talkative job cannot make
// the parent hold its whole output.
class MessageReader {
public:
    explicit MessageReader(MjpegJobResult& result) : result_(result) { }

    void Add(const char* data, std::size_t size)
    {
        if (broken_)
            return;
        pending_.append(data, size);
        std::size_t pos = 0;
        while (pending_.size() - pos >= 5) {
            int level = static_cast<std::uint8_t>(pending_[pos]);
            std::uint32_t length = 0;
            std::memcpy(&length, pending_.data() + pos + 1, sizeof length);
            if (length > kMaxMessageBytes || level > kEndedRecord ||
                (level == kEndedRecord && length != sizeof endStatus)) {
                broken_ = true; // not our record format: nothing after it can be trusted
                break;
            }
            if (pending_.size() - pos - 5 < length)
                break;
            std::string text = pending_.substr(pos + 5, length);
            pos += 5 + length;
            if (level == kDoneRecord) {
                done = true;
                continue;
            }
            if (level == kEndedRecord) {
                std::memcpy(&endStatus, text.data(), sizeof endStatus);
                ended = true;
                continue;
            }
            if (level == static_cast<int>(MjpegLogLevel::Error))
                lastError = text;
            if (result_.log.size() < kMaxKeptMessages)
                result_.log.push_back({static_cast<MjpegLogLevel>(level), std::move(text)});
        }
        pending_.erase(0, pos);
    }

    bool done = false;
    bool ended = false; // a kept helper's job has ended with endStatus
    std::int32_t endStatus = 0;
    std::string lastError;

private:
    MjpegJobResult& result_;
    std::string pending_;
    bool broken_ = false;
};

// Waits for the child to end, killing it once the deadline has passed. Returns false
// (with errno) when the child could not be waited for — someone else reaped it.
bool ReapChild(pid_t child, std::chrono::steady_clock::time_point deadline, int* status, bool* killed)
{
    for (;;) {
        pid_t got = ::waitpid(child, status, *killed ? 0 : WNOHANG);
        if (got == child)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child, SIGKILL);
            *killed = true;
            continue;
        }
        ::usleep(2000);
    }
}

void Publish(const std::vector<MjpegLogMessage>& messages)
{
    int lowest = MjpegLowestShownLevel(MjpegVerbosity());
    static const char* const names[] = {"", "debug", "info", "warning", "error"};
    std::lock_guard lock(g_sinkMutex);
    for (const auto& message : messages) {
        if (static_cast<int>(message.level) >= lowest) {
            std::string_view text = message.text;
            while (!text.empty() && text.back() == '\n')
                text.remove_suffix(1);
            std::fprintf(stderr, "mjpeg %s: %.*s\n", names[static_cast<int>(message.level)],
                         static_cast<int>(text.size()), text.data());
        }
        if (g_sink)
            g_sink(message);
    }
}

} // namespace

[[noreturn]] void RunMjpegJobInThisProcess(int pipeWrite, const std::function<void()>& work)
{
    g_childPipe = pipeWrite;
    // Text the parent had buffered but not yet written belongs to the parent: were the
    // library to flush these streams, it would come out twice.
    __fpurge(stdout);
    __fpurge(stderr);
    // Keep nothing of the parent's descriptors but the standard ones and the pipe, so
    // that a parallel job's pipe is not held open by this child.
    if (pipeWrite > 3)
        ::close_range(3, static_cast<unsigned>(pipeWrite) - 1, 0);
    ::close_range(static_cast<unsigned>(pipeWrite) + 1, ~0U, 0);
    if (MjpegVerbosity() < 0) {
        // The libraries print a few things directly; none of it belongs on the screen.
        int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::close(null);
        }
    }
    ::signal(SIGPIPE, SIG_DFL);
    mjpeg_log_set_handler(ChildLogHandler);
    std::atexit(ChildExitTrap);
    try {
        work();
    } catch (const std::bad_alloc&) {
        SendMessage(static_cast<int>(MjpegLogLevel::Error), "malloc failed\n");
        ::_exit(kFailedStatus);
    } catch (const std::exception& error) {
        SendMessage(static_cast<int>(MjpegLogLevel::Error), error.what());
        ::_exit(kFailedStatus);
    } catch (...) {
        SendMessage(static_cast<int>(MjpegLogLevel::Error), "unexpected failure");
        ::_exit(kFailedStatus);
    }
    SendMessage(kDoneRecord, {});
    ::_exit(0);
}

int MjpegVerbosity()
{
    static const int verbosity = [] {
        const char* value = std::getenv("MJPEG_VERBOSITY");
        if (!value || !*value)
            return -1;
        char* end = nullptr;
        long parsed = std::strtol(value, &end, 10);
        if (end == value)
            return -1;
        if (parsed < 0)
            return 0;
        return parsed > 2 ? 2 : static_cast<int>(parsed);
    }();
    return verbosity;
}

int MjpegLowestShownLevel(int verbosity)
{
    if (verbosity < 0)
        return static_cast<int>(MjpegLogLevel::Error) + 1;
    return static_cast<int>(MjpegLogLevel::Warning) - verbosity;
}

void SetMjpegLogSink(MjpegLogSink sink)
{
    std::lock_guard lock(g_sinkMutex);
    g_sink = std::move(sink);
}

void SetMjpegJobTimeout(std::chrono::milliseconds timeout)
{
    g_timeoutMs = timeout.count() > 0 ? timeout.count() : 1;
}

std::chrono::milliseconds MjpegJobTimeout()
{
    return std::chrono::milliseconds(g_timeoutMs.load());
}

namespace {

std::string StartFailure(const char* what, int error)
{
    return std::string("cannot start the encoder process: ") + what + ": " + std::strerror(error);
}

thread_local const ManualResetEvent* t_jobCancel = nullptr;

} // namespace

MjpegCancelScope::MjpegCancelScope(const ManualResetEvent* cancel) : previous_(t_jobCancel)
{
    t_jobCancel = cancel;
}

MjpegCancelScope::~MjpegCancelScope()
{
    t_jobCancel = previous_;
}

namespace {

thread_local MjpegHelperProcess* t_keptHelper = nullptr;

// How one exchange with a job's process went.
struct Exchange {
    bool killed = false; // stopped for making no progress
    bool cancelled = false; // stopped by the cancel event
    bool outOfMemory = false; // this side could not hold the job's messages
};

// Feeds the request to the job's process and reads its records as they arrive, until the
// log pipe ends (every writer has gone) or, with untilEnded, a kept helper's record that
// the job has ended. The time limit counts from the last sign of progress; the cancel
// event of the calling thread's scope stops the job at once. Stopping kills killTarget
// (a process, or a process group when negative). requestFd is closed once everything is
// sent when closeWhenSent (the end of the input ends a one-job request); otherwise it is
// left open and only no longer written to. Nothing here throws.
Exchange ExchangeWithJob(pid_t killTarget, int logRead, int requestFd, bool closeWhenSent,
                         const std::vector<std::string_view>& request, MessageReader& reader, bool untilEnded)
{
    Exchange exchange;
    const ManualResetEvent* cancel = t_jobCancel;
    const int cancelFd = cancel ? cancel->NotifyDescriptor() : -1;
    const auto timeout = MjpegJobTimeout();
    // The multiplexer reports every sector it writes, so a long segment keeps its job
    // alive while a stuck one does not.
    const auto started = std::chrono::steady_clock::now();
    const auto hardDeadline = started + timeout * kLongestJobInLimits;
    auto deadline = started + timeout;
    std::size_t part = 0;
    std::size_t sent = 0;
    auto stopSending = [&] {
        if (requestFd >= 0 && closeWhenSent)
            ::close(requestFd);
        requestFd = -1;
    };
    auto skipEmptyParts = [&] {
        while (part < request.size() && sent == request[part].size()) {
            ++part;
            sent = 0;
        }
        if (part == request.size())
            stopSending();
    };
    if (requestFd >= 0)
        skipEmptyParts();
    try {
        char buffer[8192];
        while (!(untilEnded && reader.ended)) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                ::kill(killTarget, SIGKILL);
                exchange.killed = true;
                break;
            }
            if (cancel && cancel->IsSet()) {
                ::kill(killTarget, SIGKILL);
                exchange.cancelled = true;
                break;
            }
            // The cancel event's descriptor wakes the wait at once; without one, the
            // event is looked at every tenth of a second.
            const long long slice = cancel && cancelFd < 0 ? 100 : 60'000;
            pollfd waits[3] = {{logRead, POLLIN, 0}, {cancelFd, POLLIN, 0}, {requestFd, POLLOUT, 0}};
            int ready =
                ::poll(waits, requestFd >= 0 ? 3 : 2, static_cast<int>(std::min<long long>(left.count(), slice)));
            if (ready < 0 && errno != EINTR)
                break;
            if (ready <= 0)
                continue;
            if (waits[1].revents != 0)
                continue; // the cancel event: handled at the top
            if (requestFd >= 0 && waits[2].revents != 0) {
                const std::string_view& bytes = request[part];
                ssize_t wrote =
                    ::send(requestFd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (wrote > 0) {
                    sent += static_cast<std::size_t>(wrote);
                    skipEmptyParts();
                    deadline = std::min(std::chrono::steady_clock::now() + timeout, hardDeadline);
                } else if (wrote < 0 && errno != EINTR && errno != EAGAIN) {
                    // The process has gone without reading all of it; its end says why.
                    stopSending();
                }
            }
            if (waits[0].revents == 0)
                continue;
            ssize_t got = ::read(logRead, buffer, sizeof buffer);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got <= 0)
                break; // end of file: every writer has ended
            reader.Add(buffer, static_cast<std::size_t>(got));
            deadline = std::min(std::chrono::steady_clock::now() + timeout, hardDeadline);
        }
    } catch (const std::bad_alloc&) {
        ::kill(killTarget, SIGKILL);
        exchange.killed = true;
        exchange.outOfMemory = true;
    }
    stopSending();
    return exchange;
}

// The outcome of a job from how the exchange went and how its process ended (status,
// when it could be had: reaped).
void JudgeJob(MjpegJobResult& result, const MessageReader& reader, const Exchange& exchange, bool reaped, int status)
{
    const std::string& lastError = reader.lastError;
    if (exchange.outOfMemory) {
        result.error = "malloc failed\n";
    } else if (exchange.cancelled) {
        result.error = kMjpegJobCancelled;
    } else if (exchange.killed && reaped && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", static_cast<double>(MjpegJobTimeout().count()) / 1000.0);
        result.error = std::string("the encoder process made no progress for ") + seconds + " seconds and was stopped";
    } else if (reaped ? WIFEXITED(status) && WEXITSTATUS(status) == 0 && reader.done : reader.done) {
        // (Reaped elsewhere: the process's own word that its work returned must do.)
        result.ok = true;
    } else if (!lastError.empty()) {
        result.error = lastError;
    } else if (reaped && WIFSIGNALED(status)) {
        result.error = std::string("the encoder process ended abnormally (") + ::strsignal(WTERMSIG(status)) + ")";
    } else if (reaped) {
        result.error =
            "the encoder process failed with status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    } else {
        result.error = "the encoder process ended without finishing its work";
    }
}

// A descriptor for the child's side of a channel, above the standard ones, so that
// putting it in its place in the child never overwrites another.
FileDescriptor AboveStandard(FileDescriptor fd)
{
    if (fd.Get() > kMjpegHelperLogFd)
        return fd;
    return FileDescriptor(::fcntl(fd.Get(), F_DUPFD_CLOEXEC, kMjpegHelperLogFd + 1));
}

// Starts the helper program: its standard input is the request channel, descriptor 3 the
// records. A kept helper leads a process group of its own, so that it and the job it
// runs can be stopped together.
bool SpawnHelper(const std::string& helperPath, bool kept, pid_t* child, FileDescriptor* logRead,
                 FileDescriptor* requestWrite, std::string* error)
{
    int logPipe[2];
    if (::pipe2(logPipe, O_CLOEXEC) != 0) {
        *error = StartFailure("pipe", errno);
        return false;
    }
    *logRead = FileDescriptor(logPipe[0]);
    int requestPair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, requestPair) != 0) {
        *error = StartFailure("socketpair", errno);
        ::close(logPipe[1]);
        return false;
    }
    *requestWrite = FileDescriptor(requestPair[0]);
    FileDescriptor childLog = AboveStandard(FileDescriptor(logPipe[1]));
    FileDescriptor childRequest = AboveStandard(FileDescriptor(requestPair[1]));
    if (!childLog || !childRequest) {
        *error = StartFailure("fcntl", errno);
        return false;
    }

    // Nothing else of this program's descriptors reaches the helper (a parallel job's
    // pipe held open by another helper would keep that job waiting).
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childRequest.Get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, childLog.Get(), kMjpegHelperLogFd);
    if (MjpegVerbosity() < 0) {
        // The libraries print a few things directly; none of it belongs on the screen.
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    posix_spawn_file_actions_addclosefrom_np(&actions, kMjpegHelperLogFd + 1);
    // The helper starts with every signal at its default and none blocked, whatever this
    // program ignores (a broken pipe) or blocks on its threads.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (kept) {
        posix_spawnattr_setpgroup(&attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attributes, flags);

    std::string program = kMjpegHelperName;
    std::string serve = kMjpegHelperKeepArgument;
    char* const argv[] = {program.data(), kept ? serve.data() : nullptr, nullptr};
    int failure = ::posix_spawn(child, helperPath.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failure != 0) {
        *error = std::string("cannot start the encoder process ") + helperPath + ": " + std::strerror(failure);
        return false;
    }
    return true;
}

std::string MissingHelperText()
{
    return std::string("cannot start the encoder process: the helper program \"") + kMjpegHelperName +
           "\" is missing beside the program and in the program folder (or set " + kMjpegHelperVariable + ")";
}

} // namespace

// Feeds the request to the child, reads its records as they arrive and judges how it
// ended. Takes over both descriptors (requestFd may be empty when there is no request)
// and always reaps the child.
MjpegJobResult SuperviseMjpegChild(pid_t child, FileDescriptor logPipe, FileDescriptor requestFd,
                                   const std::vector<std::string_view>& request)
{
    MjpegJobResult result;
    MessageReader reader(result);
    const Exchange exchange = ExchangeWithJob(child, logPipe.Get(), requestFd.Release(), true, request, reader, false);
    logPipe.Reset();
    int status = 0;
    bool killed = exchange.killed;
    const bool reaped = ReapChild(child, std::chrono::steady_clock::now() + MjpegJobTimeout(), &status, &killed);
    Publish(result.log);
    Exchange judged = exchange;
    judged.killed = killed;
    JudgeJob(result, reader, judged, reaped, status);
    return result;
}

MjpegJobResult RunMjpegHelperJob(std::string_view kind, const std::vector<std::string_view>& payload)
{
    if (t_keptHelper)
        return t_keptHelper->Run(kind, payload);
    std::string helper = FindMjpegHelper();
    if (helper.empty()) {
        MjpegJobResult result;
        result.error = MissingHelperText();
        return result;
    }
    return RunMjpegHelperJob(helper, kind, payload);
}

MjpegJobResult RunMjpegHelperJob(const std::string& helperPath, std::string_view kind,
                                 const std::vector<std::string_view>& payload)
{
    MjpegJobResult result;
    pid_t child = -1;
    FileDescriptor logRead, requestWrite;
    if (!SpawnHelper(helperPath, false, &child, &logRead, &requestWrite, &result.error))
        return result;
    MjpegRequestWriter head;
    head.Text(kind);
    std::vector<std::string_view> request;
    request.reserve(payload.size() + 2);
    request.emplace_back(kMjpegRequestMagic, sizeof kMjpegRequestMagic);
    request.emplace_back(head.Bytes());
    request.insert(request.end(), payload.begin(), payload.end());
    return SuperviseMjpegChild(child, std::move(logRead), std::move(requestWrite), request);
}

// --- A helper kept for job after job -------------------------------------------------

MjpegHelperProcess::MjpegHelperProcess(std::string helperPath) : path_(std::move(helperPath))
{ }

MjpegHelperProcess::~MjpegHelperProcess()
{
    End(false);
}

void MjpegHelperProcess::End(bool kill)
{
    if (pid_ < 0)
        return;
    // Without its request channel the helper ends by itself; one that does not (or that
    // must go at once) is killed together with whatever job it runs.
    request_.Reset();
    if (kill)
        ::kill(-pid_, SIGKILL);
    int status = 0;
    bool killed = kill;
    const auto limit = std::min(MjpegJobTimeout(), std::chrono::milliseconds(5000));
    ReapChild(pid_, std::chrono::steady_clock::now() + limit, &status, &killed);
    log_.Reset();
    pid_ = -1;
}

MjpegJobResult MjpegHelperProcess::Run(std::string_view kind, const std::vector<std::string_view>& payload)
{
    MjpegJobResult result;
    if (pid_ < 0) {
        if (path_.empty())
            path_ = FindMjpegHelper();
        if (path_.empty()) {
            result.error = MissingHelperText();
            return result;
        }
        if (!SpawnHelper(path_, true, &pid_, &log_, &request_, &result.error)) {
            pid_ = -1;
            log_.Reset();
            request_.Reset();
            return result;
        }
        ++starts_;
    }
    // A kept helper reads its requests one after another: each one says how long it is.
    MjpegRequestWriter head;
    head.Text(kind);
    std::uint64_t length = sizeof kMjpegRequestMagic + head.Bytes().size();
    for (std::string_view part : payload)
        length += part.size();
    std::vector<std::string_view> request;
    request.reserve(payload.size() + 3);
    request.emplace_back(reinterpret_cast<const char*>(&length), sizeof length);
    request.emplace_back(kMjpegRequestMagic, sizeof kMjpegRequestMagic);
    request.emplace_back(head.Bytes());
    request.insert(request.end(), payload.begin(), payload.end());

    MessageReader reader(result);
    Exchange exchange = ExchangeWithJob(-pid_, log_.Get(), request_.Get(), false, request, reader, true);
    int status = 0;
    bool reaped = true;
    if (reader.ended && !exchange.killed && !exchange.cancelled) {
        status = reader.endStatus; // the helper goes on; the job's own end is judged
    } else {
        // The helper was stopped, or it died itself (its job with it): the job fails by
        // how the helper ended, and the next job starts a new helper.
        bool killed = exchange.killed || exchange.cancelled;
        if (killed)
            ::kill(-pid_, SIGKILL);
        request_.Reset();
        log_.Reset();
        reaped = ReapChild(pid_, std::chrono::steady_clock::now() + MjpegJobTimeout(), &status, &killed);
        exchange.killed = exchange.killed || (killed && !exchange.cancelled);
        pid_ = -1;
    }
    Publish(result.log);
    JudgeJob(result, reader, exchange, reaped, status);
    return result;
}

MjpegHelperScope::MjpegHelperScope(MjpegHelperProcess* helper) : previous_(t_keptHelper)
{
    t_keptHelper = helper;
}

MjpegHelperScope::~MjpegHelperScope()
{
    t_keptHelper = previous_;
}

void SendMjpegJobEnded(int logFd, int waitStatus, std::string_view error)
{
    const int saved = g_childPipe;
    g_childPipe = logFd;
    if (!error.empty())
        SendMessage(static_cast<int>(MjpegLogLevel::Error), error);
    const auto status = static_cast<std::int32_t>(waitStatus);
    SendMessage(kEndedRecord, std::string_view(reinterpret_cast<const char*>(&status), sizeof status));
    g_childPipe = saved;
}

void MjpegLog(MjpegLogLevel level, std::string_view text)
{
    if (g_childPipe >= 0) {
        SendMessage(static_cast<int>(level), text);
        return;
    }
    Publish({{level, std::string(text)}});
}

void MjpegFatal(std::string_view text)
{
    if (g_childPipe >= 0) {
        SendMessage(static_cast<int>(MjpegLogLevel::Error), text);
        ::_exit(kFailedStatus);
    }
    // Outside a job there is no process to end: a programming error.
    MjpegLog(MjpegLogLevel::Error, text);
    std::abort();
}

} // namespace lumivox
