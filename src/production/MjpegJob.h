// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The helper process every encode and multiplex runs in ("lumivox-mjpeg"), seen from both
// sides. Internal to the production library and the helper program.
//
// A helper is started as a fresh program (posix_spawn), never as a fork of this one: the
// program has other threads (frame workers, the user interface), and a forked copy of it
// would inherit whatever lock one of them held at that moment, held for ever. A fresh
// program inherits nothing but its descriptors.
//
// Two ways to run a job:
//   - one helper per job: the request travels on the helper's standard input: "LVMJ", the
//     job kind (32-bit length, text), then the kind's payload up to the end of the input;
//     the helper runs it and ends;
//   - a kept helper (MjpegHelperProcess, started with kMjpegHelperKeepArgument), one per
//     frame worker of a run, fed job after job: each request is preceded by its length
//     (64 bits). The helper stays single-threaded and runs every job in a forked copy of
//     itself, so each job still starts from the libraries' fresh state, and a job that
//     dies (a fatal library error, a crash) ends only that copy; the helper reports the
//     copy's end and waits for the next request. A helper that dies itself, or one that
//     must be stopped (no progress, cancel), fails only the job under way; the next job
//     starts a new one.
// The job sends its messages and its "done" record on descriptor 3 (the records of
// MjpegLog.cpp), a kept helper then the job's end; standard output and error are the
// program's, or /dev/null unless "MJPEG_VERBOSITY" is set.

#include "base/FileDescriptor.h"
#include "production/MjpegLog.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivox {

inline constexpr const char* kMjpegHelperName = "lumivox-mjpeg";
// Environment variable naming the helper when it is in none of the folders looked in.
inline constexpr const char* kMjpegHelperVariable = "LUMIVOX_MJPEG_HELPER";
// The helper's descriptor for the message records.
inline constexpr int kMjpegHelperLogFd = 3;
// The argument that makes the helper a kept one.
inline constexpr const char* kMjpegHelperKeepArgument = "--keep";
inline constexpr char kMjpegRequestMagic[4] = {'L', 'V', 'M', 'J'};
// Largest request the helper accepts (a still's planes are well under a megabyte).
inline constexpr std::size_t kMaxMjpegRequestBytes = std::size_t{256} << 20;

// Builds the fixed-size fields and short texts of a payload (native byte order: the
// helper is built with the program).
class MjpegRequestWriter {
public:
    void U32(std::uint32_t value) { Raw(&value, sizeof value); }
    void I32(std::int32_t value) { Raw(&value, sizeof value); }
    void F64(double value) { Raw(&value, sizeof value); }
    void Text(std::string_view text)
    {
        U32(static_cast<std::uint32_t>(text.size()));
        bytes_.append(text);
    }
    const std::string& Bytes() const { return bytes_; }

private:
    void Raw(const void* data, std::size_t size) { bytes_.append(static_cast<const char*>(data), size); }
    std::string bytes_;
};

// Reads a payload inside the helper; a short or inconsistent request fails the job.
class MjpegRequestReader {
public:
    explicit MjpegRequestReader(std::string_view bytes) : bytes_(bytes) { }
    std::uint32_t U32();
    std::int32_t I32();
    double F64();
    std::string_view Bytes(std::size_t size);
    std::string Text() { return std::string(Bytes(U32())); }
    bool AtEnd() const { return bytes_.empty(); }

private:
    std::string_view bytes_;
};

// Where the helper is: beside the running executable (the build tree), else in the
// package's private folder <executable folder>/../lib/lumivox/ (an installed program: the
// helper is not a command for the user's PATH), else in the program folder, else the
// path in LUMIVOX_MJPEG_HELPER. Empty when none of them holds an executable file.
std::string FindMjpegHelper();

// Runs one job in a fresh helper process: the request is the kind followed by the payload
// parts (sent as they are, not copied together). Same outcome and supervision as
// a job always is: the time limit from the last message, the "done" record, reaping, the
// bounded log and the sink. A missing helper fails the job with a message naming it.
MjpegJobResult RunMjpegHelperJob(std::string_view kind, const std::vector<std::string_view>& payload);
MjpegJobResult RunMjpegHelperJob(const std::string& helperPath, std::string_view kind,
                                 const std::vector<std::string_view>& payload);

// A helper program kept for job after job. One object serves one thread at a time. The
// helper is started with the first job (and again after one has died); it ends when the
// object is destroyed.
class MjpegHelperProcess {
public:
    // helperPath empty: FindMjpegHelper() when the helper is first needed.
    explicit MjpegHelperProcess(std::string helperPath = {});
    ~MjpegHelperProcess();
    MjpegHelperProcess(const MjpegHelperProcess&) = delete;
    MjpegHelperProcess& operator=(const MjpegHelperProcess&) = delete;

    // Runs one job in the helper, with the outcome and supervision of RunMjpegHelperJob.
    MjpegJobResult Run(std::string_view kind, const std::vector<std::string_view>& payload);

    pid_t Pid() const { return pid_; } // -1 while no helper runs
    int Starts() const { return starts_; } // helper programs started so far

private:
    void End(bool kill);

    std::string path_;
    pid_t pid_ = -1;
    FileDescriptor request_;
    FileDescriptor log_;
    int starts_ = 0;
};

// While it lives, the jobs this thread starts through RunMjpegHelperJob(kind, payload)
// (every encode and multiplex) go to `helper` instead of a helper of their own.
class MjpegHelperScope {
public:
    explicit MjpegHelperScope(MjpegHelperProcess* helper);
    ~MjpegHelperScope();
    MjpegHelperScope(const MjpegHelperScope&) = delete;
    MjpegHelperScope& operator=(const MjpegHelperScope&) = delete;

private:
    MjpegHelperProcess* previous_;
};

// Inside a kept helper: reports on logFd that the job's process has ended with
// waitStatus (after an error message, when given).
void SendMjpegJobEnded(int logFd, int waitStatus, std::string_view error = {});

// Inside a job's process: sends messages on `logFd`, runs `work` and ends the process with
// the job's outcome.
[[noreturn]] void RunMjpegJobInThisProcess(int logFd, const std::function<void()>& work);

// The helper program's main: reads the request from standard input and runs it, or, with
// kMjpegHelperKeepArgument, runs request after request until its input ends. A kind
// other than "encode" and "multiplex" goes to extraKinds (a test helper's own kinds),
// which returns false for a kind it does not know either.
using MjpegExtraJobKinds = std::function<bool(std::string_view kind, MjpegRequestReader& request)>;
int MjpegHelperMain(int argc, char** argv, const MjpegExtraJobKinds& extraKinds = {});

// Supervises a started job's process: feeds it the request, reads its records (the
// child's end of logPipe is descriptor 3 in the child, or whatever it writes records on),
// applies the time limits and the cancel scope, and always reaps it. request may be
// empty (requestPipe then too).
MjpegJobResult SuperviseMjpegChild(pid_t child, FileDescriptor logPipe, FileDescriptor requestPipe,
                                   const std::vector<std::string_view>& request);

// The job bodies, called inside the helper with the payload of their kind.
void RunEncodeJobInThisProcess(MjpegRequestReader& request);
void RunMultiplexJobInThisProcess(MjpegRequestReader& request);

} // namespace lumivox
