// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What keeps the user's project safe between the window and the disk, without widgets:
//
// - ProjectLock: one window (one program) writes a project at a time. A lock file beside
//   the project (".NAME.lvx.lock") is held with flock for as long as the project is open;
//   the system lets go of it when the program ends, however it ends, so a stale file
//   never locks anyone out.
// - FileStamp: what the project file was when it was opened or saved, so that a change
//   by another program is noticed before it is overwritten.
// - Autosave: a copy of the project with unsaved changes, written now and then into the
//   program's cache folder (never over the user's file), offered back after a crash and
//   removed once the changes are saved or dropped.
//
// All of it runs on the window's thread; the files are small.

#include "base/FileDescriptor.h"
#include "project/AlbumTable.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace lumivox::ui {

class ProjectLock {
public:
    ProjectLock() = default;
    ~ProjectLock() { Release(); }
    ProjectLock(ProjectLock&&) = default;
    ProjectLock& operator=(ProjectLock&& other) noexcept
    {
        if (this != &other) {
            Release();
            fd_ = std::move(other.fd_);
            project_ = std::move(other.project_);
        }
        return *this;
    }
    bool Holds() const { return fd_.IsValid() || !project_.empty(); }
    // The form of path the lock compares: absolute, without "." and "..".
    static std::string Key(const std::string& projectPath);
    // Takes the lock of the project at projectPath, letting go of any other first. False
    // with *error when another program holds it (the project is open elsewhere) or the lock
    // file cannot be made; a folder where no lock file can be made (read-only media) is no
    // reason to refuse: then nothing is locked and the call succeeds.
    bool Take(const std::string& projectPath, std::string* error);
    void Release();
    const std::string& Path() const { return project_; }
    static std::string LockFileOf(const std::string& projectPath);

private:
    FileDescriptor fd_;
    std::string project_;
};

struct FileStamp {
    bool exists = false;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedNs = 0;
    static FileStamp Of(const std::string& path);
    bool operator==(const FileStamp&) const = default;
};

// A recoverable copy left by a program that ended without saving.
struct AutosaveCopy {
    std::string copyPath; // the autosaved project file
    std::string originalPath; // the project it belongs to; empty for a project never saved
    std::chrono::system_clock::time_point savedAt;
};

class Autosave {
public:
    // folder: where the copies go (created when needed); empty: the program's cache folder.
    explicit Autosave(std::string folder = {});
    // A copy not discarded stays: the program ended without its changes being saved or
    // dropped, which is what the copy is for.
    ~Autosave();

    // Writes the project (with its design) as this program's copy; originalPath names the
    // project file (empty: not saved yet). False with *error when it cannot be written.
    bool Write(const AlbumTable& project, const ProjectDesign& design, const std::string& originalPath,
               std::string* error);
    // The changes were saved or dropped: this program's copy goes.
    void Discard();
    // Copies left by programs that are no longer running, newest first.
    std::vector<AutosaveCopy> Recoverable() const;
    // Removes a copy (after it was recovered or declined).
    static void Remove(const AutosaveCopy& copy);
    const std::string& Folder() const { return folder_; }

private:
    std::string folder_;
    std::string copy_; // this program's copy, once written
    FileDescriptor hold_; // flock on the copy while this program runs
};

} // namespace lumivox::ui
