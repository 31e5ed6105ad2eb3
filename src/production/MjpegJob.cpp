// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/MjpegJob.h"

#include "base/Paths.h"
#include "production/SlideshowTrack.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumivox {
namespace {

constexpr const char* kMalformedText = "malformed job request\n";

bool IsExecutableFile(const std::string& path)
{
    struct stat info { };
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Reads the whole request; false when it cannot be read or is larger than any job needs.
bool ReadRequest(int fd, std::string& request)
{
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (request.size() + static_cast<std::size_t>(got) > kMaxMjpegRequestBytes)
            return false;
        request.append(buffer, static_cast<std::size_t>(got));
    }
}

// Reads exactly size bytes: 1 when done, 0 at the end of the input before the first byte,
// -1 on an error or an input that ends part-way.
int ReadExactly(int fd, void* data, std::size_t size)
{
    auto* bytes = static_cast<char*>(data);
    std::size_t have = 0;
    while (have < size) {
        ssize_t got = ::read(fd, bytes + have, size - have);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            return have == 0 ? 0 : -1;
        have += static_cast<std::size_t>(got);
    }
    return 1;
}

// Runs one request in this process and ends it with the job's outcome.
[[noreturn]] void RunRequest(bool complete, std::string_view bytes, const MjpegExtraJobKinds& extraKinds)
{
    RunMjpegJobInThisProcess(kMjpegHelperLogFd, [&] {
        if (!complete)
            MjpegFatal("the job request could not be read\n");
        if (bytes.substr(0, sizeof kMjpegRequestMagic) !=
            std::string_view(kMjpegRequestMagic, sizeof kMjpegRequestMagic))
            MjpegFatal(kMalformedText);
        MjpegRequestReader reader(bytes.substr(sizeof kMjpegRequestMagic));
        std::string kind = reader.Text();
        if (kind == "encode") {
            RunEncodeJobInThisProcess(reader);
        } else if (kind == "multiplex") {
            RunMultiplexJobInThisProcess(reader);
        } else if (kind == "track-picture") {
            RunTrackPictureJobInThisProcess(reader);
        } else if (kind == "track-multiplex") {
            RunTrackMultiplexJobInThisProcess(reader);
        } else if (!extraKinds || !extraKinds(kind, reader)) {
            MjpegFatal("unknown job kind \"" + kind + "\"\n");
        }
    });
}

// A kept helper: request after request, each run in a forked copy of this (single-
// threaded) process, whose end is reported once it has been reaped. Ends when the input
// ends, or with status 1 when a request cannot be read (the program then starts a new
// helper).
int ServeRequests(const MjpegExtraJobKinds& extraKinds)
{
    const pid_t self = ::getpid();
    for (;;) {
        std::uint64_t length = 0;
        int got = ReadExactly(STDIN_FILENO, &length, sizeof length);
        if (got == 0)
            return 0;
        if (got < 0 || length > kMaxMjpegRequestBytes)
            return 1;
        std::string request(static_cast<std::size_t>(length), '\0');
        if (ReadExactly(STDIN_FILENO, request.data(), request.size()) != 1)
            return 1;
        const pid_t job = ::fork();
        if (job < 0) {
            SendMjpegJobEnded(kMjpegHelperLogFd, 1 << 8,
                              std::string("cannot start the job: fork: ") + std::strerror(errno));
            continue;
        }
        if (job == 0) {
            // The job ends with its helper, and does not hold the helper's input.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != self)
                ::_exit(1);
            int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (null >= 0) {
                ::dup2(null, STDIN_FILENO);
                ::close(null);
            }
            RunRequest(true, request, extraKinds);
        }
        std::string().swap(request);
        int status = 0;
        while (::waitpid(job, &status, 0) < 0) {
            if (errno != EINTR) {
                status = 1 << 8;
                break;
            }
        }
        SendMjpegJobEnded(kMjpegHelperLogFd, status);
    }
}

} // namespace

std::uint32_t MjpegRequestReader::U32()
{
    std::uint32_t value;
    std::memcpy(&value, Bytes(sizeof value).data(), sizeof value);
    return value;
}

std::int32_t MjpegRequestReader::I32()
{
    std::int32_t value;
    std::memcpy(&value, Bytes(sizeof value).data(), sizeof value);
    return value;
}

double MjpegRequestReader::F64()
{
    double value;
    std::memcpy(&value, Bytes(sizeof value).data(), sizeof value);
    return value;
}

std::string_view MjpegRequestReader::Bytes(std::size_t size)
{
    if (size > bytes_.size())
        MjpegFatal(kMalformedText);
    std::string_view taken = bytes_.substr(0, size);
    bytes_.remove_prefix(size);
    return taken;
}

std::string FindMjpegHelper()
{
    std::string executable = ExecutablePath();
    std::size_t slash = executable.rfind('/');
    if (slash != std::string::npos) {
        std::string beside = executable.substr(0, slash + 1) + kMjpegHelperName;
        if (IsExecutableFile(beside))
            return beside;
        // /usr/bin/lumivox-cli -> /usr/lib/lumivox/lumivox-mjpeg
        std::size_t prefixEnd = executable.rfind('/', slash == 0 ? 0 : slash - 1);
        if (prefixEnd != std::string::npos && slash > 0) {
            std::string installed = executable.substr(0, prefixEnd + 1) + "lib/lumivox/" + kMjpegHelperName;
            if (IsExecutableFile(installed))
                return installed;
        }
    }
    // Without the program's own path (no /proc), the installed helper; never one found in
    // whatever folder the program was started from.
    if (executable.empty()) {
        std::string installed = InstalledHelperFolder() + kMjpegHelperName;
        if (IsExecutableFile(installed))
            return installed;
    }
    std::string inProgramFolder = ProgramFolder() + kMjpegHelperName;
    if (IsExecutableFile(inProgramFolder))
        return inProgramFolder;
    const char* named = std::getenv(kMjpegHelperVariable);
    if (named && IsExecutableFile(named))
        return named;
    return {};
}

int MjpegHelperMain(int argc, char** argv, const MjpegExtraJobKinds& extraKinds)
{
    if (::fcntl(kMjpegHelperLogFd, F_GETFD) < 0) {
        std::fprintf(stderr,
                     "%s: runs encoder and multiplexer jobs for Lumivox; it is started "
                     "by the program, not by hand\n",
                     kMjpegHelperName);
        return 2;
    }
    // Not a descriptor of ours to pass on to anything the libraries might start.
    ::fcntl(kMjpegHelperLogFd, F_SETFD, FD_CLOEXEC);
    if (argc > 1 && std::string_view(argv[1]) == kMjpegHelperKeepArgument)
        return ServeRequests(extraKinds);
    std::string request;
    bool complete = ReadRequest(STDIN_FILENO, request);
    RunRequest(complete, request, extraKinds);
}

} // namespace lumivox
