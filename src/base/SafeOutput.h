// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// SafeOutput: the one way the program writes a file the user named (disc images, CUE
// sheets, converted music, stills, rendered pictures, projects, settings).
//
// The contents go to a new file created exclusively beside the target (a unique name,
// never through a symbolic link, with the permissions the umask gives), are synced, and
// replace the target by a rename only when complete. So a failed, cancelled or killed
// run never leaves half a file under the target's name nor destroys an older one; a
// symbolic link planted at any name the program writes is replaced, never written
// through; and two runs writing one target are told apart: the pending file is locked
// while it is written, so a second run into the same target is refused, and the pending
// file of a run that died is removed by the next one.

#include "base/FileDescriptor.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace lumivox {

class SafeOutput {
public:
    SafeOutput() = default;
    ~SafeOutput(); // removes the pending file unless committed
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    // Creates the pending file for target. False with *error (naming the target) when the
    // target is a folder or another kind of non-regular file, when another run is writing
    // the same target ("NAME is being written by another run."), or when the folder
    // refuses the new file.
    bool Open(const std::string& target, std::string* error);
    bool IsOpen() const { return fd_.IsValid(); }

    int Descriptor() const { return fd_.Get(); }
    // The pending file, for writers that open a path themselves (it is created and
    // locked; they write it in place).
    const std::string& PendingPath() const { return pending_; }
    const std::string& Target() const { return target_; }

    // Appends data at the descriptor's position; false with *error on a short write.
    bool Write(std::string_view data, std::string* error);
    // Syncs the pending file and renames it over the target (and syncs the folder).
    // False with *error when any of it fails; the pending file is removed then.
    bool Commit(std::string* error);
    // Removes the pending file (nothing happens to the target).
    void Abandon();

private:
    std::string target_;
    std::string pending_;
    FileDescriptor fd_;
    bool committed_ = false;
};

// Writes contents to target through a SafeOutput.
bool WriteFileSafely(const std::string& target, std::string_view contents, std::string* error);

// True when both paths name one existing file (same device and inode, links followed):
// an output must never replace one of its own inputs.
bool IsSameFile(const std::string& a, const std::string& b);

} // namespace lumivox
