// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/FileDescriptor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivox {

void FileDescriptor::Reset(int fd) noexcept
{
    if (fd_ >= 0 && fd_ != fd)
        ::close(fd_);
    fd_ = fd;
}

bool FileDescriptor::Close() noexcept
{
    if (fd_ < 0)
        return true;
    // close is not retried on EINTR: on Linux the descriptor is released either way.
    const int result = ::close(std::exchange(fd_, -1));
    return result == 0;
}

FileDescriptor OpenRegularFile(const std::string& path, std::string* error)
{
    auto fail = [&](int code, const char* reason) {
        if (error)
            *error = reason ? reason : std::strerror(code);
        errno = code;
        return FileDescriptor();
    };
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return fail(errno, nullptr);
    if (!S_ISREG(info.st_mode))
        return fail(EINVAL, kNotARegularFile);
    // The file may have been replaced by a FIFO since: the open must not wait, and the
    // descriptor is checked again.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd)
        return fail(errno, nullptr);
    if (::fstat(fd.Get(), &info) != 0)
        return fail(errno, nullptr);
    if (!S_ISREG(info.st_mode))
        return fail(EINVAL, kNotARegularFile);
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags >= 0)
        (void)::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

} // namespace lumivox
