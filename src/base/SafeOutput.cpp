// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/SafeOutput.h"

#include "base/TextUtil.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivox {
namespace {

constexpr const char* kMarker = ".lumivox-";
constexpr int kSuffixLength = 8;
// A pending name is ".KEY.lumivox-XXXXXXXX", 18 bytes longer than its key. A target name
// of up to kWholeNameBytes is its own key. A longer one keeps its first bytes (cut at a
// character) followed by "~" and a hash of the whole name: so no two targets share a key
// however long and alike their names are, every pending name stays within the folders'
// limit, and a hashed key (over kWholeNameBytes) never equals another name's whole one.
constexpr std::size_t kWholeNameBytes = 220;
constexpr std::size_t kPendingExtraBytes = 1 + 9 + kSuffixLength;
constexpr std::size_t kHashedKeyBytes = 1 + 16; // "~" and the hash in hexadecimal
static_assert(kWholeNameBytes + kHashedKeyBytes + kPendingExtraBytes <= kMaxFileNameBytes);

std::string Reason(int code)
{
    return std::strerror(code);
}

void SetError(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
}

// 64-bit FNV-1a: a plain, fixed hash, so that runs of any version find each other's keys.
std::uint64_t NameHash(std::string_view name)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

std::string PendingKey(const std::string& name)
{
    if (name.size() <= kWholeNameBytes)
        return name;
    char hash[kHashedKeyBytes + 1];
    std::snprintf(hash, sizeof hash, "~%016" PRIx64, NameHash(name));
    return CutUtf8(name, kWholeNameBytes) + hash;
}

// The first characters of every pending name for a target: ".KEY.lumivox-".
std::string PendingPrefix(const std::string& name)
{
    return "." + PendingKey(name) + kMarker;
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

// The folder part and the name part of a path, as the program writes them.
void SplitTarget(const std::string& target, std::string& folder, std::string& name)
{
    const std::size_t slash = target.find_last_of('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    name = slash == std::string::npos ? target : target.substr(slash + 1);
}

} // namespace

bool CheckOutputTarget(const std::string& target, std::string* error)
{
    std::string folder, name;
    SplitTarget(target, folder, name);
    if (name.empty() || name == "." || name == "..") {
        SetError(error, target + ": names a folder, not a file.");
        return false;
    }
    if (name.size() > kMaxFileNameBytes) {
        SetError(error, target + ": the file name is longer than " + std::to_string(kMaxFileNameBytes) +
                            " bytes; choose a shorter one.");
        return false;
    }
    struct stat info { };
    if (::lstat(target.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            SetError(error, target + ": is a folder, not a file.");
            return false;
        }
        // A FIFO or a device is never replaced by a rename, nor written to; nor are names
        // made from it put into its folder (/dev/null.bin).
        if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
            SetError(error, target + " is " + kNotARegularFile + ".");
            return false;
        }
    }
    return true;
}

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
        SetError(error, text);
        folder_.Reset();
        return false;
    };
    if (!CheckOutputTarget(target, error))
        return false;
    std::string folder;
    SplitTarget(target, folder, targetName_);

    folder_.Reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder_)
        return fail("Cannot write " + target + ": " + Reason(errno) + ".");
    // The folder's lock makes looking for other runs and creating the pending file one
    // step, so of two runs started together exactly one is refused. A file system
    // without locks still gets the exclusive, unique pending file.
    const bool folderLocked = ::flock(folder_.Get(), LOCK_EX) == 0;
    const std::string prefix = PendingPrefix(targetName_);
    if (AnotherRunWrites(folder_.Get(), prefix)) {
        if (folderLocked)
            ::flock(folder_.Get(), LOCK_UN);
        return fail(targetName_ + " is being written by another run.");
    }
    int code = 0;
    for (int attempt = 0; attempt < 100 && !fd_; ++attempt) {
        const std::string candidate = prefix + RandomSuffix();
        // The umask gives the permissions, as for any file the user's programs create.
        fd_.Reset(::openat(folder_.Get(), candidate.c_str(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666));
        if (fd_)
            pendingName_ = candidate;
        else if ((code = errno) != EEXIST)
            break;
    }
    if (fd_)
        (void)::flock(fd_.Get(), LOCK_EX | LOCK_NB);
    if (folderLocked)
        ::flock(folder_.Get(), LOCK_UN);
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
            SetError(error, "Cannot write " + target_ + ": " + Reason(put < 0 ? errno : ENOSPC) + ".");
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

bool SafeOutput::WriteFileContents(const std::string& source, std::string* error)
{
    std::string reason;
    const FileDescriptor in = OpenRegularFile(source, &reason);
    if (!in) {
        SetError(error, source + ": " + reason);
        return false;
    }
    constexpr std::size_t kBlockBytes = std::size_t(1) << 20;
    const std::unique_ptr<char[]> block(new char[kBlockBytes]);
    for (;;) {
        const ssize_t got = ::read(in.Get(), block.get(), kBlockBytes);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            SetError(error, source + ": " + Reason(errno));
            return false;
        }
        if (got == 0)
            return true;
        if (!Write(std::string_view(block.get(), static_cast<std::size_t>(got)), error))
            return false;
    }
}

bool SafeOutput::PendingNameHoldsOurFile() const
{
    struct stat ours {
    }, named{};
    return fd_ && folder_ && ::fstat(fd_.Get(), &ours) == 0 &&
           ::fstatat(folder_.Get(), pendingName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(named.st_mode) &&
           named.st_dev == ours.st_dev && named.st_ino == ours.st_ino;
}

bool SafeOutput::Commit(std::string* error)
{
    if (!fd_) {
        SetError(error, "Cannot write " + target_ + ": it was not opened.");
        return false;
    }
    // The rename comes before the close: the pending file stays locked until it has
    // its final name, so no other run takes it for the leftover of a dead one. The
    // rename happens in the folder as it was opened, and only while the pending name holds
    // the file written here: whatever another user put there instead is never installed.
    std::string problem;
    if (::fsync(fd_.Get()) != 0)
        problem = Reason(errno);
    else if (!PendingNameHoldsOurFile())
        problem = "its pending file was replaced by another file meanwhile";
    else if (::renameat(folder_.Get(), pendingName_.c_str(), folder_.Get(), targetName_.c_str()) != 0)
        problem = Reason(errno);
    if (!problem.empty()) {
        Abandon();
        SetError(error, "Cannot write " + target_ + ": " + problem + ".");
        return false;
    }
    committed_ = true;
    // Swapped in the instant between the look and the rename: told, never taken for done.
    struct stat ours {
    }, named{};
    const bool installed = ::fstat(fd_.Get(), &ours) == 0 &&
                           ::fstatat(folder_.Get(), targetName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                           named.st_dev == ours.st_dev && named.st_ino == ours.st_ino;
    fd_.Close();
    (void)::fsync(folder_.Get());
    folder_.Reset();
    if (!installed) {
        SetError(error, "Cannot write " + target_ + ": its pending file was replaced by another file meanwhile.");
        return false;
    }
    return true;
}

void SafeOutput::Abandon()
{
    // Only the file made here is removed: another file under its name is not ours.
    if (fd_ && !committed_ && PendingNameHoldsOurFile())
        ::unlinkat(folder_.Get(), pendingName_.c_str(), 0);
    fd_.Reset();
    folder_.Reset();
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
