// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/SafeOutput.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivox {
namespace {

// A file name is at most 255 bytes; the pending name adds a dot, a marker and a suffix.
constexpr std::size_t kMaxNamePart = 200;
constexpr const char* kMarker = ".lumivox-";
constexpr int kSuffixLength = 8;

std::string Reason(int code)
{
    return std::strerror(code);
}

// The first characters of every pending name for a target: ".NAME.lumivox-".
std::string PendingPrefix(const std::string& name)
{
    return "." + name.substr(0, kMaxNamePart) + kMarker;
}

std::string RandomSuffix()
{
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}() ^ (std::uint64_t(::getpid()) << 32)};
    std::string suffix;
    for (int i = 0; i < kSuffixLength; ++i)
        suffix += kChars[random() % (sizeof kChars - 1)];
    return suffix;
}

// Looks at the pending files of the same target in the folder: one still locked belongs
// to a run that is writing (true); one that is not belongs to a run that died and is
// removed, when it is ours to remove.
bool AnotherRunWrites(int folderFd, const std::string& prefix)
{
    const int listFd = ::dup(folderFd);
    if (listFd < 0)
        return false;
    DIR* listing = ::fdopendir(listFd);
    if (listing == nullptr) {
        ::close(listFd);
        return false;
    }
    ::rewinddir(listing);
    bool busy = false;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0 || name.size() != prefix.size() + kSuffixLength)
            continue;
        const FileDescriptor other(
            ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        struct stat info { };
        if (!other || ::fstat(other.Get(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        if (::flock(other.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK)
                busy = true;
            continue;
        }
        if (info.st_uid == ::geteuid())
            ::unlinkat(folderFd, name.c_str(), 0);
    }
    ::closedir(listing);
    return busy;
}

void SyncFolder(const std::string& folder)
{
    const FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd)
        (void)::fsync(fd.Get());
}

} // namespace

SafeOutput::~SafeOutput()
{
    Abandon();
}

bool SafeOutput::Open(const std::string& target, std::string* error)
{
    Abandon();
    committed_ = false;
    target_ = target;
    auto fail = [&](const std::string& text) {
        if (error)
            *error = text;
        return false;
    };
    const std::size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return fail(target + ": names a folder, not a file.");

    struct stat info { };
    if (::lstat(target.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return fail(target + ": is a folder, not a file.");
        // A FIFO or a device is never replaced by a rename (nor written to).
        if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode))
            return fail(target + ": " + kNotARegularFile + ".");
    }

    const FileDescriptor folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd)
        return fail("Cannot write " + target + ": " + Reason(errno) + ".");
    // The folder's lock makes looking for other runs and creating the pending file one
    // step, so of two runs started together exactly one is refused. A file system
    // without locks still gets the exclusive, unique pending file.
    const bool folderLocked = ::flock(folderFd.Get(), LOCK_EX) == 0;
    const std::string prefix = PendingPrefix(name);
    if (AnotherRunWrites(folderFd.Get(), prefix)) {
        if (folderLocked)
            ::flock(folderFd.Get(), LOCK_UN);
        return fail(name + " is being written by another run.");
    }
    int code = 0;
    for (int attempt = 0; attempt < 100 && !fd_; ++attempt) {
        const std::string candidate = prefix + RandomSuffix();
        // The umask gives the permissions, as for any file the user's programs create.
        fd_.Reset(::openat(folderFd.Get(), candidate.c_str(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666));
        if (fd_)
            pending_ = (slash == std::string::npos ? "" : target.substr(0, slash + 1)) + candidate;
        else if ((code = errno) != EEXIST)
            break;
    }
    if (fd_)
        (void)::flock(fd_.Get(), LOCK_EX | LOCK_NB);
    if (folderLocked)
        ::flock(folderFd.Get(), LOCK_UN);
    if (!fd_)
        return fail("Cannot write " + target + ": " + Reason(code) + ".");
    return true;
}

bool SafeOutput::Write(std::string_view data, std::string* error)
{
    while (!data.empty()) {
        const ssize_t put = ::write(fd_.Get(), data.data(), data.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (error)
                *error = "Cannot write " + target_ + ": " + Reason(put < 0 ? errno : ENOSPC) + ".";
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

bool SafeOutput::Commit(std::string* error)
{
    if (!fd_) {
        if (error)
            *error = "Cannot write " + target_ + ": it was not opened.";
        return false;
    }
    // The rename comes before the close: the pending file stays locked until it has
    // its final name, so no other run takes it for the leftover of a dead one.
    int code = 0;
    if (::fsync(fd_.Get()) != 0)
        code = errno;
    else if (::rename(pending_.c_str(), target_.c_str()) != 0)
        code = errno;
    if (code != 0) {
        Abandon();
        if (error)
            *error = "Cannot write " + target_ + ": " + Reason(code) + ".";
        return false;
    }
    committed_ = true;
    fd_.Close();
    const std::size_t slash = target_.find_last_of('/');
    SyncFolder(slash == std::string::npos ? "." : slash == 0 ? "/" : target_.substr(0, slash));
    return true;
}

void SafeOutput::Abandon()
{
    if (fd_ && !committed_)
        ::unlink(pending_.c_str());
    fd_.Reset();
}

bool WriteFileSafely(const std::string& target, std::string_view contents, std::string* error)
{
    SafeOutput output;
    return output.Open(target, error) && output.Write(contents, error) && output.Commit(error);
}

bool IsSameFile(const std::string& a, const std::string& b)
{
    struct stat first {
    }, second{};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

} // namespace lumivox
