#include "base/FileDescriptor.h"

#include <unistd.h>

namespace lumivox {

void FileDescriptor::Reset(int fd) noexcept {
    if (fd_ >= 0 && fd_ != fd) ::close(fd_);
    fd_ = fd;
}

bool FileDescriptor::Close() noexcept {
    if (fd_ < 0) return true;
    // close is not retried on EINTR: on Linux the descriptor is released either way.
    const int result = ::close(std::exchange(fd_, -1));
    return result == 0;
}

} // namespace lumivox
