// SPDX-License-Identifier: GPL-2.0-or-later
#include "logic/ProjectGuard.h"

#include "base/Paths.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumivox::ui {
namespace {
namespace fs = std::filesystem;

constexpr const char* kCopySuffix = ".lvx";
constexpr const char* kOriginSuffix = ".origin"; // the project's own path; flocked while the program runs

std::string CacheAutosaveFolder()
{
    // Beside the work folder in the program's cache: .../lumivox/Temp/ -> .../lumivox/autosave/
    fs::path temp = fs::path(DefaultTempFolder()).parent_path();
    return (temp.parent_path() / "autosave").string() + "/";
}

bool WriteWhole(int fd, const std::string& text)
{
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
        return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string ReadSmall(int fd)
{
    std::string text;
    char buffer[4096];
    ::lseek(fd, 0, SEEK_SET);
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0 || text.size() > 64 * 1024)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}
} // namespace

// ---- ProjectLock ------------------------------------------------------------------------

std::string ProjectLock::LockFileOf(const std::string& projectPath)
{
    const fs::path path(projectPath);
    return (path.parent_path() / ("." + path.filename().string() + ".lock")).string();
}

std::string ProjectLock::Key(const std::string& projectPath)
{
    std::error_code ec;
    const fs::path absolute = fs::absolute(projectPath, ec);
    return ec ? projectPath : absolute.lexically_normal().string();
}

bool ProjectLock::Take(const std::string& projectPath, std::string* error)
{
    const std::string key = Key(projectPath);
    if (fd_ && key == project_)
        return true;
    const std::string lockPath = LockFileOf(key);
    FileDescriptor fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd) {
        // A project on read-only media, or in a folder the user may not write: nobody
        // else can save it there either, so there is nothing to guard.
        Release();
        project_ = key;
        return true;
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (error)
            *error = key + " is open in another Lumivox window. Close it there first, or open a copy of it.";
        return false;
    }
    Release();
    fd_ = std::move(fd);
    project_ = key;
    return true;
}

void ProjectLock::Release()
{
    if (fd_) {
        // Removed while still held, so no other program can have taken it meanwhile.
        ::unlink(LockFileOf(project_).c_str());
        fd_.Reset();
    }
    project_.clear();
}

// ---- FileStamp --------------------------------------------------------------------------

FileStamp FileStamp::Of(const std::string& path)
{
    FileStamp stamp;
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return stamp;
    stamp.exists = true;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = static_cast<std::uint64_t>(info.st_size);
    stamp.modifiedNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return stamp;
}

// ---- Autosave ---------------------------------------------------------------------------

Autosave::Autosave(std::string folder) : folder_(folder.empty() ? CacheAutosaveFolder() : std::move(folder))
{
    if (!folder_.empty() && folder_.back() != '/')
        folder_ += '/';
}

Autosave::~Autosave() = default;

bool Autosave::Write(const AlbumTable& project, const ProjectDesign& design, const std::string& originalPath,
                     std::string* error)
{
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (copy_.empty()) {
        std::random_device random;
        copy_ = folder_ + std::to_string(::getpid()) + "-" + std::to_string(random() % 1000000);
        hold_.Reset(::open((copy_ + kOriginSuffix).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!hold_ || ::flock(hold_.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (error)
                *error = copy_ + kOriginSuffix + ": " + std::strerror(errno);
            hold_.Reset();
            copy_.clear();
            return false;
        }
    }
    if (!WriteWhole(hold_.Get(), originalPath)) {
        if (error)
            *error = copy_ + kOriginSuffix + ": " + std::strerror(errno);
        return false;
    }
    return project.SaveProject(copy_ + kCopySuffix, error, &design, true);
}

void Autosave::Discard()
{
    if (copy_.empty())
        return;
    ::unlink((copy_ + kCopySuffix).c_str());
    ::unlink((copy_ + kOriginSuffix).c_str());
    hold_.Reset();
    copy_.clear();
}

std::vector<AutosaveCopy> Autosave::Recoverable() const
{
    std::vector<AutosaveCopy> copies;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        const fs::path path = entry.path();
        if (path.extension() != kCopySuffix || !entry.is_regular_file(ec))
            continue;
        const std::string base = (path.parent_path() / path.stem()).string();
        if (!copy_.empty() && base == copy_)
            continue; // this program's own copy
        FileDescriptor origin(::open((base + kOriginSuffix).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        // A program still running holds its copy's lock: that copy is not left over.
        if (origin && ::flock(origin.Get(), LOCK_SH | LOCK_NB) != 0)
            continue;
        AutosaveCopy copy;
        copy.copyPath = path.string();
        copy.originalPath = origin ? ReadSmall(origin.Get()) : std::string();
        const auto written = fs::last_write_time(path, ec);
        copy.savedAt = ec ? std::chrono::system_clock::now()
                          : std::chrono::time_point_cast<std::chrono::system_clock::duration>(
                                std::chrono::file_clock::to_sys(written));
        copies.push_back(std::move(copy));
    }
    std::sort(copies.begin(), copies.end(),
              [](const AutosaveCopy& a, const AutosaveCopy& b) { return a.savedAt > b.savedAt; });
    return copies;
}

void Autosave::Remove(const AutosaveCopy& copy)
{
    const fs::path path(copy.copyPath);
    ::unlink(copy.copyPath.c_str());
    ::unlink(((path.parent_path() / path.stem()).string() + kOriginSuffix).c_str());
}

} // namespace lumivox::ui
