#include "production/MjpegJob.h"

#include "base/Paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivox {
namespace {

constexpr const char* kMalformedText = "malformed job request\n";

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Reads the whole request; false when it cannot be read or is larger than any job needs.
bool ReadRequest(int fd, std::string& request) {
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        if (request.size() + static_cast<std::size_t>(got) > kMaxMjpegRequestBytes) return false;
        request.append(buffer, static_cast<std::size_t>(got));
    }
}

} // namespace

std::uint32_t MjpegRequestReader::U32() {
    std::uint32_t value;
    std::memcpy(&value, Bytes(sizeof value).data(), sizeof value);
    return value;
}

std::int32_t MjpegRequestReader::I32() {
    std::int32_t value;
    std::memcpy(&value, Bytes(sizeof value).data(), sizeof value);
    return value;
}

double MjpegRequestReader::F64() {
    double value;
    std::memcpy(&value, Bytes(sizeof value).data(), sizeof value);
    return value;
}

std::string_view MjpegRequestReader::Bytes(std::size_t size) {
    if (size > bytes_.size()) MjpegFatal(kMalformedText);
    std::string_view taken = bytes_.substr(0, size);
    bytes_.remove_prefix(size);
    return taken;
}

std::string FindMjpegHelper() {
    std::string executable = ExecutablePath();
    std::size_t slash = executable.rfind('/');
    if (slash != std::string::npos) {
        std::string beside = executable.substr(0, slash + 1) + kMjpegHelperName;
        if (IsExecutableFile(beside)) return beside;
        // /usr/bin/lumivox-cli -> /usr/lib/lumivox/lumivox-mjpeg
        std::size_t prefixEnd = executable.rfind('/', slash == 0 ? 0 : slash - 1);
        if (prefixEnd != std::string::npos && slash > 0) {
            std::string installed = executable.substr(0, prefixEnd + 1) + "lib/lumivox/" + kMjpegHelperName;
            if (IsExecutableFile(installed)) return installed;
        }
    }
    std::string inProgramFolder = ProgramFolder() + kMjpegHelperName;
    if (IsExecutableFile(inProgramFolder)) return inProgramFolder;
    const char* named = std::getenv(kMjpegHelperVariable);
    if (named && IsExecutableFile(named)) return named;
    return {};
}

int MjpegHelperMain(const MjpegExtraJobKinds& extraKinds) {
    if (::fcntl(kMjpegHelperLogFd, F_GETFD) < 0) {
        std::fprintf(stderr, "%s: runs one encoder or multiplexer job for Lumivox; it is started "
                             "by the program, not by hand\n", kMjpegHelperName);
        return 2;
    }
    // Not a descriptor of ours to pass on to anything the libraries might start.
    ::fcntl(kMjpegHelperLogFd, F_SETFD, FD_CLOEXEC);
    std::string request;
    bool complete = ReadRequest(STDIN_FILENO, request);
    RunMjpegJobInThisProcess(kMjpegHelperLogFd, [&] {
        if (!complete) MjpegFatal("the job request could not be read\n");
        std::string_view bytes = request;
        if (bytes.substr(0, sizeof kMjpegRequestMagic) !=
            std::string_view(kMjpegRequestMagic, sizeof kMjpegRequestMagic))
            MjpegFatal(kMalformedText);
        MjpegRequestReader reader(bytes.substr(sizeof kMjpegRequestMagic));
        std::string kind = reader.Text();
        if (kind == "encode") {
            RunEncodeJobInThisProcess(reader);
        } else if (kind == "multiplex") {
            RunMultiplexJobInThisProcess(reader);
        } else if (!extraKinds || !extraKinds(kind, reader)) {
            MjpegFatal("unknown job kind \"" + kind + "\"\n");
        }
    });
}

} // namespace lumivox
