// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// MappedFile: the bytes of a whole file (or of its start), read into memory. Pictures and
// music are read, not memory-mapped: a view of a file that another program truncates
// or rewrites meanwhile kills the reader with SIGBUS, while a copy read once is either
// whole or shorter, which the decoders report as their usual errors.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace lumivox {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile(MappedFile&& other) noexcept = default;
    MappedFile& operator=(MappedFile&& other) noexcept = default;

    // Reads the file at path, at most maxBytes of it. Returns false (with a reason in
    // *error when given) when the file cannot be opened, is not a regular file, cannot be
    // read, or memory is short. An empty file opens successfully with Data() == nullptr
    // and Size() == 0. A file that shrinks while it is read gives what it still held.
    bool Open(const std::string& path, std::string* error = nullptr, std::size_t maxBytes = SIZE_MAX);
    void Close();

    bool IsOpen() const { return open_; }
    const unsigned char* Data() const { return data_.get(); }
    std::size_t Size() const { return size_; }
    // The file's size when it was opened (Size() is less when maxBytes cut it short).
    std::uint64_t FileSize() const { return fileSize_; }

private:
    std::unique_ptr<unsigned char[]> data_;
    std::size_t size_ = 0;
    std::uint64_t fileSize_ = 0;
    bool open_ = false;
};

} // namespace lumivox
