// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The one logging hook of the still encoder and the multiplexer (mjpegtools' mpeg2enc and
// mplex), and the isolation that keeps their fatal errors from ending the program.
//
// Both libraries keep process-wide state and leave through exit() on a fatal error
// ("mjpeg_error_exit1"). Lumivox therefore runs every encode and every multiplex in a
// process of its own: the helper program "lumivox-mjpeg", started for that one job or
// kept by a frame worker and running each job in a fresh copy of itself (see
// MjpegJob.h), which receives the frame or the paths, installs the log hook, does the
// work with the library and ends. Whatever the library does — exit, abort, a crash
// on a hostile input — only the helper ends; the caller gets the failure with the text of
// the last error message, and the library's state starts fresh for the next job. Because
// each job has its own process, jobs may run at the same time from different threads.
//
// Messages have the libraries' four levels. None of them is shown to the user; they go
// to standard error only when the environment variable "MJPEG_VERBOSITY" asks for them
// (0 = warnings and errors, 1 = also information, 2 = also debug), or to a sink that a
// caller installs (the debug log, tests).

#include "base/Event.h"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivox {

enum class MjpegLogLevel { Debug = 1, Information = 2, Warning = 3, Error = 4 };

struct MjpegLogMessage {
    MjpegLogLevel level;
    std::string text;
};

// The shared verbosity: "MJPEG_VERBOSITY" read once (0, 1 or 2; clamped), -1 when the
// variable is absent or not a number, which shows nothing.
int MjpegVerbosity();
// The lowest level shown for a verbosity (Error + 1, i.e. nothing, for -1).
int MjpegLowestShownLevel(int verbosity);

// Receives every message of every job after the job ends, on the calling thread.
// An empty function removes the sink. Process-wide; set it before jobs run.
using MjpegLogSink = std::function<void(const MjpegLogMessage&)>;
void SetMjpegLogSink(MjpegLogSink sink);

// The outcome of one isolated job.
struct MjpegJobResult {
    bool ok = false;
    // On failure: the text of the fatal error (the last error-level message), or a
    // description of how the job ended when it left no text.
    std::string error;
    std::vector<MjpegLogMessage> log;
};

// The error of a job stopped because the run was cancelled.
inline constexpr const char* kMjpegJobCancelled = "cancelled";

// While it lives, every job started on this thread is stopped (its process killed, the
// call failing with kMjpegJobCancelled) as soon as cancel is set. A frame worker puts
// its run's cancel event in scope around its encode and multiplex calls.
class MjpegCancelScope {
public:
    explicit MjpegCancelScope(const ManualResetEvent* cancel);
    ~MjpegCancelScope();
    MjpegCancelScope(const MjpegCancelScope&) = delete;
    MjpegCancelScope& operator=(const MjpegCancelScope&) = delete;

private:
    const ManualResetEvent* previous_;
};

// How long one job may stay silent before it is taken to hang (120 s unless changed; a
// still is encoded in well under a second, and the multiplexer reports every sector).
// Process-wide.
void SetMjpegJobTimeout(std::chrono::milliseconds timeout);
std::chrono::milliseconds MjpegJobTimeout();

// Inside a job: logs a message through the hook (printf-style texts are formatted by the
// caller). Outside a job the message goes only to the sink/standard error filter.
void MjpegLog(MjpegLogLevel level, std::string_view text);
// Inside a job: logs the text at error level and ends the job as failed (never returns).
[[noreturn]] void MjpegFatal(std::string_view text);

} // namespace lumivox
