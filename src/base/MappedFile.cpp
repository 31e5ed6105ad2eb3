// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/MappedFile.h"

#include "base/FileDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivox {

bool MappedFile::Open(const std::string& path, std::string* error, std::size_t maxBytes)
{
    Close();
    std::string reason;
    const FileDescriptor fd = OpenRegularFile(path, &reason);
    if (!fd) {
        if (error)
            *error = reason;
        return false;
    }
    struct stat st { };
    if (::fstat(fd.Get(), &st) != 0) {
        if (error)
            *error = std::string("stat: ") + std::strerror(errno);
        return false;
    }
    fileSize_ = static_cast<std::uint64_t>(st.st_size);
    // What the file held when it was opened is all that is read: one that grows
    // meanwhile cannot make the reader take more memory than it planned.
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize_, maxBytes));
    if (wanted > 0) {
        data_.reset(new (std::nothrow) unsigned char[wanted]);
        if (!data_) {
            if (error)
                *error = std::strerror(ENOMEM);
            return false;
        }
    }
    std::size_t have = 0;
    while (have < wanted) {
        const ssize_t got = ::read(fd.Get(), data_.get() + have, wanted - have);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            if (error)
                *error = std::string("read: ") + std::strerror(errno);
            Close();
            return false;
        }
        if (got == 0)
            break; // cut short meanwhile
        have += static_cast<std::size_t>(got);
    }
    size_ = have;
    if (size_ == 0)
        data_.reset();
    open_ = true;
    return true;
}

void MappedFile::Close()
{
    data_.reset();
    size_ = 0;
    fileSize_ = 0;
    open_ = false;
}

} // namespace lumivox
