// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// FileDescriptor: owns one POSIX file descriptor and closes it when destroyed, so every
// path out of a function that opened a file, pipe, socket or device closes it exactly once.

#include <string>
#include <utility>

namespace lumivox {

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) noexcept : fd_(fd) { }
    ~FileDescriptor() { Reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) { }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other)
            Reset(std::exchange(other.fd_, -1));
        return *this;
    }

    int Get() const noexcept { return fd_; }
    bool IsValid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return IsValid(); }

    // Gives the descriptor up without closing it.
    int Release() noexcept { return std::exchange(fd_, -1); }
    // Closes the held descriptor (if any) and takes fd.
    void Reset(int fd = -1) noexcept;
    // Closes now and says whether close succeeded: a file's last write errors show here,
    // so a writer that must report them calls Close instead of leaving it to the destructor.
    bool Close() noexcept;

private:
    int fd_ = -1;
};

// The reason OpenRegularFile gives for a FIFO, a device, a socket or a folder.
inline constexpr const char* kNotARegularFile = "not a regular file";

// Opens the file at path read-only, close-on-exec, for reading its contents. Every file a
// user names (pictures, template pictures, music) goes through here: a FIFO, a device or a
// folder is refused with kNotARegularFile before anything reads from it, because opening
// a FIFO waits for a writer and reading a device may never end. The type is checked
// before the open, and the open itself does not block (O_NONBLOCK, cleared again once the
// descriptor is known to be a regular file). On failure the result is invalid and *error
// (when given) holds the reason, without the path; errno is set.
FileDescriptor OpenRegularFile(const std::string& path, std::string* error = nullptr);

} // namespace lumivox
