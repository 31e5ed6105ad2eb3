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
//
// The pending file is written only through the descriptor made when it was created,
// never opened again by its name: the folder may be writable by others, who could put
// anything under that name meanwhile. For the same reason the rename happens only while
// the pending name still holds that very file.

#include "base/FileDescriptor.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace lumivox {

// The longest file name (one path component) the folders take, in bytes.
inline constexpr std::size_t kMaxFileNameBytes = 255;

class SafeOutput {
public:
    SafeOutput() = default;
    ~SafeOutput(); // removes the pending file unless committed
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    // Creates the pending file for target. False with *error (naming the target) when
    // CheckOutputTarget refuses the target, when another run is writing the same target
    // ("NAME is being written by another run."), or when the folder refuses the new file.
    bool Open(const std::string& target, std::string* error);
    bool IsOpen() const { return fd_.IsValid(); }

    // The pending file's descriptor, for writers that write (or set its mode) themselves;
    // it is created and locked. Writers never open the pending file by a name.
    int Descriptor() const { return fd_.Get(); }
    const std::string& Target() const { return target_; }

    // Appends data at the descriptor's position; false with *error on a short write.
    bool Write(std::string_view data, std::string* error);
    // Appends the whole contents of the regular file at source: the way a result made by
    // a tool that writes a named file (an encoder, a converter) reaches the target. The
    // source must lie in a folder of the caller's own (see cli/ScratchFolder.h). False
    // with *error naming the source or the target and the reason.
    bool WriteFileContents(const std::string& source, std::string* error);
    // Syncs the pending file and renames it over the target (and syncs the folder), once
    // the pending name is seen to hold still the file this object created. False with
    // *error when any of it fails; the pending file is removed then.
    bool Commit(std::string* error);
    // Removes the pending file (nothing happens to the target).
    void Abandon();

private:
    // True while the pending name holds the file behind the descriptor.
    bool PendingNameHoldsOurFile() const;

    std::string target_;
    std::string targetName_; // the last component of target_
    std::string pendingName_; // the pending file's name in the folder
    FileDescriptor folder_; // the target's folder, as it was when the target was opened
    FileDescriptor fd_;
    bool committed_ = false;
};

// Whether target may be written: false with *error naming it and the reason when it
// names a folder, when an existing file there is not a regular file (a device, a FIFO, a
// socket: "X is not a regular file." -- a symbolic link is fine, it is replaced), or when
// its name is longer than kMaxFileNameBytes. A command checks what the user named with
// it even when it writes other names derived from it (make's DISC.bin and DISC.cue).
bool CheckOutputTarget(const std::string& target, std::string* error);

// Writes contents to target through a SafeOutput.
bool WriteFileSafely(const std::string& target, std::string_view contents, std::string* error);

// True when both paths name one existing file (same device and inode, links followed):
// an output must never replace one of its own inputs.
bool IsSameFile(const std::string& a, const std::string& b);

} // namespace lumivox
