#include "base/MappedFile.h"

#include "base/FileDescriptor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace lumivox {

MappedFile::~MappedFile() { Close(); }

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      open_(std::exchange(other.open_, false)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        Close();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        open_ = std::exchange(other.open_, false);
    }
    return *this;
}

bool MappedFile::Open(const std::string& path, std::string* error) {
    Close();
    std::string reason;
    FileDescriptor fd = OpenRegularFile(path, &reason);
    if (!fd) {
        if (error) *error = reason;
        return false;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        if (error) *error = std::string("stat: ") + std::strerror(errno);
        return false;
    }
    std::size_t size = static_cast<std::size_t>(st.st_size);
    if (size > 0) {
        void* view = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.Get(), 0);
        if (view == MAP_FAILED) {
            if (error) *error = std::string("mmap: ") + std::strerror(errno);
            return false;
        }
        data_ = static_cast<const unsigned char*>(view);
    }
    // The mapping stays valid after the descriptor is closed.
    size_ = size;
    open_ = true;
    return true;
}

void MappedFile::Close() {
    if (data_ != nullptr) ::munmap(const_cast<unsigned char*>(data_), size_);
    data_ = nullptr;
    size_ = 0;
    open_ = false;
}

} // namespace lumivox
