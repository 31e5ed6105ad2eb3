// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The Linux SCSI generic back end: command blocks go to a CD/DVD drive's device node
// (/dev/sr*, or /dev/sg*) through the SG_IO ioctl.

#include "base/FileDescriptor.h"
#include "recorder/Scsi.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumivox {

// How long an exclusive open waits for a drive that another program holds for a moment.
inline constexpr std::chrono::milliseconds kBusyOpenLimit{5000};

// Calls open (a descriptor, or −errno) again while it answers −EBUSY, pause apart, until
// limit has passed; its last answer.
int OpenRetryingWhileBusy(const std::function<int()>& open, std::chrono::milliseconds limit,
                          std::chrono::milliseconds pause = std::chrono::milliseconds(250));

class SgIoTransport final : public ScsiTransport {
public:
    // Opens the node (read/write, else read-only), checks that it speaks SG_IO, reads its
    // identity. Null with *error: one line naming the node and the reason; a permission
    // problem names the group whose members may use the drive.
    // Exclusive access opens with O_EXCL and refuses a drive whose disc is mounted.
    static std::unique_ptr<SgIoTransport> Open(const std::string& node, std::string* error,
                                               DriveAccess access = DriveAccess::Shared);
    // /dev/srN for every CD/DVD drive sysfs lists, in number order.
    static std::vector<std::string> CandidateNodes();

    // What an SG_IO answer means: done, refused with sense, worth sending again shortly
    // (BUSY, TASK SET FULL, a busy bus, a soft host error), timed out, or failed.
    enum class Outcome { Success, CheckCondition, Retry, TimedOut, Failure };
    static Outcome Classify(unsigned status, unsigned hostStatus, unsigned driverStatus);
    // The mount point of a file system on the drive of node, per the mount table at
    // mountsPath (/proc/self/mounts); empty when none is mounted.
    static std::string MountPointOf(const std::string& node, const std::string& mountsPath);
    // The drive's largest transfer per command from sysfs (queue/max_hw_sectors_kb); 0 unknown.
    static std::size_t MaxTransferOf(const std::string& node);

    std::size_t MaxTransfer() const override { return maxTransfer_; }
    std::string MountedAt() const override { return MountPointOf(device_.devicePath, "/proc/self/mounts"); }
    int ExecuteCommand(const std::uint8_t* cdb, std::size_t cdbLength, const std::uint8_t* dataOut,
                       std::size_t outLength, std::uint8_t* dataIn, std::size_t inLength) override;

private:
    explicit SgIoTransport(FileDescriptor fd) : fd_(std::move(fd)) { }
    FileDescriptor fd_;
    std::size_t maxTransfer_ = 0;
};

} // namespace lumivox
