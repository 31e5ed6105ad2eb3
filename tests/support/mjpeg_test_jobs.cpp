// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/mjpeg_test_jobs.h"

#include "base/Paths.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace lumivox::test {

MjpegJobResult RunForkedMjpegJob(const std::function<void()>& work)
{
    MjpegJobResult result;
    // The child must not be the first to reach this function-local static: another thread
    // of this process could be inside its initialisation at the moment of the fork.
    MjpegVerbosity();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.error = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    FileDescriptor logRead(fds[0]);
    FileDescriptor logWrite(fds[1]);
    const pid_t child = ::fork();
    if (child < 0) {
        result.error = std::string("fork: ") + std::strerror(errno);
        return result;
    }
    if (child == 0) {
        logRead.Reset();
        RunMjpegJobInThisProcess(logWrite.Release(), work);
    }
    logWrite.Reset();
    return SuperviseMjpegChild(child, std::move(logRead), FileDescriptor(), {});
}

std::string MjpegTestHelperPath()
{
    const std::string executable = ExecutablePath();
    return executable.substr(0, executable.rfind('/') + 1) + kMjpegTestHelperName;
}

bool RunMjpegTestJobKind(std::string_view kind, MjpegRequestReader& request)
{
    if (kind == "test-talk") {
        // Logs the payload's count of messages and does a little allocating work.
        std::uint32_t count = request.U32();
        for (std::uint32_t i = 0; i < count; ++i)
            MjpegLog(MjpegLogLevel::Debug, "talk\n");
        std::vector<std::string> work(200, std::string(300, 'y'));
        MjpegLog(MjpegLogLevel::Information, "inside the job\n");
        return true;
    }
    if (kind == "test-fatal")
        MjpegFatal(request.Text());
    if (kind == "test-exit") {
        MjpegLog(MjpegLogLevel::Error, request.Text());
        std::exit(static_cast<int>(request.I32()));
    }
    if (kind == "test-crash")
        ::raise(SIGSEGV);
    if (kind == "test-hang") {
        for (;;)
            ::pause();
    }
    return false;
}

} // namespace lumivox::test
